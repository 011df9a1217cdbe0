// An agent version: major, month, day, minor, text form "%i.%i.%i.%i".
#pragma once

#include <atomic>

extern int version_major, version_month, version_day, version_minor;
// Live Version objects, shown by a diagnostic of the dispatcher.
extern std::atomic<int> version_count;

class Version {
public:
    Version(int major, int month, int day, int minor);
    // Parts missing from the text stay 0.
    explicit Version(const char* text);
    ~Version();

    // `out` needs room for 48 bytes.
    void GetVersion(char* out) const;
    // True when this version is greater than the parsed text.
    bool IsGreater(const char* text) const;
    bool IsEqual(const char* text) const;
    // True when `reference` (null: the running version) is lower than `candidate`.
    static bool NewVersion(const Version* candidate, const Version* reference);

    int major;
    int month;
    int day;
    int minor;
};
