// Starting and stopping child programs from tests, with every wait bounded.
// Linking this file points every discovery datagram of the test process and
// of the programs it starts at 127.0.0.1 (ZELAGENT_BROADCAST_ADDRESS).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `argv[0]` with `argv`, standard output and error to `output_file`
// (or /dev/null when empty). Returns the pid, or -1.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& output_file = "");
// Waits at most `seconds` for the child to end; its exit status, or -1 when
// it did not end in time (it is then killed and reaped).
int WaitProgram(pid_t pid, double seconds);
// Runs to completion (bounded) and returns the exit status; the combined
// output goes to `output`.
int RunProgram(const std::vector<std::string>& argv, std::string* output, double seconds = 30);
// Polls until `path` exists; false after `seconds`.
bool WaitForFile(const std::string& path, double seconds);
// Polls until `path` contains `text`; false after `seconds`.
bool WaitForText(const std::string& path, const std::string& text, double seconds);
// Polls until some file directly in `dir` contains `text`; its name, or ""
// after `seconds`. For logs named by the date they were written on.
std::string WaitForTextInFolder(const std::string& dir, const std::string& text, double seconds);
// Seconds on the monotonic clock.
double Now();
// A free TCP port on the loopback interface (bound, read back, released).
int FreePort();
// The agent executable built with the tests, copied into `dir` (so that its
// home is `dir`); returns the copy's path. Also installs stubs for reboot,
// halt, setting the clock, time synchronisation and the storage script in
// `dir` (each appends "<stub name> <arguments>" to dir/programs.log) and
// points the agents started afterwards at them.
std::string InstallAgent(const std::string& dir);
