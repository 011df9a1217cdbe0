// The command line of the real executable: the help, the diagnostics whose
// output is fixed, exit statuses, save requests against a fake server,
// stopping a daemon, the status report and the self-update step.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "agent/SelfUpdate.h"
#include "core/Resource.h"
#include "dialogue/AgentHarness.h"
#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

namespace {

const char* const kHelp =
    "Usage: zelagent [OPTIONS]\n"
    "  -v,  --version          \t\tDisplays the version number\n"
    "  -s,  --save <BACKUP SET>\t\tSaves the clients Files\n"
    "  -h,  --help             \t\tDisplays this help\n"
    "       --options            \t\tPrints Compile Options\n";

class CommandLineTest : public ::testing::Test {
protected:
    int Run(std::vector<std::string> args, std::string* out, double seconds = 30) {
        args.insert(args.begin(), program_);
        return RunProgram(args, out, seconds);
    }
    std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
    TempDir dir_;
    std::string program_ = InstallAgent(dir_);
};

TEST_F(CommandLineTest, HelpIsPrintedExactlyForHelpUnknownNamesAndWrongArgumentCounts) {
    const std::vector<std::vector<std::string>> cases = {
        {"--help"}, {"-h", "extra"}, {"--HELP"}, {"--Version"}, {"--nonsense"}, {"-s"},
        {"--save", "a", "b"}, {"--update", "only-one"}, {"--md5"}, {"-l", "not-a-port"},
    };
    for (const auto& args : cases) {
        std::string out;
        EXPECT_EQ(0, Run(args, &out)) << args[0];
        EXPECT_EQ(kHelp, out) << args[0];
    }
}

TEST_F(CommandLineTest, DiagnosticsPrintTheirFixedTextsAndExitStatuses) {
    WriteWholeFile(path("files/hello"), "hello");
    WriteWholeFile(path("files/lines"), "b\nA\nc\n");
    WriteWholeFile(path("status"),
                   "<thread_manager>\n <thread>\n  <id>00abcd</id>\n  <state>\n   <status>000200</status>\n"
                   "   <time>000000000000</time>\n   <size>30/100</size>\n  </state>\n  <state>\n"
                   "   <status>000800</status>\n   <time>000000000000</time>\n   <size>5/20</size>\n  </state>\n"
                   " </thread>\n</thread_manager>\n");
    WriteWholeFile(path("split/000"), "abc");
    WriteWholeFile(path("split/extra"), "x");
    setenv("TZ", "UTC", 1);
    const std::string files = path("files"), missing = path("missing"), split = path("split");
    const struct { std::vector<std::string> args; std::string out; int status; } cases[] = {
        {{"--version"}, "12.2.2.2\n", 0},
        {{"--options"},
         std::string("MESSAGE: Compile Options: CLIENT ") + PlatformName() +
             " __sun __svr4__ CONSOLE ZIP CRYPT GMP AES MUTEX PTHREAD REPORTING PRINT VETRAK STAT_64 _REENTRANT\n",
         0},
        {{"--md5", "abc"}, "md5(abc) = 900150983cd24fb0d6963f7d28e17f72\n", 0},
        {{"--md5sum", files + "/hello"}, "md5(" + files + "/hello) = 5d41402abc4b2a76b9719d911017c592\n", 0},
        {{"--md5sum", missing}, "ERROR: Could not open " + missing + " for reading\n", 1},
        {{"--wildcompare", "a*c", "abc"}, "MESSAGE: Est-ce que a*c correspond a abc? YES\n", 0},
        {{"--deepwildcompare", "a|b|c", "a|...|d"}, "MESSAGE: Est-ce que a|b|c correspond a a|...|d? NO\n", 0},
        {{"--wildstartswith", "a|b|*", "a|b"}, "MESSAGE: Est-ce que a|b|* commence par a|b? YES\n", 0},
        {{"--endswith", "backup.tar", ".tar"}, "MESSAGE: OUI\n", 0},
        {{"--replace", "it's"}, "MESSAGE: it\\'s\n", 0},
        {{"--new_version", "12.2.2.3"}, "MESSAGE: VERSION IS 12.2.2.3\nMESSAGE: 12.2.2.3 is NEWER\n", 0},
        {{"--time", "86461"}, "MESSAGE: On etait le 02/01/1970 @ 00:01:01\n", 0},
        {{"--deb", "100", "200"}, "MESSAGE: 100 / 200\n", 0},
        {{"--bufsiz"}, "MESSAGE: Buffer size is " + std::to_string(BUFSIZ) + "\n", 0},
        {{"--mutex"}, "MESSAGE: test1\nMESSAGE: test2\nMESSAGE: test3\n", 0},
        {{"--check-bug-exception"},
         "MESSAGE: Before Try\nMESSAGE: Throwing exception\nMESSAGE: Exception 42 caught\nMESSAGE: Everything is OK\n",
         0},
        {{"--check-bug-pthread"},
         "MESSAGE: starting pthread creation\nMESSAGE: pthread joined successfuly.  No Bug found\n", 0},
        {{"--free", "/"}, "MESSAGE: Free Space: 0 B\nMESSAGE: Disk Size: 0 B\n", 0},
        {{"--uid"},
         "MESSAGE: Real uid: " + std::to_string(getuid()) + "\nMESSAGE: Effective uid: " + std::to_string(geteuid()) +
             "\nMESSAGE: Real gid: " + std::to_string(getgid()) + "\nMESSAGE: Effective gid: " +
             std::to_string(getegid()) + "\n",
         0},
        {{"--name"}, "My name is anonymous\n", 0},
        {{"--server_name"}, "null\n", 0},
        {{"--check", "set9"}, "ERROR: No such client set9\n", 1},
        {{"--client"}, "MESSAGE: NOT OK\n", 1},
        {{"--read_broadcast"}, "MESSAGE: listen_broadcast n'est pas cree\n", 1},
        {{"--chmod", files + "/hello"}, "MESSAGE: Execute(chmod, +x '" + files + "/hello')\n", 0},
        {{"--size", files + "/hello"}, "MESSAGE: " + files + "/hello: 5\n", 0},
        {{"--count", files}, "MESSAGE: " + files + " has 2 files\n", 0},
        {{"--sortfile", files + "/lines"},
         "MESSAGE: IsRead\nMESSAGE: Is Sorted\nMESSAGE: Line is A\nMESSAGE: Line is b\nMESSAGE: Line is c\n", 0},
        {{"--deconstruct", files + "/hello"}, "MESSAGE: READ 5 -- 907060870\n", 0},
        {{"--symlink", "hello", files + "/link"}, "MESSAGE: symlink success\n", 0},
        {{"--symlink", "hello", files + "/link"}, "MESSAGE: symlink error 17 (File exists)\n", 1},
        {{"--unlink", missing}, "ERROR: Unlink Error (" + missing + "): No such file or directory\n", 1},
        {{"--verify-dirfile", missing}, "MESSAGE: Dir " + missing + " does not exist\n", 1},
        {{"--stats", missing}, "", 0},
        {{"--stats-todo", path("status")}, "35 120 85\n", 0},
        {{"--stats-todo", missing}, "0 0 0\n", 0},
        {{"--exec", "echo", "hi"}, "MESSAGE: RES: hi\n", 0},
        {{"--execute", "exit", "3"}, "MESSAGE: Execute(exit, 3)\nMESSAGE: Execute returns 3\n", 1},
        {{"--get", "127.0.0.1"}, "MESSAGE: You must specify a file to download\n", 1},
        {{"--getfast", "127.0.0.1", "local"}, "MESSAGE: You must specify a file to download\n", 1},
        {{"--move", "a", "b"}, "", 0},
        // The index of a split file: written once, then compared.
        {{"--verify-dirfile", split}, "MESSAGE: No index found, creating\n", 0},
        {{"--verify-dirfile", split}, "", 0},
        {{"--exec", "mv", split + "/extra", split + "/001"}, "MESSAGE: RES: \n", 0},
        {{"--verify-dirfile", split}, "MESSAGE: Ma pile md5s n'est pas la bonne taille (1 / 2 / " + split + ")\n", 1},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(c.status, Run(c.args, &out)) << c.args[0];
        EXPECT_EQ(c.out, out) << c.args[0];
    }
    unsetenv("TZ");
    std::string out;  // timed output: only the files made are checked
    mkdir(path("many").c_str(), 0755);
    EXPECT_EQ(0, Run({"--many-files", path("many"), "3"}, &out)) << out;
    EXPECT_EQ((std::vector<std::string>{"00000000", "00000001", "00000002"}), Entries(path("many/0000")));
    // No diagnostic touched the daemon's logs.
    EXPECT_FALSE(PathExists(path("conf/logs/messages")));
}

TEST_F(CommandLineTest, StatusReportPrintsEachActivityWithItsThreadAndLongText) {
    char status[400];
    snprintf(status, sizeof(status),
             "<thread_manager>\n <thread>\n  <id>00abcd</id>\n  <state>\n   <status>008000</status>\n"
             "   <time>%012lx</time>\n  </state>\n </thread>\n</thread_manager>\n",
             (long)time(nullptr));
    WriteWholeFile(path("conf/threads"), status);
    std::string out;
    EXPECT_EQ(0, Run({"--stats"}, &out));
    // Elapsed since the status was written: a slow start may take seconds.
    EXPECT_TRUE(std::regex_search(out, std::regex("^0000abcd: 00:00:0\\d:\\d\\d"))) << out;
    EXPECT_EQ(out.size() - strlen(": Scheduler Client\n"), out.find(": Scheduler Client\n")) << out;
}

// A fake server on 127.0.0.2 answering one save request with `reply`
// (empty: the connection is dropped after the request).
class SaveRequestTest : public CommandLineTest {
protected:
    void SetUp() override {
        listener_.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        ASSERT_TRUE(listener_->Bind(0, "127.0.0.2"));
        ASSERT_TRUE(listener_->Listen());
    }
    void Configure(const std::string& server) {
        config_ = "name=agent-under-test\nserver=" + server + "\nserver_port=" + std::to_string(listener_->port) +
                  "\nbackup=5\n";
        WriteWholeFile(path("conf/config"), config_);
    }
    // What the server read after the request: the lines the agent sent.
    std::future<std::string> Serve(const std::string& reply) {
        return std::async(std::launch::async, [this, reply] {
            if (!listener_->IsReadable(30, 0, true)) return std::string("no connection");
            std::unique_ptr<Sock> agent(listener_->Accept(false));
            std::string seen;
            try {
                agent->timeout = 20;
                if (!agent->Authenticate()) return std::string("no handshake");
                agent->Read();
                seen = agent->read_buffer;
                if (reply.empty()) return seen;
                agent->Write(reply.c_str());
                agent->Read();
                seen += std::string("|") + agent->read_buffer;
            } catch (SocketError&) {
                ReleaseSocketError();
            }
            return seen;
        });
    }
    ServerSide server_{"fake-server"};
    std::unique_ptr<Sock> listener_;
    std::string config_;
};

TEST_F(SaveRequestTest, AcceptedRefusedDroppedAndUnconfiguredRequests) {
    // seen: by the server; output: part of the agent's; rewritten: the configuration's backup time changed.
    const struct { const char *reply, *seen; int status; const char* output; bool rewritten; } cases[] = {
        {"SAVE_OK", "save set1|all", 0, "MESSAGE: C'est mon heure de sauvegarde\n", true},
        {"SAVE_REFUSED", "save set1|close", 1, "ERROR: Sauvegarde annulee: SAVE_REFUSED\n", false},
        {"", "save set1", 1, "ERROR: SaveThis(): Socket Exception Caught: ", false},
    };
    for (const auto& c : cases) {
        Configure("127.0.0.2 fake-server");
        std::future<std::string> server = Serve(c.reply);
        std::string out;
        EXPECT_EQ(c.status, Run({"--save", "set1"}, &out)) << c.reply;
        EXPECT_EQ(c.seen, server.get()) << c.reply;
        EXPECT_NE(std::string::npos, out.find(c.output)) << out;
        std::string config = ReadWholeFile(path("conf/config"));
        if (c.rewritten) {
            EXPECT_TRUE(config.find("backup=5\n") == std::string::npos && config.find("backup=") != std::string::npos)
                << config;
        } else {
            EXPECT_EQ(config_, config) << c.reply;
        }
    }
    // No server configured: nothing asked, nothing written, nothing said.
    Configure("null null");
    std::string out;
    EXPECT_EQ(1, Run({"-s", "set1"}, &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(config_, ReadWholeFile(path("conf/config")));
    // A server that does not listen.
    Configure("127.0.0.2 fake-server");
    listener_.reset();
    EXPECT_EQ(1, Run({"--save", "set1"}, &out));
    EXPECT_NE(std::string::npos, out.find("ERROR: SaveThis(): Connexion to Cube failed, backup aborted\n")) << out;
    EXPECT_EQ(config_, ReadWholeFile(path("conf/config")));
}

TEST_F(CommandLineTest, UpdateCopiesOverTheTargetKeepingItsModeAndStartsIt) {
    std::string target = path("agent dir/zel'agent"), source = path("qln_update.exe");
    WriteWholeFile(target, "old program", 0750);
    WriteWholeFile(source, "#!/bin/sh\necho started > \"$(dirname \"$0\")/marker\"\n", 0700);
    std::string out;
    EXPECT_EQ(0, Run({"--update", target, source}, &out));
    EXPECT_EQ("Executed original...\n", out);
    EXPECT_EQ(ReadWholeFile(source), ReadWholeFile(target));
    struct stat st;
    ASSERT_EQ(0, stat(target.c_str(), &st));
    EXPECT_EQ(0750u, st.st_mode & 07777);
    EXPECT_TRUE(WaitForText(path("agent dir/marker"), "started", 10));
}

TEST(SelfUpdateTest, FailedCopiesLeaveTheTargetAsItWas) {
    TempDir dir;
    std::string target = dir + "/agent";
    WriteWholeFile(target, "old program", 0755);
    mkdir((dir + "/folder").c_str(), 0755);
    EXPECT_FALSE(ReplaceProgramFile(target.c_str(), (dir + "/missing").c_str()));
    EXPECT_FALSE(ReplaceProgramFile(target.c_str(), (dir + "/folder").c_str()));
    EXPECT_FALSE(RunSelfUpdate(target.c_str(), (dir + "/missing").c_str(), 2));
    EXPECT_EQ("old program", ReadWholeFile(target));
    EXPECT_FALSE(PathExists(target + ".tmp"));
}

TEST(TransferOptionsTest, GetGetFastSendOpenAndStopAgainstAnAgentThenFailWithoutOne) {
    ServerSide server("test-server");
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    const std::string program = daemon.path("zelagent"), source = daemon.path("data/source");
    WriteWholeFile(source, RandomBytes(3000000, 7));
    // result: the file that must then equal the source.
    const struct { std::vector<std::string> args; std::string result; } cases[] = {
        {{"--get", "127.0.0.1:" + source, daemon.path("got")}, daemon.path("got")},
        {{"--getfast", "127.0.0.1:" + source, daemon.path("gotfast")}, daemon.path("gotfast")},
        {{"--send", source, "127.0.0.1:" + daemon.path("sent")}, daemon.path("sent")},
    };
    std::string out;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return RunProgram(args, &out);
    };
    for (const auto& c : cases) {
        EXPECT_EQ(0, run(c.args)) << c.args[0] << out;
        EXPECT_TRUE(ReadWholeFile(source) == ReadWholeFile(c.result)) << c.args[0];
    }
    EXPECT_EQ(0, run({"-o", "127.0.0.1", "1", "echo hi"}));
    EXPECT_NE(std::string::npos, out.find("MESSAGE: Read: hi\n")) << out;
    EXPECT_EQ(0, run({"--stop"})) << out;
    EXPECT_EQ(0, daemon.WaitExit(30));
    for (const auto& c : cases) EXPECT_EQ(1, run(c.args)) << c.args[0];
    EXPECT_EQ(1, run({"-o", "127.0.0.1", "1", "echo hi"}));
    EXPECT_EQ(1, run({"--stop"}));
    EXPECT_NE(std::string::npos, out.find("Connection refused")) << out;
}

}  // namespace
