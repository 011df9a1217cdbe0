// The server's configuration archives kept by the real agent: whole and
// dated archives, a transfer cut half-way, and differences applied.
#include <gtest/gtest.h>
#include <string.h>

#include <regex>

#include "crypto/Zip.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/SingleFileTransfer.h"

namespace {

// `content` packed with gzip in the test's home; the packed file's path.
std::string Packed(ServerSide& server, const std::string& name, const std::string& content) {
    char path[512];
    snprintf(path, sizeof(path), "%s", server.home.path(name).c_str());
    WriteWholeFile(path, content);
    EXPECT_TRUE(Zip(path, true));
    return path;
}

class ConfigArchives : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(daemon_.Started());
        ASSERT_NE(nullptr, sock_ = std::unique_ptr<Sock>(daemon_.Connect()));
    }
    int Send(const char* command, const std::string& file) {
        sock_->Write(command);
        return SendFile(sock_.get(), file.c_str(), nullptr, nullptr);
    }
    std::string Folder() { return daemon_.path("data/test-server"); }

    ServerSide server_;
    AgentDaemon daemon_{"name=agent-under-test\n", [](const std::string& dir) {
                            WriteWholeFile(dir + "/data/test-server/conf_update_2020_01_01_00_00_00.tar.gz",
                                           "x");
                        }};
    std::unique_ptr<Sock> sock_;
};

TEST_F(ConfigArchives, SavedArchivesReplaceTheOldOneAndACutTransferLeavesNoTrace) {
    const std::string archive = server_.home.path("conf.tar.gz");
    WriteWholeFile(archive, RandomBytes(1 << 20, 7));
    ASSERT_EQ(0, Send("save_config", archive));
    EXPECT_EQ("in step", daemon_.Ask(sock_.get(), "echo in step"));
    EXPECT_EQ(ReadWholeFile(archive), ReadWholeFile(Folder() + "/conf.tar.gz"));
    EXPECT_EQ(std::vector<std::string>{"conf.tar.gz"}, Entries(Folder()));  // update archives went
    EXPECT_TRUE(WaitForText(daemon_.path("programs.log"), "stub-storage test-server\n", 10));

    WriteWholeFile(server_.home.path("update"), "update");
    ASSERT_EQ(0, Send("save_config_update", server_.home.path("update")));
    EXPECT_EQ("in step", daemon_.Ask(sock_.get(), "echo in step"));
    std::vector<std::string> names = Entries(Folder());
    ASSERT_EQ(2u, names.size());
    EXPECT_TRUE(std::regex_match(*names.rbegin(), std::regex("conf_update_\\d{4}(_\\d\\d){5}\\.tar\\.gz")));

    // Half of a new archive, then the connection drops.
    std::string half = RandomBytes(1 << 19, 8);
    sock_->Write("save_config");
    sock_->FormatWrite("%i 0 0 %i %s", 1 << 20, 1 << 20, "00000000000000000000000000000000");
    sock_->Read();
    ASSERT_STREQ("FILE_OPEN", sock_->read_buffer);
    sock_->Write(half.data(), (unsigned)half.size());
    sock_.reset();
    // The peer's log of the day, named day.month.year without leading zeros.
    std::string day = WaitForTextInFolder(daemon_.path("conf/logs/test-server"), "Save Configuration: ... FAILED (", 30);
    EXPECT_TRUE(std::regex_match(day, std::regex("[1-9]\\d?\\.[1-9]\\d?\\.\\d{4}"))) << day;
    EXPECT_EQ(names, Entries(Folder()));
    EXPECT_EQ(ReadWholeFile(archive), ReadWholeFile(Folder() + "/conf.tar.gz"));
}

TEST_F(ConfigArchives, DifferencesPatchTheArchiveOrLeaveItAsItWas) {
    ASSERT_EQ(0, Send("save_config", Packed(server_, "conf.tar", "line1\nline2\n")));
    EXPECT_EQ("in step", daemon_.Ask(sock_.get(), "echo in step"));
    const std::string kept = ReadWholeFile(Folder() + "/conf.tar.gz");
    struct {
        const char* diff;
        const char* reply;
        const char* archive;  // unpacked content afterwards
    } cases[] = {
        {"", "SUCCESS", "line1\nline2\n"},
        {"--- a\n+++ b\n@@ -1,1 +1,1 @@\n-absent\n+x\n", "PATCH_FAILED", "line1\nline2\n"},
        {"--- a\n+++ b\n@@ -1,2 +1,2 @@\n line1\n-line2\n+line two\n", "SUCCESS", "line1\nline two\n"},
    };
    for (auto& c : cases) {
        ASSERT_EQ(0, Send("patch_config", Packed(server_, "diff", c.diff)));
        sock_->Read();
        EXPECT_STREQ(c.reply, sock_->read_buffer) << c.diff;
        EXPECT_EQ(std::vector<std::string>{"conf.tar.gz"}, Entries(Folder())) << c.diff;
        char copy[512];
        snprintf(copy, sizeof(copy), "%s", server_.home.path("got.gz").c_str());
        WriteWholeFile(copy, ReadWholeFile(Folder() + "/conf.tar.gz"));
        ASSERT_TRUE(DeZip(copy, true));
        EXPECT_EQ(c.archive, ReadWholeFile(copy)) << c.diff;
        if (strcmp(c.reply, "SUCCESS") != 0 || !c.diff[0]) {
            EXPECT_EQ(kept, ReadWholeFile(Folder() + "/conf.tar.gz"));
        }
    }
}

}  // namespace
