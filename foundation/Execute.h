// Running shell commands, and the account the process runs as.
//
// Children start with SIGPIPE at its default disposition and an empty signal
// mask, and inherit no descriptor of the agent beyond the standard three.
#pragma once

#include <string>

// Runs "program arguments" (or `program` alone, any length) through the
// shell. Returns -1 when the shell cannot start, otherwise the exit status as
// a signed byte; a command killed by a signal gives 128 + the signal number
// read the same way (SIGKILL: -119), never success.
int Execute(const char* program, const char* arguments, int unused);
// `text` as one shell word: in single quotes, each quote written '\''.
std::string ShellQuote(const std::string& text);
// Formats the command (at most 409 characters), splits it into program and
// arguments (a leading double-quoted program path is taken without its
// quotes), logs "Execute(program, arguments)" and runs it.
int FormatExecute(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Splits a command text as FormatExecute does. `program` and `arguments`
// have room for 410 bytes each; `arguments` is empty when there are none.
void SplitCommand(const char* command, char* program, char* arguments);
// Runs the formatted command and returns a new 1024-byte array with at most
// 1023 bytes of its standard output (one trailing newline removed), or null
// when the command cannot start. The caller frees it with delete[].
char* FormatExecuteWithResult(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Output of the uptime program, or null; the caller frees it with delete[].
char* GetUptime();
// Output of "uname -rmi", or null; the caller frees it with delete[].
char* GetUnixVersion();

// Switches the process to `user` unless it is "null", unknown or already
// the real user. A failure is printed and the process goes on as it was.
void SetUserGroup(const char* user);
