#include "foundation/Formatting.h"

#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include "foundation/Log.h"
#include "foundation/Threads.h"

char* PrintSize(long long bytes, char* out, size_t size) {
    if (!out || size == 0) return out;
    if (bytes == 0) {
        snprintf(out, size, "0 B");
        return out;
    }
    double x = (double)bytes;
    int i = 0;
    while (x > 1024.0) {
        x *= 1.0 / 1024.0;
        i++;
    }
    switch (i) {
    case 0: snprintf(out, size, "%2.0f B", x); break;
    case 1: snprintf(out, size, "%2.1f KB", x); break;
    case 2: snprintf(out, size, "%2.2f MB", x); break;
    case 3: snprintf(out, size, "%2.2f GB", x); break;
    case 4: snprintf(out, size, "%2.2f TB", x); break;
    default: snprintf(out, size, "TROP GRAND: %lli (%i)", bytes, i); break;
    }
    return out;
}

long long PrintSize(const char* path, char* out, size_t size) {
    struct stat st;
    long long bytes = 0;
    if (path && stat(path, &st) == 0) bytes = (long long)st.st_size;
    PrintSize(bytes, out, size);
    return bytes;
}

void PrintRate(long start_ticks, long end_ticks, long long bytes, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = 0;
    double seconds = (double)(end_ticks - start_ticks) / (double)ClockTickRate();
    if (seconds == 0) return;
    double r = (double)bytes / seconds;
    int i = 0;
    while (r > 1024.0) {
        r *= 1.0 / 1024.0;
        i++;
    }
    switch (i) {
    case 0: snprintf(out, size, "%2.2f B/s", r); break;
    case 1: snprintf(out, size, "%2.2f K/s", r); break;
    case 2: snprintf(out, size, "%2.2f M/s", r); break;
    default: break;
    }
}

void PrintTime(long start_ticks, long end_ticks, char* out, size_t size) {
    if (!out || size == 0) return;
    if (end_ticks < start_ticks) {
        PrintError("PrintTime() : %f < %f", (double)end_ticks, (double)start_ticks);
        snprintf(out, size, "Time Error");
        return;
    }
    double d = (double)(end_ticks - start_ticks) / (double)ClockTickRate();
    // Intervals beyond the 32-bit seconds counter would make the conversion
    // undefined; they print as the largest count.
    if (d > 4294967295.0) d = 4294967295.0;
    uint32_t s = (uint32_t)d;
    unsigned hundredths = (unsigned)((d - s) * 100.0);
    unsigned days = s / 86400, hours = (s / 3600) % 24, minutes = (s / 60) % 60, seconds = s % 60;
    if (days > 0)
        snprintf(out, size, "%uj:%02uh:%02um:%02u.%02us", days, hours, minutes, seconds, hundredths);
    else if (hours > 0)
        snprintf(out, size, "%uh:%02um:%02u.%02us", hours, minutes, seconds, hundredths);
    else if (minutes > 0)
        snprintf(out, size, "%um:%02u.%02us", minutes, seconds, hundredths);
    else if (seconds > 0)
        snprintf(out, size, "%u.%02us", seconds, hundredths);
    else
        snprintf(out, size, "0.%02us", hundredths);
}
