// CRC-32 as used by IEEE 802.3 and zlib (reflected polynomial 0xEDB88320,
// initial value 0xFFFFFFFF, final complement). Pure function, any thread.
#pragma once

// The checksum of `length` bytes; 0 for none. A negative length counts as 0.
int ltree_crc32_sz(char* data, int length);
