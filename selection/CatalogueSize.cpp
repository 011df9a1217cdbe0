#include "selection/CatalogueSize.h"

#include <stdlib.h>
#include <string.h>

long long CatalogueLineSize(const char* line) {
    if (!line || !line[0]) return 0;
    // The path part ends at the first ')' right after a quote that no
    // backslash escapes.
    const char* p = line + 1;
    for (; *p; p++) {
        if (*p == ')' && p[-1] == '\'' && !(p - 1 > line && p[-2] == '\\')) break;
    }
    if (!*p) return 0;
    for (int found = 0; found < 5; found++) {
        p = strstr(p + (found ? 1 : 0), ", '");
        if (!p) return 0;
    }
    // Pieces: time, three numbers, size.
    int piece = 0;
    while (*p) {
        p += strspn(p, ", '");
        if (!*p) break;
        size_t length = strcspn(p, ", '");
        if (++piece == 5) return strtoll(p, nullptr, 10);
        p += length;
    }
    return 0;
}
