// Hexadecimal digit helpers.
#pragma once

#include <stddef.h>

// '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, anything else -1.
int HexDigitValue(char c);
// The lower-case text form only (digests): '0'-'9' and 'a'-'f', else -1.
int LowerHexDigitValue(char c);
// '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, anything else 0.
int gethex(char c);
// 0-9 give '0'-'9', 10-15 give 'a'-'f' (lower case), anything else '0'.
char sethex(int n);

// True when `text` is non-empty and made of hexadecimal digits only (either
// case).
bool IsHexText(const char* text);
// The same over exactly `length` bytes: a NUL among them is not a digit.
bool IsHexText(const char* text, size_t length);

// The `count` bytes as 2 * `count` lower-case digits and a NUL.
void BytesToHex(const unsigned char* bytes, size_t count, char* out);
