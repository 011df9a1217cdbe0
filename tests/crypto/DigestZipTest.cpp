// MD5 (functions, object, files), CRC-32 and gzip file compression.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <functional>

#include "crypto/Container.h"
#include "crypto/Crc32.h"
#include "crypto/Md5.h"
#include "crypto/Zip.h"
#include "foundation/Commands.h"
#include "foundation/FileOps.h"
#include "support/TestHome.h"

static std::string Hex(MD5& m) { char out[33]; m.GetHash(out); return out; }
struct DigestFileTest : ::testing::Test { TempDir dir; };

TEST(Md5Test, RfcSuite) {
    struct { const char* text; const char* digest; } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto& c : suite) {
        unsigned char sig[16];
        md5_buffer(c.text, (unsigned)strlen(c.text), sig);
        char out[33];
        md5_sig_to_string(sig, out, sizeof(out));
        EXPECT_STREQ(c.digest, out) << c.text;
        MD5 m;
        m.HashString(c.text, 0);
        EXPECT_EQ(c.digest, Hex(m));
    }
}

TEST(Md5Test, PiecewiseFeedingGivesTheOneShotDigestAtEveryBlockBoundary) {
    std::string data = RandomBytes(1000, 7);
    for (size_t total : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string expected = Md5Text(data.substr(0, total));
        for (size_t piece : {1u, 7u, 63u, 64u, 65u, 130u}) {
            MD5 m;
            for (size_t at = 0; at < total; at += piece)
                m.Process(data.data() + at, (int)std::min(piece, total - at));
            EXPECT_EQ(expected, Hex(m)) << total << "/" << piece;
        }
    }
}

// 2^29 bytes and more carry into the high word of the bit length: the
// digest was taken from "yes zelagent | head -c 536870917 | md5sum".
TEST(Md5Test, HalfAGigabyteCarriesIntoTheLengthsHighWord) {
    std::string chunk;
    while (chunk.size() < (1u << 20)) chunk += "zelagent\n";  // whole lines: pieces continue the text
    const size_t total = (1u << 29) + 5;
    MD5 m;
    for (size_t at = 0; at < total; at += chunk.size())
        m.Process(chunk.data(), (int)std::min(chunk.size(), total - at));
    EXPECT_EQ("d22d5aa92e1dedb4cbea005d0345c937", Hex(m));
}

