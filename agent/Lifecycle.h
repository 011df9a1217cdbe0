// Start-up and shutdown of the process, daemon and command line alike.
#pragma once

#include <string>

// Builds the process globals in order (Resource, catalogue format, Version,
// Mutex, ThreadManager, Config), writes the default configuration on a
// daemon's first start and writes the pid file where the rules ask for it.
void InitVariables(int argc, char** argv);
// Destroys the globals in order, setting each to null at once; closes the
// log streams first. Tests use it to tear a home down.
void DestroyVariables();
// The daemon: rotation, banner, identification, listener, housekeeping loop
// until the stop flag is set. Returns 0; 1 when the log folder cannot be
// written (the reason goes to standard error and the pid file is removed).
int MainFunction();
void InitDisplay();
// Registered with atexit: the stop event, teardown, and for stop flag 2 or 3
// the restart or self-update command, started in the background. The
// globals are destroyed only when every other thread has ended within a
// bounded wait; otherwise they stay until the process is gone.
void KillApplication();
// The shell line that follows a stop flag (empty when there is none): the
// program again for 2, the update program with "--update" and both paths
// for 3, each path quoted, then "&".
std::string FollowUpCommand(int kill);
// SIGTERM and SIGINT set the stop flag to 1; SIGPIPE is ignored so a peer
// that goes away surfaces as a socket error.
void InstallSignalHandlers();
