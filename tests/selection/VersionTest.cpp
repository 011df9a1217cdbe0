// The version catalogue pieces: catalogue-line parsing, line-list files,
// storage paths at every depth and differences of files and split folders.
#include <gtest/gtest.h>

#include "core/Globals.h"
#include "records/Client.h"
#include "records/Config.h"
#include "selection/VersionFiles.h"
#include "selection/VersionNode.h"
#include "support/TestHome.h"

namespace {

struct VersionFilesTest : ::testing::Test {
    void TearDown() override {
        for (char* line : lines_) delete[] line;
    }
    TestHome home_;
    std::vector<char*> lines_;
};

}  // namespace

TEST(VersionNodeTest, CatalogueLinesGiveNameDateAndSize) {
    struct { const char* line; const char* name; int date; long long size; } cases[] = {
        {"0MD5('|d|a.txt'), 2, 3, 'a.txt', '|d|a.txt', 'null', 'null', '1700000000', 0, 0, 1, '42', 0", "|d|a.txt",
         1700000000, 42},
        {"0MD5('|d|it\\'s.txt'), 2, 3, 'it\\'s.txt', '|d|it\\'s.txt', 'null', 'null', '5', 0, 0, 1, '6000000000', 0",
         "|d|it\\'s.txt", 5, 6000000000LL},
        {"0MD5('|x'), 2", "|x", 0, 0}, {"garbage", nullptr, 0, 0},
    };
    for (auto& c : cases) {
        VersionNode v(c.line);
        EXPECT_STREQ(c.name, v.full_name) << c.line;
        EXPECT_EQ(c.date, v.file_date) << c.line;
        EXPECT_EQ(c.size, v.size) << c.line;
    }
    VersionNode v("0MD5('|d|a.txt'), 2, 3, 'a', 'b', 'c', 'd', '17', 0, 0, 1, '42', 0");
    char out[24] = "x";
    v.Print(out, sizeof(out));
    EXPECT_STREQ("x 42 17 \"|d|a.txt\"", out);
    v.Print(out, sizeof(out));  // no room left: cut, never overrun
    EXPECT_EQ(23u, strlen(out));
}

TEST_F(VersionFilesTest, LineListFilesSkipCommentsAndContinueLongLines) {
    WriteWholeFile(home_.path("list"), "a\n#comment\n\nb\n" + std::string(1030, 'L') + "\n");
    ASSERT_EQ(5, ReadFile(home_.path("list").c_str(), &lines_));
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", std::string(1023, 'L'), "LLLLLLL"}),
              std::vector<std::string>(lines_.begin(), lines_.end()));
    EXPECT_EQ(0, ReadFile(home_.path("none").c_str(), &lines_));

    std::vector<char*> two = {lines_[0], lines_[2]};
    EXPECT_EQ(2, WriteFile(home_.path("out").c_str(), &two));
    EXPECT_EQ("a\nb", ReadWholeFile(home_.path("out")));
    std::vector<char*> none;
    EXPECT_EQ(0, WriteFile(home_.path("out").c_str(), &none));
    EXPECT_EQ("", ReadWholeFile(home_.path("out")));
}

TEST_F(VersionFilesTest, StoragePathsAtEveryDepthForOwnAndMirroredSets) {
    Client client;
    snprintf(client.base_id, sizeof(client.base_id), "set7");
    VersionNode version;
    version.SetHashName("abcd0123456789abcdef0123456789ab");
    version.backup_date = 1234;
    const std::string d = std::string(res->data_dir), h = version.hash_name;
    struct { bool own; int depth; std::string expected; } cases[] = {
        {true, 0, d + "set7/" + h + ".1234.dif"}, {true, 1, d + "set7/ab/" + h + ".1234.dif"},
        {true, 2, d + "set7/a/b/c/d/" + h + ".1234.dif"}, {true, 3, d + "set7/a/b/c/" + h + ".1234.dif"},
        {false, 0, d + "box9/backup/set7/" + h + ".1234"},
        {false, 1, d + "box9/backup/set7/a/" + h + ".1234"},
        {false, 2, d + "box9/backup/set7/a/b/" + h + ".1234"},
        {false, 3, d + "box9/backup/set7/a/b/c/" + h + ".1234"},
    };
    for (auto& c : cases) {
        snprintf(client.box_name, sizeof(client.box_name), "%s", c.own ? config->name : "box9");
        client.value_3 = c.depth;
        char out[400];
        EXPECT_EQ(c.expected, GetServerPath(out, &client, &version, ".dif")) << c.own << c.depth;
    }
}

TEST_F(VersionFilesTest, DifferencesAreKeptOnlyWhenSmallerThanTheFile) {
    std::string lines;
    for (int i = 0; i < 300; i++) lines += "line " + std::to_string(i) + "\n";
    std::string changed = lines;
    changed.replace(changed.find("line 150"), 8, "LINE 150");
    const std::string v1 = home_.path("v 1;'x");  // never seen by a shell
    WriteWholeFile(v1, changed);
    WriteWholeFile(home_.path("v0"), lines);
    WriteWholeFile(home_.path("short1"), "x\n");
    WriteWholeFile(home_.path("short0"), "y\n");
    const std::string out = home_.path("out.dif");
    EXPECT_EQ(0, MakeDiffFile(home_.path("v0").c_str(), home_.path("v0").c_str(), out.c_str()));
    EXPECT_FALSE(PathExists(out));
    EXPECT_EQ(1, MakeDiffFile(home_.path("short1").c_str(), home_.path("short0").c_str(), out.c_str()));
    EXPECT_FALSE(PathExists(out));
    EXPECT_EQ(1, MakeDiffFile(v1.c_str(), home_.path("v0").c_str(), out.c_str()));
    std::string diff = ReadWholeFile(out);
    EXPECT_NE(std::string::npos, diff.find("-line 150\n+LINE 150\n"));

    // Split folders of unequal part counts: the missing part counts as empty
    // and goes again afterwards; the parts that were there stay.
    WriteWholeFile(home_.path("d1/000"), changed);
    WriteWholeFile(home_.path("d1/001"), lines);
    WriteWholeFile(home_.path("d0/000"), lines);
    EXPECT_EQ(1, MakeDiffFile(home_.path("d1").c_str(), home_.path("d0").c_str(), out.c_str()));
    EXPECT_NE(std::string::npos, ReadWholeFile(out).find("+LINE 150"));
    EXPECT_FALSE(PathExists(home_.path("d0/001")));
    EXPECT_TRUE(PathExists(home_.path("d1/001")));
}
