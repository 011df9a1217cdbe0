// Start-up and shutdown of the process, daemon and command line alike.
#pragma once

#include <string>

// Under a service manager a restart or a self-update cannot leave a new copy
// running in the background: the manager would stop it with the service.
// The daemon then exits with this status once the update is copied in
// place, and the unit restarts it for that status (RestartForceExitStatus=).
const int kExitServiceRestart = 75;
// True when systemd started this process (INVOCATION_ID is set).
bool UnderServiceManager();

// Builds the process globals in order (Resource, catalogue format, Version,
// Mutex, ThreadManager, Config), writes the default configuration on a
// daemon's first start and writes the pid file where the rules ask for it.
void InitVariables(int argc, char** argv);
// Destroys the globals in order, setting each to null at once; closes the
// log streams first. Tests use it to tear a home down.
void DestroyVariables();
// The daemon: rotation, banner, identification, listener, housekeeping loop
// until the stop flag is set. Returns 0; 1 when the log folder cannot be
// written (the reason goes to standard error and the pid file is removed);
// kExitServiceRestart for a restart or an update under a service manager.
int MainFunction();
void InitDisplay();
// Registered with atexit: the stop event, teardown, and for stop flag 2 or 3
// the restart or self-update command, started in the background; a daemon
// under a service manager starts nothing and, for 3, copies the update over
// its program itself (the manager starts the new program). The
// globals are destroyed only when every other thread has ended within a
// bounded wait; otherwise they stay until the process is gone.
void KillApplication();
// The shell line that follows a stop flag (empty when there is none): the
// program again for 2, the update program with "--update" and both paths
// for 3, each path quoted, then "&".
std::string FollowUpCommand(int kill);
// SIGTERM and SIGINT set the stop flag to 1; SIGPIPE is ignored so a peer
// that goes away surfaces as a socket error. With `hangup_reopens_logs`
// (the daemon and the listener) SIGHUP makes the log writers reopen their
// files; a command-line run keeps SIGHUP's default and ends with its
// terminal.
void InstallSignalHandlers(bool hangup_reopens_logs);
