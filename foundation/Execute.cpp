#include "foundation/Execute.h"

#include <errno.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"

int Execute(const char* program, const char* arguments, int) {
    if (!program) return -1;
    char command[830];
    if (arguments)
        snprintf(command, sizeof(command), "%s %s", program, arguments);
    else
        snprintf(command, sizeof(command), "%s", program);
    fflush(stdout);
    int status = system(command);
    if (status == -1 || status == 127) return status;
    return (signed char)((status >> 8) & 0xff);
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
    fflush(stdout);
    FILE* pipe = popen(command, "r");
    if (!pipe) {
        PrintError("FormatExecuteWithResult(%s) failed: %s", command, strerror(errno));
        return nullptr;
    }
    char* out = new char[1024];
    size_t got = fread(out, 1, 1023, pipe);
    out[got] = 0;
    // Drain the rest so the command is not killed by a broken pipe.
    char sink[4096];
    while (fread(sink, 1, sizeof(sink), pipe) > 0) {
    }
    int status = pclose(pipe);
    // The shell's 127 means the command itself could not be started.
    if (got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
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
