// The AES diagnostics of the command line: each cipher checks the FIPS-197
// Appendix C.1 example, then times encryption and decryption. Console only.
#include <string.h>
#include <time.h>

#include "crypto/Aes.h"
#include "crypto/AesVetrak.h"
#include "foundation/Log.h"
#include "foundation/base.h"

namespace {

const char* const kExampleKey = "000102030405060708090a0b0c0d0e0f";
const char* const kExamplePlain = "00112233445566778899aabbccddeeff";
const char* const kExampleCipher = "69c4e0d86a7b0430d8cdb78070b4c55a";

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Processor cycles where the processor offers a counter; nanoseconds
// otherwise.
unsigned long long Cycles() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_ia32_rdtsc();
#else
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned long long)t.tv_sec * 1000000000ull + t.tv_nsec;
#endif
}

void FromHex(const char* text, unsigned char* bytes) {
    aes_state s(text, true);
    s.get_Int8((char*)bytes);
}

void CheckExample(const unsigned char* result) {
    char actual[33];
    BytesToHex(result, 16, actual);
    if (strcmp(actual, kExampleCipher) != 0) {
        PrintScreen("should be:\n%s\n%s\n%s\n", kExampleKey, kExamplePlain, kExampleCipher);
        PrintScreen("actual: %s\n", actual);
    }
}

const int kBufferBytes = 1 << 20;
const int kRounds = 16;

// Times `step` `count` times; cycles per call.
template <typename F>
double StepCycles(F step, int count) {
    unsigned long long begin = Cycles();
    for (int i = 0; i < count; i++) step();
    return (double)(Cycles() - begin) / count;
}

}  // namespace

void aes_cipher_vetrak::benchmark() {
    unsigned char block[16];
    FromHex(kExamplePlain, block);
    aes_cipher_vetrak example(kExampleKey);
    example.encrypt(block);
    CheckExample(block);

    static char buffer[kBufferBytes];
    memset(buffer, 0x5a, sizeof(buffer));
    double megabytes = (double)kBufferBytes * kRounds / 1e6;
    double blocks = (double)kBufferBytes / 16 * kRounds;

    double t0 = Now();
    unsigned long long c0 = Cycles();
    for (int r = 0; r < kRounds; r++) encrypt(buffer, kBufferBytes);
    double seconds = Now() - t0;
    double cycles = (double)(Cycles() - c0) / blocks;
    PrintScreen("aes_vetrak encrypt: %2.2f M/s cycles==%2.2f time==%2.2fns\n", megabytes / seconds, cycles,
                seconds * 1e9 / blocks);

    t0 = Now();
    c0 = Cycles();
    for (int r = 0; r < kRounds; r++) decrypt(buffer, kBufferBytes);
    seconds = Now() - t0;
    cycles = (double)(Cycles() - c0) / blocks;
    PrintScreen("aes_vetrak decrypt: %2.2f M/s cycles==%2.2f time==%2.2fns\n", megabytes / seconds, cycles,
                seconds * 1e9 / blocks);
}

void aes_cipher::benchmark() {
    aes_state example(kExamplePlain, true);
    aes_cipher reference(kExampleKey);
    reference.encrypt(&example);
    unsigned char result[16];
    example.get_Int8((char*)result);
    CheckExample(result);

    // The step-by-step cipher is slow: a smaller buffer keeps this short.
    const int bytes = 64 * 1024;
    static char buffer[bytes];
    memset(buffer, 0x5a, sizeof(buffer));
    double blocks = bytes / 16.0;

    double t0 = Now();
    unsigned long long c0 = Cycles();
    encrypt(buffer, bytes);
    double seconds = Now() - t0;
    PrintScreen("aes encrypt: %2.2f M/s cycles==%2.2f\n", bytes / 1e6 / seconds, (Cycles() - c0) / blocks);

    t0 = Now();
    c0 = Cycles();
    decrypt(buffer, bytes);
    seconds = Now() - t0;
    PrintScreen("aes decrypt: %2.2f M/s cycles==%2.2f\n", bytes / 1e6 / seconds, (Cycles() - c0) / blocks);

    const int count = 20000;
    PrintScreen("AddRoundKey: %2.2f cycles\n", StepCycles([this] { AddRoundKey(5); }, count));
    PrintScreen("SubBytes: %2.2f cycles\n", StepCycles([this] { SubBytes(); }, count));
    PrintScreen("InvSubBytes: %2.2f cycles\n", StepCycles([this] { InvSubBytes(); }, count));
    PrintScreen("ShiftRows: %2.2f cycles\n", StepCycles([this] { ShiftRows(); }, count));
    PrintScreen("InvShiftRows: %2.2f cycles\n", StepCycles([this] { InvShiftRows(); }, count));
    PrintScreen("MixColumns: %2.2f cycles\n", StepCycles([this] { MixColumns(); }, count));
    PrintScreen("InvMixColumns: %2.2f cycles\n", StepCycles([this] { InvMixColumns(); }, count));
    // Timing the expansion overwrites the round keys: keep this object's own.
    aes_state own;
    for (int i = 0; i < 4; i++) own.w[i] = round_key[i];
    aes_state key(kExampleKey, true);
    PrintScreen("KeyExpansion: %2.2f cycles\n", StepCycles([this, &key] { KeyExpansion(key); }, count / 10));
    KeyExpansion(own);
}
