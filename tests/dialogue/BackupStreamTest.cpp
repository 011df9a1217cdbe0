// The backup half against the real agent: catalogue lines and the records
// of "send_fast".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dialogue/AgentHarness.h"
#include "dialogue/BackupStreamSupport.h"

using namespace backup_test;

namespace {

class BackupStreamTest : public DaemonSuite {
  protected:
    void SetUp() override {
        DaemonSuite::SetUp();
        mkdir((work_ + "/d").c_str(), 0755);
    }
    // The test folder "d" in the server's form.
    std::string D() const { return ToWire(work_) + "|d"; }
};

// Golden catalogue lines: "@" stands for the test folder in the server's
// form ("|tmp|zeltest.XXXXXX|d": a key below it has depth 5), "#" for its local path.
std::string Golden(std::string text, const std::string& wire, const std::string& local) {
    for (size_t at; (at = text.find_first_of("@#")) != std::string::npos;)
        text.replace(at, 1, text[at] == '@' ? wire : local);
    return text;
}

TEST_F(BackupStreamTest, CatalogueExamplesArriveByteExactBetweenListOkAndListDone) {
    struct Case {
        const char* what;
        std::function<void(const std::string& d)> make;  // d: local folder
        std::string rules;
        std::vector<std::string> expected;  // sorted
    };
    const Case cases[] = {
        {"a quote, a backslash and a carriage return are escaped in the key, short name and full path",
         [](const std::string& d) {
             WriteWholeFile(d + "/it's\\x\r.txt", "abc");
             SetTime(d + "/it's\\x\r.txt", 1234567890);
         },
         "include dir \"@|\"",
         {"0MD5('@|it\\'s\\\\x\\\r.txt'), 2, 5, 'it\\'s\\\\x\\\r.txt', '@|it\\'s\\\\x\\\r.txt', 'null', 'null', "
          "'1234567890', 0, 0, 1, '35', 0\n"}},
        {"a wildcard include narrows the folder, an excluded folder is not entered",
         [](const std::string& d) {
             mkdir((d + "/tmp").c_str(), 0755);
             mkdir((d + "/sub").c_str(), 0755);
             for (const char* f : {"/a.log", "/b.txt", "/tmp/c.log", "/sub/e.log", "/sub/f.txt"}) {
                 WriteWholeFile(d + f, "x");
                 SetTime(d + f, 100);
             }
         },
         "include dir \"@|\"\ninclude wfile \"@|*.log\"\ninclude wfile \"@|sub|*.log\"\nexclude dir \"@|tmp|\"",
         {"0MD5('@|a.log'), 2, 5, 'a.log', '@|a.log', 'null', 'null', '0000000100', 0, 0, 1, '33', 0\n",
          "0MD5('@|sub|e.log'), 2, 6, 'e.log', '@|sub|e.log', 'null', 'null', '0000000100', 0, 0, 1, '33', 0\n"}},
        {"a missing or unreadable single file gives a -5 line, a missing folder -4 with its local path",
         [](const std::string& d) { mkfifo((d + "/pipe").c_str(), 0644); },
         "include file \"@|missing\"\ninclude file \"@|pipe\"\ninclude dir \"@|nodir|\"",
         {"-4#/nodir\n", "-5@|missing\n", "-5@|pipe\n"}},
        {"a split-file rule takes the newest match under the pattern's key; \"*.*\" matches nothing",
         [](const std::string& d) {
             const char* files[][2] = {{"/one", "abc"}, {"/app-0001.log", "old"}, {"/app-0002.log", "newer"},
                                       {"/app-00003.log", "longer name"}};
             long t = 100;
             for (auto& f : files) {
                 WriteWholeFile(d + f[0], f[1]);
                 SetTime(d + f[0], t += 100);
             }
         },
         "include file \"@|one\"\ninclude sfile \"@|app-????.log\"\ninclude sfile \"*.*\"",
         {"0MD5('@|app-????.log'), 2, 5, 'app-0002.log', '@|app-0002.log', 'null', 'null', '0000000400', 0, 0, 1, "
          "'5', 0\n",
          "0MD5('@|one'), 2, 5, 'one', '@|one', 'null', 'null', '0000000200', 0, 0, 1, '35', 0\n"}},
        {"an empty rule block lists nothing", [](const std::string&) {}, "", {}},
        {"a block of invalid rules lists nothing", [](const std::string&) {}, "bogus\nInclude dir \"|x|\"\n", {}},
        {"a rule block with one invalid line lists with the two valid ones",
         [](const std::string& d) {
             mkdir((d + "/tmp").c_str(), 0755);
             WriteWholeFile(d + "/kept", "");
             WriteWholeFile(d + "/tmp/dropped", "");
             SetTime(d + "/kept", 50);
         },
         "include dir \"@|\"\ninclude folder \"@|tmp|\"\nexclude dir \"@|tmp|\"\n",
         {"0MD5('@|kept'), 2, 5, 'kept', '@|kept', 'null', 'null', '0000000050', 0, 0, 1, '32', 0\n"}},
        {"a link to a folder is listed, not followed; a folder under two rules is listed twice",
         [](const std::string& d) {
             WriteWholeFile(d + "/../other/secret", "x");
             WriteWholeFile(d + "/sub/f", "x");
             SetTime(d + "/sub/f", 70);
             symlink("../other", (d + "/link").c_str());
             SetTime(d + "/link", 60);
         },
         "include dir \"@|\"\ninclude dir \"@|sub|\"",
         {"0MD5('@|link'), 2, 5, 'link', '@|link', 'null', 'null', '0000000060', 0, 0, 1, '54', 0\n",
          "0MD5('@|sub|f'), 2, 6, 'f', '@|sub|f', 'null', 'null', '0000000070', 0, 0, 1, '33', 0\n",
          "0MD5('@|sub|f'), 2, 6, 'f', '@|sub|f', 'null', 'null', '0000000070', 0, 0, 1, '33', 0\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(work_ + "/d");
        mkdir((work_ + "/d").c_str(), 0755);
        c.make(work_ + "/d");
        Listing l = ListFiles(sock_.get(), Golden(c.rules, D(), work_ + "/d"));
        EXPECT_EQ("LIST_OK", l.first_reply);
        EXPECT_EQ("LIST_DONE", l.last_reply);
        EXPECT_EQ(c.expected.empty(), l.blocks.empty());
        std::vector<std::string> expected;
        for (const std::string& e : c.expected) expected.push_back(Golden(e, D(), work_ + "/d"));
        EXPECT_EQ(expected, l.Sorted());
    }
    EXPECT_EQ("still here", Ask("echo still here"));
}

TEST_F(BackupStreamTest, FileAndLinkOfOneFolderCarryOverheadsAndMarkersInListingOrder) {
    WriteWholeFile(work_ + "/d/a.txt", "0123456789");
    ASSERT_EQ(0, symlink("12345", (work_ + "/d/l").c_str()));
    ASSERT_EQ(0, mkfifo((work_ + "/d/pipe").c_str(), 0644));  // never listed
    SetTime(work_ + "/d/a.txt", 1000000000);
    SetTime(work_ + "/d/l", 0x80000000L + 5);  // masked to 31 bits
    // Without a set number the command still lists (set 0).
    Listing l = ListFiles(sock_.get(), "include dir \"" + D() + "|\"", "list_files_to_save ");
    ASSERT_EQ(1u, l.blocks.size());
    auto lines = l.blocks[0];
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("01", std::string({lines[0][0], lines[1][0]}));  // "0": the first file of a folder
    std::vector<std::string> rest{lines[0].substr(1), lines[1].substr(1)};
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(Golden("MD5('@|a.txt'), 2, 5, 'a.txt', '@|a.txt', 'null', 'null', '1000000000', 0, 0, 1, '42', 0\n"
                     "MD5('@|l'), 2, 5, 'l', '@|l', 'null', 'null', '0000000005', 0, 0, 1, '51', 0\n", D(), ""),
              rest[0] + rest[1]);
}

TEST_F(BackupStreamTest, LargeFolderArrivesInBlocksOfTwoThousandLines) {
    for (int i = 0; i < 4500; i++) WriteWholeFile(work_ + "/d/f" + std::to_string(i), "");
    Listing l = ListFiles(sock_.get(), "include dir \"" + D() + "|\"");
    std::vector<size_t> sizes;
    for (const auto& b : l.blocks) sizes.push_back(b.size());
    EXPECT_EQ((std::vector<size_t>{2000, 2000, 500}), sizes);
    EXPECT_NE(std::string::npos, daemon_->Messages().find("Files Listed in "));
}

// The shapes of the records: metadata first, a link record for links, data
// cut at 4 MiB, -2 for a missing path without stopping the list, a pipe sent
// as metadata without blocking; a name ending in a carriage return is found
// like any other.
TEST_F(BackupStreamTest, SendFastRecordsForLinksEmptyFilesPipesRecordBoundariesAndMissingPaths) {
    const std::string d = work_ + "/d";
    ASSERT_EQ(0, symlink("12345", (d + "/l").c_str()));
    WriteWholeFile(d + "/empty", "");
    std::string exact(4194304, 'e');
    exact[0] = 'E';
    WriteWholeFile(d + "/exact", exact);
    WriteWholeFile(d + "/over", exact + "!");
    WriteWholeFile(d + "/after\r", "after the missing one");
    ASSERT_EQ(0, mkfifo((d + "/pipe").c_str(), 0644));
    std::vector<std::string> paths{D() + "|l",    D() + "|empty",   D() + "|exact", D() + "|missing",
                                   D() + "|over", D() + "|after\r", D() + "|pipe"};
    std::vector<Stream> s = SendFast(sock_.get(), paths);
    ASSERT_EQ(paths.size(), s.size());
    auto unix_text = [&](const char* name) {
        struct stat st;
        lstat((d + name).c_str(), &st);
        char text[40];
        snprintf(text, sizeof(text), "0:M_UNIX%08x.%08x.%08x ", (unsigned)st.st_uid, (unsigned)st.st_gid,
                 (unsigned)st.st_mode);
        return std::string(text);
    };
    const std::string shapes[] = {unix_text("/l") + "1:M_LINK0000000512345 -3: ",
                                  unix_text("/empty") + "-3: ",
                                  unix_text("/exact") + "1:#4194304 -3: ",
                                  "-2: ",
                                  unix_text("/over") + "1:#4194304 2:! -3: ",
                                  unix_text("/after\r") + "1:after the missing one -3: ",
                                  unix_text("/pipe") + "-3: "};
    for (size_t i = 0; i < paths.size(); i++) ASSERT_EQ(shapes[i], Shape(s[i])) << paths[i];
    EXPECT_EQ(51, s[0][0].value);
    EXPECT_EQ(51, s[0][1].value);
    EXPECT_EQ(32, s[1][0].value);
    EXPECT_EQ(4194304 + 32, s[2][1].value);
    EXPECT_EQ(exact, s[2][1].data);
    EXPECT_EQ(exact + "!", s[4][1].data + s[4][2].data);
    EXPECT_EQ("still here", Ask("echo still here"));
}

}  // namespace
