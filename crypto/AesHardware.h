// AES on the processor's own instructions (x86 AES-NI through compiler
// intrinsics), the bulk path of both cipher classes. The round keys come
// from the software key expansion, so both paths use the same schedule and
// give the same bytes; ECB runs eight blocks side by side to hide the
// latency of the round instruction.
//
// Threads: the processor check is made once, thread-safely; an AesHardware
// is owned by one cipher object and holds no lock.
#pragma once

#include <stddef.h>

struct aes_context;

// True when this processor has the AES instructions (checked once).
bool AesHardwareAvailable();

// True when a new cipher object should use them: available, and the
// environment variable ZELAGENT_AES is not "table" (which keeps the
// portable table code, for comparisons and benchmarks).
bool AesHardwareEnabled();

class AesHardware {
  public:
    // From an encryption key schedule of `rounds` rounds (10, 12 or 14):
    // 16 * (rounds + 1) bytes, each round key in block byte order.
    // REQUIRES: AesHardwareAvailable().
    void SetKey(const unsigned char* schedule, int rounds);
    // From the table code's expanded key (big-endian words).
    void SetKey(const aes_context& ctx);

    // ECB over `blocks` whole 16-byte blocks, in place; `data` needs no
    // particular alignment. REQUIRES: a key was set.
    void Encrypt(unsigned char* data, size_t blocks) const;
    void Decrypt(unsigned char* data, size_t blocks) const;

    // Round keys for the instructions: the encryption schedule, and the
    // decryption one in reverse order with InvMixColumns applied to the
    // inner keys (the equivalent inverse cipher).
    alignas(16) unsigned char enc[15][16];
    alignas(16) unsigned char dec[15][16];
    int rounds = 0;
};
