#include "core/Version.h"

#include <stdio.h>

#include "core/Globals.h"

int version_major = 12, version_month = 2, version_day = 2, version_minor = 2;
std::atomic<int> version_count{0};

namespace {

// -1, 0 or 1 comparing a and b part by part.
int Order(const Version& a, const Version& b) {
    const int left[4] = {a.major, a.month, a.day, a.minor};
    const int right[4] = {b.major, b.month, b.day, b.minor};
    for (int i = 0; i < 4; i++) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

}  // namespace

Version::Version(int major_, int month_, int day_, int minor_)
    : major(major_), month(month_), day(day_), minor(minor_) {
    version_count++;
}

Version::Version(const char* text) : major(0), month(0), day(0), minor(0) {
    version_count++;
    if (text) sscanf(text, "%i.%i.%i.%i", &major, &month, &day, &minor);
}

Version::~Version() { version_count--; }

void Version::GetVersion(char* out) const { snprintf(out, 48, "%i.%i.%i.%i", major, month, day, minor); }

bool Version::IsGreater(const char* text) const {
    Version other(text);
    return Order(*this, other) > 0;
}

bool Version::IsEqual(const char* text) const {
    Version other(text);
    return Order(*this, other) == 0;
}

bool Version::NewVersion(const Version* candidate, const Version* reference) {
    if (!reference) reference = this_version;
    if (!candidate || !reference) return false;
    return Order(*reference, *candidate) < 0;
}
