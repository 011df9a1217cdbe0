#include "foundation/AtomicFile.h"

#include <unistd.h>

#include "foundation/Log.h"

AtomicFile::AtomicFile(const char* path) : stream_(nullptr), committed_(false) {
    snprintf(path_, sizeof(path_), "%s", path ? path : "");
    snprintf(tmp_, sizeof(tmp_), "%s.tmp", path_);
    if (path) stream_ = GetFILE(tmp_, "w", true);
}

AtomicFile::~AtomicFile() {
    if (stream_) CloseFILE(stream_);
    if (!committed_) unlink(tmp_);
}

bool AtomicFile::Commit() {
    if (!stream_) return false;
    bool ok = fflush(stream_) == 0 && !ferror(stream_) && fsync(fileno(stream_)) == 0;
    if (CloseFILE(stream_) != 0) ok = false;
    if (!ok) return false;
    if (rename(tmp_, path_) != 0) return false;
    committed_ = true;
    return true;
}
