#include "foundation/FileOps.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"

namespace {

// Opens the directory `name` under `parent` without following a link in its
// last component. Null when it is not a directory or cannot be opened.
DIR* OpenDirAt(int parent, const char* name) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* d = fdopendir(fd);
    if (!d) close(fd);
    return d;
}

// Removes `name` under `parent` and, for a directory, everything in it.
// Working relative to open descriptors keeps deep trees free of any path
// length limit and means a link met on the way is removed, not followed.
bool RemoveAt(int parent, const char* name) {
    if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
    DIR* d = OpenDirAt(parent, name);
    if (!d) return false;
    bool ok = true;
    while (struct dirent* e = readdir(d)) {
        if (IsDotOrDotDot(e->d_name)) continue;
        if (!RemoveAt(dirfd(d), e->d_name)) ok = false;
    }
    closedir(d);
    if (unlinkat(parent, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return false;
    return ok;
}

long long DirSizeAt(int parent, const char* name) {
    DIR* d = OpenDirAt(parent, name);
    if (!d) return 0;
    long long total = 0;
    int fd = dirfd(d);
    while (struct dirent* e = readdir(d)) {
        struct stat st;
        // An entry that vanished since readdir adds nothing.
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode) && !IsDotOrDotDot(e->d_name))
            total += DirSizeAt(fd, e->d_name);
        else
            total += (long long)st.st_size;
    }
    closedir(d);
    return total;
}

}  // namespace

int MakeDir(const char* path) { return mkdir(path, 0707); }

bool RemoveDir(const char* path) {
    if (!path) return false;
    if (!*path) return true;
    if (RemoveAt(AT_FDCWD, path)) return true;
    PrintError("RemoveDir(%s): %s", path, strerror(errno));
    return false;
}

bool Unlink(const char* path) {
    if (!path) return false;
    if (unlink(path) == 0) return true;
    int error = errno;
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) return RemoveDir(path);
    PrintError("Unlink Error (%s): %s", path, strerror(error));
    return false;
}

bool Copy(const char* from, const char* to) {
    int in = from ? open(from, O_RDONLY | O_CLOEXEC) : -1;
    if (in < 0) {
        PrintError("Could not open %s for reading\n", from ? from : "");
        return false;
    }
    // A file copied onto itself: nothing to do.
    struct stat a, b;
    if (fstat(in, &a) == 0 && stat(to, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
        close(in);
        return true;
    }
    ReplacementFile out(to);
    if (!out.Open(0666, false, true)) {
        PrintError("Could not open %s for writing\n", to);
        close(in);
        return false;
    }
    bool ok = out.CopyFrom(in) && out.Commit();
    if (!ok) PrintError("Copy(%s, %s): %s", from, to, strerror(errno));
    close(in);
    return ok;
}

bool Move(const char* from, const char* to) { return rename(from, to) == 0; }

bool Truncate(char* text, char c) {
    if (!text) return false;
    char* last = strrchr(text, c);
    if (!last || c == 0) return false;
    last[1] = 0;
    return true;
}

bool TruncateDir(char* path) {
    if (!path) return false;
    size_t len = strlen(path);
    if (len > 0 && path[len - 1] == '/') path[len - 1] = 0;
    return Truncate(path, '/');
}

long long GetDirSize(const char* dir) { return dir ? DirSizeAt(AT_FDCWD, dir) : 0; }

long long GetFileSize(const char* path) {
    struct stat st;
    if (!path || lstat(path, &st) != 0) {
        int error = errno;
        if (error == EOVERFLOW)
            PrintError("GetFileSize(%s): EOVERFLOW", path ? path : "");
        else
            PrintError("GetFileSize(%s): %s (%i)", path ? path : "", strerror(error), error);
        return -1;
    }
    if (S_ISDIR(st.st_mode)) return GetDirSize(path);
    return (long long)st.st_size;
}

namespace {

// Calls `visit(path, name, st)` for every entry of `dir` that lstat can
// still examine (entries that vanish meanwhile are skipped). False after
// logging when `dir` cannot be opened.
template <typename Visit>
bool ForEachEntry(const char* dir, Visit visit) {
    DIR* d = opendir(dir);
    if (!d) {
        PrintError("Can't opendir(%s): %s", dir, strerror(errno));
        return false;
    }
    std::string entry;
    while (struct dirent* e = readdir(d)) {
        entry.assign(dir).append(1, '/').append(e->d_name);
        struct stat st;
        if (lstat(entry.c_str(), &st) == 0) visit(entry, e->d_name, st);
    }
    closedir(d);
    return true;
}

}  // namespace

int GetFileCount(const char* dir, int recursive) {
    int count = 0;
    ForEachEntry(dir, [&](const std::string& entry, const char* name, const struct stat& st) {
        if (S_ISREG(st.st_mode)) {
            count++;
        } else if (recursive && S_ISDIR(st.st_mode) && !IsDotOrDotDot(name)) {
            count += GetFileCount(entry.c_str(), recursive);
            PrintMessage("GetFileCount : finished scanning subfolder %s", entry.c_str());
        }
    });
    return count;
}

int DeleteEmptyFiles(const char* dir) {
    int count = 0;
    ForEachEntry(dir, [&](const std::string& entry, const char*, const struct stat& st) {
        if (!S_ISREG(st.st_mode) || st.st_size != 0) return;
        PrintMessage("%s is empty, deleting", entry.c_str());
        if (unlink(entry.c_str()) == 0) count++;
    });
    return count;
}

unsigned GetFileDate(const char* path) {
    struct stat st;
    if (!path || lstat(path, &st) != 0) return 0;
    return (unsigned)st.st_mtime;
}

bool IsFileLocked(const char* path) { return true; }
