#include "foundation/Execute.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"
#include "foundation/Spawn.h"

namespace {

// Starts "/bin/sh -c command"; with `output`, the read end of a pipe that
// carries the command's standard output.
pid_t SpawnShell(const char* command, int* output) {
    return SpawnChild({"/bin/sh", "-c", command}, output);
}

}  // namespace

int Execute(const char* program, const char* arguments, int) {
    if (!program) return -1;
    std::string command(program);
    if (arguments) command.append(" ").append(arguments);
    pid_t pid = SpawnShell(command.c_str(), nullptr);
    if (pid < 0) return -1;
    int status = WaitChild(pid);
    if (status == -1) return -1;
    // A command killed by a signal failed: it reads as the shell reports it,
    // 128 plus the signal number, taken as an exit status.
    int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return (signed char)(code & 0xff);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

void SplitCommand(const char* command, char* program, char* arguments) {
    program[0] = arguments[0] = 0;
    if (command[0] == '"') {
        const char* close = strchr(command + 1, '"');
        if (close) {
            snprintf(program, 410, "%.*s", (int)(close - command - 1), command + 1);
            const char* rest = close + 1;
            while (*rest == ' ') rest++;
            snprintf(arguments, 410, "%s", rest);
            return;
        }
        snprintf(program, 410, "%s", command + 1);
        return;
    }
    const char* blank = strchr(command, ' ');
    if (!blank) {
        snprintf(program, 410, "%s", command);
        return;
    }
    snprintf(program, 410, "%.*s", (int)(blank - command), command);
    snprintf(arguments, 410, "%s", blank + 1);
}

int FormatExecute(const char* fmt, ...) {
    char command[410];
    va_list args;
    va_start(args, fmt);
    vsnprintf(command, sizeof(command), fmt, args);
    va_end(args);
    char program[410], arguments[410];
    SplitCommand(command, program, arguments);
    PrintMessage("Execute(%s, %s)", program, arguments);
    // A quoted program path may hold blanks: hand it to the shell quoted.
    if (command[0] == '"') {
        char quoted[420];
        snprintf(quoted, sizeof(quoted), "\"%s\"", program);
        return Execute(quoted, arguments[0] ? arguments : nullptr, 1);
    }
    return Execute(program, arguments[0] ? arguments : nullptr, 1);
}

char* FormatExecuteWithResult(const char* fmt, ...) {
    char command[410];
    va_list args;
    va_start(args, fmt);
    vsnprintf(command, sizeof(command), fmt, args);
    va_end(args);
    int fd = -1;
    pid_t pid = SpawnShell(command, &fd);
    if (pid < 0) {
        PrintError("FormatExecuteWithResult(%s) failed: %s", command, strerror(errno));
        return nullptr;
    }
    char* out = new char[1024];
    size_t got = 0;
    char sink[4096];
    for (;;) {
        // The first 1023 bytes are kept; the rest is drained so the command
        // is not killed by a broken pipe.
        bool keep = got < 1023;
        ssize_t n = keep ? read(fd, out + got, 1023 - got) : read(fd, sink, sizeof(sink));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (keep) got += (size_t)n;
    }
    close(fd);
    out[got] = 0;
    int status = WaitChild(pid);
    // The shell's 127 means the command itself could not be started.
    if (got == 0 && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        PrintError("FormatExecuteWithResult(%s) failed: %s", command, "command not found");
        delete[] out;
        return nullptr;
    }
    if (got > 1 && out[got - 1] == '\n') out[got - 1] = 0;
    return out;
}

char* GetUptime() { return FormatExecuteWithResult("%s", external_programs().uptime.c_str()); }

char* GetUnixVersion() { return FormatExecuteWithResult("%s", external_programs().uname.c_str()); }

void SetUserGroup(const char* user) {
    if (!user || strcmp(user, "null") == 0) return;
    struct passwd* pw = getpwnam(user);
    if (!pw || pw->pw_uid == getuid()) return;
    if (setuid(pw->pw_uid) != 0) printf("ERROR: SetUserGroup: setuid(%s): %s\n", user, strerror(errno));
}
