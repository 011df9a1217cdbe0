#include "records/ConfigLists.h"

#include <stdio.h>
#include <string.h>

#include "foundation/Text.h"

std::atomic<int> route_count{0};

Route::Route(const char* a, const char* b, const char* c) {
    CopyText(address, a);
    CopyText(mask, b);
    CopyText(gateway, c);
    route_count++;
}

Route::Route(const Route* other) : Route(other->address, other->mask, other->gateway) {}

Route::~Route() { route_count--; }

Email::Email(const char* owner_, const char* address_, const char* kind_, int flag_1_, int flag_2_,
             const char* locale_)
    : flag_1(flag_1_), flag_2(flag_2_) {
    CopyText(owner, owner_);
    CopyText(address, address_);
    CopyText(kind, kind_);
    CopyText(locale, locale_ ? locale_ : "fr_FR");
}

Email::Email(const Email* other) { *this = *other; }

Quota::Quota(const char* owner_, const char* name_, const char* unit_, long long amount_, int flag_)
    : amount(amount_), flag(flag_) {
    CopyText(owner, owner_);
    CopyText(name, name_);
    CopyText(unit, unit_);
}

Quota::Quota(const Quota* other) { *this = *other; }
