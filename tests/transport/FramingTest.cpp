// Framed packets between two Socks over loopback: what travels on the wire,
// acknowledgements, ciphers, and what a malformed peer gets.
#include <string.h>

#include <thread>

#include "crypto/AesVetrak.h"
#include "support/TestHome.h"
#include "transport/Loopback.h"

namespace {

const char* const kKey = "000102030405060708090a0b0c0d0e0f";

struct FramingTest : ::testing::Test { TestHome home; };

// Sends raw bytes, bypassing the framing.
void RawSend(Sock& s, const std::string& bytes) {
    s.SetWriteBuffer(bytes.data(), (int)bytes.size());
    s.Send((int)bytes.size());
}

std::string Header(const char* text) {
    std::string h(32, '\0');
    memcpy(&h[0], text, strlen(text));
    return h;
}

}  // namespace

TEST_F(FramingTest, PayloadsCrossIntactWithAndWithoutCipherAndAcknowledge) {
    struct Mode { bool cipher; int acknowledge; unsigned encrypt; };
    const Mode modes[] = {{false, 1, 1}, {false, 0, 0}, {true, 1, 1}, {true, 1, 0}, {true, 0, 1}};
    std::string big(1500000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 7 + 3);
    for (const Mode& m : modes) {
        SCOPED_TRACE(testing::Message()
                     << "cipher " << m.cipher << " ack " << m.acknowledge << " enc " << m.encrypt);
        LoopbackPair pair;
        pair.client->acknowledge = pair.server->acknowledge = m.acknowledge;
        if (m.cipher) {
            pair.client->aes = new aes_cipher_vetrak(kKey);
            pair.server->aes = new aes_cipher_vetrak(kKey);
        }
        std::string got_text, got_big;
        unsigned got_length = 0;
        std::thread reader([&] {
            pair.server->Read();
            got_text = pair.server->read_buffer;
            got_length = pair.server->Read();
            got_big.assign(pair.server->read_buffer, got_length);
        });
        EXPECT_EQ(20u, pair.client->Write("twenty bytes payload", 0, 0, m.encrypt));
        EXPECT_EQ((unsigned)big.size(), pair.client->Write(big.data(), (unsigned)big.size(), 0, m.encrypt));
        reader.join();
        EXPECT_EQ("twenty bytes payload", got_text);
        EXPECT_EQ(big.size(), got_length);
        EXPECT_TRUE(got_big == big);
    }
}

TEST_F(FramingTest, CipherEncryptsHeaderAndWholeBlocksButLeavesTheTailClear) {
    LoopbackPair pair;
    pair.client->acknowledge = 0;
    pair.client->aes = new aes_cipher_vetrak(kKey);
    const char* payload = "0123456789abcdefWXYZ";  // 20 bytes
    pair.client->Write(payload, 20, 0, 1);
    ASSERT_EQ(52, pair.server->Receive(52));
    std::string wire(pair.server->read_buffer, 52);

    aes_cipher_vetrak cipher(kKey);
    std::string header = wire.substr(0, 32);
    cipher.decrypt(&header[0], 32);
    EXPECT_STREQ("20 20 0 1 ", header.c_str());
    std::string first(payload, 16);
    cipher.encrypt(&first[0], 16);
    EXPECT_EQ(first, wire.substr(32, 16));
    EXPECT_NE(std::string(payload, 16), wire.substr(32, 16));
    EXPECT_EQ("WXYZ", wire.substr(48, 4));
}

TEST_F(FramingTest, EmptyTextSendsHeaderOnlyAndFormattedTextIsCutAt409) {
    LoopbackPair pair;
    pair.client->acknowledge = pair.server->acknowledge = 0;
    pair.client->Write("", 0, 0, 1);
    pair.client->Write("next", 0, 0, 1);
    ASSERT_EQ(32, pair.server->Receive(32));
    EXPECT_STREQ("0 0 0 1 ", pair.server->read_buffer);
    EXPECT_EQ(4u, pair.server->Read());
    EXPECT_STREQ("next", pair.server->read_buffer);

    // And through Read itself.
    pair.client->FormatWrite("%s", "");
    pair.client->Write(42);
    EXPECT_EQ(0u, pair.server->Read());
    EXPECT_STREQ("", pair.server->read_buffer);
    EXPECT_EQ(2u, pair.server->Read());
    EXPECT_STREQ("42", pair.server->read_buffer);
    // A formatted text is cut at 409 characters.
    EXPECT_EQ(409u, pair.client->FormatWrite("%s", std::string(600, 'x').c_str()));
    EXPECT_EQ(409u, pair.server->Read());
}

