#include <gtest/gtest.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "support/TestHome.h"

namespace {

struct PathsTest : ::testing::Test {
    std::string At(const std::string& relative) const { return dir_ + "/" + relative; }
    TempDir dir_;
};

}  // namespace

TEST_F(PathsTest, ExistenceTestsNeverFollowSymbolicLinks) {
    ASSERT_EQ(mkdir(At("d").c_str(), 0755), 0);
    ASSERT_EQ(symlink(At("d").c_str(), At("link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink(At("nowhere").c_str(), At("dangling").c_str()), 0);
    WriteWholeFile(At("f"), "x");
    struct Case { const char* name; bool exists, folder; };
    const Case cases[] = {
        {"d", true, true},         {"f", true, false},
        {"dangling", true, false}, {"link-to-dir", true, false}, {"missing", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerifyFileExists(At(c.name).c_str()), c.exists) << c.name;
        EXPECT_EQ(VerifyFolderExists(At(c.name).c_str()), c.folder) << c.name;
        EXPECT_EQ(IsDir(At(c.name).c_str()), c.folder) << c.name;
    }
}

TEST_F(PathsTest, MakeDirectoriesCreatesParentsAndStopsAtRealFailures) {
    EXPECT_TRUE(MakeDirectories(dir_.c_str()));
    EXPECT_TRUE(MakeDirectories(At("a/b/c/d").c_str()));
    EXPECT_TRUE(IsDir(At("a/b/c/d").c_str()));
    WriteWholeFile(At("plain"), "x");
    EXPECT_FALSE(MakeDirectories(At("plain/sub").c_str()));
    EXPECT_FALSE(MakeDirectories(At("plain").c_str()));
    EXPECT_FALSE(MakeDirectories(""));
    EXPECT_TRUE(VerifySubFolderExists(At("x/y/file.txt").c_str()));
    EXPECT_TRUE(IsDir(At("x/y").c_str()));
    EXPECT_FALSE(VerifyFileExists(At("x/y/file.txt").c_str()));
    // An overlong path is refused instead of looping forever.
    std::string deep = dir_;
    while (deep.size() < 450) deep += "/abcdefghij";
    EXPECT_FALSE(MakeDirectories(deep.c_str()));
}

TEST_F(PathsTest, ModifyDateOnASymbolicLinkNeverReachesItsTarget) {
    WriteWholeFile(At("target"), "x");
    ASSERT_EQ(SetFileModifyDate(At("target").c_str(), 2000000000u), 0);
    ASSERT_EQ(symlink(At("target").c_str(), At("link").c_str()), 0);
    EXPECT_EQ(SetFileModifyDate(At("link").c_str(), 1000000000u), 0);
    struct stat st;
    ASSERT_EQ(stat(At("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 2000000000);
    ASSERT_EQ(lstat(At("link").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    EXPECT_EQ(SetFileModifyDate(At("missing").c_str(), 5u), 0);  // logged, still 0
}

TEST(ConvertPathRoundTrip, BarsBecomeSlashesAndBackAndNullIsTolerated) {
    char path[] = "|export|home|a b|x.txt";
    ConvertPath(path);
    EXPECT_STREQ(path, "/export/home/a b/x.txt");
    ConvertPath2(path);
    EXPECT_STREQ(path, "|export|home|a b|x.txt");
    ConvertPath(nullptr);
    ConvertPath2(nullptr);
}

TEST_F(PathsTest, AFolderIsNeverReplacedByAFile) {
    ASSERT_EQ(mkdir(At("d").c_str(), 0755), 0);
    ReplacementFile file(At("d"));
    EXPECT_FALSE(file.Open());
    EXPECT_EQ(EISDIR, errno);
    EXPECT_TRUE(IsDir(At("d").c_str()));
}
