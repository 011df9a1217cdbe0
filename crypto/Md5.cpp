#include "crypto/Md5.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/base.h"

std::atomic<int> md5_count{0};

namespace {

const int kFileBlock = 10240;
// A plug-in file whose absence is normal on this platform.
const char* const kQuietMissingFile = "conf/exe/exchange/Exchange_CDO_EWS.exe";

inline uint32_t LoadLE(const unsigned char* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void StoreLE(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

inline uint32_t Rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);         \
    a = Rotl(a, s) + (b);

// The RFC 1321 block function over `blocks` consecutive 64-byte blocks.
void ProcessBlocks(md5_t* st, const unsigned char* p, size_t blocks) {
    uint32_t a = st->md5_A, b = st->md5_B, c = st->md5_C, d = st->md5_D;
    for (; blocks > 0; blocks--, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; i++) x[i] = LoadLE(p + 4 * i);
        uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

        MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

        MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

        MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    st->md5_A = a;
    st->md5_B = b;
    st->md5_C = c;
    st->md5_D = d;
}

void AddToTotal(md5_t* st, uint32_t length) {
    uint32_t low = st->md5_total[0] + length;
    if (low < st->md5_total[0]) st->md5_total[1]++;
    st->md5_total[0] = low;
}

}  // namespace

void md5_init(md5_t* st) {
    st->md5_A = 0x67452301;
    st->md5_B = 0xefcdab89;
    st->md5_C = 0x98badcfe;
    st->md5_D = 0x10325476;
    st->md5_total[0] = st->md5_total[1] = 0;
    st->md5_buf_len = 0;
}

void md5_process(md5_t* st, const void* data, unsigned int length) {
    const unsigned char* p = (const unsigned char*)data;
    AddToTotal(st, length);
    if (st->md5_buf_len > 0) {
        uint32_t take = 64 - st->md5_buf_len;
        if (take > length) take = length;
        memcpy(st->md5_buffer + st->md5_buf_len, p, take);
        st->md5_buf_len += take;
        p += take;
        length -= take;
        if (st->md5_buf_len < 64) return;
        ProcessBlocks(st, st->md5_buffer, 1);
        st->md5_buf_len = 0;
    }
    size_t blocks = length / 64;
    if (blocks > 0) {
        ProcessBlocks(st, p, blocks);
        p += blocks * 64;
        length -= (unsigned)(blocks * 64);
    }
    if (length > 0) {
        memcpy(st->md5_buffer, p, length);
        st->md5_buf_len = length;
    }
}

void md5_finish(md5_t* st, void* signature) {
    uint32_t low = st->md5_total[0], high = st->md5_total[1];
    unsigned char tail[128];
    uint32_t used = st->md5_buf_len;
    memcpy(tail, st->md5_buffer, used);
    tail[used++] = 0x80;
    uint32_t padded = used <= 56 ? 64 : 128;
    memset(tail + used, 0, padded - used);
    StoreLE(tail + padded - 8, low << 3);
    StoreLE(tail + padded - 4, (high << 3) | (low >> 29));
    ProcessBlocks(st, tail, padded / 64);
    st->md5_buf_len = 0;
    unsigned char* out = (unsigned char*)signature;
    StoreLE(out, st->md5_A);
    StoreLE(out + 4, st->md5_B);
    StoreLE(out + 8, st->md5_C);
    StoreLE(out + 12, st->md5_D);
}

void md5_buffer(const char* data, unsigned int length, void* signature) {
    md5_t st;
    md5_init(&st);
    md5_process(&st, data, length);
    md5_finish(&st, signature);
}

void md5_sig_to_string(void* signature, char* text, int size) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* sig = (const unsigned char*)signature;
    int at = 0;
    for (int i = 0; i < 16 && at + 2 <= size; i++) {
        text[at++] = digits[sig[i] >> 4];
        text[at++] = digits[sig[i] & 0xf];
    }
    if (at < size) text[at] = 0;
}

void md5_sig_from_string(void* signature, const char* text) {
    unsigned char* sig = (unsigned char*)signature;
    memset(sig, 0, 16);
    if (!text) return;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i++) {
        int hi = text[2 * i] ? LowerHexDigitValue(text[2 * i]) : -1;
        int lo = hi >= 0 && text[2 * i + 1] ? LowerHexDigitValue(text[2 * i + 1]) : -1;
        if (hi < 0 || lo < 0) return;
        bytes[i] = (unsigned char)(hi << 4 | lo);
    }
    memcpy(sig, bytes, 16);
}

MD5::MD5() {
    md5_init(&state);
    memset(signature, 0, sizeof(signature));
    md5_count++;
}

MD5::~MD5() {
    md5_count--;
}

void MD5::Process(const char* data, int length) {
    if (length > 0) md5_process(&state, data, (unsigned)length);
}

void MD5::HashString(const char* text, int length) {
    if (!text) return;
    Process(text, length ? length : (int)strlen(text));
}

void MD5::GetHash(char* out) {
    md5_finish(&state, signature);
    md5_sig_to_string(signature, out, 33);
}

int MD5::HashFile(const char* path) {
    struct stat st;
    if (path && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        int parts = GetFileCount(path, 0);
        for (int i = 0; i < parts; i++) {
            char part[420];
            snprintf(part, sizeof(part), "%s%c%03i", path, '/', i);
            HashFile(part);
        }
        return -1;
    }
    FILE* f = path ? fopen(path, "rbe") : nullptr;
    if (!f) {
        if (!path || strcmp(path, kQuietMissingFile) != 0)
            PrintError("MD5::HashFile(%s): ERROR %s", path ? path : "", strerror(errno));
        return -1;
    }
    char block[kFileBlock];
    for (;;) {
        size_t n = fread(block, 1, kFileBlock, f);
        Process(block, (int)n);
        if (n < (size_t)kFileBlock) break;
    }
    fclose(f);
    return 0;
}

long long MD5::PartialHashFile(const char* path, long long limit) {
    FILE* f = path ? fopen(path, "rbe") : nullptr;
    if (!f) return -1;
    char block[kFileBlock];
    long long done = 0;
    while (done < limit) {
        long long want = limit - done < kFileBlock ? limit - done : kFileBlock;
        size_t n = fread(block, 1, (size_t)want, f);
        Process(block, (int)n);
        done += (long long)n;
        if (n < (size_t)want) break;  // the file ended before the limit
    }
    fclose(f);
    return 0;
}
