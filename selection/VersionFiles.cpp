#include "selection/VersionFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/Globals.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Spawn.h"
#include "records/Client.h"
#include "records/Config.h"
#include "foundation/FileOps.h"
#include "selection/VersionNode.h"

namespace {

const int kLineBuffer = 1024;
const int kMostParts = 5000;

// Creates the parts `from` to `to` - 1 of the directory `dir` as empty
// files and remembers them; a part that exists already is left alone.
void AddEmptyParts(const char* dir, int from, int to, std::vector<std::string>& made) {
    for (int i = from; i < to; i++) {
        char name[16];
        snprintf(name, sizeof(name), "/%03i", i);
        std::string part = std::string(dir) + name;
        int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        close(fd);
        made.push_back(part);
    }
}

// Runs diff with its standard output replacing the file `out`; diff's exit
// status, or -1 when it could not run or its output could not be kept (the
// old `out` then stays).
int RunDiff(const std::vector<std::string>& argv, const char* out) {
    ReplacementFile file(out);
    if (!file.Open()) return -1;
    int pipe = -1;
    pid_t child = SpawnChild(argv, &pipe);
    bool copied = child > 0 && file.CopyFrom(pipe);
    // Closed before the wait: a diff still writing gets a broken pipe.
    if (pipe >= 0) close(pipe);
    int status = child > 0 ? WaitChild(child) : -1;
    if (!copied || status < 0 || !WIFEXITED(status) || !file.Commit()) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

int ReadFile(const char* path, std::vector<char*>* lines) {
    FILE* f = path ? fopen(path, "re") : nullptr;
    if (!f) return 0;
    char buffer[kLineBuffer];
    while (fgets(buffer, sizeof(buffer), f)) {
        if (buffer[0] == '#') continue;
        size_t n = strlen(buffer);
        if (n > 0 && buffer[n - 1] == '\n') buffer[n - 1] = 0;
        char* line = new char[kLineBuffer];
        memcpy(line, buffer, strlen(buffer) + 1);
        lines->push_back(line);
    }
    fclose(f);
    return (int)lines->size();
}

int WriteFile(const char* path, const std::vector<char*>* lines) {
    if (!path) return 0;
    ReplacementFile file(path);
    FILE* f = file.Open() ? file.stream() : nullptr;
    if (!f) return 0;
    for (size_t i = 0; lines && i < lines->size(); i++) fprintf(f, i ? "\n%s" : "%s", (*lines)[i] ? (*lines)[i] : "");
    if (!file.Commit()) return 0;
    return lines ? (int)lines->size() : 0;
}

char* GetRelativePath(char* out, const char* relative, size_t size) {
    snprintf(out, size, "%s%s", res ? res->restore_dir : "", relative ? relative : "");
    return out;
}

char* GetServerPath(char* out, const Client* client, const VersionNode* version, const char* suffix, size_t size) {
    const char* data = res ? res->data_dir : "";
    const char s = res ? res->separator : '/';
    const char* hash = version->hash_name ? version->hash_name : "";
    // The first characters of the hash name, NUL when it is shorter.
    char h[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && hash[i]; i++) h[i] = hash[i];
    const int n = version->backup_date;
    const char* id = client->base_id;
    if (config && !strcmp(client->box_name, config->name)) {
        int used;
        switch (client->value_3) {
            case 1:
                used = snprintf(out, size, "%s%s%c%c%c%c%s.%i", data, id, s, h[0], h[1], s, hash, n);
                break;
            case 2:
                used = snprintf(out, size, "%s%s%c%c%c%c%c%c%c%c%c%s.%i", data, id, s, h[0], s, h[1], s, h[2], s,
                                h[3], s, hash, n);
                break;
            case 3:
                used = snprintf(out, size, "%s%s%c%c%c%c%c%c%c%s.%i", data, id, s, h[0], s, h[1], s, h[2], s, hash,
                                n);
                break;
            default:
                used = snprintf(out, size, "%s%s%c%s.%i", data, id, s, hash, n);
        }
        if (suffix && used >= 0 && (size_t)used < size) snprintf(out + used, size - (size_t)used, "%s", suffix);
        return out;
    }
    const char* box = client->box_name;
    switch (client->value_3) {
        case 1:
            snprintf(out, size, "%s%s%cbackup%c%s%c%c%c%s.%i", data, box, s, s, id, s, h[0], s, hash, n);
            break;
        case 2:
            snprintf(out, size, "%s%s%cbackup%c%s%c%c%c%c%c%s.%i", data, box, s, s, id, s, h[0], s, h[1], s, hash, n);
            break;
        case 3:
            snprintf(out, size, "%s%s%cbackup%c%s%c%c%c%c%c%c%c%s.%i", data, box, s, s, id, s, h[0], s, h[1], s, h[2],
                     s, hash, n);
            break;
        default:
            snprintf(out, size, "%s%s%cbackup%c%s%c%s.%i", data, box, s, s, id, s, hash, n);
    }
    return out;
}

int MakeDiffFile(const char* first, const char* second, const char* out) {
    const bool parts = IsDir(first) && IsDir(second);
    std::vector<std::string> made;
    if (parts) {
        int count1 = GetFileCount(first, 0), count2 = GetFileCount(second, 0);
        if (count1 > kMostParts || count2 > kMostParts) {
            PrintError("MakeDiffFile(%s) : exiting for file is too big (%u Mo)", first, (unsigned)count1 * 10);
            return -2;
        }
        if (count2 > count1) {
            PrintMessage("Dir2 has more files, creating files for Dir1");
            AddEmptyParts(first, count1, count2, made);
        } else if (count1 > count2) {
            PrintMessage("Dir1 has more files, creating files for Dir2");
            AddEmptyParts(second, count2, count1, made);
        }
    }
    const std::string& diff = external_programs().diff;
    PrintMessage("Execute(%s, -a --unified %s %s > %s)", diff.c_str(), second, first, out);
    int result = RunDiff({diff, "-a", "--unified", second, first}, out);
    PrintDebug("diff returned %i", result);
    if (result == 1 && GetFileSize(out) < GetFileSize(first))
        PrintDebug("Made Diff File (%s)", out);
    else
        unlink(out);
    // Only the parts made here go again; empty parts of the versions stay.
    for (const std::string& part : made) unlink(part.c_str());
    return result;
}
