// MD5 digests (RFC 1321) and their text form: 32 lowercase hexadecimal
// digits. The agent names files, versions and passwords by them.
//
// Threads: an md5_t or MD5 object belongs to one user; no locks.
#pragma once

#include <stdint.h>

#include <atomic>

struct md5_t {
    uint32_t md5_A, md5_B, md5_C, md5_D;  // chaining words
    uint32_t md5_total[2];                // bytes processed: low, high
    uint32_t md5_buf_len;                 // bytes waiting in md5_buffer
    unsigned char md5_buffer[128];
};

void md5_init(md5_t* state);
void md5_process(md5_t* state, const void* data, unsigned int length);
// Pads and writes the 16-byte signature (A, B, C, D, each little-endian).
void md5_finish(md5_t* state, void* signature);
void md5_buffer(const char* data, unsigned int length, void* signature);
// Digit pairs while both fit in `size`, then a NUL if room is left; a size
// of 33 gives the whole text.
void md5_sig_to_string(void* signature, char* text, int size);
// Reads 32 hexadecimal digits into 16 bytes; a text that is shorter or holds
// another character leaves the signature zeroed.
void md5_sig_from_string(void* signature, const char* text);

// Live MD5 objects (diagnostics only; no lock).
extern std::atomic<int> md5_count;

class MD5 {
  public:
    MD5();
    ~MD5();
    MD5(const MD5&) = delete;
    MD5& operator=(const MD5&) = delete;

    void Process(const char* data, int length);
    // `length` 0 means strlen(text).
    void HashString(const char* text, int length = 0);
    // Finishes the digest: writes 32 digits and a NUL (33 bytes). Further
    // Process calls give no meaningful digest.
    void GetHash(char* out);
    // Adds a file's bytes; a directory holds a file split into parts "000",
    // "001", ... which are added in order (the result is then -1). 0 when a
    // regular file was read, -1 otherwise.
    int HashFile(const char* path);
    // Adds the first `limit` bytes (fewer when the file ends first);
    // -1 when the file cannot be opened, else 0.
    long long PartialHashFile(const char* path, long long limit);

    md5_t state;
    unsigned char signature[16];
};
