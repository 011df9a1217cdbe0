// The catalogue line that describes one candidate file (or object) to the
// server, and the two error lines of the same stream.
#pragma once

#include <string>
#include <vector>

class CatalogueSink;

// A walk never holds more lines than this: reaching it sends them.
const size_t kCatalogueBlockLines = 2000;

// Entry kinds of a catalogue line.
const int kCatalogueFile = 2;
const int kCatalogueObject = 3;

// Appends `s` to `out` with a backslash before every single quote, carriage
// return and backslash (the escaping of replacequotes, without an allocation
// per call).
void AppendEscaped(std::string& out, const char* s, size_t n);
inline void AppendEscaped(std::string& out, const char* s) { AppendEscaped(out, s, __builtin_strlen(s)); }

// One line formatted with the configuration's list_template, in a new array
// the caller frees with delete[]. The time is masked to 31 bits. Order of the
// values: marker digit, key path, kind, depth, short name, full path, time,
// size.
char* FormatCatalogueLine(int marker, const char* key, int kind, int depth, const char* shortName,
                          const char* fullPath, unsigned time, long long size);
// "-4<dir>\n" (a directory that cannot be opened) and "-5<name>\n" (a single
// file rule that names no file or link).
char* FormatErrorLine(int code, const char* name);

// Number of '|' in `s` plus one.
int CatalogueDepth(const char* s);

// Sends every held line to `sink` and frees them; the vector ends empty even
// when the sink throws. Nothing is sent for an empty vector; without a sink
// the lines stay where they are.
void FlushLines(CatalogueSink* sink, std::vector<char*>* lines);
// Appends `line` (taking it) and flushes once the block is full.
void AppendLine(CatalogueSink* sink, std::vector<char*>* lines, char* line);
// Frees every line and empties the vector.
void FreeLines(std::vector<char*>* lines);
