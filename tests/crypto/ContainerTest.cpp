// The encrypted container against golden vectors computed independently of
// this code from the layout rules, round trips through files and split
// directories, and the damage a reader must refuse.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "crypto/Container.h"
#include "crypto/Md5.h"
#include "support/TestHome.h"

namespace {

const char* const kKey = "7d41c9e2b05a36f8e1c4d7a2905b3e6f";
const char* const kOtherKey = "00112233445566778899aabbccddeeff";

std::string Hex(MD5& m) { char out[33]; m.GetHash(out); return out; }

// The generators the golden vectors were computed from.
std::string Pattern(size_t n, unsigned seed, bool newlines = true) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        char c = (char)(((i * 131 + seed) ^ (i >> 7)) & 0xff);
        s[i] = (!newlines && c == '\n') ? '\x0b' : c;
    }
    return s;
}
std::string HundredByteLines() {
    std::string s(20000, '\0');
    for (size_t p = 0; p < s.size(); p++) s[p] = p % 100 == 99 ? '\n' : (char)('a' + p % 26);
    return s;
}
std::string Fox(size_t n) {
    std::string s;
    char line[80];
    for (int i = 0; s.size() < n; i++) {
        snprintf(line, sizeof(line), "%06d the quick brown fox jumps over the lazy dog\n", i);
        s += line;
    }
    return s.substr(0, n);
}
// Writes beyond `bytes` fail with EFBIG, as on a full disk, while it lives.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : handler(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit limit = {bytes, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old), signal(SIGXFSZ, handler); }
    sighandler_t handler;
    struct rlimit old;
};

struct ContainerTest : ::testing::Test {
    std::string Path(const std::string& name) { return home_.path(name); }
    // Encrypts `content` as file `name`; the container's name, or "" on failure.
    std::string Crypt(const std::string& name, const std::string& content, bool compress, MD5* digest = nullptr) {
        WriteWholeFile(Path(name), content);
        return CryptFile(name, compress, digest);
    }
    std::string CryptFile(const std::string& name, bool compress, MD5* digest = nullptr, const char* key = kKey) {
        char path[512];
        snprintf(path, sizeof(path), "%s", Path(name).c_str());
        return CryptAES(path, key, false, compress, digest, nullptr) ? path : "";
    }
    std::string Errors() { return ReadWholeFile(Path("conf/cli_logs/errors")); }
    TestHome home_;
};

}  // namespace

