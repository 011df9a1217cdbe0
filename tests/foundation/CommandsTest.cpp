// Worker commands, plug-in connectors, directory copies and the names of
// non-file objects.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Globals.h"
#include "foundation/Commands.h"
#include "foundation/TemporaryNames.h"
#include "foundation/Threads.h"
#include "support/TestHome.h"

namespace {

// Polls a done flag for at most ten seconds.
bool WaitDone(const std::atomic<int>& done) {
    for (int i = 0; i < 1000 && !done; i++) Wait(0.01);
    return done == 1;
}

struct CommandsTest : ::testing::Test {
    // A plug-in folder with a config file and, unless empty, a connector.
    std::string MakePlugin(const std::string& name, const std::string& config, const std::string& connector) {
        std::string dir = std::string(res->plugins_dir) + name;
        WriteWholeFile(dir + "/config", config);
        if (!connector.empty()) WriteWholeFile(dir + "/" + connector, "#!/bin/sh\necho \"$*\" > \"$(dirname \"$0\")/called\"\necho \"ran: $*\"\n", 0755);
        return dir;
    }
    TestHome home_;
};

TEST_F(CommandsTest, WorkerRecordsStatusAndSetsDone) {
    std::string marker = home_.path("marker");
    Command ok(("touch " + marker).c_str());
    ASSERT_TRUE(StartThread(ThreadExecute, &ok));
    ASSERT_TRUE(WaitDone(ok.done));
    EXPECT_EQ(ok.result, 0);
    EXPECT_EQ(ok.error, nullptr);
    EXPECT_EQ(access(marker.c_str(), F_OK), 0);

    Command failing("exit 5");
    ASSERT_TRUE(StartThread(ThreadExecute, &failing));
    ASSERT_TRUE(WaitDone(failing.done));
    EXPECT_EQ(failing.result, 5);
    EXPECT_NE(failing.error, nullptr);  // a copy of the system's error text
    EXPECT_EQ(failing.output, nullptr);
}

TEST_F(CommandsTest, PluginLineRunsConnectorNotShellAndPluginExecFindsItOrGivesNull) {
    std::string dir = MakePlugin("backup", "# comment\nconnector=run.sh\n", "run.sh");
    Command c("PLUGIN backup list all sets");
    ThreadExecute(&c);
    EXPECT_EQ(c.done, 1);
    EXPECT_EQ(c.result, 0);  // left alone
    EXPECT_EQ(ReadWholeFile(dir + "/called"), "list all sets\n");

    // The last line has no newline: its value must stay whole.
    MakePlugin("db", "#connector=wrong.sh\nother=1\nconnector=conn.sh", "conn.sh");
    char* out = PluginExec("db", "%s %i", "backup", 7);
    EXPECT_STREQ(out, "ran: backup 7");
    delete[] out;
    MakePlugin("noconn", "other=1\n", "");
    MakePlugin("missing", "connector=gone.sh\n", "");
    MakePlugin("SYSTEM_STATE", "connector=conn.sh\n", "conn.sh");
    MakePlugin("VSS", "connector=conn.sh\n", "conn.sh");
    for (const char* name : {"noconn", "missing", "absent", "VSS"}) EXPECT_EQ(PluginExec(name, "x"), nullptr) << name;
    EXPECT_EQ(PluginExec("SYSTEM_STATE", "list"), nullptr);
    out = PluginExec("SYSTEM_STATE", "backup");
    EXPECT_NE(out, nullptr);  // only "list" is skipped
    delete[] out;
}

TEST_F(CommandsTest, CopyTakesRegularFilesOnlyAndNeverWritesThroughLink) {
    std::string src = home_.path("src"), dst = home_.path("out/deep/dst");
    WriteWholeFile(src + "/b", "bee");
    WriteWholeFile(src + "/a", "ay");
    mkdir((src + "/sub").c_str(), 0755);
    ASSERT_EQ(symlink((src + "/a").c_str(), (src + "/link").c_str()), 0);
    CopyObject job(src.c_str(), dst.c_str());
    ASSERT_TRUE(StartThread(ThreadCopy, &job));
    ASSERT_TRUE(WaitDone(job.done));
    EXPECT_EQ(ReadWholeFile(dst + "/a"), "ay");
    EXPECT_EQ(ReadWholeFile(dst + "/b"), "bee");
    EXPECT_NE(access((dst + "/sub").c_str(), F_OK), 0);
    EXPECT_NE(access((dst + "/link").c_str(), F_OK), 0);

    // A single file onto a link: the link's target keeps its bytes.
    std::string victim = home_.path("victim"), linked = home_.path("copy");
    WriteWholeFile(victim, "keep");
    ASSERT_EQ(symlink(victim.c_str(), linked.c_str()), 0);
    CopyObject onto((src + "/a").c_str(), linked.c_str());
    ThreadCopy(&onto);
    EXPECT_EQ(onto.done, 1);
    EXPECT_EQ(ReadWholeFile(victim), "keep");
    CopyObject plain((src + "/b").c_str(), home_.path("plain").c_str());
    ThreadCopy(&plain);
    EXPECT_EQ(ReadWholeFile(home_.path("plain")), "bee");
}

TEST_F(CommandsTest, TemporaryNamesForObjects) {
    std::string app = res->app_dir, data = res->data_dir;
    // expected: relative to app_dir, or data_dir for SYSTEM_STATE
    const struct { const char *object, *expected; bool temporary; } cases[] = {
        {"SYSTEM_STATE", "system_12.bkf", true},
        {"EXCHANGE|FULL|srv|db1", "plugins\\exchange\\db1\\Exchange.bkf", true},
        {"EXCHANGE|MAILBOX|ann|db2", "plugins\\exchange\\db2\\ann.PST", true},
        {"SHARE|docs|x", "share|docs|x", false}, {"SHARE", "share|", false},  // nothing after the prefix
        {"EXCHANGE|FULL", nullptr, false},  // component missing
        {"OTHER", nullptr, false},
    };
    for (const auto& c : cases) {
        char object[100];
        snprintf(object, sizeof(object), "%s", c.object);
        bool temporary = false;
        char* name = GetTemporaryFilename(object, 12, temporary, nullptr);
        if (!c.expected) {
            EXPECT_EQ(name, nullptr) << c.object;
        } else {
            ASSERT_NE(name, nullptr) << c.object;
            std::string base = strcmp(c.object, "SYSTEM_STATE") == 0 ? data : app;
            EXPECT_EQ(std::string(name), base + c.expected);
            EXPECT_EQ(temporary, c.temporary) << c.object;
        }
        delete[] name;
    }
}

}  // namespace
