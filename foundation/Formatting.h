// Human-readable sizes, transfer rates and durations for messages and
// replies. The caller supplies the output buffer; every write is bounded by
// `size`, whose default is the room each form needs at most.
#pragma once

#include <stddef.h>

const size_t kSizeTextLength = 48;  // "TROP GRAND: <19 digits> (<int>)"
const size_t kRateTextLength = 40;
const size_t kTimeTextLength = 29;

// "0 B", "%2.0f B", "%2.1f KB", "%2.2f MB", "%2.2f GB", "%2.2f TB", or
// "TROP GRAND: %lli (%i)" beyond. A unit is taken only when the value is
// strictly greater than 1024 of the smaller one (1024 bytes print as bytes).
char* PrintSize(long long bytes, char* out, size_t size = kSizeTextLength);
// The size of the file at `path` (0 when it cannot be read), written as above.
long long PrintSize(const char* path, char* out, size_t size = kSizeTextLength);

// Bytes per second between two Clock() readings: "%2.2f B/s", "K/s" or
// "M/s". Empty for a zero interval or a rate of a gigabyte per second or more.
void PrintRate(long start_ticks, long end_ticks, long long bytes, char* out, size_t size = kRateTextLength);

// The interval between two Clock() readings: "%uj:%02uh:%02um:%02u.%02us",
// "%uh:%02um:%02u.%02us", "%um:%02u.%02us", "%u.%02us" or "0.%02us",
// whichever is the first with a non-zero leading unit. An end before the
// start logs an error and gives "Time Error".
void PrintTime(long start_ticks, long end_ticks, char* out, size_t size = kTimeTextLength);
