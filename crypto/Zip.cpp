#include "crypto/Zip.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "crypto/Container.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"

namespace {

const int kZipBlock = 8192;
const int kUnzipBlock = 512;

// A file is never packed or unpacked onto one of its own names.
bool SameFile(const char* a, const char* b) {
    struct stat x, y;
    return stat(a, &x) == 0 && stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// Zip and DeZip: `convert` writes `target` from `path`; on success the
// source goes when asked and the caller's text takes the new name.
bool ConvertNamed(char* path, const std::string& target, bool removeSource,
                  bool (*convert)(const char*, const char*)) {
    if (!convert(path, target.c_str())) return false;
    if (removeSource) Unlink(path);
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}

}  // namespace

bool Zip(char* path, bool removeSource) {
    return path && ConvertNamed(path, std::string(path) + ".gz", removeSource, ZipFile);
}

bool ZipFile(const char* path, const char* target) {
    if (!path || !target || IsAES(path) || SameFile(path, target)) return false;
    PrintDebug("Zip %s into %s", path, target);
    FILE* in = fopen(path, "rbe");
    if (!in) {
        PrintMessage("Zip: %s does not exist", path);
        return false;
    }
    // zlib writes through a descriptor of its own and closes it; the
    // replacement keeps the original one for Commit.
    ReplacementFile out(target);
    int fd = out.Open(0666, false, true) ? fcntl(out.fd(), F_DUPFD_CLOEXEC, 0) : -1;
    gzFile packed = fd >= 0 ? gzdopen(fd, "wb") : nullptr;
    if (!packed) {
        if (fd >= 0) close(fd);
        fclose(in);
        PrintError("Zip: Cannot open %s for writing", target);
        return false;
    }
    // A short write (a full disk) must not pass for success: the source
    // could be deleted right after.
    bool ok = true;
    char block[kZipBlock];
    for (;;) {
        size_t n = fread(block, 1, kZipBlock, in);
        if (n > 0 && gzwrite(packed, block, (unsigned)n) != (int)n) {
            ok = false;
            break;
        }
        if (n < (size_t)kZipBlock) {
            if (ferror(in)) ok = false;
            break;
        }
    }
    fclose(in);
    if (gzclose(packed) != Z_OK) ok = false;
    if (!ok || !out.Commit()) {
        PrintError("Zip: Cannot open %s for writing", target);
        return false;
    }
    return true;
}

bool DeZip(char* path, bool removeSource) {
    size_t length = path ? strlen(path) : 0;
    // A name of 3 characters or fewer would leave none.
    return length > 3 && ConvertNamed(path, std::string(path, length - 3), removeSource, DeZipFile);
}

bool DeZipFile(const char* path, const char* target) {
    if (!path || !target || IsAES(path) || SameFile(path, target)) return false;
    PrintDebug("%s %s into %s", "Unzip", path, target);
    gzFile in = gzopen(path, "rbe");
    if (!in) {
        PrintMessage("%s does not exist", path);
        return false;
    }
    ReplacementFile out(target);
    FILE* plain = out.Open(0666, false, true) ? out.stream() : nullptr;
    bool ok = plain != nullptr;
    char block[kUnzipBlock];
    for (int n = kUnzipBlock; ok && n == kUnzipBlock;) {
        n = gzread(in, block, kUnzipBlock);
        if (n < 0) {
            PrintError("Dezip (%s): gzread %i, exiting...", path, n);
            gzclose(in);
            return false;
        }
        ok = fwrite(block, 1, (size_t)n, plain) == (size_t)n;
    }
    // zlib reports a stream cut short only here: without this check a
    // truncated archive would pass for a whole file.
    int error = Z_OK;
    if (ok) gzerror(in, &error);
    gzclose(in);
    if (error != Z_OK) {
        PrintError("Dezip (%s): gzread %i, exiting...", path, error);
        return false;
    }
    if (!ok || !out.Commit()) {
        PrintError("Cannot open %s for writing", target);
        return false;
    }
    return true;
}
