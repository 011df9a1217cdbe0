// Running external commands: how a command line is split, what status comes
// back and how much output a caller can receive.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "support/TestHome.h"

namespace {

TEST(SplitCommandMisplacesQuotedProgramPath, Table) {
    const struct { const char* command; const char* program; const char* arguments; } cases[] = {
        {"\"/opt/my tools/run\" -a b", "/opt/my tools/run", "-a b"}, {"\"/opt/run\"", "/opt/run", ""},
        {"ls -l /tmp", "ls", "-l /tmp"}, {"uptime", "uptime", ""},
        {"\"unterminated path", "unterminated path", ""},
    };
    for (const auto& c : cases) {
        char program[410], arguments[410];
        SplitCommand(c.command, program, arguments);
        EXPECT_STREQ(program, c.program) << c.command;
        EXPECT_STREQ(arguments, c.arguments) << c.command;
    }
}

struct ExecuteTest : ::testing::Test { TempDir dir_; };

TEST_F(ExecuteTest, QuotedProgramWithBlankRunsWithItsArguments) {
    const std::string program = dir_ + "/with blank/prog", out = dir_ + "/args";
    WriteWholeFile(program, "#!/bin/sh\necho \"$1|$2\" > " + out + "\nexit 4\n", 0755);
    EXPECT_EQ(FormatExecute("\"%s\" one two", program.c_str()), 4);
    EXPECT_EQ(ReadWholeFile(out), "one|two\n");
}

TEST_F(ExecuteTest, ExitStatusIsASignedByteAndACommandThatCannotStartGivesNull) {
    EXPECT_EQ(Execute("exit", "3", 1), 3);
    EXPECT_EQ(Execute("exit", "255", 1), -1);
    // Killed by a signal is never success: 128 + the signal, as a status.
    EXPECT_EQ(Execute("kill", "-KILL $$", 1), (signed char)(128 + 9));
    EXPECT_EQ(Execute("kill", "-PIPE $$", 1), (signed char)(128 + 13));
    EXPECT_EQ(Execute(nullptr, nullptr, 1), -1);
    EXPECT_EQ(FormatExecuteWithResult("%s", (dir_ + "/no-such-program").c_str()), nullptr);
}

TEST_F(ExecuteTest, OutputIsCappedAt1023BytesAndOneNewlineDropped) {
    WriteWholeFile(dir_ + "/big", std::string(5000, 'z'));
    const struct { std::string command, expected; } cases[] = {
        {"cat " + dir_ + "/big", std::string(1023, 'z')},
        {"printf 'a\\n\\n'", "a\n"},  // only one newline goes
        {"printf '\\n'", "\n"},         // a one-byte output is kept as it is
    };
    for (const auto& c : cases) {
        char* out = FormatExecuteWithResult("%s", c.command.c_str());
        EXPECT_EQ(std::string(out ? out : "<null>"), c.expected) << c.command;
        delete[] out;
    }
}

}  // namespace
