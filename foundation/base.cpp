#include "foundation/base.h"

#include <string.h>

int HexDigitValue(char c) {
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return LowerHexDigitValue(c);
}

int LowerHexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int gethex(char c) {
    int value = HexDigitValue(c);
    return value < 0 ? 0 : value;
}

char sethex(int n) {
    if (n >= 0 && n <= 9) return (char)('0' + n);
    if (n >= 10 && n <= 15) return (char)('a' + n - 10);
    return '0';
}

bool IsHexText(const char* text) {
    return text && IsHexText(text, strlen(text));
}

bool IsHexText(const char* text, size_t length) {
    if (!text || length == 0) return false;
    for (size_t i = 0; i < length; i++)
        if (HexDigitValue(text[i]) < 0) return false;
    return true;
}

void BytesToHex(const unsigned char* bytes, size_t count, char* out) {
    for (size_t i = 0; i < count; i++) {
        out[2 * i] = sethex(bytes[i] >> 4);
        out[2 * i + 1] = sethex(bytes[i] & 0xf);
    }
    out[2 * count] = 0;
}