TEST(Md5Test, SignatureTextIsBoundedByItsSize) {
    unsigned char sig[16];
    md5_buffer("abc", 3, sig);
    char text[40];
    memset(text, 'X', sizeof(text));
    md5_sig_to_string(sig, text, 5);  // two pairs, then a NUL
    EXPECT_EQ(std::string("9001") + '\0', std::string(text, 5));
    EXPECT_EQ('X', text[5]);
    memset(text, 'X', sizeof(text));
    md5_sig_to_string(sig, text, 32);  // all 16 pairs, no room for a NUL
    EXPECT_EQ('X', text[32]);
    unsigned char back[16];
    md5_sig_from_string(back, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(0, memcmp(sig, back, 16));
    md5_sig_from_string(back, "9001");  // short: zeroed, nothing read beyond
    unsigned char zero[16] = {0};
    EXPECT_EQ(0, memcmp(zero, back, 16));
}

TEST(Crc32Test, CheckValueAndEmptyInput) {
    char digits[] = "123456789";
    EXPECT_EQ((int)0xCBF43926u, ltree_crc32_sz(digits, 9));
    EXPECT_EQ(0, ltree_crc32_sz(digits, 0));
    std::string data = RandomBytes(5000, 7);
    EXPECT_EQ((int)crc32(0, (const Bytef*)data.data(), (uInt)data.size()), ltree_crc32_sz(&data[0], 5000));
}

TEST_F(DigestFileTest, FileDigestsMatchTheBytesOfFilesPrefixesAndNumberedParts) {
    std::string block = RandomBytes(10240, 7), longer = RandomBytes(20000, 7), b = "second part";
    WriteWholeFile(dir + "/block", block);
    WriteWholeFile(dir + "/longer", longer);
    WriteWholeFile(dir + "/x/000", longer);
    WriteWholeFile(dir + "/x/001", b);
    const struct { const char* file; int limit /* 0: whole file */, result; std::string bytes; } cases[] = {
        {"/block", 0, 0, block}, {"/longer", 15000, 0, longer.substr(0, 15000)},
        {"/block", 99999, 0, block},  // a limit beyond the end stops at the end
        {"/x", 0, -1, longer + b},    // a split file: its parts in order
    };
    for (const auto& c : cases) {
        MD5 m;
        std::string path = dir + c.file;
        EXPECT_EQ(c.result, c.limit ? m.PartialHashFile(path.c_str(), c.limit) : m.HashFile(path.c_str()));
        EXPECT_EQ(Md5Text(c.bytes), Hex(m)) << c.file << " " << c.limit;
    }
    MD5 missing;
    EXPECT_EQ(-1, missing.HashFile((dir + "/none").c_str()));
    EXPECT_EQ(-1, missing.PartialHashFile((dir + "/none").c_str(), 10));
}

TEST_F(DigestFileTest, CompressionRefusalsAndFailuresLeaveNoDamage) {
    char path[512];
    auto at = [&](const char* name) { return snprintf(path, sizeof(path), "%s/%s", dir.c_str(), name), path; };
    // An encrypted container is neither compressed nor decompressed.
    WriteWholeFile(dir + "/enc", "aes 0 ...");
    EXPECT_FALSE(Zip(at("enc"), true));
    EXPECT_FALSE(DeZip(path, true));
    EXPECT_EQ("aes 0 ...", ReadWholeFile(dir + "/enc"));
    EXPECT_FALSE(Zip(at("none"), false));  // a missing source
    EXPECT_FALSE(DeZip(path, false));
    // Plain text is copied as it is.
    WriteWholeFile(dir + "/plain.gz", "not compressed");
    EXPECT_TRUE(DeZip(at("plain.gz"), false));
    EXPECT_EQ("not compressed", ReadWholeFile(dir + "/plain"));
    // A cut gzip stream fails and leaves the old target as it was, with
    // nothing temporary beside it.
    WriteWholeFile(dir + "/b", RandomBytes(200000, 7));
    ASSERT_TRUE(Zip(at("b"), true));
    std::string gz = ReadWholeFile(path);
    WriteWholeFile(path, gz.substr(0, gz.size() / 2));
    WriteWholeFile(dir + "/b", "previous");
    EXPECT_FALSE(DeZip(path, false));
    EXPECT_EQ("previous", ReadWholeFile(dir + "/b"));
    gz[gz.size() / 2] ^= 0x55;  // whole but damaged: its check fails
    WriteWholeFile(at("b.gz"), gz);
    EXPECT_FALSE(DeZip(path, false));
    EXPECT_EQ("previous", ReadWholeFile(dir + "/b"));
    EXPECT_FALSE(HasTemporaryLeftovers(dir));
}

TEST_F(DigestFileTest, WritersAimedAtADeviceWriteIntoItAndNeverReplaceIt) {
    const std::string null = dir + "/null", full = dir + "/full";
    if (!MakeMemoryDevice(null, false) || !MakeMemoryDevice(full, true)) GTEST_SKIP() << "no device nodes here";
    const char* const key = "7d41c9e2b05a36f8e1c4d7a2905b3e6f";
    const std::string source = dir + "/source", packed = source + ".gz", container = source + ".aes";
    WriteWholeFile(source, RandomBytes(100000, 3));
    ASSERT_TRUE(ZipFile(source.c_str(), packed.c_str()));
    ASSERT_TRUE(CryptAESTo(source.c_str(), container.c_str(), key, false, nullptr, nullptr));
    struct { const char* name; std::function<bool(const char*)> write; } writers[] = {
        {"Copy", [&](const char* to) { return Copy(source.c_str(), to); }},
        {"CopyRegularFile", [&](const char* to) { return CopyRegularFile(source.c_str(), to); }},
        {"ZipFile", [&](const char* to) { return ZipFile(source.c_str(), to); }},
        {"DeZipFile", [&](const char* to) { return DeZipFile(packed.c_str(), to); }},
        {"CryptAESTo", [&](const char* to) { return CryptAESTo(source.c_str(), to, key, false, nullptr, nullptr); }},
        {"DecryptAES", [&](const char* to) { return DecryptAES(container.c_str(), to, key, false); }},
    };
    for (auto& w : writers) {
        EXPECT_TRUE(w.write(null.c_str())) << w.name;
        EXPECT_FALSE(w.write(full.c_str())) << w.name;  // the full device's error is reported
        EXPECT_TRUE(IsCharDevice(null) && IsCharDevice(full)) << w.name;
    }
    EXPECT_FALSE(HasTemporaryLeftovers(dir));
}
