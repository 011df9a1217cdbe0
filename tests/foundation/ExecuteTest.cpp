// Running external commands: how a command line is split, what status comes
// back and how much output a caller can receive.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "support/TestHome.h"

namespace {

TEST(SplitCommandMisplacesQuotedProgramPath, Table) {
    const struct {
        const char* command;
        const char* program;
        const char* arguments;
    } cases[] = {
        {"\"/opt/my tools/run\" -a b", "/opt/my tools/run", "-a b"},
        {"\"/opt/run\"", "/opt/run", ""},
        {"ls -l /tmp", "ls", "-l /tmp"},
        {"uptime", "uptime", ""},
        {"\"unterminated path", "unterminated path", ""},
    };
    for (const auto& c : cases) {
        char program[410], arguments[410];
        SplitCommand(c.command, program, arguments);
        EXPECT_STREQ(program, c.program) << c.command;
        EXPECT_STREQ(arguments, c.arguments) << c.command;
    }
}

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { RemoveTree(dir_); }
    std::string dir_;
};

TEST_F(ExecuteTest, QuotedProgramWithBlankRunsWithItsArguments) {
    std::string folder = dir_ + "/with blank";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string program = folder + "/prog";
    std::string out = dir_ + "/args";
    WriteWholeFile(program, "#!/bin/sh\necho \"$1|$2\" > " + out + "\nexit 4\n", 0755);
    EXPECT_EQ(FormatExecute("\"%s\" one two", program.c_str()), 4);
    EXPECT_EQ(ReadWholeFile(out), "one|two\n");
}

TEST_F(ExecuteTest, ExitStatusComesBackAsSignedByte) {
    EXPECT_EQ(Execute("exit", "0", 1), 0);
    EXPECT_EQ(Execute("exit", "3", 1), 3);
    EXPECT_EQ(Execute("exit", "255", 1), -1);
    EXPECT_EQ(Execute(nullptr, nullptr, 1), -1);
}

TEST_F(ExecuteTest, OutputIsCappedAt1023BytesAndOneNewlineDropped) {
    std::string big = dir_ + "/big";
    WriteWholeFile(big, std::string(5000, 'z'));
    char* out = FormatExecuteWithResult("cat %s", big.c_str());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(strlen(out), 1023u);
    delete[] out;

    out = FormatExecuteWithResult("printf 'a\\n\\n'");
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "a\n");  // only one newline goes
    delete[] out;

    out = FormatExecuteWithResult("printf '\\n'");
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "\n");  // a one-byte output is kept as it is
    delete[] out;
}

TEST_F(ExecuteTest, CommandThatCannotStartGivesNull) {
    std::string missing = dir_ + "/no-such-program";
    EXPECT_EQ(FormatExecuteWithResult("%s", missing.c_str()), nullptr);
}

}  // namespace
