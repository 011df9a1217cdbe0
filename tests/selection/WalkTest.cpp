// The listing of a backup set: catalogue lines, error lines, blocks.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "selection/CatalogueLine.h"
#include "selection/Walk.h"
#include "support/TestHome.h"
#include "transport/SocketError.h"

namespace {

struct CollectingSink : CatalogueSink {
    std::vector<std::vector<std::string>> blocks;
    void SendBlock(std::vector<char*>& lines) override { blocks.emplace_back(lines.begin(), lines.end()); }
    std::vector<std::string> All() const {
        std::vector<std::string> all;
        for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
        return all;
    }
    std::vector<size_t> Sizes() const {
        std::vector<size_t> sizes;
        for (const auto& b : blocks) sizes.push_back(b.size());
        return sizes;
    }
};

struct FailingSink : CatalogueSink {
    void SendBlock(std::vector<char*>&) override { throw SocketError("peer gone"); }
};

void SetTime(const std::string& path, long t) {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    lutimes(path.c_str(), tv);
}

std::string Line(int marker, const std::string& key, int kind, const std::string& shortName,
                 const std::string& full, unsigned time, long long size) {
    int depth = (int)std::count(key.begin(), key.end(), '|') + 1;
    char buf[4096];
    snprintf(buf, sizeof(buf), "%iMD5('%s'), %i, %i, '%s', '%s', 'null', 'null', '%010u', 0, 0, 1, '%lli', 0\n", marker,
             key.c_str(), kind, depth, shortName.c_str(), full.c_str(), time, size);
    return buf;
}

class WalkTest : public ::testing::Test {
protected:
    TestHome home;
    std::string tmp = MakeTempDir();
    CollectingSink sink;
    std::vector<IncludeNode*> rules;
    void TearDown() override {
        ClearRules(&rules);
        RemoveTree(tmp);
    }
    void Rule(const std::string& line) {
        std::vector<char> text(line.begin(), line.end());
        text.push_back(0);
        rules.push_back(new IncludeNode(text.data()));
        ASSERT_FALSE(rules.back()->error) << line;
    }
    std::string D() const { return ToWire(tmp) + "|d"; }
    std::vector<std::string> List() {
        EXPECT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
        EXPECT_TRUE(rules.empty());
        auto all = sink.All();
        std::sort(all.begin(), all.end());
        return all;
    }
};

TEST_F(WalkTest, FileAndLinkLinesCarryTheirOverheadsAndMarkers) {
    mkdir((tmp + "/d").c_str(), 0755);
    WriteWholeFile(tmp + "/d/a.txt", "0123456789");
    ASSERT_EQ(symlink("12345", (tmp + "/d/l").c_str()), 0);
    ASSERT_EQ(mkfifo((tmp + "/d/pipe").c_str(), 0644), 0);  // never listed
    SetTime(tmp + "/d/a.txt", 1000000000);
    SetTime(tmp + "/d/l", 0x80000000L + 5);  // masked to 31 bits
    Rule("include dir \"" + D() + "|\"");
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    ASSERT_EQ(sink.blocks.size(), 1u);
    auto lines = sink.blocks[0];
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0][0], '0');
    EXPECT_EQ(lines[1][0], '1');
    std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) { return a.substr(1) < b.substr(1); });
    EXPECT_EQ(lines[0].substr(1), Line(0, D() + "|a.txt", 2, "a.txt", D() + "|a.txt", 1000000000, 42).substr(1));
    EXPECT_EQ(lines[1].substr(1), Line(0, D() + "|l", 2, "l", D() + "|l", 5, 51).substr(1));
}

TEST_F(WalkTest, QuotesBackslashesAndCarriageReturnsAreEscaped) {
    mkdir((tmp + "/d").c_str(), 0755);
    WriteWholeFile(tmp + "/d/it's\\x\r.txt", "");
    SetTime(tmp + "/d/it's\\x\r.txt", 7);
    Rule("include dir \"" + D() + "|\"");
    auto all = List();
    ASSERT_EQ(all.size(), 1u);
    std::string key = D() + "|it\\'s\\\\x\\\r.txt";
    EXPECT_EQ(all[0], Line(0, key, 2, "it\\'s\\\\x\\\r.txt", key, 7, 32));
}

TEST_F(WalkTest, WildcardIncludeNarrowsAndExcludedDirectoryIsNotEntered) {
    for (const char* d : {"/d", "/d/tmp", "/d/sub"}) mkdir((tmp + d).c_str(), 0755);
    for (const char* f : {"/d/a.log", "/d/b.txt", "/d/tmp/c.log", "/d/sub/e.log", "/d/sub/f.txt"})
        WriteWholeFile(tmp + f, "x");
    Rule("include dir \"" + D() + "|\"");
    Rule("include wfile \"" + D() + "|*.log\"");
    Rule("include wfile \"" + D() + "|sub|*.log\"");
    Rule("exclude dir \"" + D() + "|tmp|\"");
    std::vector<std::string> keys;
    for (const std::string& l : List()) keys.push_back(l.substr(l.find('\'') + 1, l.find("')") - l.find('\'') - 1));
    EXPECT_EQ(keys, (std::vector<std::string>{D() + "|a.log", D() + "|sub|e.log"}));
}

TEST_F(WalkTest, ErrorLinesForMissingFilesAndDirectories) {
    mkdir((tmp + "/d").c_str(), 0755);
    mkfifo((tmp + "/d/pipe").c_str(), 0644);
    Rule("include file \"" + D() + "|missing\"");
    Rule("include file \"" + D() + "|pipe\"");
    Rule("include dir \"" + D() + "|nodir|\"");
    auto all = List();
    EXPECT_EQ(all, (std::vector<std::string>{"-4" + tmp + "/d/nodir\n", "-5" + D() + "|missing\n",
                                             "-5" + D() + "|pipe\n"}));
}

