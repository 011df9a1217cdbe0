// External programs started with argument vectors.
#include <gtest/gtest.h>
#include <signal.h>

#include "foundation/Spawn.h"
#include "foundation/Text.h"
#include "support/Process.h"
#include "support/TestHome.h"

namespace {

TEST(Spawn, WireTextStaysOneArgumentAndNeverReachesAShell) {
    TestHome home;
    const std::string marker = home.path("pwned");
    // "$#" counts the arguments after the script text.
    EXPECT_EQ(
        1, RunArgv({"/bin/sh", "-c", "exit $#", "sh", "a b; touch " + marker + " $(touch " + marker + ")"}));
    EXPECT_FALSE(PathExists(marker));
    EXPECT_EQ(3, RunArgv({"sh", "-c", "exit 3"}));  // looked up in PATH
    EXPECT_EQ(-1, RunArgv({home.path("missing")}));
    EXPECT_EQ(-1, RunArgv({}));
    EXPECT_EQ((std::vector<std::string>{"/bin/date", "-s"}), SplitWords(" /bin/date  -s "));
    // The agent ignores SIGPIPE; its programs must not inherit that.
    void (*old)(int) = signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(128 + SIGPIPE, RunArgv({"/bin/sh", "-c", "kill -PIPE $$"}));
    signal(SIGPIPE, old);
    ASSERT_TRUE(StartArgv({"/bin/sh", "-c", "touch " + marker}));
    EXPECT_TRUE(WaitForFile(marker, 10));
}

}  // namespace
