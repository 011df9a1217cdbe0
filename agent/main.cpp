// zelagent: the daemon with no arguments, a one-shot command line otherwise.
#include <stdlib.h>

#include "agent/CommandLine.h"
#include "agent/Lifecycle.h"

int main(int argc, char** argv) {
    InitVariables(argc, argv);
    atexit(KillApplication);
    InstallSignalHandlers();
    if (argc == 1) return MainFunction();
    return Arguments(argc, argv);
}
