#include "crypto/Zip.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "crypto/Container.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"

namespace {

const int kZipBlock = 8192;
const int kUnzipBlock = 512;

// Writing the target would truncate the source before it is read.
bool SameFile(const char* a, const char* b) {
    struct stat x, y;
    return stat(a, &x) == 0 && stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace

bool Zip(char* path, bool removeSource) {
    if (!path) return false;
    std::string target = std::string(path) + ".gz";
    if (!ZipFile(path, target.c_str())) return false;
    if (removeSource) Unlink(path);
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}

bool ZipFile(const char* path, const char* target_name) {
    if (!path || !target_name || IsAES(path) || SameFile(path, target_name)) return false;
    std::string target = target_name;
    PrintDebug("Zip %s into %s", path, target.c_str());
    FILE* in = fopen(path, "rbe");
    if (!in) {
        PrintMessage("Zip: %s does not exist", path);
        return false;
    }
    gzFile out = gzopen(target.c_str(), "wbe");
    if (!out) {
        fclose(in);
        PrintError("Zip: Cannot open %s for writing", target.c_str());
        return false;
    }
    // A short write (a full disk) must not pass for success: the source
    // could be deleted right after.
    bool ok = true;
    char block[kZipBlock];
    for (;;) {
        size_t n = fread(block, 1, kZipBlock, in);
        if (n > 0 && gzwrite(out, block, (unsigned)n) != (int)n) {
            ok = false;
            break;
        }
        if (n < (size_t)kZipBlock) {
            if (ferror(in)) ok = false;
            break;
        }
    }
    fclose(in);
    if (gzclose(out) != Z_OK) ok = false;
    if (!ok) {
        PrintError("Zip: Cannot open %s for writing", target.c_str());
        unlink(target.c_str());
        return false;
    }
    return true;
}

bool DeZip(char* path, bool removeSource) {
    if (!path) return false;
    size_t length = strlen(path);
    if (length <= 3) return false;  // no name would be left
    std::string target(path, length - 3);
    if (!DeZipFile(path, target.c_str())) return false;
    if (removeSource) Unlink(path);
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}

bool DeZipFile(const char* path, const char* target_name) {
    if (!path || !target_name || IsAES(path) || SameFile(path, target_name)) return false;
    std::string target = target_name;
    PrintDebug("%s %s into %s", "Unzip", path, target.c_str());
    gzFile in = gzopen(path, "rbe");
    if (!in) {
        PrintMessage("%s does not exist", path);
        return false;
    }
    FILE* out = fopen(target.c_str(), "wbe");
    if (!out) {
        gzclose(in);
        PrintError("Cannot open %s for writing", target.c_str());
        return false;
    }
    bool ok = true;
    char block[kUnzipBlock];
    for (;;) {
        int n = gzread(in, block, kUnzipBlock);
        if (n < 0) {
            PrintError("Dezip (%s): gzread %i, exiting...", path, n);
            ok = false;
            break;
        }
        if (n > 0 && fwrite(block, 1, (size_t)n, out) != (size_t)n) {
            PrintError("Cannot open %s for writing", target.c_str());
            ok = false;
            break;
        }
        if (n < kUnzipBlock) break;
    }
    // zlib reports a stream cut short only here: without this check a
    // truncated archive would pass for a whole file.
    int error = Z_OK;
    if (ok) gzerror(in, &error);
    if (ok && error != Z_OK) {
        PrintError("Dezip (%s): gzread %i, exiting...", path, error);
        ok = false;
    }
    gzclose(in);
    if (fclose(out) != 0) ok = false;
    if (!ok) {
        unlink(target.c_str());
        return false;
    }
    return true;
}
