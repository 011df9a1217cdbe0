// The small records held in the configuration's lists.
#pragma once

#include <atomic>

extern std::atomic<int> route_count;

// A network route: three dotted addresses.
class Route {
public:
    Route(const char* a, const char* b, const char* c);
    explicit Route(const Route* other);
    ~Route();
    char address[16];
    char mask[16];
    char gateway[16];
};

// An e-mail recipient (in memory only).
class Email {
public:
    Email(const char* owner, const char* address, const char* kind, int flag_1, int flag_2,
          const char* locale = nullptr);
    explicit Email(const Email* other);
    char owner[30];
    char address[255];
    char kind[11];
    int flag_1;
    int flag_2;
    char locale[8];
};

// A storage quota (in memory only). Unit "OCT" means bytes; flag 1 = enforced.
class Quota {
public:
    Quota(const char* owner, const char* name, const char* unit, long long amount, int flag);
    explicit Quota(const Quota* other);
    // Each text keeps at most 30, 10 and 5 characters, plus its terminator.
    char owner[31];
    char name[11];
    long long amount;
    char unit[6];
    int flag;
};
