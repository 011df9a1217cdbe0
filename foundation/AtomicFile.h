// Replacing a file without ever exposing a half-written copy: write to
// "<path>.tmp" in the same folder, flush, then rename over the final name.
#pragma once

#include <stdio.h>

class AtomicFile {
public:
    // Opens "<path>.tmp" for writing (parent folders created). stream() is
    // null when that failed.
    explicit AtomicFile(const char* path);
    // Removes the temporary file unless Commit succeeded.
    ~AtomicFile();
    FILE* stream() { return stream_; }
    // Flushes, closes and renames over the final name; false on any failure
    // (the final file is then left as it was).
    bool Commit();

private:
    char path_[410];
    char tmp_[420];
    FILE* stream_;
    bool committed_;
};
