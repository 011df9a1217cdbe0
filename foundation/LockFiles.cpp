#include "foundation/LockFiles.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Paths.h"
#include "foundation/ProcessLayout.h"
#include "foundation/Text.h"

bool CheckLock(const char* fmt, ...) {
    const ProcessFolders* folders = process_folders();
    if (!fmt || !folders) return false;
    char name[400];
    va_list args;
    va_start(args, fmt);
    vsnprintf(name, sizeof(name), fmt, args);
    va_end(args);
    char path[400];
    int n = snprintf(path, sizeof(path), "%s%s", folders->lock_dir, name);
    if (n < 0 || (size_t)n >= sizeof(path)) return false;
    return VerifyFileExists(path);
}

namespace {

bool ShellSafe(const char* s) {
    for (; *s; s++) {
        unsigned char c = (unsigned char)*s;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     strchr("/._-+,:@%=", c) != nullptr || c >= 0x80;
        if (!plain) return false;
    }
    return true;
}

}  // namespace

bool Touch(const char* path) {
    if (!path) return true;
    if (ShellSafe(path)) {
        FormatExecute("%s %s", external_programs().touch.c_str(), path);
        return true;
    }
    // Single quotes keep blanks, ';', '$' and the like away from the shell.
    FormatExecute("%s %s", external_programs().touch.c_str(), ShellQuote(path).c_str());
    return true;
}
