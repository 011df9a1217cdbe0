// Size and duration texts appear in replies and logs; the thresholds
// (strictly greater than 1024) and the exact formats are what callers see.
#include <gtest/gtest.h>

#include <string.h>

#include "foundation/Formatting.h"
#include "foundation/Threads.h"
#include "support/TestHome.h"

namespace {

std::string Size(long long bytes) {
    char out[kSizeTextLength];
    PrintSize(bytes, out);
    return out;
}

TEST(PrintSizeUnitThresholds, Table) {
    const struct { long long bytes; const char* text; } cases[] = {
        {0, "0 B"}, {1, " 1 B"}, {1024, "1024 B"},        // not greater than 1024: still bytes
        {1025, "1.0 KB"}, {1048576, "1024.0 KB"},  // 1048576 / 1024 is not greater than 1024
        {1048577, "1.00 MB"}, {5LL * 1024 * 1024 * 1024, "5.00 GB"},
        {3LL * 1024 * 1024 * 1024 * 1024, "3.00 TB"},
        {2LL * 1024 * 1024 * 1024 * 1024 * 1024, "TROP GRAND: 2251799813685248 (5)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Size(c.bytes), c.text) << c.bytes;
    char out[8];  // never written past
    memset(out, 'x', sizeof(out));
    PrintSize(9223372036854775807LL, out, sizeof(out));
    EXPECT_EQ(std::string(out), "TROP GR");
}

long Ticks(double seconds) { return (long)(seconds * ClockTickRate() + 0.5); }

std::string Time(long start, long end) {
    char out[kTimeTextLength];
    PrintTime(start, end, out);
    return out;
}

TEST(PrintTimeFormatsEachMagnitude, Table) {
    const long base = 1000;
    EXPECT_EQ(Time(base, base + Ticks(3725.5)), "1h:02m:05.50s");
    EXPECT_EQ(Time(base, base + Ticks(0.25)), "0.25s");
    EXPECT_EQ(Time(base, base), "0.00s");
    EXPECT_EQ(Time(base, base + Ticks(7)), "7.00s");
    EXPECT_EQ(Time(base, base + Ticks(61)), "1m:01.00s");
    EXPECT_EQ(Time(base, base + Ticks(2 * 86400 + 3 * 3600 + 4 * 60 + 5)), "2j:03h:04m:05.00s");
    EXPECT_EQ(Time(500, 400), "Time Error");
}

}  // namespace
