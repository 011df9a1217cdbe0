#include "agent/CommandLine.h"

#include <string.h>

#include "core/Globals.h"
#include "foundation/Log.h"

void PrintHelp() {
    PrintScreen("Usage: zelagent [OPTIONS]\n");
    PrintScreen("  %s,  %s\t\t%s\n", "-v", "--version          ", "Displays the version number");
    PrintScreen("  %s,  %s\t\t%s\n", "-s", "--save <BACKUP SET>", "Saves the clients Files");
    PrintScreen("  %s,  %s\t\t%s\n", "-h", "--help             ", "Displays this help");
    PrintScreen("  %s   %s\t\t%s\n", "  ", "--options            ", "Prints Compile Options");
}

void PrintOptions() {
    PrintMessage(
        "Compile Options: CLIENT %s __sun __svr4__ CONSOLE ZIP CRYPT GMP AES MUTEX PTHREAD REPORTING PRINT VETRAK "
        "STAT_64 _REENTRANT",
        res ? res->system_name : "");
}

void Arguments(int argc, char** argv) {
    if (argc < 2) return;
    const char* option = argv[1];
    if (!strcmp(option, "--version") || !strcmp(option, "-v")) {
        PrintScreen("%s\n", res->version_text);
    } else if (!strcmp(option, "--options")) {
        PrintOptions();
    } else {
        PrintHelp();
    }
}
