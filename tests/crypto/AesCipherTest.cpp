// Both AES implementations against the FIPS-197 examples; the processor's
// AES instructions against the table code.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>

#include "crypto/Aes.h"
#include "crypto/AesHardware.h"
#include "crypto/AesVetrak.h"

namespace {

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((char)std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

const char* const kPlain = "00112233445566778899aabbccddeeff";

struct Vector { int bits; const char* key; const char* cipher; };

// FIPS-197 Appendix C.1, C.2, C.3.
const Vector kVectors[] = {
    {128, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {192, "000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "8ea2b7ca516745bfeafc49904b496089"},
};

}  // namespace

TEST(AesCipherTest, FunctionsAndBothClassesMatchTheStandardInBothDirections) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.bits);
        aes_context ctx;
        std::string key = FromHex(v.key);
        ASSERT_EQ(0, aes_set_key(&ctx, (unsigned char*)&key[0], v.bits));
        std::string block = FromHex(kPlain);
        aes_encrypt(&ctx, (unsigned char*)&block[0]);
        EXPECT_EQ(FromHex(v.cipher), block);
        aes_decrypt(&ctx, (unsigned char*)&block[0]);
        EXPECT_EQ(FromHex(kPlain), block);
    }
    aes_context ctx;
    unsigned char key[32] = {0};
    EXPECT_EQ(1, aes_set_key(&ctx, key, 64));
    EXPECT_EQ(1, aes_set_key(&ctx, key, 129));

    // The classes take AES-128 keys as text, in either case.
    auto standard = [](auto&& c) {
        std::string block = FromHex(kPlain);
        c.encrypt(&block[0], 16);
        EXPECT_EQ(FromHex(kVectors[0].cipher), block);
        c.decrypt(&block[0], 16);
        EXPECT_EQ(FromHex(kPlain), block);
    };
    standard(aes_cipher_vetrak(kVectors[0].key));
    standard(aes_cipher_vetrak("000102030405060708090A0B0C0D0E0F"));
    standard(aes_cipher(kVectors[0].key));
}

// Every key size through AesHardware, then both classes with their switch:
// random keys (the standard's first) and buffers one byte off alignment,
// lengths around the eight- and four-block groups, partial tails, and a
// negative length; each path decrypts what the other encrypted.
TEST(AesCipherTest, HardwareAndTablePathsGiveTheSameBytes) {
    if (!AesHardwareAvailable()) {
        GTEST_SKIP() << "no AES instructions on this processor";
    }
    std::mt19937 random(20240611);
    std::string data(1 + 29 * 16 + 3, '\0');
    for (char& c : data) c = (char)random();
    memcpy(&data[1], FromHex(kPlain).data(), 16);
    for (const Vector& v : kVectors) {
        for (int trial = 0; trial < 3; trial++) {
            std::string key = FromHex(v.key);
            for (char& c : key) c = trial ? (char)random() : c;
            aes_context ctx;
            aes_set_key(&ctx, (unsigned char*)&key[0], v.bits);
            AesHardware hw;
            hw.SetKey(ctx);
            for (int blocks : {1, 3, 4, 5, 8, 9, 12, 15, 29}) {
                std::string table = data, ours = data;
                for (int i = 0; i < blocks; i++) aes_encrypt(&ctx, (unsigned char*)&table[1 + 16 * i]);
                hw.Encrypt((unsigned char*)&ours[1], blocks);
                ASSERT_EQ(table, ours) << v.bits << " bits, " << blocks << " blocks, trial " << trial;
                if (trial == 0) { EXPECT_EQ(FromHex(v.cipher), ours.substr(1, 16)); }
                for (int i = 0; i < blocks; i++) aes_decrypt(&ctx, (unsigned char*)&ours[1 + 16 * i]);
                hw.Decrypt((unsigned char*)&table[1], blocks);
                ASSERT_TRUE(table == data && ours == data) << v.bits << " bits, " << blocks << " blocks";
            }
        }
    }
    auto both = [&](auto& cipher) {
        for (int length : {-16, 0, 15, 16, 17, 48, 65, 112, 128, 159, 192, 256, 467}) {
            std::string a = data, b = data;
            cipher.hardware = true;
            cipher.encrypt(&a[1], length);
            cipher.hardware = false;
            cipher.encrypt(&b[1], length);
            ASSERT_EQ(b, a) << length;
            cipher.decrypt(&a[1], length);
            cipher.hardware = true;
            cipher.decrypt(&b[1], length);
            ASSERT_TRUE(a == data && b == data) << length;
        }
    };
    for (int trial = 0; trial < 3; trial++) {
        std::string key = kVectors[0].key;
        for (char& c : key) c = trial ? "0123456789abcdef"[random() % 16] : c;
        aes_cipher_vetrak fast(key.c_str());
        aes_cipher readable(key.c_str());
        both(fast);
        both(readable);
    }
}

TEST(AesCipherTest, EnvironmentKeepsTheTableCode) {
    const char* key = kVectors[0].key;
    setenv("ZELAGENT_AES", "table", 1);
    aes_cipher_vetrak fast(key);
    aes_cipher readable(key);
    unsetenv("ZELAGENT_AES");
    EXPECT_FALSE(fast.hardware);
    EXPECT_FALSE(readable.hardware);
    // Callers check keys first; a short one still must not overrun.
    std::string block = FromHex(kPlain);
    aes_cipher_vetrak("0001").encrypt(&block[0], 16);
    aes_cipher("0001").decrypt(&block[0], 16);
    EXPECT_EQ(FromHex(kPlain), block);
}

TEST(AesCipherTest, KeyTextValidityAndShortKeysNotReadPastTheirEnd) {
    struct Case { const char* key; bool valid; } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", true}, {"000102030405060708090A0B0C0D0E0F", true},
        {"000102030405060708090a0b0c0d0e0", false},    // 31
        {"000102030405060708090a0b0c0d0e0f0", false},  // 33
        {"000102030405060708090a0b0c0d0e0g", false},   // not hexadecimal
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.valid, IsValidAesKey(c.key, 1)) << c.key;
        EXPECT_EQ(c.valid, IsValidAesKey(c.key, 0)) << c.key;
    }
    EXPECT_FALSE(IsValidAesKey(nullptr, 1));
}
