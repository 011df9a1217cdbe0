// The container, compression and difference options of the command line:
// arguments, console texts and exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/ContainerOptions.h"
#include "crypto/Md5.h"
#include "support/TestHome.h"

namespace {

class ContainerOptionsTest : public ::testing::Test {
  protected:
    // Runs one option line through its handler; its status, the console
    // text in `console`.
    int Run(std::vector<std::string> args, std::string* console = nullptr) {
        args.insert(args.begin(), "zelagent");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        const std::string& name = args[1];
        int (*handler)(int, char**) = name == "-c" || name == "--crypt"     ? OptionCrypt
                                      : name == "-d" || name == "--decrypt" ? OptionDecrypt
                                      : name == "-z" || name == "--zip"     ? OptionZip
                                      : name == "-u" || name == "--unzip"   ? OptionUnzip
                                      : name == "--diff"                    ? OptionDiff
                                                                            : OptionPrintLogs;
        testing::internal::CaptureStdout();
        int status = handler((int)argv.size(), argv.data());
        std::string out = testing::internal::GetCapturedStdout();
        if (console) *console = out;
        return status;
    }
    std::string P(const char* name) { return home_.path(name); }
    TestHome home_;
};

}  // namespace

TEST_F(ContainerOptionsTest, EncryptDecryptZipAndUnzipWithTheirStatuses) {
    // The text of 100-byte lines: -c with the built-in key gives the
    // reference container.
    std::string text(20000, 'a');
    for (size_t p = 0; p < text.size(); p++) text[p] = p % 100 == 99 ? '\n' : (char)('a' + p % 26);
    WriteWholeFile(P("in"), text);
    std::string console;
    EXPECT_EQ(0, Run({"-c", P("in"), P("in.box")}, &console));
    EXPECT_EQ(0u, console.find("It took: "));
    char digest[33];
    MD5 md5;
    md5.HashFile(P("in.box").c_str()), md5.GetHash(digest);
    EXPECT_STREQ("07d514857d0b12ce7ec0f62e0abbedd2", digest);

    struct { std::vector<std::string> args; int status; } cases[] = {
        {{"--decrypt", P("in.box"), P("back")}, 0},
        {{"-d", P("in.box"), P("wrong"), "00112233445566778899aabbccddeeff"}, 1},
        {{"--crypt", P("in"), P("keyed"), "00112233445566778899aabbccddeeff"}, 0},
        {{"--zip", P("in"), P("in.z")}, 0},
        {{"-u", P("in.z"), P("back3")}, 0},
        {{"-z", P("in.box"), P("never")}, 1},  // a container is not compressed again
        {{"-c", P("missing"), P("x")}, 1},
    };
    for (auto& c : cases) EXPECT_EQ(c.status, Run(c.args)) << c.args[0] << " " << c.args.size();
    for (const char* back : {"back", "back3"}) EXPECT_EQ(text, ReadWholeFile(P(back))) << back;
    EXPECT_FALSE(PathExists(P("wrong")));
    EXPECT_FALSE(PathExists(P("never")));
}

TEST_F(ContainerOptionsTest, DiffAndStoragePathTiming) {
    WriteWholeFile(P("a"), "same\n");
    std::string console;
    EXPECT_EQ(0, Run({"--diff", P("a"), P("a"), P("d")}, &console));
    EXPECT_NE(std::string::npos, console.find("result is: 0"));
    EXPECT_EQ(1, Run({"--diff", P("a"), P("none"), P("d")}, &console));
    EXPECT_NE(std::string::npos, console.find("result is: 2"));
    EXPECT_EQ(0, Run({"--printlogs", "set7"}, &console));
    EXPECT_NE(std::string::npos, console.find("100000 done in "));
}
