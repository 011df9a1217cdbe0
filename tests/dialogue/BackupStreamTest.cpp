// The backup half against the real agent: catalogue lines between
// "LIST_OK" and "LIST_DONE", blocks of 2,000 lines, the rule block, and the
// records of "send_fast".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "dialogue/AgentHarness.h"
#include "dialogue/BackupStreamSupport.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

using namespace backup_test;

namespace {

void SetTime(const std::string& path, long t) {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    lutimes(path.c_str(), tv);
}

class BackupStreamTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        daemon_ = new AgentDaemon();
        ASSERT_TRUE(daemon_->Started()) << ReadWholeFile(daemon_->dir() + "/console");
    }
    static void TearDownTestSuite() {
        delete daemon_;
        daemon_ = nullptr;
    }
    void SetUp() override {
        sock_.reset(daemon_->Connect());
        ASSERT_NE(nullptr, sock_);
        work_ = MakeTempDir();
        mkdir((work_ + "/d").c_str(), 0755);
    }
    void TearDown() override {
        if (sock_ && !sock_->dead) sock_->CloseConnection();
        RemoveTree(work_);
    }
    // The test folder "d" in the server's form.
    std::string D() const { return Bar(work_) + "|d"; }
    std::string Echo() { return daemon_->Ask(sock_.get(), "echo still here"); }

    static AgentDaemon* daemon_;
    ServerSide server_;
    std::unique_ptr<Sock> sock_;
    std::string work_;
};

AgentDaemon* BackupStreamTest::daemon_ = nullptr;

