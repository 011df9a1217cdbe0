// Text utilities over NUL-terminated byte strings.
#pragma once

#include <stdint.h>

// The decimal reading of `s` in wrapping unsigned 32-bit arithmetic. Read
// forward, character i weighs 10^(n-1-i). Read backward, the term of weight
// 10^(n-1-i) takes the character at index n-i: the first term is the
// terminating NUL and index 0 is never used. The password-derived RSA keys
// depend on this exact value, so it must never change.
uint32_t CharToInt(const char* s, bool forward);
