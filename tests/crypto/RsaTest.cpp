#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "crypto/Rsa.h"

namespace {

// The pair derived from "pc12", recorded once: the server derives the same
// pair from the same name, so any change here breaks every anonymous login.
const char* const kPc12E =
    "46f8860af796497572ae25ae2641591beb527e0143fa487a425b1a71e1b055fa8f31026f082d5f4032560cada48c8877df99"
    "0df0bb0478aff94a253b8b90cc95";
const char* const kPc12N =
    "5cfcbeefebedcd85b92e928a2dd576121f2de111d11776e126ffadc9561dc6e122817cc6b2b32f83fb3cab4cefadad4d7f17"
    "b9746eb1bb161eb163ea2d08eb2ae422faf3ad95ce327aab951de50b9c7533f3f69fa8f8ae2b5d318f07c119372273c256cc"
    "9cd4a4d1f47cf7e65e5fbabc0d1cd482a916290d2b9394952751325d";
const char* const kPc12D =
    "12a500fd6bbf5d351e936badd3524ef714caa630e093152bb2a37ea41e037f0383e5aa3b743be59c85ba97d26b32deb11086"
    "56ddf18d39cdd87dc4ab6560da42b970957054204b91960796ee92ff48f735a17283490d7ec6055f93969083eefa9b19385f"
    "f60a09b9bada8dbd836317164c81f491b1e2c02909269d15e042044d";

void SetKey(RSAKey& key, const char* e, const char* n) {
    ASSERT_TRUE(key.SetExponent(e));
    ASSERT_TRUE(key.SetModulo(n));
}

// Runs the text form on a copy of `text` in a buffer of `size` bytes.
struct CryptResult {
    bool ok;
    std::string text;
};
CryptResult CryptText(const char* text, RSAKey& key, size_t size = 2049) {
    std::string buffer(size, '\0');
    snprintf(&buffer[0], size, "%s", text);
    bool ok = RSACrypt(&buffer[0], size, &key);
    return {ok, buffer.c_str()};
}

}  // namespace

TEST(RsaCryptFaults, RefusalsLeaveTheTextUnchangedAndNeverCrash) {
    struct Case {
        const char* what;
        const char* exponent;  // null: key never loaded
        const char* modulo;
        const char* text;
        bool ok;
        const char* expected;
    };
    const Case cases[] = {
        {"message equal to the modulus yields 0", "3", "ff", "ff", true, "0"},
        {"message one above the modulus is refused", "3", "ff", "100", false, "100"},
        {"small message is raised", "3", "ff", "2", true, "8"},
        {"unloaded key refuses a non-zero text", nullptr, nullptr, "1234", false, "1234"},
        {"unloaded key refuses zero (no division by 0)", nullptr, nullptr, "0", false, "0"},
        {"a text that is not hexadecimal is refused", "3", "ff", "12 x", false, "12 x"},
        {"a signed text is refused", "3", "ff", "-5", false, "-5"},
        {"an empty text is refused", "3", "ff", "", false, ""},
    };
    for (const Case& c : cases) {
        RSAKey key;
        if (c.exponent) SetKey(key, c.exponent, c.modulo);
        CryptResult r = CryptText(c.text, key);
        EXPECT_EQ(r.ok, c.ok) << c.what;
        EXPECT_EQ(r.text, c.expected) << c.what;
    }
}

TEST(RsaCryptFaults, HostileKeysNeitherOverrunNorDivideByZero) {
    // A key file may carry any modulus: a 300-digit result must not be
    // written into a 120-byte buffer.
    RSAKey cube;
    SetKey(cube, "3", std::string(300, 'f').c_str());
    std::string message(100, 'e');
    char buffer[120];
    snprintf(buffer, sizeof(buffer), "%s", message.c_str());
    EXPECT_FALSE(RSACrypt(buffer, sizeof(buffer), &cube));
    EXPECT_EQ(std::string(buffer), message);
    EXPECT_TRUE(CryptText(message.c_str(), cube, 302).ok);

    // A negative exponent makes GMP invert, and 2 has no inverse mod 16.
    RSAKey negative;
    EXPECT_FALSE(negative.SetExponent("-3"));  // not key text
    mpz_t minus;
    mpz_init_set_si(minus, -3);
    negative.SetExponent(minus);
    mpz_clear(minus);
    ASSERT_TRUE(negative.SetModulo("10"));
    EXPECT_FALSE(CryptText("2", negative).ok);

    // Key texts: bounded output, no blanks skipped.
    char out[4];
    EXPECT_FALSE(cube.GetModulo(out, sizeof(out)));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(cube.SetModulo("12 34"));
    EXPECT_EQ(cube.GetModuloSize(16), 300u);
}

TEST(PasswordKeyDerivation, SameTextSamePairOtherTextOtherPairHalvesInvert) {
    ClearPasswordKeyCache();
    RSAKey e1, d1, e2, d2;
    GeneratePasswordKey(&e1, &d1, "pc12");
    GeneratePasswordKey(&e2, &d2, "pc12");  // from the cache
    EXPECT_EQ(e1.ExponentText(), kPc12E);
    EXPECT_EQ(e1.ModuloText(), kPc12N);
    EXPECT_EQ(d1.ExponentText(), kPc12D);
    EXPECT_EQ(d1.ModuloText(), kPc12N);
    EXPECT_EQ(e2.ExponentText(), e1.ExponentText());
    EXPECT_EQ(d2.ExponentText(), d1.ExponentText());
    RSAKey ue, ud;
    GeneratePasswordKeyUncached(&ue, &ud, "pc12");
    EXPECT_EQ(ue.ExponentText(), kPc12E);
    EXPECT_EQ(ud.ExponentText(), kPc12D);

    for (const char* m : {"1", "2", "12345", "deadbeefcafe", "5cfcbeefebedcd85b92e928a2dd57612"}) {
        CryptResult c = CryptText(m, e1);
        ASSERT_TRUE(c.ok);
        CryptResult back = CryptText(c.text.c_str(), d1);
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.text, m);
    }
    RSAKey other, otherD;
    GeneratePasswordKey(&other, &otherD, "anonymous");
    EXPECT_NE(other.ModuloText(), e1.ModuloText());
    EXPECT_NE(other.ExponentText(), e1.ExponentText());
}
