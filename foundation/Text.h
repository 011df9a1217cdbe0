// Text utilities over NUL-terminated byte strings: comparison, tokenizing,
// counting, escaping and character-set conversion.
//
// All functions are thread-safe. Only StringEncode runs external programs;
// casecompare and compareLessChar log misuse (a null argument).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// True when both are non-null and equal.
bool compare(const char* a, const char* b);
// True when `s` begins with `prefix` (an empty prefix matches).
bool startswith(const char* s, const char* prefix);
// True when the last characters of `s` equal `suffix`.
bool endswith(const char* s, const char* suffix);
// Three-way case-insensitive comparison, 0 when equal. A null argument logs
// an error and compares as different (never 0), so that a missing text never
// passes an equality test.
int casecompare(const char* a, const char* b);
// Ordering of sorted name lists: true when `a` sorts before `b` ignoring case.
// A null argument logs an error and gives false.
bool compareLessChar(const char* a, const char* b);

// Re-entrant tokenizer: runs of delimiters are skipped, empty tokens never
// appear, `s` is modified. Pass `s` the first time, null afterwards.
char* strtok_b(char* s, const char* delimiters, char** save);
char* strtok_b2(char* s, const char* delimiters, char** save);

// Occurrences of `c` in `s` (0 for null).
int strcount(const char* s, char c);

// The decimal reading of `s` in wrapping unsigned 32-bit arithmetic. Read
// forward, character i weighs 10^(n-1-i). Read backward, the term of weight
// 10^(n-1-i) takes the character at index n-i: the first term is the
// terminating NUL and index 0 is never used. The password-derived RSA keys
// depend on this exact value, so it must never change.
uint32_t CharToInt(const char* s, bool forward);

// Escaping for the server dialogue. Each returns a new array that the caller
// frees with delete[] (null for a null input).
// A copy in which every single quote, carriage return and backslash is
// preceded by a backslash.
char* replacequotes(const char* s);
// A copy in which every carriage return not already after a backslash is
// preceded by a backslash.
char* replacecarriagereturn(const char* s);

// Converts `s` from character set `from` to `to` with the system converter
// (characters that cannot be converted are dropped). Returns a new array of
// at most 1023 bytes (freed with delete[]) or null when a step fails or the
// result is empty.
char* StringEncode(const char* s, const char* from, const char* to);

// `text` between single quotes for a POSIX shell, each single quote inside
// written as '\'' : the shell takes it as one word, whatever it holds.
std::string ShellQuote(const char* text);

// Copies `text` (null: empty) into a fixed-size field, cut to the field and
// always terminated.
template <size_t N>
inline void CopyText(char (&out)[N], const char* text) {
    snprintf(out, N, "%s", text ? text : "");
}

// The words of `text` split at blanks; runs of blanks count as one and no
// word is empty.
std::vector<std::string> SplitWords(const std::string& text);
// The lines of `text` split at line feeds, without their "\r" and without
// empty lines (null gives none).
std::vector<std::string> SplitLines(const char* text);
// The same split at line feeds only: a "\r" stays part of its line, as in a
// list of file names (a name may end in one).
std::vector<std::string> SplitAtLineFeeds(const char* text);
// The lines of `text` split at line feeds exactly as they are: empty lines,
// "\r" and NUL bytes kept; a final line feed opens no further line. For
// files whose line numbers carry meaning (a backup set's key file).
std::vector<std::string> SplitRawLines(const std::string& text);
