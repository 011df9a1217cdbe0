#include <gtest/gtest.h>

#include <string>
#include <vector>

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
struct CryptResult { bool ok; std::string text; };
CryptResult CryptText(const char* text, RSAKey& key, size_t size = 2049) {
    std::string buffer(size, '\0');
    snprintf(&buffer[0], size, "%s", text);
    bool ok = RSACrypt(&buffer[0], size, &key);
    return {ok, buffer.c_str()};
}

}  // namespace

TEST(RsaCryptFaults, RefusalsLeaveTheTextUnchangedAndNeverCrash) {
    // exponent null: the key is never loaded.
    struct Case { const char* what; const char *exponent, *modulo, *text; bool ok; const char* expected; };
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
    RSAKey e1, d1, e2, d2, ue, ud, other, otherD;
    GeneratePasswordKey(&e1, &d1, "pc12");
    GeneratePasswordKey(&e2, &d2, "pc12");  // from the cache
    GeneratePasswordKeyUncached(&ue, &ud, "pc12");
    for (RSAKey* k : {&e1, &e2, &ue, &d1, &d2, &ud})
        EXPECT_EQ(k->ExponentText() + " " + k->ModuloText(),
                  std::string(k == &e1 || k == &e2 || k == &ue ? kPc12E : kPc12D) + " " + kPc12N);
    for (const char* m : {"1", "2", "12345", "deadbeefcafe", "5cfcbeefebedcd85b92e928a2dd57612"}) {
        CryptResult c = CryptText(m, e1);
        ASSERT_TRUE(c.ok);
        EXPECT_EQ(CryptText(c.text.c_str(), d1).text, m);
    }
    GeneratePasswordKey(&other, &otherD, "anonymous");
    EXPECT_NE(other.ModuloText(), e1.ModuloText());
    EXPECT_NE(other.ExponentText(), e1.ExponentText());
}

// The factored form (name-derived keys, and any key given p and q) must give
// the plain exponentiation's result for every message the key accepts,
// including those sharing a factor with the modulus, 0 and the modulus.
TEST(RsaFactoredForm, SameResultsAsThePlainExponentiation) {
    mpz_t p, q, n, phi, e, d, m, plain, fast, shared;
    mpz_inits(p, q, n, phi, e, d, m, plain, fast, shared, nullptr);
    mpz_set_str(p, "e1c3a5f7b9d2e4c6a8b0d2f4e6c8a0b2d4f6e8c0a2b4d6f8e0c2a4b6d8f0e2c5", 16);
    mpz_nextprime(p, p);
    mpz_set_str(q, "c9d7b5a3f1e2d4c6b8a0f2e4d6c8b0a2f4e6d8c0b2a4f6e8d0c2b4a6f8e0d2c7", 16);
    mpz_nextprime(q, q);
    mpz_mul(n, p, q);
    mpz_sub_ui(phi, p, 1);
    mpz_sub_ui(d, q, 1);
    mpz_mul(phi, phi, d);
    mpz_set_ui(e, 65537);
    ASSERT_NE(mpz_invert(d, e, phi), 0);
    mpz_mul_ui(shared, q, 3);
    RSAKey small[2], derived[2];
    for (int k = 0; k < 2; k++) small[k].SetExponent(k ? d : e), small[k].SetModulo(n), small[k].SetFactors(p, q);
    GeneratePasswordKeyUncached(&derived[0], &derived[1], "pc12");
    gmp_randstate_t state;
    gmp_randinit_default(state);
    for (RSAKey* key : {&small[0], &small[1], &derived[0], &derived[1]}) {
        ASSERT_TRUE(key->HasFactors());
        mpz_sub_ui(m, key->modulo, 1);
        std::vector<std::string> cases = {"0", "1", "2", "fffff", IntegerToHex(m), IntegerToHex(key->modulo),
                                          IntegerToHex(p), IntegerToHex(shared)};
        for (int i = 0; i < 20; i++) mpz_urandomm(m, state, key->modulo), cases.push_back(IntegerToHex(m));
        for (const std::string& text : cases) {
            mpz_set_str(m, text.c_str(), 16);
            mpz_powm(plain, m, key->exponent, key->modulo);
            ASSERT_TRUE(RSACrypt(fast, m, key));
            EXPECT_EQ(mpz_cmp(plain, fast), 0) << text;
        }
    }
    gmp_randclear(state);
    // Wrong factors, or a key changed afterwards, fall back to the plain form.
    small[0].SetFactors(p, p);
    EXPECT_FALSE(small[0].HasFactors());
    derived[1].SetModulo(n);
    EXPECT_FALSE(derived[1].HasFactors());
    mpz_clears(p, q, n, phi, e, d, m, plain, fast, shared, nullptr);
}
