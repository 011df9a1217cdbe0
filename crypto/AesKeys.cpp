#include "crypto/AesKeys.h"

#include <gmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "core/Globals.h"
#include "foundation/Paths.h"

char* GetRandomAESKey() {
    gmp_randstate_t state;
    gmp_randinit(state, GMP_RAND_ALG_DEFAULT, 128);
    gmp_randseed_ui(state, (unsigned long)time(nullptr));
    mpz_t value;
    mpz_init(value);
    char text[40];
    for (;;) {
        mpz_urandomb(value, state, 128);
        // Only a value with its top nibble set prints as exactly 32 digits.
        if (mpz_sizeinbase(value, 16) != 32) continue;
        mpz_get_str(text, 16, value);
        if (strlen(text) == 32) break;
    }
    mpz_clear(value);
    gmp_randclear(state);
    return strdup(text);
}

bool GetKeyPathFromName(char* out, size_t size, const char* name, const char* suffix) {
    if (!out || size == 0) return false;
    out[0] = 0;
    const char* conf = res ? res->conf_dir : "";
    char sep = res ? res->separator : '/';
    if (!suffix) suffix = "";
    int n;
    if (!name || !*name) {
        n = snprintf(out, size, "%s%s", conf, suffix);
    } else if (strncmp(name, "zelgui_", 7) == 0) {
        const char* rest = strchr(name, '_') + 1;
        // "zelgui_" alone names "<conf>/gui_<suffix>".
        if (*rest && !IsSafePathComponent(rest)) return false;
        n = snprintf(out, size, "%s%s%c%s%s", conf, rest, sep, "gui_", suffix);
    } else {
        if (!IsSafePathComponent(name)) return false;
        n = snprintf(out, size, "%s%s%c%s", conf, name, sep, suffix);
    }
    if (n < 0 || (size_t)n >= size) {
        out[0] = 0;
        return false;
    }
    return true;
}
