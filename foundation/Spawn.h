// Starting external programs with argument vectors. No shell ever sees the
// arguments, so a text that came from the wire stays one argument whatever
// it holds (blanks, quotes, ';', '$(...)').
//
// Threads: any thread. The child starts with SIGPIPE at its default and no
// signal blocked; it inherits the process's descriptors except those opened
// close-on-exec.
#pragma once

#include <string>
#include <vector>

// A program-table entry becomes the start of an argument vector through
// SplitWords (foundation/Text.h): "/bin/date -s" gives "/bin/date", "-s".

// Runs argv[0] (looked up in PATH when it holds no '/') with `argv` and
// waits for it. Logs "Execute(program, arguments)". The exit status (0-255),
// 128 + the signal number when a signal ended it, or -1 when it could not
// be started (logged).
int RunArgv(const std::vector<std::string>& argv);

// Starts the program and returns at once; a detached thread reaps the child
// when it ends. True when the program was started.
bool StartArgv(const std::vector<std::string>& argv);
