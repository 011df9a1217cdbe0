#include "foundation/Paths.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

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

bool MakeDirectories(const char* p) {
    if (!p || !*p) return false;
    char work[400];
    // A cut copy would be created and found again forever: refuse instead.
    if (strlen(p) >= sizeof(work)) return false;
    while (!IsDir(p)) {
        snprintf(work, sizeof(work), "%s", p);
        while (!IsDir(work)) {
            if (mkdir(work, 0755) == 0) break;
            // Another thread may have made it between the test and mkdir.
            if (errno == EEXIST && IsDir(work)) break;
            if (errno != ENOENT) return false;
            // A missing parent: create the path one component shorter first.
            size_t len = strlen(work);
            while (len > 0 && work[len - 1] == '/') work[--len] = 0;
            char* cut = strrchr(work, '/');
            if (!cut || cut == work) return false;
            *cut = 0;
        }
    }
    return true;
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
