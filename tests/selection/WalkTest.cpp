// The listing of a backup set: catalogue lines, error lines, blocks.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

struct WalkTest : ::testing::Test {
    TestHome home;
    TempDir tmp;
    CollectingSink sink;
    std::vector<IncludeNode*> rules;
    void TearDown() override { ClearRules(&rules); }
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

TEST_F(WalkTest, ObjectsAreSortedAndVssIsDropped) {
    for (const char* rule : {"include object \"b|x\"", "include object \"VSS\"", "include object \"A\"",
                             "exclude object \"C\""})
        Rule(rule);
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    auto all = sink.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].substr(0, 33), "1MD5('A'), 3, 1, 'A', 'A', 'null'");
    EXPECT_EQ(all[1].substr(0, 39), "1MD5('b|x'), 3, 2, 'b|x', 'b|x', 'null'");
}

// Blocks of file lines are checked against the daemon (BackupStreamTest).
TEST_F(WalkTest, ErrorLinesCountTowardsTheBlocksOf2000) {
    for (int i = 0; i < 2100; i++) Rule("include file \"" + D() + "|missing" + std::to_string(i) + "\"");
    ASSERT_EQ(LocalListFilesToSave(&sink, &rules, 1), 0);
    EXPECT_EQ(sink.Sizes(), (std::vector<size_t>{2000, 100}));
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
    for (int i = 0; i < 2500; i++) WriteWholeFile(tmp + "/d/f" + std::to_string(i), "");
    Rule("include dir \"" + D() + "|\"");
    int before = include_node_count;
    FailingSink failing;
    EXPECT_THROW(LocalListFilesToSave(&failing, &rules, 1), SocketError);
    EXPECT_TRUE(rules.empty());
    EXPECT_EQ(include_node_count, before - 1);
}

}  // namespace
