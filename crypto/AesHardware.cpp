// The intrinsics are compiled for the AES extension through function
// attributes, so the rest of the program keeps the baseline instruction set
// and runs on processors without it; nothing here runs unless the
// processor check passed.
#include "crypto/AesHardware.h"

#include <stdlib.h>
#include <string.h>

#include "crypto/AesVetrak.h"

bool AesHardwareEnabled() {
    if (!AesHardwareAvailable()) return false;
    const char* choice = getenv("ZELAGENT_AES");
    return !(choice && strcmp(choice, "table") == 0);
}

void AesHardware::SetKey(const aes_context& ctx) {
    unsigned char schedule[15 * 16];
    int words = 4 * (ctx.nr + 1);
    for (int i = 0; i < words; i++) {
        uint32_t w = ctx.erk[i];
        schedule[4 * i] = (unsigned char)(w >> 24);
        schedule[4 * i + 1] = (unsigned char)(w >> 16);
        schedule[4 * i + 2] = (unsigned char)(w >> 8);
        schedule[4 * i + 3] = (unsigned char)w;
    }
    SetKey(schedule, ctx.nr);
}

#if defined(__x86_64__) || defined(__i386__)

#include <emmintrin.h>
#include <wmmintrin.h>

#define AES_TARGET __attribute__((target("aes,sse2")))

namespace {

// `N` blocks at `p` through `NR` rounds with the keys `k`, each step applied
// to every block before the next step so the blocks overlap in the
// pipeline.
template <bool DECRYPT, int NR, int N>
AES_TARGET inline void Group(const __m128i* k, unsigned char* p) {
    __m128i b[N];
    __m128i key = _mm_load_si128(k);
#pragma GCC unroll 8
    for (int i = 0; i < N; i++) b[i] = _mm_xor_si128(_mm_loadu_si128((const __m128i*)(p + 16 * i)), key);
    for (int r = 1; r < NR; r++) {
        key = _mm_load_si128(k + r);
#pragma GCC unroll 8
        for (int i = 0; i < N; i++)
            b[i] = DECRYPT ? _mm_aesdec_si128(b[i], key) : _mm_aesenc_si128(b[i], key);
    }
    key = _mm_load_si128(k + NR);
#pragma GCC unroll 8
    for (int i = 0; i < N; i++) {
        b[i] = DECRYPT ? _mm_aesdeclast_si128(b[i], key) : _mm_aesenclast_si128(b[i], key);
        _mm_storeu_si128((__m128i*)(p + 16 * i), b[i]);
    }
}

template <bool DECRYPT, int NR>
AES_TARGET void Blocks(const __m128i* k, unsigned char* p, size_t blocks) {
    for (; blocks >= 8; blocks -= 8, p += 128) Group<DECRYPT, NR, 8>(k, p);
    if (blocks >= 4) {
        Group<DECRYPT, NR, 4>(k, p);
        blocks -= 4;
        p += 64;
    }
    for (; blocks > 0; blocks--, p += 16) Group<DECRYPT, NR, 1>(k, p);
}

template <bool DECRYPT>
void Run(int rounds, const unsigned char (*keys)[16], unsigned char* data, size_t blocks) {
    const __m128i* k = (const __m128i*)keys;
    switch (rounds) {
        case 10:
            Blocks<DECRYPT, 10>(k, data, blocks);
            break;
        case 12:
            Blocks<DECRYPT, 12>(k, data, blocks);
            break;
        case 14:
            Blocks<DECRYPT, 14>(k, data, blocks);
            break;
        default:
            abort();  // no key set: never leave data in clear
    }
}

}  // namespace

bool AesHardwareAvailable() {
    static const bool available = [] {
        __builtin_cpu_init();  // in case the first call comes from a static constructor
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
    }();
    return available;
}

AES_TARGET void AesHardware::SetKey(const unsigned char* schedule, int nr) {
    rounds = 0;
    if (nr != 10 && nr != 12 && nr != 14) return;  // Encrypt and Decrypt then refuse to run
    rounds = nr;
    memcpy(enc, schedule, 16 * (size_t)(nr + 1));
    __m128i* d = (__m128i*)dec;
    const __m128i* e = (const __m128i*)enc;
    d[0] = e[nr];
    for (int r = 1; r < nr; r++) d[r] = _mm_aesimc_si128(e[nr - r]);
    d[nr] = e[0];
}

void AesHardware::Encrypt(unsigned char* data, size_t blocks) const {
    Run<false>(rounds, enc, data, blocks);
}

void AesHardware::Decrypt(unsigned char* data, size_t blocks) const {
    Run<true>(rounds, dec, data, blocks);
}

#else  // no AES instructions on this architecture

bool AesHardwareAvailable() {
    return false;
}

// Unreachable: callers check AesHardwareAvailable() first.
void AesHardware::SetKey(const unsigned char*, int) {
    abort();
}
void AesHardware::Encrypt(unsigned char*, size_t) const {
    abort();
}
void AesHardware::Decrypt(unsigned char*, size_t) const {
    abort();
}

#endif