TEST_F(ContainerTest, GoldenVectorsAndRoundTrips) {
    struct { const char* name; std::string content; bool compress; size_t length;
             const char *container_md5, *stored_md5; } cases[] = {
        {"empty", "", false, 38, "5448d52000f79102057fb3eae879f78c", "d41d8cd98f00b204e9800998ecf8427e"},
        {"48", Pattern(48, 5), false, 90, "6837a2afa82a04be963698df21251534", "484e3d941509d9ec8311512919ef7e17"},
        {"100", Pattern(100, 9), false, 146, "e8ffd4ebe46d4c95d99dc9b495d94ae0", "279bba172182c42617f3a90e95fbebff"},
        {"text", HundredByteLines(), false, 20069, "07d514857d0b12ce7ec0f62e0abbedd2",
         "cf645004a85f51b6da80c84cecc1ec63"},
        {"long", Pattern(1200000, 3, false), false, 1200068, "b2156de4cd774f4810f02aefc72a59c8",
         "31429266efca63e88766f95db31756f7"},
        // Cut by the 1 MiB rule right at its end: an empty last chunk keeps
        // the clear byte before it.
        {"cut-at-end", Pattern(1049600, 3, false), false, 1049664, "19abf57b42e212f826a68312dea74263",
         "44868f38f9ba8661036756209b59b92e"},
        {"fox", Fox(300000), true, 17389, "ea176a22e76d0f95ffb9e4d53f7e9ebd", "7bca398b6071d76b7ea092400f20aa4b"},
        {"fox-small", Fox(5000), true, 348, "d5f22ff93118bacee32227e9cdcf8d29", "d313daa8ae6bbfebc6b9b89da1031a17"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        MD5 digest;
        std::string container = Crypt(c.name, c.content, c.compress, &digest);
        ASSERT_EQ(Path(c.name) + ".aes", container);
        std::string bytes = ReadWholeFile(container);
        EXPECT_EQ(c.length, bytes.size());
        EXPECT_EQ(c.container_md5, Md5Text(bytes));
        EXPECT_EQ(c.stored_md5, Hex(digest));
        EXPECT_TRUE(IsAES(container.c_str()));
        ASSERT_TRUE(DecryptAES(container.c_str(), Path("plain").c_str(), kKey, true));
        EXPECT_EQ(c.content, ReadWholeFile(Path("plain")));
        EXPECT_FALSE(PathExists(container));
    }
    unsigned count = 7;  // a file that cannot be read leaves the count alone
    free(CreateHeader(Path("missing").c_str(), '\n', count, 8192));
    EXPECT_EQ(7u, count);
}

TEST_F(ContainerTest, SplitIntoPartsMatchesTheReferenceAndDecryptsBack) {
    std::string content = Pattern(30000000, 11);
    MD5 digest;
    std::string dir = Crypt("big", content, false, &digest);
    ASSERT_FALSE(dir.empty());
    const char* parts[][2] = {{"000", "376c7644e4583c930300466e401df944"},
                              {"001", "0025154c39242d9d348752b452abb491"},
                              {"002", "74f0b60ee99ceb5e90fe7707ccf93141"}};
    for (auto& p : parts) EXPECT_EQ(p[1], Md5Text(ReadWholeFile(dir + "/" + p[0]))) << p[0];
    EXPECT_FALSE(PathExists(dir + "/003"));
    EXPECT_EQ("f86484dba4a26450cf93511b3a0d9ed7", Hex(digest));
    ASSERT_TRUE(DecryptAES(dir.c_str(), Path("back").c_str(), kKey, false));
    EXPECT_TRUE(ReadWholeFile(Path("back")) == content);

    // A cut part and a missing part are refused; the old plain file stays.
    std::string part1 = ReadWholeFile(dir + "/001");
    WriteWholeFile(dir + "/001", part1.substr(0, part1.size() / 2));
    WriteWholeFile(Path("back"), "previous");
    EXPECT_FALSE(DecryptAES(dir.c_str(), Path("back").c_str(), kKey, false));
    unlink((dir + "/001").c_str());
    EXPECT_FALSE(DecryptAES(dir.c_str(), Path("back").c_str(), kKey, false));
    EXPECT_NE(std::string::npos, Errors().find("Could not open file (" + dir + "/001) for reading"));
    EXPECT_EQ("previous", ReadWholeFile(Path("back")));

    // A new small container replaces the old split one.
    EXPECT_EQ(dir, Crypt("big", "small now", false));
    EXPECT_EQ(0u, ReadWholeFile(dir).find("aes 1 "));
}

TEST_F(ContainerTest, CompressionIsSampledOnlyFromTheThresholdOn) {
    EXPECT_EQ(0u, ReadWholeFile(Crypt("a", RandomBytes(102400, 1), true)).find("aes_zip "));
    EXPECT_EQ(0u, ReadWholeFile(Crypt("b", RandomBytes(102401, 1), true)).find("aes "));
    ASSERT_TRUE(DecryptAES(Path("a.aes").c_str(), Path("a2").c_str(), kKey, false));
    EXPECT_EQ(RandomBytes(102400, 1), ReadWholeFile(Path("a2")));
}

TEST_F(ContainerTest, DamagedContainersAndWrongKeysLeaveNoTarget) {
    std::string fox = ReadWholeFile(Crypt("fox", Fox(50000), true));
    std::string plain = ReadWholeFile(Crypt("p", Pattern(1000, 1), false));
    struct { const char* name; std::string bytes; const char* key; const char* logged; } cases[] = {
        {"wrong key", fox, kOtherKey, "DecryptAES: Invalid key 00112233445566778899aabbccddeeff/"},
        {"flipped", fox.substr(0, 60) + (char)(fox[60] ^ 1) + fox.substr(61), kKey, "Z_DATA_ERROR"},
        {"cut", fox.substr(0, fox.size() - 100), kKey, "corrupted file ;( was @ "},
        {"inflates longer", std::string(fox).replace(fox.find(" 2011 ", 38), 6, " 2000 "), kKey, "Z_BUF_ERROR"},
        {"type", "zip 1 " + fox.substr(10), kKey, "Unknown file type: zip"},
        {"leading zero", "aes 01 " + plain.substr(6), kKey, "Unknown file type: aes"},
        {"huge chunk", plain.substr(0, 38) + " 100400 " + plain.substr(43), kKey, "corrupted file ;( was @ 0 / 1"},
        {"cut key block", plain.substr(0, 20), kKey, "corrupted file ;( was @ 0 / 1"},
        {"short key", plain, "7d41c9e2", "DecryptAES: Invalid key 7d41c9e2/"},
    };
    for (auto& c : cases) {
        WriteWholeFile(Path("bad"), c.bytes);
        EXPECT_FALSE(DecryptAES(Path("bad").c_str(), Path("out").c_str(), c.key, false)) << c.name;
        EXPECT_FALSE(PathExists(Path("out"))) << c.name;
        EXPECT_NE(std::string::npos, Errors().find(c.logged)) << c.name;
    }
}

TEST_F(ContainerTest, FailedRunsKeepWhatWasThere) {
    // Decrypted in place with removal, the plain file stays.
    std::string in_place = Crypt("own", "own words", false);
    ASSERT_TRUE(DecryptAES(in_place.c_str(), in_place.c_str(), kKey, true));
    EXPECT_EQ("own words", ReadWholeFile(in_place));
    // A folder that is no container is never replaced by one.
    WriteWholeFile(Path("x.aes/keep"), "mine");
    EXPECT_EQ("", Crypt("x", "data", false));
    EXPECT_EQ("mine", ReadWholeFile(Path("x.aes/keep")));
    EXPECT_NE(std::string::npos, Errors().find("x.aes existed already"));
    EXPECT_FALSE(HasTemporaryLeftovers(home_.dir()));

    // Writes that fail part-way, as on a full disk: before the container
    // splits, in its second part (the first holds 10 MiB of ~8 KiB chunks,
    // the second grows past 10 MiB + 64 KiB in 1 MiB chunks), and while
    // decrypting. The old files stay and nothing temporary is left.
    const std::string old_container = ReadWholeFile(Crypt("big", "old words", false));
    const size_t mid_size = 3000000;
    const std::string mid = Crypt("mid", Pattern(mid_size, 2), false);
    WriteWholeFile(Path("big"), Fox(11115000) + Pattern(12000000, 5, false));
    WriteWholeFile(Path("back"), "previous");
    for (rlim_t limit : {rlim_t(1) << 20, (rlim_t(10) << 20) + (64 << 10)}) {
        FileSizeLimit scope(limit);
        EXPECT_EQ("", CryptFile("big", false)) << limit;
        if (limit < mid_size) { EXPECT_FALSE(DecryptAES(mid.c_str(), Path("back").c_str(), kKey, false)); }
    }
    EXPECT_TRUE(old_container == ReadWholeFile(Path("big.aes")));
    EXPECT_EQ("previous", ReadWholeFile(Path("back")));
    EXPECT_NE(std::string::npos, Errors().find("CryptAES(" + Path("big") + ") : failed with File too large"));
    EXPECT_FALSE(HasTemporaryLeftovers(home_.dir()));
    EXPECT_EQ("", CryptFile("none", false));
    EXPECT_EQ("", CryptFile("none", false, nullptr, "short"));
}

