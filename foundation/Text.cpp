#include "foundation/Text.h"

#include <string.h>

uint32_t CharToInt(const char* s, bool forward) {
    if (!s) return 0;
    uint32_t n = (uint32_t)strlen(s);
    uint32_t result = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t weight = 1;
        for (uint32_t k = 0; k < n - 1 - i; k++) weight *= 10u;
        signed char c = (signed char)(forward ? s[i] : s[n - i]);
        uint32_t digit = (uint32_t)(int32_t)(c - '0');
        result += digit * weight;
    }
    return result;
}
