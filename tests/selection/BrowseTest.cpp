// Browsing listings and the file-system helpers.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/FileOps.h"
#include "selection/Browse.h"
#include "support/TestHome.h"

namespace {

std::string Take(char* text) {
    std::string s = text ? text : "(null)";
    delete[] text;
    return s;
}

std::vector<char> Bars(const std::string& local) {
    std::string wire = ToWire(local);
    return std::vector<char>(wire.c_str(), wire.c_str() + wire.size() + 1);
}

struct BrowseTest : ::testing::Test {
    TestHome home;
    TempDir tmp;
    long long Size(const std::string& p) {
        struct stat st = {};
        lstat(p.c_str(), &st);
        return (long long)st.st_size;
    }
};

TEST_F(BrowseTest, ListingPutsDirectoriesFirstLeavesOutLinksAndPipesAndRefusesProc) {
    mkdir((tmp + "/b").c_str(), 0755);
    mkdir((tmp + "/C").c_str(), 0755);
    WriteWholeFile(tmp + "/a.txt", "0123456789");
    WriteWholeFile(tmp + "/B.txt", "");
    symlink("a.txt", (tmp + "/link").c_str());
    mkfifo((tmp + "/pipe").c_str(), 0644);
    int t = 1000000001;
    for (const char* name : {"/b", "/C", "/a.txt", "/B.txt"}) SetTime(tmp + name, t++);
    EXPECT_EQ(Take(ListDir(Bars(tmp + "/").data())), "4\ndir " + std::to_string(Size(tmp + "/b")) + " 1000000001 \"b\"\ndir " +
                                             std::to_string(Size(tmp + "/C")) +
                                             " 1000000002 \"C\"\nfile 10 1000000003 \"a.txt\"\nfile 0 1000000004 \"B.txt\"");

    // "|proc|" is refused; a missing folder lists nothing.
    std::vector<FileSystemNode*> nodes;
    EXPECT_EQ(ListDir(Bars("//proc/").data(), &nodes), -1);
    EXPECT_EQ(ListDir(Bars(tmp + "/none").data(), &nodes), 0);
    EXPECT_TRUE(nodes.empty());
    EXPECT_EQ(Take(ListDir(Bars(tmp + "/none").data())), "0");
    EXPECT_EQ(Take(ListRoot()), "1\ndrive 0 0 \"|\"");
}

TEST(FileSystemNodeText, LongestEntryTextIsNotCutAndOrderIsStrict) {
    FileSystemNode big("n", 3, 0, 4294967295u, 9223372036854775807LL);
    std::string out;
    big.Print(out);
    EXPECT_EQ(out, "\nnet_drive 9223372036854775807 4294967295 \"n\"");
    FileSystemNode object("a", 0, 0, 0, 0), file("b", 0, 1, 0, 0), dir("z", 1, 0, 0, 0), other("0", 0, 1, 0, 0);
    other.other = 1;
    // Never both a < b and b < a, whatever the flags (std::sort relies on it).
    FileSystemNode* all[] = {&dir, &file, &object, &other};
    for (FileSystemNode* a : all)
        for (FileSystemNode* b : all) EXPECT_FALSE(*a < *b && *b < *a) << a->name << " " << b->name;
    EXPECT_TRUE(dir < file);
    EXPECT_TRUE(file < object);
    EXPECT_FALSE(object < dir);
    EXPECT_FALSE(other < file);
    EXPECT_EQ(std::string(object.TypeWord()) + dir.TypeWord() + file.TypeWord(), "objectdirfile");
}

TEST_F(BrowseTest, RemovalNeverRunsTheNameNorFollowsLinks) {
    // Run through a shell, this name would also create "pwned" in the
    // working directory.
    std::string victim = tmp + "/a b;touch pwned;x";
    WriteWholeFile(tmp + "/outside/keep", "x");
    ASSERT_EQ(MakeDir(victim.c_str()), 0);
    WriteWholeFile(victim + "/sub/f", "x");
    symlink((tmp + "/outside").c_str(), (victim + "/link").c_str());
    EXPECT_TRUE(Unlink(victim.c_str()));
    EXPECT_FALSE(PathExists(victim));
    EXPECT_FALSE(PathExists("pwned"));
    EXPECT_EQ(ReadWholeFile(tmp + "/outside/keep"), "x");
    EXPECT_TRUE(RemoveDir((tmp + "/never-existed").c_str()));
    EXPECT_FALSE(Unlink((tmp + "/never-existed").c_str()));
}

TEST_F(BrowseTest, CopyReportsFailuresAndNeverEmptiesItsSource) {
    std::string big(100000, 'q');
    WriteWholeFile(tmp + "/src", big);
    EXPECT_TRUE(Copy((tmp + "/src").c_str(), (tmp + "/new/dst").c_str()));
    EXPECT_EQ(ReadWholeFile(tmp + "/new/dst"), big);
    struct stat before, after;
    lstat((tmp + "/src").c_str(), &before);
    EXPECT_TRUE(Copy((tmp + "/src").c_str(), (tmp + "/src").c_str()));  // left alone, not rewritten
    lstat((tmp + "/src").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadWholeFile(tmp + "/src"), big);
    EXPECT_FALSE(Copy((tmp + "/missing").c_str(), (tmp + "/x").c_str()));
    EXPECT_FALSE(Copy((tmp + "/src").c_str(), tmp.c_str()));  // a directory cannot be written
}

TEST_F(BrowseTest, SizesAndCountsDoNotFollowLinks) {
    WriteWholeFile(tmp + "/d/ten", "0123456789");
    WriteWholeFile(tmp + "/d/sub/empty", "");
    WriteWholeFile(tmp + "/d/empty", "");
    WriteWholeFile(tmp + "/big", std::string(1 << 20, 'b'));
    symlink((tmp + "/big").c_str(), (tmp + "/d/link").c_str());
    symlink(tmp.c_str(), (tmp + "/d/loop").c_str());
    long long size = GetDirSize((tmp + "/d").c_str());
    EXPECT_GT(size, 10);
    EXPECT_LT(size, 1 << 20);
    EXPECT_EQ(GetFileSize((tmp + "/d").c_str()), size);
    EXPECT_EQ(GetFileSize((tmp + "/d/ten").c_str()), 10);
    EXPECT_EQ(GetFileSize((tmp + "/none").c_str()), -1);
    EXPECT_EQ(GetDirSize((tmp + "/none").c_str()), 0);
    EXPECT_EQ(GetFileCount((tmp + "/d").c_str(), 0), 2);
    EXPECT_EQ(GetFileCount((tmp + "/d").c_str(), 1), 3);
    EXPECT_EQ(GetFileCount((tmp + "/none").c_str(), 1), 0);
}

}  // namespace
