#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "foundation/Paths.h"
#include "records/Client.h"
#include "records/ClientKeys.h"
#include "records/Config.h"
#include "support/TestHome.h"

namespace {

// Key texts made by the agent never start with 0 (RSA texts drop it).
const char* const kSetKey = "8123456789abcdef0123456789abcdef";
const char* const kOtherPass = "ffffffffffffffffffffffffffffffff";

std::string KeyPath(const char* name, const char* suffix) {
    char path[400];
    EXPECT_TRUE(GetKeyPathFromName(path, sizeof(path), name, suffix));
    return path;
}

// Small fixed key: the file layout does not depend on the key's size.
void SmallKey(RSAKey& key) {
    ASSERT_TRUE(key.SetExponent("10001"));
    ASSERT_TRUE(key.SetModulo("c0ffee1234567890abcdef"));
}

struct KeyFiles : ::testing::Test { TestHome home; };

}  // namespace

TEST_F(KeyFiles, PublicFileOfAGeneratedPairStartsWithItsTextLengths) {
    RSAKey pub, priv, back;
    GenerateKeyPair(&pub, &priv);
    ASSERT_EQ(WritePubKey(&pub, "pc12"), 1);  // folder conf/pc12/ does not exist yet
    std::string file = ReadWholeFile(KeyPath("pc12", "pub"));
    std::string head = "256 " + std::to_string(pub.ExponentText().size()) + "\n";
    EXPECT_EQ(file.substr(0, head.size()), head);
    EXPECT_EQ(file.size(), head.size() + 256 + pub.ExponentText().size());
    ASSERT_EQ(ReadPubKey(&back, "pc12"), 1);
    EXPECT_EQ(back.ModuloText() + " " + back.ExponentText(), pub.ModuloText() + " " + pub.ExponentText());
}

