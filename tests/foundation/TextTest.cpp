// Text helpers parse every command and configuration line; these tables pin
// their behaviour at the edges, and CharToInt's exact value that the
// password-derived keys depend on.
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "foundation/ExternalPrograms.h"
#include "foundation/Text.h"
#include "foundation/base.h"
#include "support/TestHome.h"

namespace {

TEST(ComparisonsGiveWrongAnswerAtEdges, Table) {
    EXPECT_TRUE(compare("a", "a"));
    EXPECT_FALSE(compare("a", "A"));
    EXPECT_FALSE(compare(nullptr, nullptr));
    EXPECT_FALSE(compare("a", nullptr));

    EXPECT_TRUE(startswith("config get", "config "));
    EXPECT_TRUE(startswith("abc", ""));
    EXPECT_FALSE(startswith("xabc", "abc"));
    EXPECT_FALSE(startswith("ab", "abc"));
    EXPECT_FALSE(startswith(nullptr, ""));

    EXPECT_TRUE(endswith("file.tar.gz", ".gz"));
    EXPECT_TRUE(endswith("abc", ""));
    EXPECT_FALSE(endswith("gz", ".gz"));
    EXPECT_FALSE(endswith("a.gzip", ".gz"));
    EXPECT_FALSE(endswith("a", nullptr));

    EXPECT_EQ(casecompare("Hello", "hELLO"), 0);
    EXPECT_LT(casecompare("abc", "ABD"), 0);
    EXPECT_TRUE(compareLessChar("alpha", "Beta"));
    EXPECT_FALSE(compareLessChar("Beta", "alpha"));
    EXPECT_FALSE(compareLessChar("same", "SAME"));
}

TEST(ComparisonsWithNullNeverReportEqual, LoggedAndDifferent) {
    // A missing text must never pass an equality test.
    EXPECT_NE(casecompare(nullptr, "x"), 0);
    EXPECT_NE(casecompare("x", nullptr), 0);
    EXPECT_NE(casecompare(nullptr, nullptr), 0);
    EXPECT_FALSE(compareLessChar(nullptr, "x"));
    EXPECT_FALSE(compareLessChar("x", nullptr));
    EXPECT_FALSE(compareLessChar(nullptr, nullptr));
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
        EXPECT_EQ(Tokens("key=value=x", "=", second), (std::vector<std::string>{"key", "value", "x"}));
        EXPECT_EQ(Tokens("<id>00ff</id>\n", "<>\n ", second), (std::vector<std::string>{"id", "00ff", "/id"}));
        EXPECT_TRUE(Tokens("", " ", second).empty());
        EXPECT_TRUE(Tokens("|||", "|", second).empty());
    }
    // Two tokenizers interleaved keep their own positions.
    char a[] = "1 2 3", b[] = "x y";
    char *sa = nullptr, *sb = nullptr;
    EXPECT_STREQ(strtok_b(a, " ", &sa), "1");
    EXPECT_STREQ(strtok_b(b, " ", &sb), "x");
    EXPECT_STREQ(strtok_b(nullptr, " ", &sa), "2");
    EXPECT_STREQ(strtok_b(nullptr, " ", &sb), "y");
    EXPECT_STREQ(strtok_b(nullptr, " ", &sa), "3");
    EXPECT_EQ(strtok_b(nullptr, " ", &sa), nullptr);
}

TEST(StrcountCountsEveryOccurrence, Table) {
    EXPECT_EQ(strcount("|a|b|c", '|'), 3);
    EXPECT_EQ(strcount("abc", '|'), 0);
    EXPECT_EQ(strcount("", 'a'), 0);
    EXPECT_EQ(strcount(nullptr, 'a'), 0);
}

TEST(CharToIntKeepsItsExactWrappingValue, GoldenValues) {
    struct Golden {
        const char* text;
        bool forward;
        uint32_t value;
    };
    const Golden cases[] = {
        {"123", true, 123u},
        {"", true, 0u},
        {"abc", true, 5451u},
        // Backward: the NUL is the first term, index 0 is never read.
        {"123", false, 4294962528u},
        {"7", false, 4294967248u},
        // 11 characters and more: weights wrap modulo 2^32.
        {"12345678901", true, 3755744309u},
        {"99999999999", true, 1215752191u},
        {"zelagent-host", true, 4282617998u},
        {"zelagent-host", false, 1531686169u},
        // Bytes above 127 count as negative characters.
        {"\xe9t\xe9", true, 4294960805u},
    };
    for (const Golden& g : cases)
        EXPECT_EQ(CharToInt(g.text, g.forward), g.value) << "'" << g.text << "' forward=" << g.forward;
}

