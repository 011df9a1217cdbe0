#include "foundation/ExternalPrograms.h"

ExternalPrograms& external_programs() {
    static ExternalPrograms table;
    return table;
}
