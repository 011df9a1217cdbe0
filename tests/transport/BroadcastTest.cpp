// Raw IPv4 discovery datagrams as a raw socket would deliver them, fed
// through the parser and through ReadBroadcast over a datagram socket pair.
// (The announcement as it leaves is checked against the daemon.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/TestHome.h"
#include "transport/Broadcast.h"
#include "transport/Sock.h"

namespace {

// An IPv4 + UDP datagram from 10.1.2.3 to 10.9.8.7 of `total` bytes whose
// UDP header names `port` and claims `udp_length`; the payload is `text`,
// then zero padding.
std::string CraftDatagram(int port, int udp_length, const std::string& text, size_t total) {
    std::string d(total, '\0');
    d.replace(12, 8, "\x0a\x01\x02\x03\x0a\x09\x08\x07", 8);  // 10.1.2.3 to 10.9.8.7
    const char udp[] = {(char)(port >> 8), (char)port, (char)(udp_length >> 8), (char)udp_length};
    d.replace(22, 4, udp, 4);
    d.replace(28, std::min(text.size(), total - 28), text.substr(0, total - 28));
    return d;
}

TEST(BroadcastParseTest, RawDatagramsGiveTheirPayloadOnlyWhenTheLengthsAgree) {
    const std::string payload32(32, 'p');
    // count: returned; delivered: start of the buffer afterwards (when moved).
    const struct { const char* what; std::string datagram; int count; std::string delivered; } cases[] = {
        {"28 bytes: header only, ignored", CraftDatagram(9999, 8, "", 28), 0, ""},
        {"shorter still, ignored", std::string(20, 'x'), 0, ""},
        {"60 bytes, UDP length 40", CraftDatagram(9999, 40, payload32, 60), 32, payload32},
        {"46-byte padded frame with 6 bytes", CraftDatagram(9999, 14, "client", 46), 6, "client"},
        {"46-byte frame claiming 18 bytes", CraftDatagram(9999, 26, std::string(18, 'q'), 46), 18,
         std::string(18, 'q')},
        // More payload than the frame holds: the bytes never arrived.
        {"46-byte frame claiming 30 bytes", CraftDatagram(9999, 38, "client", 46), 46, ""},
        {"UDP length disagrees", CraftDatagram(9999, 20, "client", 60), 60, ""},
        {"UDP length below its header", CraftDatagram(9999, 4, "client", 40), 40, ""},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(c.datagram.begin(), c.datagram.end());
        buffer.push_back('\x7f');
        RawDatagram d;
        int count = ParseRawDatagram(buffer.data(), (int)c.datagram.size(), &d);
        EXPECT_EQ(c.count, count) << c.what;
        if (count == 0) continue;
        EXPECT_EQ("10.1.2.3>10.9.8.7:9999",
                  std::string(d.source) + ">" + d.destination + ":" + std::to_string(d.destination_port)) << c.what;
        // Moved to the buffer's start, or left as received.
        const std::string expected = c.delivered.empty() ? c.datagram : c.delivered + '\0';
        EXPECT_EQ(expected, std::string(buffer.data(), expected.size())) << c.what;
    }
}

TEST(BroadcastReadTest, SkipsOtherPortsAndShortDatagramsThenTakesTheSourceAsPeer) {
    TestHome home;
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, pair));
    Sock reader(AF_INET, SOCK_DGRAM, 0, pair[0]);
    const std::string queued[] = {CraftDatagram(4242, 14, "client", 46), CraftDatagram(9999, 8, "", 28),
                                  CraftDatagram(9999, 40, std::string(32, 'z'), 60)};
    for (const std::string& d : queued) ASSERT_EQ((ssize_t)d.size(), send(pair[1], d.data(), d.size(), 0));
    EXPECT_EQ(32, reader.ReadBroadcast(9999));
    EXPECT_EQ(std::string(32, 'z'), reader.read_buffer);
    EXPECT_STREQ("10.1.2.3", reader.ip);
    close(pair[1]);
}

}  // namespace
