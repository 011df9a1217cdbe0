// Table-driven AES (FIPS-197), the cipher on every byte of connection
// traffic and of encrypted files. The round tables are computed at compile
// time from the field arithmetic and live in the program's read-only data.
// Where the processor has AES instructions, aes_cipher_vetrak runs on them
// instead (AesHardware.h), with the same results; the table code stays the
// fallback.
//
// Threads: the tables are constant; an aes_context or aes_cipher_vetrak is
// owned by one user and holds no lock.
#pragma once

#include <stdint.h>

#include "crypto/AesHardware.h"

struct aes_context {
    int32_t nr;        // 10, 12 or 14 rounds
    uint32_t erk[64];  // encryption key schedule
    uint32_t drk[64];  // decryption key schedule
};

// Expands a 128-, 192- or 256-bit key; 0 on success, 1 for any other size
// (the context is then unusable).
int aes_set_key(aes_context* ctx, unsigned char* key, int bits);
// One 16-byte block, in place.
void aes_encrypt(aes_context* ctx, unsigned char* block);
void aes_decrypt(aes_context* ctx, unsigned char* block);

class aes_cipher_vetrak {
  public:
    // The first 32 characters of `keyText` are the 16 key bytes in
    // hexadecimal (either case; a non-digit counts as 0). Callers check the
    // text with IsValidAesKey first.
    explicit aes_cipher_vetrak(const char* keyText);

    // ECB over the first 16 * (length / 16) bytes, in place; the last
    // length % 16 bytes are left as they are and the length never changes.
    void encrypt(char* data, int length);
    void decrypt(char* data, int length);
    void encrypt(unsigned char* block);
    void decrypt(unsigned char* block);

    // Diagnostic: checks the FIPS-197 example and prints the throughput.
    void benchmark();

    aes_context ctx;  // expanded once, by the constructor
    // Set by the constructor from AesHardwareEnabled(): the four operations
    // above run on the processor's instructions. It may be changed later
    // to compare the paths, but set only where AesHardwareAvailable().
    bool hardware;
    AesHardware hw;  // the same key for the instructions, when available
};

// True when `key` is exactly 32 hexadecimal digits (either case). A wrong
// length is reported as an error when `verbose` is non-zero; a bad digit
// gives false silently.
bool IsValidAesKey(const char* key, int verbose);