TEST_F(WalkTest, SingleFileRuleAndSplitFileRuleTakeTheNewest) {
    mkdir((tmp + "/d").c_str(), 0755);
    WriteWholeFile(tmp + "/d/one", "abc");
    SetTime(tmp + "/d/one", 100);
    WriteWholeFile(tmp + "/d/app-0001.log", "old");
    WriteWholeFile(tmp + "/d/app-0002.log", "newer");
    WriteWholeFile(tmp + "/d/app-00003.log", "longer name");
    SetTime(tmp + "/d/app-0001.log", 200);
    SetTime(tmp + "/d/app-0002.log", 300);
    SetTime(tmp + "/d/app-00003.log", 400);
    Rule("include file \"" + D() + "|one\"");
    Rule("include sfile \"" + D() + "|app-????.log\"");
    Rule("include sfile \"*.*\"");
    auto all = List();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], Line(0, D() + "|app-????.log", 2, "app-0002.log", D() + "|app-0002.log", 300, 5));
    EXPECT_EQ(all[1], Line(0, D() + "|one", 2, "one", D() + "|one", 100, 35));
}

TEST_F(WalkTest, ObjectsAreSortedAndVssIsDropped) {
    Rule("include object \"b|x\"");
    Rule("include object \"VSS\"");
    Rule("include object \"A\"");
    Rule("exclude object \"C\"");
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    auto all = sink.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].substr(0, 33), "1MD5('A'), 3, 1, 'A', 'A', 'null'");
    EXPECT_EQ(all[1].substr(0, 39), "1MD5('b|x'), 3, 2, 'b|x', 'b|x', 'null'");
}

TEST_F(WalkTest, LargeListingIsSentInBlocksOf2000AndErrorLinesCountTowardsThem) {
    mkdir((tmp + "/d").c_str(), 0755);
    for (int i = 0; i < 4500; i++) WriteWholeFile(tmp + "/d/f" + std::to_string(i), "");
    Rule("include dir \"" + D() + "|\"");
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    EXPECT_EQ(sink.Sizes(), (std::vector<size_t>{2000, 2000, 500}));
    sink.blocks.clear();
    for (int i = 0; i < 2100; i++) Rule("include file \"" + D() + "|missing" + std::to_string(i) + "\"");
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    EXPECT_EQ(sink.Sizes(), (std::vector<size_t>{2000, 100}));
}

TEST_F(WalkTest, LinksToDirectoriesAreNotFollowedAndNestedIncludesWalkTwice) {
    for (const char* d : {"/d", "/d/sub", "/other"}) mkdir((tmp + d).c_str(), 0755);
    WriteWholeFile(tmp + "/other/secret", "x");
    WriteWholeFile(tmp + "/d/sub/f", "x");
    ASSERT_EQ(symlink((tmp + "/other").c_str(), (tmp + "/d/link").c_str()), 0);
    Rule("include dir \"" + D() + "|\"");
    Rule("include dir \"" + D() + "|sub|\"");
    auto all = List();
    ASSERT_EQ(all.size(), 3u);  // the link itself, and sub|f once per rule
    EXPECT_NE(all[0].find(D() + "|link'"), std::string::npos);
    EXPECT_NE(all[1].find(D() + "|sub|f'"), std::string::npos);
    EXPECT_EQ(all[1], all[2]);
}

TEST_F(WalkTest, ProcAndDeepPathsAreHandled) {
    std::vector<char> proc = {'|', 'p', 'r', 'o', 'c', 0};
    std::vector<char*> lines;
    std::vector<IncludeNode*> none;
    EXPECT_EQ(LocalListFilesToSaveFromDir(&sink, proc.data(), &lines, &none, 1, nullptr), -1);
    EXPECT_TRUE(lines.empty());
    // A tree deeper than the system's path limit: 45 levels of 100 characters.
    std::string path = tmp + "/d";
    mkdir(path.c_str(), 0755);
    ASSERT_EQ(chdir(path.c_str()), 0);
    std::string name(100, 'n');
    int made = 0;
    for (; made < 45 && mkdir(name.c_str(), 0755) == 0 && chdir(name.c_str()) == 0; made++) {
    }
    WriteWholeFile("deep", "x");
    Rule("include dir \"" + D() + "|\"");
    auto all = List();
    // Taken down by hand: a path this long is out of reach of nftw.
    unlink("deep");
    for (int i = 0; i < made; i++)
        if (chdir("..") != 0 || rmdir(name.c_str()) != 0) break;
    ASSERT_EQ(made, 45);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_GT(all[0].size(), 9000u);
}

TEST_F(WalkTest, EmptyRulesSendNothingAndAFailingSinkLeaksNothing) {
    EXPECT_EQ(LocalListFilesToSave(&sink, &rules, 1), -1);
    EXPECT_TRUE(sink.blocks.empty());
    mkdir((tmp + "/d").c_str(), 0755);
    for (int i = 0; i < 2500; i++) WriteWholeFile(tmp + "/d/f" + std::to_string(i), "");
    Rule("include dir \"" + D() + "|\"");
    int before = include_node_count;
    FailingSink failing;
    EXPECT_THROW(LocalListFilesToSave(&failing, &rules, 1), SocketError);
    EXPECT_TRUE(rules.empty());
    EXPECT_EQ(include_node_count, before - 1);
}

}  // namespace