TEST_F(BackupStreamTest, CatalogueExamplesArriveByteExactBetweenListOkAndListDone) {
    struct Case {
        const char* what;
        std::function<void(const std::string& d)> make;  // d: local folder
        std::function<std::string(const std::string& D)> rules;
        std::function<std::vector<std::string>(const std::string& D)> expected;  // sorted
    };
    const Case cases[] = {
        {"a quote in a name is escaped in the key, short name and full path",
         [](const std::string& d) {
             WriteWholeFile(d + "/it's.txt", "abc");
             SetTime(d + "/it's.txt", 1234567890);
         },
         [](const std::string& D) { return "include dir \"" + D + "|\""; },
         [](const std::string& D) {
             std::string key = D + "|it\\'s.txt";
             return std::vector<std::string>{Line(0, key, "it\\'s.txt", key, 1234567890, 35)};
         }},
        {"a wildcard include narrows the folder, an excluded folder is not entered",
         [](const std::string& d) {
             mkdir((d + "/tmp").c_str(), 0755);
             mkdir((d + "/sub").c_str(), 0755);
             for (const char* f : {"/a.log", "/b.txt", "/tmp/c.log", "/sub/e.log", "/sub/f.txt"}) {
                 WriteWholeFile(d + f, "x");
                 SetTime(d + f, 100);
             }
         },
         [](const std::string& D) {
             return "include dir \"" + D + "|\"\ninclude wfile \"" + D + "|*.log\"\ninclude wfile \"" + D +
                    "|sub|*.log\"\nexclude dir \"" + D + "|tmp|\"";
         },
         [](const std::string& D) {
             std::vector<std::string> v{Line(0, D + "|a.log", "a.log", D + "|a.log", 100, 33),
                                        Line(0, D + "|sub|e.log", "e.log", D + "|sub|e.log", 100, 33)};
             std::sort(v.begin(), v.end());
             return v;
         }},
        {"a missing single file gives a -5 line", [](const std::string&) {},
         [](const std::string& D) { return "include file \"" + D + "|missing\""; },
         [](const std::string& D) { return std::vector<std::string>{"-5" + D + "|missing\n"}; }},
        {"a split-file rule takes the newest match under the pattern's key",
         [](const std::string& d) {
             WriteWholeFile(d + "/app-0001.log", "old");
             WriteWholeFile(d + "/app-0002.log", "newer");
             SetTime(d + "/app-0001.log", 200);
             SetTime(d + "/app-0002.log", 300);
         },
         [](const std::string& D) { return "include sfile \"" + D + "|app-????.log\""; },
         [](const std::string& D) {
             return std::vector<std::string>{
                 Line(0, D + "|app-????.log", "app-0002.log", D + "|app-0002.log", 300, 5)};
         }},
        {"a rule block with one invalid line lists with the two valid ones",
         [](const std::string& d) {
             mkdir((d + "/tmp").c_str(), 0755);
             WriteWholeFile(d + "/kept", "");
             WriteWholeFile(d + "/tmp/dropped", "");
             SetTime(d + "/kept", 50);
         },
         [](const std::string& D) {
             return "include dir \"" + D + "|\"\ninclude folder \"" + D + "|tmp|\"\nexclude dir \"" + D +
                    "|tmp|\"\n";
         },
         [](const std::string& D) {
             return std::vector<std::string>{Line(0, D + "|kept", "kept", D + "|kept", 50, 32)};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(work_ + "/d");
        mkdir((work_ + "/d").c_str(), 0755);
        c.make(work_ + "/d");
        Listing l = ListFiles(sock_.get(), c.rules(D()));
        EXPECT_EQ("LIST_OK", l.first_reply);
        EXPECT_EQ("LIST_DONE", l.last_reply);
        EXPECT_EQ(c.expected(D()), l.Sorted());
    }
    EXPECT_EQ("still here", Echo());
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
    EXPECT_EQ('0', lines[0][0]);
    EXPECT_EQ('1', lines[1][0]);
    std::vector<std::string> rest{lines[0].substr(1), lines[1].substr(1)};
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(Line(0, D() + "|a.txt", "a.txt", D() + "|a.txt", 1000000000, 42).substr(1), rest[0]);
    EXPECT_EQ(Line(0, D() + "|l", "l", D() + "|l", 5, 51).substr(1), rest[1]);
}

TEST_F(BackupStreamTest, LargeFolderArrivesInBlocksOfTwoThousandLines) {
    for (int i = 0; i < 4500; i++) WriteWholeFile(work_ + "/d/f" + std::to_string(i), "");
    Listing l = ListFiles(sock_.get(), "include dir \"" + D() + "|\"");
    ASSERT_EQ(3u, l.blocks.size());
    EXPECT_EQ(2000u, l.blocks[0].size());
    EXPECT_EQ(2000u, l.blocks[1].size());
    EXPECT_EQ(500u, l.blocks[2].size());
    EXPECT_EQ("LIST_DONE", l.last_reply);
    EXPECT_NE(std::string::npos, daemon_->Messages().find("Files Listed in "));
}

TEST_F(BackupStreamTest, EmptyOrInvalidRuleBlockListsNothingAndTheDialogueGoesOn) {
    for (const char* block : {"", "bogus\nInclude dir \"|x|\"\n"}) {
        Listing l = ListFiles(sock_.get(), block);
        EXPECT_EQ("LIST_OK", l.first_reply);
        EXPECT_EQ("LIST_DONE", l.last_reply);
        EXPECT_TRUE(l.blocks.empty());
    }
    EXPECT_EQ("still here", Echo());
}

// The shapes of the records: metadata first, a link record for links, data
// cut at 4 MiB, -2 for a missing path without stopping the list; a name
// ending in a carriage return is found like any other.
TEST_F(BackupStreamTest, SendFastRecordsForLinksEmptyFilesRecordBoundariesAndMissingPaths) {
    const std::string d = work_ + "/d";
    ASSERT_EQ(0, symlink("12345", (d + "/l").c_str()));
    WriteWholeFile(d + "/empty", "");
    std::string exact(4194304, 'e');
    exact[0] = 'E';
    WriteWholeFile(d + "/exact", exact);
    WriteWholeFile(d + "/over", exact + "!");
    WriteWholeFile(d + "/after\r", "after the missing one");
    std::vector<std::string> paths{D() + "|l",       D() + "|empty", D() + "|exact",
                                   D() + "|missing", D() + "|over",  D() + "|after\r"};
    std::vector<Stream> s = SendFast(sock_.get(), paths);
    ASSERT_EQ(paths.size(), s.size());

    auto unix_text = [](const std::string& path) {
        struct stat st;
        lstat(path.c_str(), &st);
        char text[40];
        snprintf(text, sizeof(text), "M_UNIX%08x.%08x.%08x", (unsigned)st.st_uid, (unsigned)st.st_gid,
                 (unsigned)st.st_mode);
        return std::string(text);
    };
    std::vector<int> types;
    for (const Record& r : s[0]) types.push_back(r.type);
    EXPECT_EQ((std::vector<int>{0, 1, -3}), types);
    EXPECT_EQ(unix_text(d + "/l"), s[0][0].data);
    EXPECT_EQ(51, s[0][0].value);
    EXPECT_EQ("M_LINK0000000512345", s[0][1].data);
    EXPECT_EQ(51, s[0][1].value);

    ASSERT_EQ(2u, s[1].size());
    EXPECT_EQ(unix_text(d + "/empty"), s[1][0].data);
    EXPECT_EQ(32, s[1][0].value);
    EXPECT_EQ(-3, s[1][1].type);

    ASSERT_EQ(3u, s[2].size());
    EXPECT_EQ(1, s[2][1].type);
    EXPECT_EQ(exact, s[2][1].data);
    EXPECT_EQ(4194304 + 32, s[2][1].value);

    ASSERT_EQ(1u, s[3].size());
    EXPECT_EQ(-2, s[3][0].type);

    ASSERT_EQ(4u, s[4].size());
    EXPECT_EQ(1, s[4][1].type);
    EXPECT_EQ(2, s[4][2].type);
    EXPECT_EQ(exact + "!", s[4][1].data + s[4][2].data);

    ASSERT_EQ(3u, s[5].size());
    EXPECT_EQ("after the missing one", s[5][1].data);
    EXPECT_EQ("still here", Echo());
}

TEST_F(BackupStreamTest, PipeInTheListIsSentAsMetadataWithoutBlocking) {
    ASSERT_EQ(0, mkfifo((work_ + "/d/pipe").c_str(), 0644));
    std::vector<Stream> s = SendFast(sock_.get(), {D() + "|pipe"});
    ASSERT_EQ(1u, s.size());
    ASSERT_EQ(2u, s[0].size());
    EXPECT_EQ(0, s[0][0].type);
    EXPECT_EQ(-3, s[0][1].type);
    EXPECT_EQ("still here", Echo());
}

}  // namespace
