// Start-up and shutdown of the real executable and of the in-process globals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "foundation/Paths.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "support/Process.h"
#include "support/TestHome.h"

namespace {

// A daemon started in its own home; stopped with SIGTERM, bounded.
class DaemonRun {
public:
    DaemonRun(const std::string& program, const std::string& home) : home_(home) {
        // The defaults listen on the well-known port: move it to a free one.
        setenv("ZELAGENT_LISTEN_PORT", std::to_string(FreePort()).c_str(), 1);
        pid_ = StartProgram({program}, home + "/console");
        unsetenv("ZELAGENT_LISTEN_PORT");
    }
    ~DaemonRun() { Stop(); }
    bool Started() { return WaitForText(home_ + "/conf/logs/messages", "Open for input?", 20); }
    int Stop() {
        if (pid_ <= 0) return status_;
        kill(pid_, SIGTERM);
        status_ = WaitProgram(pid_, 20);
        pid_ = -1;
        return status_;
    }

private:
    std::string home_;
    pid_t pid_;
    int status_ = -1;
};

class StartupTest : public ::testing::Test {
protected:
    TempDir dir_;
    std::string program_ = InstallAgent(dir_);
};

TEST_F(StartupTest, FirstDaemonStartWritesDefaultsPidAndStopsOnSigterm) {
    DaemonRun daemon(program_, dir_);
    ASSERT_TRUE(daemon.Started()) << ReadWholeFile(dir_ + "/console");
    std::string config = ReadWholeFile(dir_ + "/conf/config");
    EXPECT_EQ(0u, config.find("type=client\nname=anonymous\nappname=Quillon\nserver=null null\n"));
    std::string pid = ReadWholeFile(dir_ + "/conf/pid");
    EXPECT_FALSE(pid.empty());
    EXPECT_EQ(std::string::npos, pid.find('\n'));
    EXPECT_EQ(0, daemon.Stop());

    std::string console = ReadWholeFile(dir_ + "/console");
    EXPECT_NE(std::string::npos, console.find("EVENT: Lancement du logiciel Client\n"));
    EXPECT_NE(std::string::npos, console.find("MESSAGE: Version 12.2.2.2 for "));
    EXPECT_NE(std::string::npos, console.find("EVENT: Arret du logiciel\n"));
    EXPECT_NE(std::string::npos, ReadWholeFile(dir_ + "/conf/logs/events.txt").find("(SYSTEM) Arret du logiciel"));
}

TEST_F(StartupTest, SecondStartRotatesMessagesAndErrorsAndDropsDebug) {
    {
        DaemonRun first(program_, dir_);
        ASSERT_TRUE(first.Started());
    }
    WriteWholeFile(dir_ + "/conf/logs/errors", "old errors\n");
    WriteWholeFile(dir_ + "/conf/logs/debug", "old debug\n");
    std::string first_messages = ReadWholeFile(dir_ + "/conf/logs/messages");
    DaemonRun second(program_, dir_);
    ASSERT_TRUE(WaitForFile(dir_ + "/conf/logs/messages.old", 20));
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(first_messages, ReadWholeFile(dir_ + "/conf/logs/messages.old"));
    EXPECT_EQ("old errors\n", ReadWholeFile(dir_ + "/conf/logs/errors.old"));
    EXPECT_FALSE(PathExists(dir_ + "/conf/logs/debug"));
    EXPECT_EQ(std::string::npos, ReadWholeFile(dir_ + "/conf/logs/messages").find("old"));
}

TEST_F(StartupTest, CommandLineRunsNeverTouchDaemonLogsEvenThroughALink) {
    std::string out;
    // Started through a symbolic link, the folders lie beside the target.
    std::string links = dir_ + "/links";
    mkdir(links.c_str(), 0755);
    ASSERT_EQ(0, symlink(program_.c_str(), (links + "/agent").c_str()));
    EXPECT_EQ(0, RunProgram({links + "/agent", "--options"}, &out));
    EXPECT_TRUE(PathExists(dir_ + "/conf/cli_logs/messages"));
    EXPECT_FALSE(PathExists(links + "/conf"));
    EXPECT_FALSE(PathExists(dir_ + "/conf/logs/messages"));
    EXPECT_FALSE(PathExists(dir_ + "/conf/pid"));
    EXPECT_FALSE(PathExists(dir_ + "/conf/config"));  // only a daemon writes the defaults
}

TEST_F(StartupTest, UnwritableLogFolderStopsTheDaemonWithItsReasonAndNoPidFile) {
    mkdir((dir_ + "/conf").c_str(), 0755);
    // Modes do not stop root: a file where the folder should be does.
    WriteWholeFile(dir_ + "/conf/logs", "not a folder\n");
    setenv("ZELAGENT_LISTEN_PORT", std::to_string(FreePort()).c_str(), 1);
    pid_t pid = StartProgram({program_}, dir_ + "/console");
    unsetenv("ZELAGENT_LISTEN_PORT");
    int status = WaitProgram(pid, 20);
    EXPECT_GT(status, 0);
    std::string reason = "Cannot write the log folder " + dir_ + "/conf/logs/: Not a directory\n";
    EXPECT_NE(std::string::npos, ReadWholeFile(dir_ + "/console").find(reason));
    EXPECT_FALSE(PathExists(dir_ + "/conf/pid"));
}

// The in-process globals: pid-file rules and the stop follow-ups.
class GlobalsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Quotes, blanks, a shell character and a length that no fixed
        // command buffer would hold: the follow-up commands must keep them.
        root_ = MakeTempDir();
        dir_ = root_ + "/it's a $folder/" + std::string(150, 'd') + "/" + std::string(150, 'e');
        MakeDirectories(dir_.c_str());
        program_ = dir_ + "/zelagent";
        WriteWholeFile(program_, "#!/bin/sh\necho \"restarted $*\" > \"$(dirname \"$0\")/marker\"\n", 0755);
        char cwd[4096];
        if (getcwd(cwd, sizeof(cwd))) cwd_ = cwd;
    }
    void TearDown() override {
        if (res) DestroyVariables();
        if (chdir(cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << cwd_;
        RemoveTree(root_);
    }
    void Init(std::vector<std::string> args) {
        args_ = args;
        args_.insert(args_.begin(), program_);
        argv_.clear();
        for (auto& a : args_) argv_.push_back(const_cast<char*>(a.c_str()));
        argv_.push_back(nullptr);
        InitVariables((int)args_.size(), argv_.data());
    }
    std::string root_, dir_, program_, cwd_;
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

TEST_F(GlobalsTest, ListenOptionWritesPidOnlyForTheConfiguredPort) {
    mkdir((dir_ + "/conf").c_str(), 0755);
    WriteWholeFile(dir_ + "/conf/config", "local_port=7000\n");
    Init({"-l", "7001"});
    EXPECT_FALSE(PathExists(dir_ + "/conf/pid"));
    DestroyVariables();
    Init({"-l", "7000"});
    EXPECT_TRUE(PathExists(dir_ + "/conf/pid"));
}

// Restarts (flag 2) are run end to end by the serving tests.
TEST_F(GlobalsTest, StopFlagThreeStartsTheUpdateExceptUnderTheServiceManagerWhereItCopiesIt) {
    const std::string update = dir_ + "/qln_update.exe", marker = dir_ + "/marker";
    WriteWholeFile(update, "#!/bin/sh\necho \"update $*\" > \"$(dirname \"$0\")/marker\"\n", 0755);
    Init({"--x"});
    set_kill(3);
    KillApplication();
    EXPECT_EQ(nullptr, res);
    EXPECT_TRUE(WaitForText(marker, "update --update " + program_ + " " + update + "\n", 10));
    unlink(marker.c_str());
    setenv("INVOCATION_ID", "0123456789abcdef", 1);
    Init({});
    set_kill(3);
    KillApplication();
    unsetenv("INVOCATION_ID");
    EXPECT_EQ(ReadWholeFile(update), ReadWholeFile(program_));
    Wait(0.5);
    EXPECT_FALSE(PathExists(marker));
}

// Threads polling the stop flag after the globals are gone must stop.
TEST(RunFlagsTest, KillReadsAsStopWithoutGlobals) { EXPECT_EQ(1, get_kill()); }

TEST(VersionTest, ComparesPartByPartInOrder) {
    Version v(12, 2, 2, 2);
    EXPECT_TRUE(v.IsGreater("12.2.1.9"));
    EXPECT_FALSE(v.IsGreater("12.2.2.2"));
    EXPECT_FALSE(v.IsGreater("12.3"));
    EXPECT_FALSE(v.IsEqual("12.2.2"));
    Version partial("13.1");
    char text[48];
    partial.GetVersion(text);
    EXPECT_STREQ("13.1.0.0", text);
    EXPECT_TRUE(Version::NewVersion(&partial, &v));
    EXPECT_FALSE(Version::NewVersion(&v, &partial));
}

}  // namespace
