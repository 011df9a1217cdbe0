#include "foundation/Execute.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"

namespace {

// Starts "/bin/sh -c command" with the signal dispositions and mask a
// program expects: the agent ignores SIGPIPE (a vanished peer must surface
// as a socket error), and an ignored signal would survive the exec, so a
// writer into a closed pipe would never end. Every descriptor of the agent
// is close-on-exec; with `output` the child's standard output is the write
// end of a new pipe whose read end is returned there. The pid, or -1.
pid_t SpawnShell(const char* command, int* output) {
    int pipe_ends[2] = {-1, -1};
    if (output && pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command), nullptr};
    fflush(stdout);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output) {
        close(pipe_ends[1]);
        if (rc != 0) close(pipe_ends[0]);
        *output = rc == 0 ? pipe_ends[0] : -1;
    }
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

// The child's wait status, or -1.
int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
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
