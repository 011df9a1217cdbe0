// The plain streams (a file without metadata, a text) and the receiver fed
// by them, in one process over a socket pair: record numbering, the empty
// file announced by a record of value 0, and the end records.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <thread>

#include "core/Globals.h"
#include "dialogue/BackupStreamSupport.h"
#include "dialogue/FileStreams.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

using namespace backup_test;

namespace {

class BackupSimpleStreamsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
        sender_.reset(new Sock(AF_UNIX, SOCK_STREAM, 0, fds[0]));
        receiver_.reset(new Sock(AF_UNIX, SOCK_STREAM, 0, fds[1]));
        sender_->timeout = receiver_->timeout = 10;
        sender_->authenticated = receiver_->authenticated = true;  // as past a handshake
    }
    // Runs `send` (which must flush) while the receiver collects `files`
    // streams; every packet is acknowledged, so both sides must run.
    std::vector<Stream> Exchange(const std::function<void(Sock*)>& send, size_t files) {
        std::vector<Stream> got;
        std::thread reader([&] {
            for (size_t f = 0; f < files; f++) got.push_back(ReadStream(receiver_.get()));
        });
        send(sender_.get());
        reader.join();
        return got;
    }

    TestHome home_;
    std::unique_ptr<Sock> sender_, receiver_;
};

TEST_F(BackupSimpleStreamsTest, PlainFileStreamsNumberFromZeroAndReportMissingFiles) {
    WriteWholeFile(home_.path("five"), "12345");
    WriteWholeFile(home_.path("empty"), "");
    WriteWholeFile(home_.path("three"), "123");
    auto s = Exchange(
        [&](Sock* sock) {
            EXPECT_EQ(0, MultiSendSimpleFile(sock, 5, home_.path("five").c_str(), nullptr));
            EXPECT_EQ(0, MultiSendSimpleFile(sock, 0, home_.path("empty").c_str(), nullptr));
            EXPECT_EQ(-7, MultiSendSimpleFile(sock, 3, home_.path("absent").c_str(), nullptr));
            EXPECT_EQ(0,
                      MultiSendSimpleFile(sock, 5, home_.path("absent").c_str(), home_.path("five").c_str()));
            EXPECT_EQ(0, MultiSendSimpleFile(sock, 8, home_.path("three").c_str(), nullptr));  // shrank
            sock->FastSend();
        },
        5);
    ASSERT_EQ(5u, s.size());
    const char* shapes[] = {"0:12345 -3: ", "0: -3: ", "-2: ", "0:12345 -3: "};
    for (int i = 0; i < 4; i++) EXPECT_EQ(shapes[i], Shape(s[i])) << i;
    EXPECT_EQ(5, s[0][0].value);
    EXPECT_EQ(0, s[1][0].value);
    EXPECT_EQ("0:", Shape(s[4]).substr(0, 2));
    EXPECT_EQ(2u, s[4].size());
    // Only the file that shrank is reported short.
    std::string log = ReadWholeFile(res->messages_file);
    EXPECT_NE(std::string::npos, log.find("MultiSendFile(" + home_.path("three") + "): read == 0 (3)"));
    EXPECT_EQ(std::string::npos, log.find("MultiSendFile(" + home_.path("five") + "): read == 0"));
}

TEST_F(BackupSimpleStreamsTest, TextIsCutIntoPiecesAndNullTextIsRefused) {
    std::string text(153600 * 2 + 1, 't');
    text[153600] = 'X';
    auto s = Exchange(
        [&](Sock* sock) {
            EXPECT_EQ(0, MultiSendString(sock, text.c_str(), (int)text.size()));
            EXPECT_EQ(-1, MultiSendString(sock, nullptr, 0));
            sock->FastSend();
        },
        2);
    ASSERT_EQ(2u, s.size());
    ASSERT_EQ("0:#153600 1:#153600 2:t -3: ", Shape(s[0]));
    EXPECT_EQ(text, s[0][0].data + s[0][1].data + s[0][2].data);
    EXPECT_EQ('X', s[0][1].data[0]);
    EXPECT_EQ((long long)text.size(), s[0][2].value);
    EXPECT_EQ("-1: ", Shape(s[1]));
}

// The receiver against the plain streams: an empty file announced by a
// record of value 0 is created, and the next file still arrives whole.
TEST_F(BackupSimpleStreamsTest, ReceiverCreatesAnnouncedEmptyFileAndStaysInStep) {
    WriteWholeFile(home_.path("empty"), "");
    WriteWholeFile(home_.path("data"), "plain data");
    WriteWholeFile(home_.path("out-empty"), "previous content");
    long long results[2] = {-100, -100};
    std::thread reader([&] {
        results[0] = MultiGetFile(receiver_.get(), home_.path("out-empty").c_str(), nullptr, nullptr, 1, 0);
        results[1] =
            MultiGetFile(receiver_.get(), home_.path("out|data").c_str(), nullptr, nullptr, 1, 1200000000);
    });
    MultiSendSimpleFile(sender_.get(), 0, home_.path("empty").c_str(), nullptr);
    MultiSendSimpleFile(sender_.get(), 10, home_.path("data").c_str(), nullptr);
    sender_->FastSend();
    reader.join();
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(10, results[1]);
    EXPECT_EQ("", ReadWholeFile(home_.path("out-empty")));
    EXPECT_EQ("plain data", ReadWholeFile(home_.path("out/data")));
    struct stat st;
    ASSERT_EQ(0, stat(home_.path("out/data").c_str(), &st));
    EXPECT_EQ(1200000000, st.st_mtime);
}

}  // namespace
