#include "foundation/base.h"

int gethex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

char sethex(int n) {
    if (n >= 0 && n <= 9) return (char)('0' + n);
    if (n >= 10 && n <= 15) return (char)('a' + n - 10);
    return '0';
}
