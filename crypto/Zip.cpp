#include "crypto/Zip.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "foundation/FileOps.h"
#include "foundation/Log.h"

namespace {

const int kZipBlock = 8192;
const int kUnzipBlock = 512;

// An encrypted container starts with the three letters "aes".
bool StartsEncrypted(const char* path) {
    FILE* f = fopen(path, "re");
    if (!f) return false;
    char head[3];
    size_t n = fread(head, 1, 3, f);
    fclose(f);
    return n == 3 && memcmp(head, "aes", 3) == 0;
}

}  // namespace

bool Zip(char* path, bool removeSource) {
    if (!path || StartsEncrypted(path)) return false;
    std::string target = std::string(path) + ".gz";
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
    if (removeSource) Unlink(path);
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}

bool DeZip(char* path, bool removeSource) {
    if (!path || StartsEncrypted(path)) return false;
    size_t length = strlen(path);
    if (length <= 3) return false;  // no name would be left
    std::string target(path, length - 3);
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
    if (removeSource) Unlink(path);
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}