TEST_F(FramingTest, ReaderAnswersWithFooterAndToleratesANonZeroThirdField) {
    LoopbackPair pair;
    RawSend(*pair.client, Header("5 5 7 0 ") + "hello");
    EXPECT_EQ(5u, pair.server->Read());
    EXPECT_STREQ("hello", pair.server->read_buffer);
    ASSERT_EQ(32, pair.client->Receive(32));
    EXPECT_EQ(Header("5 5 0 0 "), std::string(pair.client->read_buffer, 32));
}


TEST_F(FramingTest, WriteWaitsForTheFooterAndTimesOutWithoutIt) {
    LoopbackPair pair(1);
    // The peer takes the packet but never answers.
    ExpectSocketError([&] { pair.client->Write("hello", 0, 0, 1); }, "Connection timed out");
    EXPECT_TRUE(pair.client->dead);
    ExpectSocketError([&] { pair.client->Write("again", 0, 0, 1); }, "Dead Socket");
    pair.client->CloseConnection();  // a dead socket sends nothing
    ASSERT_EQ(37, pair.server->Receive(37));
    EXPECT_FALSE(pair.server->IsReadable(0, 100000, true));
}

// Read by a peer that has not yet completed the handshake.
TEST_F(FramingTest, MalformedHeadersAndCutPacketsRaiseTheirErrorWithoutAllocatingFromThem) {
    // close: the peer hangs up after sending
    const struct { std::string bytes; bool close; const char* error; } cases[] = {
        {Header("hello world, no numbers here"), false, "incorrect header"},
        {Header("1 2 3"), false, "incorrect header"},                       // too few fields
        {Header("100000000 100000000 0 0 "), false, "incorrect header"},    // 100 MB announced
        {Header("102400 102400 0 0 "), false, "incorrect header"},          // 100 KiB: over the limit
        {Header("4294967295 4294967295 0 0 "), false, "incorrect header"},  // largest unsigned
        {Header("50 10 0 0 "), false, "incorrect header"},                  // length past the payload
        {"12 12", true, "Connection Closed"},                                // short header
        {Header("100 100 0 0 ") + "only ten b", true, "Connection Closed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.c_str());
        LoopbackPair pair(5, false);
        RawSend(*pair.client, c.bytes);
        if (c.close) pair.client->Close();
        ExpectSocketError([&] { pair.server->Read(); }, c.error);
        EXPECT_LT(pair.server->read_buffer_size, 1 << 20);
        if (c.close) { EXPECT_TRUE(pair.server->dead); }
    }
}

TEST_F(FramingTest, SendToAClosedPeerThrowsInsteadOfKillingTheProcess) {
    LoopbackPair pair;
    pair.server->Close();
    std::string big(4 << 20, 'z');
    pair.client->acknowledge = 0;
    try {
        for (int i = 0; i < 20; i++) pair.client->Write(big.data(), (unsigned)big.size(), 0, 0);
        ADD_FAILURE() << "no SocketError";
    } catch (SocketError&) {
        ReleaseSocketError();
    }
    EXPECT_TRUE(pair.client->dead);
}


TEST_F(FramingTest, PayloadNoReaderWouldAcceptIsRefusedBeforeAnythingIsSent) {
    LoopbackPair pair;
    char small[] = "x";
    ExpectSocketError([&] { pair.client->Write(small, Sock::kMaxPacketBytes + 1, 0, 0); }, "Message too long (90)");
    EXPECT_FALSE(pair.client->dead);
    EXPECT_FALSE(pair.server->IsReadable(0, 100000, true));
}

// After the handshake a packet far beyond a fast packet (a "send_fast" list
// of a million paths) crosses whole, its buffer growing as the bytes come; a
// header alone reserves nothing. The encrypt flag travels as given and the
// footer repeats it.
TEST_F(FramingTest, LargePacketsAfterTheHandshakeAndFlagsPassedThrough) {
    LoopbackPair pair(30);
    const std::string big = RandomBytes(100u << 20, 5);
    std::string got;
    std::thread reader([&] {
        unsigned n = pair.server->Read();
        got.assign(pair.server->read_buffer, n);
    });
    pair.client->Write(big.data(), (unsigned)big.size(), 0, 0);
    reader.join();
    EXPECT_TRUE(got == big);

    LoopbackPair cut;
    RawSend(*cut.client, Header("2000000000 2000000000 0 0 ") + "a few bytes");
    cut.client->Close();
    ExpectSocketError([&] { cut.server->Read(); }, "Connection Closed");
    EXPECT_LT(cut.server->read_buffer_size, 5 << 20);  // one receive's worth, not the announced size

    std::thread echo([&] { pair.server->Read(); });
    pair.client->Write("flag two", 0, 0, 2);
    echo.join();
    EXPECT_STREQ("flag two", pair.server->read_buffer);
    EXPECT_STREQ("8 8 0 2 ", pair.client->read_buffer);  // the footer
}

