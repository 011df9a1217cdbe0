// Fast packets: record layout, the 4 MiB limits, keep-waiting records and
// what a reader does with a packet that lies about its records.
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "crypto/AesVetrak.h"
#include "support/TestHome.h"
#include "transport/Loopback.h"

namespace {

const int kMaxData = 4194304;

struct FastPacketTest : ::testing::Test { TestHome home; };

// packet_size: the framed packet the record came in.
struct Record { int type; std::string data; long long value; int packet_size; };

// Reads `count` records on the server side of `pair` in a thread.
std::thread ReadRecords(LoopbackPair& pair, int count, std::vector<Record>& out) {
    return std::thread([&pair, count, &out] {
        for (int i = 0; i < count; i++) {
            char* data = nullptr;
            int length = 0;
            long long value = 0;
            int type = pair.server->FastRead(data, length, value);
            out.push_back({type, type >= 0 ? std::string(data, length) : std::string(), value,
                           pair.server->fast_read_size});
        }
    });
}

// One framed packet carrying `payload` as it is.
void SendPayload(Sock& s, const std::string& payload) {
    s.acknowledge = 0;
    s.Write(payload.data(), (unsigned)payload.size(), 0, 0);
}

std::string FastHeader(const char* text) {
    std::string h = "HEADER10HEADER20HEADER30HEADER4";
    h.push_back('\0');
    memcpy(&h[0], text, strlen(text) + 1);
    return h;
}

}  // namespace

// An empty queue sends nothing; a keep-waiting record goes out at once and
// the reader skips it.
TEST_F(FastPacketTest, RecordsOfEveryKindArriveInOrderWithTheirValuesAndKeepWaitingIsSkipped) {
    LoopbackPair pair;
    EXPECT_EQ(0, pair.client->FastSend());
    EXPECT_FALSE(pair.server->IsReadable(0, 100000, true));
    std::vector<Record> got;
    std::thread reader = ReadRecords(pair, 3, got);
    pair.client->FastWrite(-9, nullptr, 0, 0);
    EXPECT_EQ(0, pair.client->fast_write_fill);  // already sent
    char a[] = "first", b[] = "second";
    pair.client->FastWrite(1, a, 5, 1234567890123LL);
    pair.client->FastWrite(-2, nullptr, 77, -5);  // no data, length still written
    pair.client->FastWrite(0, b, 6, 0);
    EXPECT_GT(pair.client->FastSend(), 0);
    reader.join();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(1, got[0].type);
    EXPECT_EQ("first", got[0].data);
    EXPECT_EQ(1234567890123LL, got[0].value);
    EXPECT_EQ(-2, got[1].type);
    EXPECT_EQ(-5, got[1].value);
    EXPECT_EQ("second", got[2].data);
    EXPECT_EQ(0, pair.client->fast_write_fill);
}

TEST_F(FastPacketTest, SizeLimits) {
    LoopbackPair pair(10);
    std::string largest(kMaxData, 'L'), three(3 << 20, '3'), two(2 << 20, '2');
    std::vector<Record> got;
    std::thread reader = ReadRecords(pair, 4, got);
    // An oversized record is refused and the open packet keeps its record.
    char small[] = "small";
    EXPECT_EQ(69, pair.client->FastWrite(1, small, 5, 0));
    std::string oversized(kMaxData + 1, 'O');
    EXPECT_EQ(-1, pair.client->FastWrite(1, &oversized[0], kMaxData + 1, 0));
    EXPECT_EQ(-1, pair.client->FastWrite(1, &oversized[0], INT_MAX - 8, 0));  // no overflow lets it in
    EXPECT_EQ(69, pair.client->FastSend());
    // The largest record fills an empty packet exactly.
    EXPECT_EQ(4194368, pair.client->FastWrite(2, &largest[0], kMaxData, 0));
    EXPECT_EQ(4194368, pair.client->FastSend());
    // Records beyond the limit together travel in two packets.
    pair.client->FastWrite(3, &three[0], (int)three.size(), 0);
    pair.client->FastWrite(2, &two[0], (int)two.size(), 0);  // flushes the first
    EXPECT_EQ(32 + 32 + (2 << 20), pair.client->fast_write_fill);
    pair.client->FastSend();
    reader.join();
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ("small", got[0].data);
    EXPECT_TRUE(got[1].type == 2 && got[1].data == largest);
    EXPECT_EQ(4194336, got[1].packet_size);
    EXPECT_EQ(32 + (3 << 20), got[2].packet_size);
    EXPECT_EQ(32 + (2 << 20), got[3].packet_size);
    EXPECT_TRUE(got[2].data == three && got[3].data == two);
}

