// How much a backup set would save: the listing dialogue run against the
// set's machine, its catalogue lines counted and their sizes added up.
#pragma once

#include <stddef.h>

class Client;

// Adds one block of catalogue lines (split at line feeds; `length` bytes):
// every non-empty line counts one file and adds its size.
void AddCatalogueLines(const char* block, size_t length, int& count, long long& bytes);

// Runs the listing of `set` on its machine with `rules`. 0 (the totals so
// far stand, even after a broken connection), -1 (no set), -2 (the machine
// does not answer), -3 (no rules), -4 (the machine's agent knows no listing).
int EvaluateStorage(Client* set, const char* rules, int& count, long long& bytes);
