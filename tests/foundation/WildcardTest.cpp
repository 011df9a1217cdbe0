// The wildcard rules decide what every backup contains: these tables pin the
// exact edge behaviour the include rules and the walk depend on.
#include <gtest/gtest.h>

#include "foundation/Wildcard.h"

namespace {

struct Case { const char* a; const char* b; bool expected; };

TEST(WildcompareRejectsOrAcceptsEdgeCasesAndNull, Table) {
    const Case cases[] = {
        {"*", "anything", true}, {"*", "", true}, {"?", "a", false},   // "?" is no wildcard
        {"?", "?", true},    // ...but matches itself
        {"a", "b", false}, {"", "", true}, {"", "a", false},
        {"ab*b", "ab", true},  // the next piece is searched from the start of "ab"
        {"a*c", "abcbc", true}, {"a*c", "abcb", false}, {"a*c*", "abcb", true}, {"*.c", "x.c", true},
        {"*.c", "x.h", false}, {"*.c", "x.c.bak", false}, {"x*", "y", false}, {"x*", "xylophone", true},
        {"**", "abc", true}, {"a**b", "ab", true}, {"*a*b*", "zzazzbzz", true}, {"*a*b*", "zzbzz", false},
        {"abc", "ab", false}, {"*abc", "bc", false}, {"pre*mid*post", "pre-mid-post", true},
        {"pre*mid*post", "pre-post", false}, {"Makefile", "makefile", false},  // case-sensitive
        {nullptr, "a", false}, {"*", nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wildcompare(c.a, c.b), c.expected) << "pattern '" << (c.a ? c.a : "null") << "' text '" << (c.b ? c.b : "null") << "'";
}

TEST(DeepwildcompareMatchesWholePaths, Table) {
    // path, pattern
    const Case cases[] = {
        {"|home|ann|x.c", "|home|*|x.c", true}, {"|home|ann|src|x.c", "|home|...|*.c", true},
        {"|home|ann", "|home|...", false},  // a trailing ellipsis never matches
        {"|home|ann", "|home|ann", true},   // equal texts
        {"|home|bob", "|home|ann", false},  // no wildcard: only equal texts
        {"|home|ann|x.c", "|home|*", false},  // too many path components
        {"|home", "|home|*", false},          // path runs out first
        {"|a|b|c|d.c", "...|*.c", true}, {"|a|b|c|d.h", "...|*.c", false},
        {"|a|x.c|d.h", "...|*.c", false},  // the last component decides
        {"|a|b|c|d", "|a|...|c|d", true}, {"|a|b|c|d", "|a|...|d", true},
        {"|a|d", "|a|...|d", true},  // the ellipsis may absorb nothing
        {"|a|b|c|e", "|a|...|c|d", false}, {"|home|x|y|src|a.c", "|home|...|src|*.c", true},
        {"|home|x|src|lib|a.c", "|home|...|src|*.c", false},  // the ellipsis ends at "src"
        {"|usr|lib|x|y|libz.so", "|usr|*|...|lib*.so", true},
        {"|usr|lib|x|y|z.so", "|usr|*|...|lib*.so", false}, {"|data|a.db|b|c", "|...|*.db|...|c", true},
        {"|data|a.txt|b|c", "|...|*.db|...|c", false}, {"|var|log|syslog", "|var|l*g|sys*", true},
        {"|var|lag|syslog|x", "|var|l*g|sys*", false}, {nullptr, "|*", false}, {"|a", nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(deepwildcompare(c.a, c.b), c.expected) << "path '" << (c.a ? c.a : "null") << "' pattern '" << (c.b ? c.b : "null") << "'";
}

TEST(WildstartswithDecidesDescent, Table) {
    // pattern, path
    const Case cases[] = {
        {"|home|*|src|*.c", "|home|ann", true}, {"|home|*|src", "|home|ann|src|lib", false},
        {"|home|annie|*", "|home|ann", true},  // plain text prefix
        {"|home|ann|src", "|home|bob", false},  // no wildcard, no prefix
        {"...|*.c", "|anything|at|all", true}, {"|home|...|x", "|home|ann|deep|er", true},
        {"|home|a*|src", "|home|bob", false}, {"|home|a*|src", "|home|ann|src", true}, {"|*", "|", true},
        {"|x*", "|y|z", false}, {nullptr, "|a", false}, {"|*", nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wildstartswith(c.a, c.b), c.expected) << "pattern '" << (c.a ? c.a : "null") << "' path '" << (c.b ? c.b : "null") << "'";
}

}  // namespace