TEST(HexDigitsMapBothWays, AllValues) {
    const char* digits = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(sethex(i), digits[i]);
        EXPECT_EQ(gethex(digits[i]), i);
    }
    EXPECT_EQ(gethex('A'), 10);
    EXPECT_EQ(gethex('F'), 15);
    EXPECT_EQ(gethex('g'), 0);
    EXPECT_EQ(gethex(' '), 0);
    EXPECT_EQ(sethex(16), '0');
    EXPECT_EQ(sethex(-1), '0');
}

std::string Owned(char* p) {
    std::string s = p ? p : "<null>";
    delete[] p;
    return s;
}

TEST(EscapingMissesOrDoublesBackslashes, Table) {
    EXPECT_EQ(Owned(replacequotes("a'b")), "a\\'b");
    EXPECT_EQ(Owned(replacequotes("c:\\x\r")), "c:\\\\x\\\r");
    EXPECT_EQ(Owned(replacequotes("")), "");
    EXPECT_EQ(Owned(replacequotes(nullptr)), "<null>");

    EXPECT_EQ(Owned(replacecarriagereturn("\ra\rb\\\r")), "\\\ra\\\rb\\\r");
    EXPECT_EQ(Owned(replacecarriagereturn("plain")), "plain");
    // Every character escaped: the result must still fit.
    std::string many(500, '\'');
    EXPECT_EQ(Owned(replacequotes(many.c_str())).size(), 1000u);
    std::string crs(500, '\r');
    EXPECT_EQ(Owned(replacecarriagereturn(crs.c_str())).size(), 1000u);
}

class StringEncodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = external_programs();
        dir_ = MakeTempDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        external_programs() = saved_;
        RemoveTree(dir_);
    }
    ExternalPrograms saved_;
    std::string dir_;
};

TEST_F(StringEncodeTest, ConvertsWithOrWithoutTempfileProgram) {
    if (access("/usr/bin/iconv", X_OK) != 0) GTEST_SKIP() << "no iconv";
    external_programs().tempfile = dir_ + "/missing-tempfile";
    std::string out = Owned(StringEncode("caf\xe9", "ISO-8859-1", "UTF-8"));
    EXPECT_EQ(out, "caf\xc3\xa9");
    // Unconvertible characters are dropped, not fatal.
    EXPECT_EQ(Owned(StringEncode("a\xc3\xa9z", "UTF-8", "ASCII")), "az");

    // With the program present its file is used and removed afterwards.
    std::string stub = dir_ + "/tempfile", made = dir_ + "/made.tmp";
    WriteWholeFile(stub, "#!/bin/sh\n: > " + made + "\necho " + made + "\n", 0755);
    external_programs().tempfile = stub;
    EXPECT_EQ(Owned(StringEncode("hello", "ASCII", "UTF-8")), "hello");
    EXPECT_NE(access(made.c_str(), F_OK), 0) << "temporary file left behind";
}

TEST_F(StringEncodeTest, FailingStepsGiveNull) {
    external_programs().tempfile = dir_ + "/missing-tempfile";
    external_programs().iconv = dir_ + "/missing-iconv";
    EXPECT_EQ(StringEncode("x", "ASCII", "UTF-8"), nullptr);
    EXPECT_EQ(StringEncode(nullptr, "ASCII", "UTF-8"), nullptr);
    std::string stub = dir_ + "/tempfile";
    WriteWholeFile(stub, "#!/bin/sh\necho " + dir_ + "/no/such/dir/file\n", 0755);
    external_programs().tempfile = stub;
    external_programs().iconv = "/usr/bin/iconv";
    EXPECT_EQ(StringEncode("x", "ASCII", "UTF-8"), nullptr);
}

}  // namespace
