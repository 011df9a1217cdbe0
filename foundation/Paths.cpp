#include "foundation/Paths.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <utime.h>

#include "foundation/Log.h"

void ConvertPath(char* p) {
    for (; p && *p; p++)
        if (*p == '|') *p = '/';
}

void ConvertPath2(char* p) {
    for (; p && *p; p++)
        if (*p == '/') *p = '|';
}

bool VerifyFileExists(const char* p) {
    struct stat st;
    return p && lstat(p, &st) == 0;
}

bool VerifyFolderExists(const char* p) {
    struct stat st;
    return p && lstat(p, &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsDir(const char* p) { return VerifyFolderExists(p); }

bool MakeDirectories(const char* p) {
    if (!p || !*p) return false;
    char work[400];
    while (!IsDir(p)) {
        snprintf(work, sizeof(work), "%s", p);
        while (!IsDir(work)) {
            if (mkdir(work, 0755) == 0) break;
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
    struct utimbuf times;
    times.actime = (time_t)t;
    times.modtime = (time_t)t;
    if (utime(p, &times) != 0) PrintError("utime(%s) failed : %s", p, strerror(errno));
    return 0;
}
