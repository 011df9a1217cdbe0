#include "foundation/ExternalPrograms.h"

#include <stdlib.h>

namespace {

// An entry may be replaced from the environment ("ZELAGENT_PROGRAM_REBOOT"
// and so on), so that a daemon started by a test runs harmless stubs.
void Override(std::string& entry, const char* variable) {
    if (const char* value = getenv(variable)) {
        if (*value) entry = value;
    }
}

ExternalPrograms Load() {
    ExternalPrograms table;
    Override(table.reboot, "ZELAGENT_PROGRAM_REBOOT");
    Override(table.halt, "ZELAGENT_PROGRAM_HALT");
    Override(table.date_set, "ZELAGENT_PROGRAM_DATE_SET");
    Override(table.ntp, "ZELAGENT_PROGRAM_NTP");
    Override(table.uptime, "ZELAGENT_PROGRAM_UPTIME");
    Override(table.uname, "ZELAGENT_PROGRAM_UNAME");
    Override(table.touch, "ZELAGENT_PROGRAM_TOUCH");
    Override(table.patch, "ZELAGENT_PROGRAM_PATCH");
    Override(table.diff, "ZELAGENT_PROGRAM_DIFF");
    Override(table.rm, "ZELAGENT_PROGRAM_RM");
    Override(table.tempfile, "ZELAGENT_PROGRAM_TEMPFILE");
    Override(table.iconv, "ZELAGENT_PROGRAM_ICONV");
    Override(table.storage_script, "ZELAGENT_PROGRAM_STORAGE_SCRIPT");
    return table;
}

}  // namespace

ExternalPrograms& external_programs() {
    static ExternalPrograms table = Load();
    return table;
}
