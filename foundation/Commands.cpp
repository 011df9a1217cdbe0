#include "foundation/Commands.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/Execute.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ProcessLayout.h"
#include "foundation/ReplacementFile.h"

namespace {

char* NewCopy(const char* s) {
    size_t n = s ? strlen(s) : 0;
    char* out = new char[n + 1];
    if (n) memcpy(out, s, n);
    out[n] = 0;
    return out;
}

}  // namespace

Command::Command(const char* line)
    : command(NewCopy(line)), done(0), result(0), error_number(0), error(nullptr), output(nullptr) {}

Command::~Command() {
    delete[] command;
    free(error);
    delete[] output;
}

CopyObject::CopyObject(const char* src, const char* dst)
    : source(NewCopy(src)), destination(NewCopy(dst)), done(0) {}

CopyObject::~CopyObject() {
    delete[] source;
    delete[] destination;
}

void* ThreadExecute(void* argument) {
    Command* c = static_cast<Command*>(argument);
    if (!c) return nullptr;
    PrintMessage("ThreadExecute(%s)", c->command);

    // "PLUGIN <name> <action...>"
    const char* line = c->command;
    const char* p = line;
    while (*p == ' ') p++;
    if (strncmp(p, "PLUGIN", 6) == 0 && (p[6] == ' ' || p[6] == 0)) {
        p += 6;
        while (*p == ' ') p++;
        const char* name_end = p + strcspn(p, " ");
        std::string name(p, name_end);
        const char* action = name_end;
        while (*action == ' ') action++;
        delete[] PluginExec(name.c_str(), "%s", action);
    } else {
        errno = 0;
        c->result = FormatExecute("%s", line);
        if (c->result != 0) {
            c->error_number = errno;
            free(c->error);
            c->error = strdup(strerror(errno));
        }
    }
    // Logged first: once `done` is set the owner may delete the command and
    // tear the process state, the log files included, down.
    PrintMessage("ThreadExecute: DONE");
    c->done = 1;
    return nullptr;
}

namespace {

// The connector value of a plug-in configuration file, or false.
bool ReadConnector(const char* config_path, char* value, size_t size) {
    FILE* f = fopen(config_path, "re");
    if (!f) return false;
    char line[1024];
    bool found = false;
    while (fgets(line, sizeof(line), f)) {
        size_t n = strlen(line);
        // Only a newline is dropped: a last line without one keeps its end.
        if (n > 0 && line[n - 1] == '\n') line[--n] = 0;
        if (line[0] == '#') continue;
        char* eq = strchr(line, '=');
        if (!eq) continue;
        *eq = 0;
        if (strcmp(line, "connector") == 0) {
            snprintf(value, size, "%s", eq + 1);
            found = true;
            break;
        }
    }
    fclose(f);
    return found;
}

}  // namespace

char* PluginExec(const char* name, const char* fmt, ...) {
    const ProcessFolders* folders = process_folders();
    if (!name || !fmt || !folders) return nullptr;
    char action[410];
    va_list args;
    va_start(args, fmt);
    vsnprintf(action, sizeof(action), fmt, args);
    va_end(args);
    if ((strcmp(name, "SYSTEM_STATE") == 0 && strcmp(action, "list") == 0) || strcmp(name, "VSS") == 0)
        return nullptr;

    char config_path[400];
    int n = snprintf(config_path, sizeof(config_path), "%s%s%cconfig", folders->plugins_dir, name,
                     folders->separator);
    if (n < 0 || (size_t)n >= sizeof(config_path) || !VerifyFileExists(config_path)) return nullptr;
    char value[1024];
    if (!ReadConnector(config_path, value, sizeof(value))) return nullptr;

    char connector[400];
    n = snprintf(connector, sizeof(connector), "%s%s%c%s", folders->plugins_dir, name, folders->separator,
                 value);
    if (n < 0 || (size_t)n >= sizeof(connector) || !VerifyFileExists(connector)) {
        PrintMessage("plugin connector is not present [%s]", connector);
        return nullptr;
    }
    return FormatExecuteWithResult("%s %s", connector, action);
}

bool CopyRegularFile(const char* source, const char* destination) {
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        PrintError("Could not open %s: %s", source, strerror(errno));
        return false;
    }
    struct stat st;
    mode_t mode = 0644;
    if (fstat(in, &st) == 0) mode = st.st_mode & 0777;
    ReplacementFile out(destination);
    if (!out.Open(mode, false, true)) {
        PrintError("Could not open %s: %s", destination, strerror(errno));
        close(in);
        return false;
    }
    bool ok = out.CopyFrom(in) && out.Commit();
    if (!ok) PrintError("Could not copy %s into %s: %s", source, destination, strerror(errno));
    close(in);
    return ok;
}

void* ThreadCopy(void* argument) {
    CopyObject* c = static_cast<CopyObject*>(argument);
    if (!c) return nullptr;
    PrintMessage("Must copy %s into %s", c->source, c->destination);
    if (!IsDir(c->source)) {
        CopyRegularFile(c->source, c->destination);
        c->done = 1;
        return nullptr;
    }
    MakeDirectories(c->destination);
    std::vector<std::string> names;
    if (DIR* dir = opendir(c->source)) {
        while (struct dirent* e = readdir(dir)) {
            if (IsDotOrDotDot(e->d_name)) continue;
            names.push_back(e->d_name);
        }
        closedir(dir);
    } else {
        PrintError("Could not open %s: %s", c->source, strerror(errno));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        char from[400], to[400];
        int a = snprintf(from, sizeof(from), "%s/%s", c->source, name.c_str());
        int b = snprintf(to, sizeof(to), "%s/%s", c->destination, name.c_str());
        if (a < 0 || b < 0 || (size_t)a >= sizeof(from) || (size_t)b >= sizeof(to)) continue;
        struct stat st;
        if (lstat(from, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        PrintMessage("Copying %s into %s", from, to);
        CopyRegularFile(from, to);
    }
    c->done = 1;
    return nullptr;
}
