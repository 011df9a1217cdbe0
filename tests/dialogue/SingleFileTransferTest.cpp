// Single files in both directions against the real agent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/SingleFileTransfer.h"
#include "records/Config.h"

namespace {

// "get" of `target` with a size line for `size` bytes; the agent's answer.
std::string Offer(Sock* sock, const std::string& target, size_t size) {
    sock->FormatWrite("get %s", ToWire(target).c_str());
    sock->FormatWrite("%lli 0 0 %lli 00000000000000000000000000000000", (long long)size, (long long)size);
    sock->Read();
    return sock->read_buffer;
}

class SingleFileTransferTest : public DaemonSuite {};

// An empty file arrives without data packets.
TEST_F(SingleFileTransferTest, ThreeMegabytesAndEmptyBothWaysWithAndWithoutEncryption) {
    const std::string big = RandomBytes(3 * 1024 * 1024 + 17, 7);
    for (int run : {0, 1, 2}) {
        const std::string content = run == 2 ? "" : big, n = std::to_string(run);
        config->crypt = run != 0;
        std::string local = work_ + "/source" + n, target = daemon_->path("restored" + n), back = work_ + "/back" + n;
        WriteWholeFile(local, content);
        sock_->FormatWrite("get %s", ToWire(target).c_str());
        ASSERT_EQ(0, SendFile(sock_.get(), local.c_str(), nullptr, nullptr));
        EXPECT_EQ("synced", Ask("echo synced"));
        EXPECT_EQ(content, ReadWholeFile(target)) << "run " << run;
        EXPECT_TRUE(PathExists(target));
        sock_->FormatWrite("send %s", ToWire(target).c_str());
        ASSERT_EQ(0, GetFile(sock_.get(), back.c_str(), nullptr, nullptr, "wb"));
        EXPECT_EQ(content, ReadWholeFile(back));
    }
    EXPECT_FALSE(HasTemporaryLeftovers(daemon_->dir()));
}

// The server offers to resume at an offset with the digest of what it holds:
// only a matching digest within the file skips bytes; the dialogue stays in step.
TEST_F(SingleFileTransferTest, ResumeOffersSendOnlyTheRestOrStartOver) {
    const std::string content = RandomBytes(2 * 1024 * 1024, 11);
    const size_t size = content.size();
    std::string target = daemon_->path("resumable");
    WriteWholeFile(target, content);
    const struct {
        size_t offset;
        std::string digest;
        const char* reply;
        size_t from;
    } cases[] = {
        {1000000, Md5Text(content.substr(0, 1000000)), "FILE_RESUME_OK", 1000000},
        {500, "00000000000000000000000000000000", "FILE_RESUME_ERROR", 0},
        {size, Md5Text(content.substr(0, size)), "FILE_RESUME_OK", size},  // nothing left to send
        {size + 1, Md5Text(content.substr(0, size)), "FILE_RESUME_ERROR", 0},
    };
    for (const auto& c : cases) {
        sock_->FormatWrite("send %s", ToWire(target).c_str());
        sock_->Read();
        EXPECT_EQ((long long)size, atoll(sock_->read_buffer));
        sock_->FormatWrite("FILE_RESUME_PARTIAL %lli %s", (long long)c.offset, c.digest.c_str());
        sock_->Read();
        EXPECT_STREQ(c.reply, sock_->read_buffer) << c.offset;
        sock_->Write("FILE_OPEN");
        std::string rest;
        while (rest.size() < size - c.from) {
            unsigned n = sock_->Read();
            ASSERT_GT(n, 0u);
            rest.append(sock_->read_buffer, n);
        }
        EXPECT_TRUE(content.substr(c.from) == rest) << c.offset;
        EXPECT_EQ("after", Ask("echo after")) << c.offset;
    }
    EXPECT_NE(std::string::npos, daemon_->Messages().find(
        "Bad FILE_RESUME: " + Md5Text(content.substr(0, 500)) + " != 00000000000000000000000000000000 @ 500"));
}

TEST_F(SingleFileTransferTest, AppendFileExistsAndMissingFileKeepTheDialogueInStep) {
    std::string target = daemon_->path("appended"), local = work_ + "/more";
    WriteWholeFile(target, "abc");
    WriteWholeFile(local, "def");
    sock_->FormatWrite("get_append %s", ToWire(target).c_str());
    ASSERT_EQ(0, SendFile(sock_.get(), local.c_str(), nullptr, nullptr));
    EXPECT_EQ("synced", Ask("echo synced"));
    EXPECT_EQ("abcdef", ReadWholeFile(target));
    EXPECT_EQ(std::string::npos, ReadWholeFile(daemon_->path("conf/logs/errors")).find("unknown error"));
    sock_->FormatWrite("send %s", ToWire(target).c_str());
    sock_->Read();
    sock_->Write("FILE_EXISTS");  // the server has it: no data follows
    EXPECT_EQ("next", Ask("echo next"));
    EXPECT_EQ("ERROR_FILE_DOES_NOT_EXIST", Ask("send " + ToWire(daemon_->path("absent"))));
}

// The new file keeps an existing file's owner and mode, replaces a link
// instead of writing through it, needs no longer name than the target's
// own, and leaves every other file of the folder alone; a folder is refused.
TEST_F(SingleFileTransferTest, ReplacedTargetsKeepOwnerAndModeAndNothingElseIsTouched) {
    const std::string dir = daemon_->path("replaced");
    mkdir(dir.c_str(), 0755);
    const std::string owned = dir + "/private-key", link = dir + "/link", victim = dir + "/victim";
    const std::string longest = dir + "/" + std::string(250, 'n'), neighbour = owned + ".zeltmp";
    WriteWholeFile(owned, "old key", 0600);
    ASSERT_EQ(0, chown(owned.c_str(), 1234, 2345));
    WriteWholeFile(victim, "never written through");
    ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
    WriteWholeFile(neighbour, "unrelated");
    for (const std::string& target : {owned, link, longest}) {
        SCOPED_TRACE(target.substr(dir.size()));
        const std::string content = RandomBytes(2 * kSingleFileBlock + 5, (unsigned)target.size());
        ASSERT_EQ("FILE_OPEN", Offer(sock_.get(), target, content.size()));
        sock_->Write(content.data(), (unsigned)content.size());
        EXPECT_EQ("done", Ask("echo done"));
        EXPECT_EQ(content, ReadWholeFile(target));
    }
    struct stat st;
    ASSERT_EQ(0, lstat(owned.c_str(), &st));
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(2345u, st.st_gid);
    EXPECT_EQ(0600u, st.st_mode & 07777);
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ("never written through", ReadWholeFile(victim));
    EXPECT_EQ("unrelated", ReadWholeFile(neighbour));
    EXPECT_FALSE(HasTemporaryLeftovers(dir));
    // A folder cannot be replaced: refused before any data moves.
    EXPECT_EQ("ERROR_OPEN_FILE", Offer(sock_.get(), dir, 10));
    EXPECT_EQ("next", Ask("echo next"));
    EXPECT_EQ("unrelated", ReadWholeFile(neighbour));
}

// Two connections restoring one path at once: each result is one whole
// stream, the one that finished last.
TEST_F(SingleFileTransferTest, TwoConnectionsRestoringOnePathNeverMixTheirStreams) {
    const std::string target = daemon_->path("contended");
    std::unique_ptr<Sock> other(daemon_->Connect());
    ASSERT_NE(nullptr, other);
    const std::string first = RandomBytes(2000000, 31), second = RandomBytes(1500000, 32);
    ASSERT_EQ("FILE_OPEN", Offer(sock_.get(), target, first.size()));
    sock_->Write(first.data(), 1000000);
    ASSERT_EQ("FILE_OPEN", Offer(other.get(), target, second.size()));
    other->Write(second.data(), 1000000);
    other->Write(second.data() + 1000000, (unsigned)(second.size() - 1000000));
    EXPECT_EQ("second", daemon_->Ask(other.get(), "echo second"));
    EXPECT_EQ(second, ReadWholeFile(target));
    sock_->Write(first.data() + 1000000, (unsigned)(first.size() - 1000000));
    EXPECT_EQ("first", Ask("echo first"));
    EXPECT_EQ(first, ReadWholeFile(target));
    other->CloseConnection();
}

}  // namespace
