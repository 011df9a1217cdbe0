// The command line: one operation per run, chosen by argv[1].
#pragma once

// Exit statuses of a command-line run (the README lists them).
enum ExitStatus {
    kExitSuccess = 0,  // the operation succeeded, or the help was printed
    kExitFailure = 1,  // the operation failed (connection, file, refusal, key)
};

// Runs the option named by argv[1] and returns the process's exit status.
// Names are compared exactly (case-sensitive) with each option in turn; a
// name that matches nothing, or an option given a number of arguments it
// does not take, prints the help. A SocketError that escapes an option is
// reported and fails the run.
int Arguments(int argc, char** argv);
void PrintHelp();
// One message: "Compile Options:" and the build's feature words.
void PrintOptions();

// One option: its names, how many arguments it takes after its name, and
// what runs it. `run` gets main's argc and argv (its arguments start at
// argv[2]) and returns the exit status.
struct CommandLineOption {
    const char* name;
    const char* alias;  // a second name, or null
    int min_arguments;
    int max_arguments;  // kAnyArguments: no upper bound
    int (*run)(int argc, char** argv);
};
const int kAnyArguments = -1;

// The option table, in the order names are compared.
const CommandLineOption* FindOption(const char* name);
