// The plain streams (a file without metadata, a text) over a socket pair:
// record numbering, the empty file, short reads and the end records.
#include <sys/socket.h>

#include <functional>
#include <thread>

#include "core/Globals.h"
#include "dialogue/BackupStreamSupport.h"
#include "dialogue/FileStreams.h"

using namespace backup_test;

namespace {

// Runs `send` while a reader collects `files` streams (both sides must run).
std::vector<Stream> Exchange(const std::function<void(Sock*)>& send, size_t files) {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    Sock sender(AF_UNIX, SOCK_STREAM, 0, fds[0]), receiver(AF_UNIX, SOCK_STREAM, 0, fds[1]);
    sender.timeout = receiver.timeout = 10;
    sender.authenticated = receiver.authenticated = true;  // as past a handshake
    std::vector<Stream> got;
    std::thread reader([&] { while (got.size() < files) got.push_back(ReadStream(&receiver)); });
    send(&sender);
    sender.FastSend();
    reader.join();
    return got;
}

TEST(PlainStreams, FilesNumberFromZeroReportShortReadsAndTextsGoInPieces) {
    TestHome home;
    WriteWholeFile(home.path("five"), "12345");
    WriteWholeFile(home.path("empty"), "");
    WriteWholeFile(home.path("three"), "123");
    std::string text(153600 * 2 + 1, 't');
    auto s = Exchange([&](Sock* sock) {
        EXPECT_EQ(0, MultiSendSimpleFile(sock, 5, home.path("five").c_str(), nullptr));
        EXPECT_EQ(0, MultiSendSimpleFile(sock, 0, home.path("empty").c_str(), nullptr));
        EXPECT_EQ(-7, MultiSendSimpleFile(sock, 3, home.path("absent").c_str(), nullptr));
        EXPECT_EQ(0, MultiSendSimpleFile(sock, 5, home.path("absent").c_str(), home.path("five").c_str()));
        EXPECT_EQ(0, MultiSendSimpleFile(sock, 8, home.path("three").c_str(), nullptr));  // shrank
        EXPECT_EQ(0, MultiSendString(sock, text.c_str(), (int)text.size()));
        EXPECT_EQ(-1, MultiSendString(sock, nullptr, 0));
    }, 7);
    const char* shapes[] = {"0:12345 -3: ", "0: -3: ", "-2: ", "0:12345 -3: ", "0:123 -3: ",
                            "0:#153600 1:#153600 2:t -3: ", "-1: "};
    ASSERT_EQ(7u, s.size());
    for (int i = 0; i < 7; i++) EXPECT_EQ(shapes[i], Shape(s[i])) << i;
    EXPECT_EQ(5, s[0][0].value);
    EXPECT_EQ(0, s[1][0].value);
    EXPECT_EQ((long long)text.size(), s[5][2].value);
    std::string log = ReadWholeFile(res->messages_file);  // only the file that shrank is short
    EXPECT_NE(std::string::npos, log.find("MultiSendFile(" + home.path("three") + "): read == 0 (3)"));
    EXPECT_EQ(std::string::npos, log.find("MultiSendFile(" + home.path("five") + "): read == 0"));
}

}  // namespace
