// Text helpers parse every command and configuration line; these tables pin
// their behaviour at the edges, and CharToInt's exact value that the
// password-derived keys depend on.
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include "foundation/ExternalPrograms.h"
#include "foundation/Text.h"
#include "foundation/base.h"
#include "support/TestHome.h"

namespace {

bool CaseEqual(const char* a, const char* b) { return casecompare(a, b) == 0; }
bool CaseBelow(const char* a, const char* b) { return casecompare(a, b) < 0; }

// A missing text must never pass an equality test.
TEST(ComparisonsGiveWrongAnswerAtEdgesOrWithNull, Table) {
    const struct { bool (*fn)(const char*, const char*); const char *a, *b; bool expected; } cases[] = {
        {compare, "a", "a", true},          {compare, "a", "A", false},
        {compare, nullptr, nullptr, false}, {compare, "a", nullptr, false},
        {startswith, "config get", "config ", true}, {startswith, "abc", "", true},
        {startswith, "xabc", "abc", false}, {startswith, "ab", "abc", false},
        {startswith, nullptr, "", false},   {endswith, "file.tar.gz", ".gz", true},
        {endswith, "abc", "", true},        {endswith, "gz", ".gz", false},
        {endswith, "a.gzip", ".gz", false}, {endswith, "a", nullptr, false},
        {CaseEqual, "Hello", "hELLO", true}, {CaseBelow, "abc", "ABD", true},
        {CaseEqual, nullptr, "x", false},   {CaseEqual, "x", nullptr, false},
        {CaseEqual, nullptr, nullptr, false}, {compareLessChar, "alpha", "Beta", true},
        {compareLessChar, "Beta", "alpha", false}, {compareLessChar, "same", "SAME", false},
        {compareLessChar, nullptr, "x", false}, {compareLessChar, "x", nullptr, false},
        {compareLessChar, nullptr, nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.fn(c.a, c.b), c.expected) << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
    EXPECT_EQ(strcount("|a|b|c", '|'), 3);
    EXPECT_EQ(strcount("", 'a'), 0);
    EXPECT_EQ(strcount(nullptr, 'a'), 0);
}

std::vector<std::string> Tokens(const char* text, const char* delimiters, bool second) {
    std::vector<std::string> out;
    char buffer[128];
    snprintf(buffer, sizeof(buffer), "%s", text);
    char* save = nullptr;
    auto next = second ? strtok_b2 : strtok_b;
    for (char* t = next(buffer, delimiters, &save); t; t = next(nullptr, delimiters, &save)) out.push_back(t);
    return out;
}

TEST(TokenizerSkipsDelimiterRunsAndNeverGivesEmptyTokens, BothEntries) {
    for (bool second : {false, true}) {
        EXPECT_EQ(Tokens("  a  bb c ", " ", second), (std::vector<std::string>{"a", "bb", "c"}));
        EXPECT_EQ(Tokens("<id>00ff</id>\n", "<>\n ", second), (std::vector<std::string>{"id", "00ff", "/id"}));
        EXPECT_TRUE(Tokens("", " ", second).empty());
        EXPECT_TRUE(Tokens("|||", "|", second).empty());
    }
    // Two tokenizers interleaved keep their own positions.
    char a[] = "1 2", b[] = "x y";
    char *sa = nullptr, *sb = nullptr;
    EXPECT_STREQ(strtok_b(a, " ", &sa), "1");
    EXPECT_STREQ(strtok_b(b, " ", &sb), "x");
    EXPECT_STREQ(strtok_b(nullptr, " ", &sa), "2");
    EXPECT_STREQ(strtok_b(nullptr, " ", &sb), "y");
    EXPECT_EQ(strtok_b(nullptr, " ", &sa), nullptr);
}

TEST(CharToIntKeepsItsExactWrappingValue, GoldenValues) {
    const struct { const char* text; bool forward; uint32_t value; } cases[] = {
        {"123", true, 123u}, {"", true, 0u}, {"abc", true, 5451u},
        // Backward: the NUL is the first term, index 0 is never read.
        {"123", false, 4294962528u}, {"7", false, 4294967248u},
        // 11 characters and more: weights wrap modulo 2^32.
        {"12345678901", true, 3755744309u}, {"99999999999", true, 1215752191u},
        {"zelagent-host", true, 4282617998u}, {"zelagent-host", false, 1531686169u},
        // Bytes above 127 count as negative characters.
        {"\xe9t\xe9", true, 4294960805u},
    };
    for (const auto& g : cases)
        EXPECT_EQ(CharToInt(g.text, g.forward), g.value) << "'" << g.text << "' forward=" << g.forward;
}

TEST(HexDigitsMapBothWaysAndOutOfRangeGivesZero, AllValues) {
    for (int i = 0; i < 16; i++) EXPECT_TRUE(sethex(i) == "0123456789abcdef"[i] && gethex(sethex(i)) == i) << i;
    EXPECT_EQ(gethex('F'), 15);
    EXPECT_EQ(gethex('g'), 0);
    EXPECT_TRUE(IsHexText("09afAF") && !IsHexText("") && !IsHexText("0g") && !IsHexText(nullptr));
    EXPECT_EQ(std::string() + sethex(16) + sethex(-1), "00");
}

std::string Owned(char* p) {
    std::string s = p ? p : "<null>";
    delete[] p;
    return s;
}

TEST(EscapingMissesOrDoublesBackslashes, Table) {
    EXPECT_EQ(Owned(replacequotes("a'b")), "a\\'b");
    EXPECT_EQ(Owned(replacequotes("c:\\x\r")), "c:\\\\x\\\r");
    EXPECT_EQ(Owned(replacequotes(nullptr)), "<null>");
    // Every character escaped: the result must still fit.
    EXPECT_EQ(Owned(replacequotes(std::string(500, '\'').c_str())).size(), 1000u);
}

struct StringEncodeTest : ::testing::Test {
    void TearDown() override { external_programs() = saved_; }
    ExternalPrograms saved_ = external_programs();
    TempDir dir_;
};

TEST_F(StringEncodeTest, ConvertsWithOrWithoutTempfileProgramAndFailsToNull) {
    if (access("/usr/bin/iconv", X_OK) != 0) GTEST_SKIP() << "no iconv";
    external_programs().tempfile = dir_ + "/missing-tempfile";
    EXPECT_EQ(Owned(StringEncode("caf\xe9", "ISO-8859-1", "UTF-8")), "caf\xc3\xa9");
    // Unconvertible characters are dropped, not fatal.
    EXPECT_EQ(Owned(StringEncode("a\xc3\xa9z", "UTF-8", "ASCII")), "az");
    EXPECT_EQ(StringEncode(nullptr, "ASCII", "UTF-8"), nullptr);
    external_programs().iconv = dir_ + "/missing-iconv";
    EXPECT_EQ(StringEncode("x", "ASCII", "UTF-8"), nullptr);
    external_programs().iconv = "/usr/bin/iconv";

    // With the program present its file is used and removed afterwards.
    std::string stub = dir_ + "/tempfile", made = dir_ + "/made.tmp";
    WriteWholeFile(stub, "#!/bin/sh\n: > " + made + "\necho " + made + "\n", 0755);
    external_programs().tempfile = stub;
    EXPECT_EQ(Owned(StringEncode("hello", "ASCII", "UTF-8")), "hello");
    EXPECT_NE(access(made.c_str(), F_OK), 0) << "temporary file left behind";
    // A temporary name that cannot be written.
    WriteWholeFile(stub, "#!/bin/sh\necho " + dir_ + "/no/such/dir/file\n", 0755);
    EXPECT_EQ(StringEncode("x", "ASCII", "UTF-8"), nullptr);
}

}  // namespace
