// Hexadecimal digit helpers.
#pragma once

// '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, anything else 0.
int gethex(char c);
// 0-9 give '0'-'9', 10-15 give 'a'-'f' (lower case), anything else '0'.
char sethex(int n);
