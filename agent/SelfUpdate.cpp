#include "agent/SelfUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "foundation/Execute.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"

bool ReplaceProgramFile(const char* target, const char* source) {
    if (!target || !source) return false;
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    struct stat old;
    if (stat(target, &old) == 0) mode = old.st_mode & 07777;
    ReplacementFile out(target);
    bool ok = out.Open(mode) && out.CopyFrom(in);
    close(in);
    return ok && fchmod(out.fd(), mode) == 0 && out.Commit();
}

bool CopyUpdate(const char* target, const char* source, int attempts) {
    for (int attempt = 0; attempt < attempts; attempt++) {
        if (ReplaceProgramFile(target, source)) return true;
        PrintError("Copy update FAILED...");
        Wait(0.1);
    }
    return false;
}

bool RunSelfUpdate(const char* target, const char* source, int attempts) {
    if (!CopyUpdate(target, source, attempts)) return false;
    Execute(ShellQuote(target).c_str(), "&", 1);
    PrintScreen("Executed original...\n");
    return true;
}