TEST_F(FastPacketTest, PayloadAndHeaderFillerStayClearOnACipheredConnection) {
    LoopbackPair pair;
    const char* key = "00112233445566778899aabbccddeeff";
    pair.client->aes = new aes_cipher_vetrak(key);
    pair.client->acknowledge = 0;
    char data[] = "visible data";
    pair.client->FastWrite(1, data, 12, 0);
    int sent = pair.client->FastSend();
    ASSERT_EQ(32 + 32 + 12, sent);
    ASSERT_EQ(sent, pair.server->Receive(sent));
    std::string wire(pair.server->read_buffer, sent);
    std::string header = wire.substr(0, 32);
    aes_cipher_vetrak(key).decrypt(&header[0], 32);
    EXPECT_STREQ("44 44 0 0 ", header.c_str());
    EXPECT_EQ("1 12 0", std::string(wire.c_str() + 32));
    EXPECT_EQ(0, memcmp(wire.data() + 39, "HEADER10HEADER20HEADER30HEADER4" + 7, 25));  // the filler after the NUL
    EXPECT_EQ("visible data", wire.substr(64));
}

TEST_F(FastPacketTest, RecordsThatLieAboutThemselvesFailTheCheckAndRaiseIncorrectHeader) {
    Sock s(AF_INET, SOCK_STREAM, 0);
    std::string good = FastHeader("1 4 0") + "data";
    std::string whole = good + FastHeader("-2 0 0") + FastHeader("3 2 5") + "xy";
    EXPECT_TRUE(s.FastPaquetIsOK(&whole[0], (int)whole.size()));
    // sound: records read before the broken one.
    const struct { std::string packet; int sound; const char* why; } cases[] = {
        {FastHeader("1 1000 0") + "only a few bytes", 0, "data past the packet"},
        {FastHeader("1 -5 0"), 0, "negative length"},
        {FastHeader("no numbers"), 0, "unparsable"},
        {good + "1 2", 1, "header cut by the end"},
        {whole.substr(0, whole.size() - 1), 2, "data cut"},
        {whole + "12", 3, "header cut after whole records"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string copy = c.packet;
        EXPECT_FALSE(s.FastPaquetIsOK(&copy[0], (int)copy.size()));
        LoopbackPair pair;
        SendPayload(*pair.client, c.packet);
        pair.server->acknowledge = 0;
        char* data;
        int length;
        long long value;
        for (int i = 0; i < c.sound; i++) EXPECT_NE(-1, pair.server->FastRead(data, length, value));
        ExpectSocketError([&] { pair.server->FastRead(data, length, value); }, "Incorrect Header");
    }
}

// The record header's own formatter and reader must give exactly what
// snprintf and sscanf give with the same format, whatever the numbers and
// whatever a peer sends.
TEST(FastHeaderText, SameAsPrintfAndScanf) {
    const long long numbers[][3] = {{0, 0, 0},         {1, 4096, 123456789012LL}, {-3, 0, 0},
                                    {-9, -1, -7},      {INT_MAX, INT_MIN, LLONG_MAX}, {5, 3, LLONG_MIN},
                                    {100, 999999999, 1000000000000000000LL}};
    for (auto& n : numbers) {
        char ours[64], theirs[64];
        int length = Sock::FormatFastHeader(ours, sizeof(ours), "%i %i %lli", (int)n[0], (int)n[1], n[2]);
        int expected = snprintf(theirs, sizeof(theirs), "%i %i %lli", (int)n[0], (int)n[1], n[2]);
        EXPECT_EQ(expected, length);
        EXPECT_STREQ(theirs, ours);
    }
    char small[8];
    EXPECT_EQ(-1, Sock::FormatFastHeader(small, sizeof(small), "%i %i %lli", 1, 4096, 7));

    const char* texts[] = {"5 3 7",      "-3 0 0",      "0 0 0",           "1 12 0HEADER",     "010 0x1f 077",
                           "+4 5 6",     " 4 5 6",      "4  5 6",          "4\t5 6",           "-0 -0 -0",
                           "1234567890 1 1", "1 1 12345678901234567890", "2147483647 -2147483648 9223372036854775807",
                           "x 1 2",      "1 2",         "1 2 -",           "- 1 2",            "",
                           "00 1 2",     "1 2 3 4"};
    for (const char* text : texts) {
        int a = -5, b = -5, a2 = -5, b2 = -5;
        long long c = -5, c2 = -5;
        int got = Sock::ParseFastHeader(text, "%i %i %lli", a, b, c);
        int want = sscanf(text, "%i %i %lli", &a2, &b2, &c2);
        EXPECT_EQ(want, got) << text;
        if (want == 3) { EXPECT_TRUE(a == a2 && b == b2 && c == c2) << text; }
    }
}

// What FastReserve places is checked byte for byte by the file streams' round
// trips; here, the requests that must be refused.
TEST_F(FastPacketTest, ReservationsAndCommitsBeyondTheLimitsAreRefused) {
    Sock s(AF_INET, SOCK_STREAM, 0);
    char meta[] = "M_UNIX00000000.00000000.000081a4";
    s.FastWrite(0, meta, 32, 0);
    EXPECT_EQ(nullptr, s.FastReserve(kMaxData + 1));
    ASSERT_NE(nullptr, s.FastReserve(10));
    EXPECT_EQ(-1, s.FastCommit(-3, 0, 0));
    EXPECT_EQ(-1, s.FastCommit(1, kMaxData, 0));  // beyond the open packet
}
