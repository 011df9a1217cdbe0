// zelagent: the daemon with no arguments, a one-shot command line otherwise.
#include <stdlib.h>
#include <string.h>

#include "agent/CommandLine.h"
#include "agent/Lifecycle.h"

int main(int argc, char** argv) {
    InitVariables(argc, argv);
    atexit(KillApplication);
    bool listener = argc > 1 && (strcmp(argv[1], "-l") == 0 || strcmp(argv[1], "--listen") == 0);
    InstallSignalHandlers(argc == 1 || listener);
    if (argc == 1) return MainFunction();
    return Arguments(argc, argv);
}
