// Table-driven AES. Words are big-endian: byte 0 of a column is the most
// significant byte, so a state column loads straight from the block.
#include "crypto/AesVetrak.h"

#include <string.h>
#include <time.h>

#include "foundation/Log.h"
#include "foundation/base.h"

namespace {

// ---- tables, computed by the compiler from the field arithmetic ----------

constexpr uint8_t Xtime(uint8_t x) {
    return (uint8_t)((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint32_t Word(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return ((uint32_t)a << 24) | ((uint32_t)b << 16) | ((uint32_t)c << 8) | d;
}

constexpr uint32_t Ror8(uint32_t w) {
    return (w >> 8) | (w << 24);
}

struct Tables {
    uint8_t fsb[256];     // forward S-box
    uint8_t rsb[256];     // inverse S-box
    uint32_t ft[4][256];  // forward round tables
    uint32_t rt[4][256];  // inverse round tables
    uint32_t rcon[10];
};

constexpr Tables MakeTables() {
    Tables t{};
    // Powers and logarithms of the generator 3 give the inverses.
    uint8_t pow[256] = {};
    uint8_t log[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 256; i++) {
        pow[i] = x;
        log[x] = (uint8_t)i;
        x = (uint8_t)(x ^ Xtime(x));
    }
    for (int i = 0; i < 256; i++) {
        uint8_t inv = i == 0 ? 0 : pow[255 - log[i]];
        // Affine transform of FIPS-197 5.1.1.
        uint8_t s = inv;
        uint8_t y = inv;
        for (int k = 0; k < 4; k++) {
            y = (uint8_t)((y << 1) | (y >> 7));
            s ^= y;
        }
        s ^= 0x63;
        t.fsb[i] = s;
        t.rsb[s] = (uint8_t)i;
    }
    for (int i = 0; i < 256; i++) {
        uint8_t s = t.fsb[i];
        uint32_t f = Word(Mul(s, 2), s, s, Mul(s, 3));
        uint8_t r = t.rsb[i];
        uint32_t v = Word(Mul(r, 14), Mul(r, 9), Mul(r, 13), Mul(r, 11));
        for (int k = 0; k < 4; k++) {
            t.ft[k][i] = f;
            t.rt[k][i] = v;
            f = Ror8(f);
            v = Ror8(v);
        }
    }
    uint8_t rc = 1;
    for (int i = 0; i < 10; i++) {
        t.rcon[i] = (uint32_t)rc << 24;
        rc = Xtime(rc);
    }
    return t;
}

constexpr Tables T = MakeTables();

static_assert(T.fsb[0x00] == 0x63 && T.fsb[0x53] == 0xed && T.rsb[0x63] == 0x00, "S-box");

inline uint32_t Load(const unsigned char* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

inline void Store(unsigned char* p, uint32_t w) {
    p[0] = (unsigned char)(w >> 24);
    p[1] = (unsigned char)(w >> 16);
    p[2] = (unsigned char)(w >> 8);
    p[3] = (unsigned char)w;
}

inline uint32_t SubWord(uint32_t w) {
    return Word(T.fsb[w >> 24], T.fsb[(w >> 16) & 0xff], T.fsb[(w >> 8) & 0xff], T.fsb[w & 0xff]);
}

#define B0(w) ((w) >> 24)
#define B1(w) (((w) >> 16) & 0xff)
#define B2(w) (((w) >> 8) & 0xff)
#define B3(w) ((w)&0xff)

inline void EncryptBlock(const aes_context* ctx, unsigned char* block) {
    const uint32_t* rk = ctx->erk;
    uint32_t s0 = Load(block) ^ rk[0], s1 = Load(block + 4) ^ rk[1];
    uint32_t s2 = Load(block + 8) ^ rk[2], s3 = Load(block + 12) ^ rk[3];
    const uint32_t* f0 = T.ft[0];
    const uint32_t* f1 = T.ft[1];
    const uint32_t* f2 = T.ft[2];
    const uint32_t* f3 = T.ft[3];
    for (int r = 1; r < ctx->nr; r++) {
        rk += 4;
        uint32_t t0 = f0[B0(s0)] ^ f1[B1(s1)] ^ f2[B2(s2)] ^ f3[B3(s3)] ^ rk[0];
        uint32_t t1 = f0[B0(s1)] ^ f1[B1(s2)] ^ f2[B2(s3)] ^ f3[B3(s0)] ^ rk[1];
        uint32_t t2 = f0[B0(s2)] ^ f1[B1(s3)] ^ f2[B2(s0)] ^ f3[B3(s1)] ^ rk[2];
        uint32_t t3 = f0[B0(s3)] ^ f1[B1(s0)] ^ f2[B2(s1)] ^ f3[B3(s2)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* sb = T.fsb;
    Store(block, Word(sb[B0(s0)], sb[B1(s1)], sb[B2(s2)], sb[B3(s3)]) ^ rk[0]);
    Store(block + 4, Word(sb[B0(s1)], sb[B1(s2)], sb[B2(s3)], sb[B3(s0)]) ^ rk[1]);
    Store(block + 8, Word(sb[B0(s2)], sb[B1(s3)], sb[B2(s0)], sb[B3(s1)]) ^ rk[2]);
    Store(block + 12, Word(sb[B0(s3)], sb[B1(s0)], sb[B2(s1)], sb[B3(s2)]) ^ rk[3]);
}

inline void DecryptBlock(const aes_context* ctx, unsigned char* block) {
    const uint32_t* rk = ctx->drk;
    uint32_t s0 = Load(block) ^ rk[0], s1 = Load(block + 4) ^ rk[1];
    uint32_t s2 = Load(block + 8) ^ rk[2], s3 = Load(block + 12) ^ rk[3];
    const uint32_t* r0 = T.rt[0];
    const uint32_t* r1 = T.rt[1];
    const uint32_t* r2 = T.rt[2];
    const uint32_t* r3 = T.rt[3];
    for (int r = 1; r < ctx->nr; r++) {
        rk += 4;
        uint32_t t0 = r0[B0(s0)] ^ r1[B1(s3)] ^ r2[B2(s2)] ^ r3[B3(s1)] ^ rk[0];
        uint32_t t1 = r0[B0(s1)] ^ r1[B1(s0)] ^ r2[B2(s3)] ^ r3[B3(s2)] ^ rk[1];
        uint32_t t2 = r0[B0(s2)] ^ r1[B1(s1)] ^ r2[B2(s0)] ^ r3[B3(s3)] ^ rk[2];
        uint32_t t3 = r0[B0(s3)] ^ r1[B1(s2)] ^ r2[B2(s1)] ^ r3[B3(s0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* sb = T.rsb;
    Store(block, Word(sb[B0(s0)], sb[B1(s3)], sb[B2(s2)], sb[B3(s1)]) ^ rk[0]);
    Store(block + 4, Word(sb[B0(s1)], sb[B1(s0)], sb[B2(s3)], sb[B3(s2)]) ^ rk[1]);
    Store(block + 8, Word(sb[B0(s2)], sb[B1(s1)], sb[B2(s0)], sb[B3(s3)]) ^ rk[2]);
    Store(block + 12, Word(sb[B0(s3)], sb[B1(s2)], sb[B2(s1)], sb[B3(s0)]) ^ rk[3]);
}

}  // namespace

int aes_set_key(aes_context* ctx, unsigned char* key, int bits) {
    int nk;
    switch (bits) {
        case 128:
            ctx->nr = 10;
            nk = 4;
            break;
        case 192:
            ctx->nr = 12;
            nk = 6;
            break;
        case 256:
            ctx->nr = 14;
            nk = 8;
            break;
        default:
            return 1;
    }
    uint32_t* w = ctx->erk;
    int total = 4 * (ctx->nr + 1);
    for (int i = 0; i < nk; i++) w[i] = Load(key + 4 * i);
    for (int i = nk; i < total; i++) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0)
            temp = SubWord((temp << 8) | (temp >> 24)) ^ T.rcon[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            temp = SubWord(temp);
        w[i] = w[i - nk] ^ temp;
    }
    // Equivalent inverse cipher: round keys in reverse order, the inner ones
    // passed through InvMixColumns.
    uint32_t* d = ctx->drk;
    for (int r = 0; r <= ctx->nr; r++) {
        const uint32_t* src = w + 4 * (ctx->nr - r);
        for (int j = 0; j < 4; j++) {
            uint32_t v = src[j];
            if (r > 0 && r < ctx->nr)
                v = T.rt[0][T.fsb[B0(v)]] ^ T.rt[1][T.fsb[B1(v)]] ^ T.rt[2][T.fsb[B2(v)]] ^
                    T.rt[3][T.fsb[B3(v)]];
            d[4 * r + j] = v;
        }
    }
    return 0;
}

void aes_encrypt(aes_context* ctx, unsigned char* block) {
    EncryptBlock(ctx, block);
}
void aes_decrypt(aes_context* ctx, unsigned char* block) {
    DecryptBlock(ctx, block);
}

aes_cipher_vetrak::aes_cipher_vetrak(const char* keyText) : hardware(AesHardwareEnabled()) {
    unsigned char key[16];
    // A short text stops at its NUL instead of reading past it.
    bool ended = keyText == nullptr;
    for (int i = 0; i < 16; i++) {
        int hi = 0, lo = 0;
        if (!ended && keyText[2 * i])
            hi = gethex(keyText[2 * i]);
        else
            ended = true;
        if (!ended && keyText[2 * i + 1])
            lo = gethex(keyText[2 * i + 1]);
        else
            ended = true;
        key[i] = (unsigned char)(hi << 4 | lo);
    }
    aes_set_key(&ctx, key, 128);
    // Set up whenever the processor allows, so `hardware` can be switched.
    if (AesHardwareAvailable()) hw.SetKey(ctx);
}

void aes_cipher_vetrak::encrypt(char* data, int length) {
    unsigned char* p = (unsigned char*)data;
    if (hardware) {
        if (length >= 16) hw.Encrypt(p, (size_t)(length / 16));
        return;
    }
    for (int blocks = length / 16; blocks > 0; blocks--, p += 16) EncryptBlock(&ctx, p);
}

void aes_cipher_vetrak::decrypt(char* data, int length) {
    unsigned char* p = (unsigned char*)data;
    if (hardware) {
        if (length >= 16) hw.Decrypt(p, (size_t)(length / 16));
        return;
    }
    for (int blocks = length / 16; blocks > 0; blocks--, p += 16) DecryptBlock(&ctx, p);
}

void aes_cipher_vetrak::encrypt(unsigned char* block) {
    if (hardware)
        hw.Encrypt(block, 1);
    else
        EncryptBlock(&ctx, block);
}
void aes_cipher_vetrak::decrypt(unsigned char* block) {
    if (hardware)
        hw.Decrypt(block, 1);
    else
        DecryptBlock(&ctx, block);
}

bool IsValidAesKey(const char* key, int verbose) {
    if (!key) return false;
    size_t length = strlen(key);
    if (length != 32) {
        if (verbose) PrintError("Key is no good size: %u [%s]", (unsigned)length, key);
        return false;
    }
    return IsHexText(key, length);
}
