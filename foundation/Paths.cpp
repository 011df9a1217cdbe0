#include "foundation/Paths.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "foundation/FileOps.h"
#include "foundation/Log.h"

void ConvertPath(char* p) {
    for (; p && *p; p++)
        if (*p == '|') *p = '/';
}

void ConvertPath2(char* p) {
    for (; p && *p; p++)
        if (*p == '/') *p = '|';
}

std::string LocalPath(const char* wire) {
    std::string path(wire ? wire : "");
    for (char& c : path)
        if (c == '|') c = '/';
    return path;
}

bool IsSafePathComponent(const char* text) {
    return text && *text && !strchr(text, '/') && strcmp(text, ".") != 0 && strcmp(text, "..") != 0;
}

bool VerifyFileExists(const char* p) {
    struct stat st;
    return p && lstat(p, &st) == 0;
}

bool VerifyFolderExists(const char* p) {
    struct stat st;
    return p && lstat(p, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsDir(const char* p) {
    return VerifyFolderExists(p);
}

namespace {

// Creates `p` and its missing parents, whatever its length; true when `p` is
// a directory at the end. Stops at the first failure other than a missing
// parent.
bool MakeDirectoryChain(const std::string& p) {
    if (p.empty()) return false;
    std::string work;
    while (!IsDir(p.c_str())) {
        work = p;
        while (!IsDir(work.c_str())) {
            if (MakeDir(work.c_str()) == 0) break;
            // Another thread may have made it between the test and mkdir.
            if (errno == EEXIST && IsDir(work.c_str())) break;
            if (errno != ENOENT) return false;
            // A missing parent: create the path one component shorter first.
            while (!work.empty() && work.back() == '/') work.pop_back();
            size_t cut = work.rfind('/');
            if (cut == std::string::npos || cut == 0) return false;
            work.resize(cut);
        }
    }
    return true;
}

}  // namespace

bool MakeDirectories(const char* p) {
    // Paths are 400-byte texts in this agent: a longer one is refused.
    if (!p || strlen(p) >= 400) return false;
    return MakeDirectoryChain(p);
}

void MakeParentDirectories(const std::string& path) {
    size_t cut = path.rfind('/');
    if (cut == std::string::npos || cut == 0) return;
    MakeDirectoryChain(path.substr(0, cut));
}

bool VerifySubFolderExists(const char* p) {
    if (!p) return true;
    char parent[400];
    snprintf(parent, sizeof(parent), "%s", p);
    char* cut = strrchr(parent, '/');
    if (cut && cut != parent) {
        *cut = 0;
        MakeDirectories(parent);
    }
    return true;
}

int SetFileModifyDate(const char* p, unsigned t) {
    // A symbolic link gets its own times: the entry it points to (possibly
    // outside the restored tree) is never touched.
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = (time_t)t;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (!p || utimensat(AT_FDCWD, p, times, AT_SYMLINK_NOFOLLOW) != 0)
        PrintError("utime(%s) failed : %s", p ? p : "", strerror(errno));
    return 0;
}
