#include "crypto/Crc32.h"

#include <stdint.h>

namespace {

struct CrcTable {
    uint32_t entry[256];
};

constexpr CrcTable MakeCrcTable() {
    CrcTable t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        t.entry[i] = c;
    }
    return t;
}

constexpr CrcTable kCrc = MakeCrcTable();

}  // namespace

int ltree_crc32_sz(char* data, int length) {
    uint32_t crc = 0xffffffffu;
    const unsigned char* p = (const unsigned char*)data;
    for (int i = 0; i < length; i++) crc = kCrc.entry[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
    return (int)(crc ^ 0xffffffffu);
}