TEST_F(KeyFiles, PrivateFileNeedsItsPassPhraseAndIsOwnerOnly) {
    RSAKey key, wrong, right;
    SmallKey(key);
    ASSERT_EQ(WritePrivKey(&key, "zelgui_admin", nullptr), 1);
    std::string path = KeyPath("zelgui_admin", "priv");
    struct stat st = {};
    EXPECT_TRUE(stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    // The texts are encrypted in whole blocks: the 22-digit modulus shows
    // only its last 6 digits in clear.
    std::string file = ReadWholeFile(path);
    EXPECT_EQ(file.find("c0ffee1234567890"), std::string::npos);
    EXPECT_NE(file.find("abcdef"), std::string::npos);

    EXPECT_EQ(ReadPrivKey(&wrong, "zelgui_admin", kOtherPass), 0);
    EXPECT_EQ(wrong.ModuloText(), "0");  // nothing changed
    ASSERT_EQ(ReadPrivKey(&right, "zelgui_admin", kDefaultKeyPassPhrase), 1);
    EXPECT_EQ(right.ModuloText() + " " + right.ExponentText(), key.ModuloText() + " " + key.ExponentText());
    EXPECT_EQ(WritePrivKey(&key, "pc12", "abc"), 0);  // a pass phrase shorter than a key encrypts nothing
}

TEST_F(KeyFiles, MalformedOrHostileFilesAreRefusedWithoutTouchingTheKey) {
    struct Case { const char* what; std::string content; };
    const Case cases[] = {
        {"no newline after the lengths", "4 2abcd12"}, {"texts shorter than announced", "4 2\nabc"},
        {"absurd modulus length", "4000000000 2\nab12"}, {"negative length", "-1 2\nab12"},
        {"empty texts", "0 0\n"}, {"only one length", "4\nabcd"}, {"not hexadecimal", "4 2\nab d12"},
        {"empty file", ""},
    };
    std::string dir = home.path("keys");
    MakeDirectories(dir.c_str());
    for (const Case& c : cases) {
        std::string path = dir + "/k";
        WriteWholeFile(path, c.content);
        RSAKey key;
        SmallKey(key);
        EXPECT_EQ(ReadKey(path.c_str(), &key, nullptr), 0) << c.what;
        EXPECT_EQ(key.ModuloText(), "c0ffee1234567890abcdef") << c.what;
    }
    RSAKey key;
    EXPECT_EQ(ReadKey(home.path("missing").c_str(), &key, nullptr), 0);
}

TEST_F(KeyFiles, SetKeyFileLinesFollowThePublicKeysThatExist) {
    Client set;
    snprintf(set.base_id, sizeof(set.base_id), "pc12");
    snprintf(set.id, sizeof(set.id), "pc12.1");
    snprintf(set.name, sizeof(set.name), "lundi");
    snprintf(set.box_name, sizeof(set.box_name), "%s", config->name);
    snprintf(config->server_name, sizeof(config->server_name), "box9");
    char out[2555];

    // No public key at all: every line holds the key in clear.
    ASSERT_EQ(WritePrivateKey(kSetKey, &set), 1);
    std::string file = ReadWholeFile(home.path("conf/pc12/key"));
    EXPECT_EQ(file, std::string(kSetKey) + "\n" + kSetKey + "\n" + kSetKey);

    // Each line opens only with the private half it was made for; the id's
    // key is missing, so line 2 stays clear.
    RSAKey adminPub, adminPriv, setPub, setPriv;
    GeneratePasswordKeyUncached(&adminPub, &adminPriv, "admin-key");
    GeneratePasswordKeyUncached(&setPub, &setPriv, "set-key");
    ASSERT_EQ(WritePubKey(&adminPub, "zelgui_admin"), 1);
    ASSERT_EQ(WritePubKey(&setPub, "lundi"), 1);
    ASSERT_EQ(WritePrivateKey(kSetKey, &set), 1);
    struct Case { const char* forName; RSAKey* opener; /* null: the line is in clear */ };
    for (const Case& c : {Case{"zelgui_admin", &adminPriv}, Case{"lundi", &setPriv}, Case{"anyone", &setPriv},
                          Case{"zelgui_pc12.1", nullptr}}) {
        ASSERT_EQ(ReadPrivateKey(out, sizeof(out), &set, c.forName), 1) << c.forName;
        EXPECT_EQ(std::string(out) == kSetKey, c.opener == nullptr) << c.forName;
        if (c.opener) { EXPECT_TRUE(RSACrypt(out, sizeof(out), c.opener)); }
        EXPECT_EQ(std::string(out), kSetKey) << c.forName;
    }

    // The box-to-box key adds a fourth line.
    ASSERT_EQ(WritePubKey(&adminPub, "zelgui_box9"), 1);
    ASSERT_EQ(WritePrivateKey(kSetKey, &set), 1);
    file = ReadWholeFile(home.path("conf/pc12/key"));
    size_t lines = 1;
    for (char ch : file) lines += ch == '\n';
    EXPECT_EQ(lines, 4u);

    // A line longer than the caller's buffer is refused, not cut.
    EXPECT_EQ(ReadPrivateKey(out, 10, &set, "lundi"), 0);
}

TEST_F(KeyFiles, SetKeyFromAnotherBoxPrefersItsClearKeyFile) {
    Client set;
    snprintf(set.base_id, sizeof(set.base_id), "pc7");
    snprintf(set.box_name, sizeof(set.box_name), "otherbox");
    char out[2555];
    std::string base = std::string(res->data_dir) + "/otherbox/conf/pc7/";
    ASSERT_TRUE(MakeDirectories(base.c_str()));
    WriteWholeFile(base + "key", "l1\nl2\nl3\nl4");
    struct Case { const char* forName; const char* line; };
    for (const Case& c : {Case{"zelgui_admin", "l4"}, Case{"zelgui_x", "l2"}, Case{"pc7", "l1"}}) {
        ASSERT_EQ(ReadPrivateKey(out, sizeof(out), &set, c.forName), 1) << c.forName;
        EXPECT_STREQ(out, c.line) << c.forName;
    }
    WriteWholeFile(base + "key", "l1\nl2\n");
    EXPECT_EQ(ReadPrivateKey(out, sizeof(out), &set, "pc7"), 0);  // fewer than three lines
    WriteWholeFile(base + "AES", std::string(kSetKey) + "\n");
    EXPECT_EQ(ReadPrivateKey(out, sizeof(out), &set, "pc7"), 0);  // no administrator key: never in clear
    EXPECT_EQ(std::string::npos, std::string(out, sizeof(out)).find(kSetKey));
    RSAKey pub, priv;
    GenerateKeyPair(&pub, &priv);
    ASSERT_EQ(WritePubKey(&pub, "zelgui_admin"), 1);
    ASSERT_EQ(ReadPrivateKey(out, sizeof(out), &set, "pc7"), 1);
    EXPECT_STRNE(out, kSetKey);
    ASSERT_TRUE(RSACrypt(out, sizeof(out), &priv));
    EXPECT_STREQ(out, kSetKey);
    snprintf(set.box_name, sizeof(set.box_name), "..");
    EXPECT_EQ(ReadPrivateKey(out, sizeof(out), &set, "pc7"), 0);
}
