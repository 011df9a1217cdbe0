// Starting external programs with argument vectors. No shell ever sees the
// arguments, so a text that came from the wire stays one argument whatever
// it holds (blanks, quotes, ';', '$(...)').
//
// Threads: any thread. The child starts with SIGPIPE at its default and no
// signal blocked; it inherits the process's descriptors except those opened
// close-on-exec.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program-table entry becomes the start of an argument vector through
// SplitWords (foundation/Text.h): "/bin/date -s" gives "/bin/date", "-s".

// Runs argv[0] (looked up in PATH when it holds no '/') with `argv` and
// waits for it. Logs "Execute(program, arguments)". The exit status (0-255),
// 128 + the signal number when a signal ended it, or -1 when it could not
// be started (logged).
int RunArgv(const std::vector<std::string>& argv);

// The one place children are started: argv[0] (looked up in PATH when it
// holds no '/') with SIGPIPE at its default and no signal blocked. With
// `output`, the child's standard output is the write end of a new pipe whose
// read end (close-on-exec) is returned there. The pid, or -1 with errno set.
pid_t SpawnChild(const std::vector<std::string>& argv, int* output);

// Waits for a child, through EINTR: its wait status, or -1.
int WaitChild(pid_t pid);

// Starts the program and returns at once; a detached thread reaps the child
// when it ends. True when the program was started.
bool StartArgv(const std::vector<std::string>& argv);
