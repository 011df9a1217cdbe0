// Serving many peers at once, the keep-alive of long commands, and the
// end of the daemon on "terminate".
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/CommandRunner.h"
#include "foundation/Commands.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Loopback.h"

namespace {

// A fresh daemon per test: these end or restart it.
class Serving : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(daemon.Started()); }
    ServerSide server;
    AgentDaemon daemon;
};

TEST_F(Serving, FiftyConcurrentConnectionsAllGetTheirOwnReplies) {
    std::atomic<int> good{0};
    std::vector<std::thread> peers;
    for (int i = 0; i < 50; i++) {
        peers.emplace_back([&, i] {
            std::unique_ptr<Sock> sock(daemon.Connect());
            try {
                bool ok = sock != nullptr;
                for (int k = 0; ok && k < 3; k++) {
                    std::string text = "peer " + std::to_string(i) + " call " + std::to_string(k);
                    ok = daemon.Ask(sock.get(), "echo " + text) == text;
                }
                if (ok && daemon.Ask(sock.get(), "this_version") == "12.2.2.2") good++;
                if (sock) sock->CloseConnection();
            } catch (SocketError&) {
                ReleaseSocketError();
            }
        });
    }
    for (auto& t : peers) t.join();
    EXPECT_EQ(50, good.load());
}

// True when the peer closes `fd` within `seconds` (end of stream or reset).
bool ClosedByPeer(int fd, int seconds) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    while (poll(&p, 1, seconds * 1000) == 1)
        if (recv(fd, &byte, 1, 0) <= 0) return true;
    return false;
}

// Gone, or a zombie no one has reaped yet.
bool ProcessGone(pid_t pid) {
    std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    return stat.empty() || stat.find(") Z ") != std::string::npos;
}

TEST_F(Serving, RestartLetsEveryConnectionGoAndBindsThePortWhileAChildOfTheOldDaemonRuns) {
    std::unique_ptr<Sock> idle(daemon.Connect()), admin(daemon.Connect());
    ASSERT_TRUE(idle && admin);
    std::string child_pid = daemon.path("child.pid");
    EXPECT_EQ("0", daemon.Ask(admin.get(), "execute sleep 30 & echo $! > " + child_pid));
    pid_t child = atoi(ReadWholeFile(child_pid).c_str());
    admin->Write("restart");
    // No process of the agent, old or new, keeps either connection open.
    EXPECT_TRUE(ClosedByPeer(admin->sock, 20));
    EXPECT_TRUE(ClosedByPeer(idle->sock, 20));
    EXPECT_EQ(0, daemon.WaitExit(20));

    std::unique_ptr<Sock> again;
    for (int i = 0; i < 200 && !again; i++, Wait(0.1)) again.reset(daemon.Connect());
    // The dispatcher that took the restart let its connection go.
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("conf/logs/messages.old")).find("au revoir"));
    pid_t restarted = atoi(ReadWholeFile(daemon.path("conf/pid")).c_str());
    EXPECT_FALSE(ProcessGone(child));  // still running, and holding no port
    if (again) again->Write("terminate");
    for (int i = 0; i < 200 && !ProcessGone(restarted); i++) Wait(0.1);
    EXPECT_TRUE(again && ProcessGone(restarted)) << ReadWholeFile(daemon.path("console"));
    if (!ProcessGone(restarted)) kill(restarted, SIGKILL);
    if (child > 0) kill(child, SIGKILL);
}

TEST(ServingUnderServiceManager, RestartExitsWithItsStatusAndStartsNoCopy) {
    ServerSide server;
    setenv("INVOCATION_ID", "0123456789abcdef", 1);
    AgentDaemon daemon;
    unsetenv("INVOCATION_ID");
    ASSERT_TRUE(daemon.Started());
    std::unique_ptr<Sock> admin(daemon.Connect());
    ASSERT_NE(nullptr, admin);
    admin->Write("restart");
    EXPECT_EQ(kExitServiceRestart, daemon.WaitExit(20));
    // Nothing took the port over: the service manager starts the next one.
    Wait(1);
    Sock probe(AF_INET, SOCK_STREAM, 0);
    EXPECT_FALSE(probe.ConnectLite("127.0.0.1", daemon.port()));
}

// Then "terminate" ends the daemon without a reply.
TEST_F(Serving, HangupReopensTheLogsSoARotatedMessagesFileIsNotWrittenAnyMoreAndTerminateEnds) {
    ASSERT_EQ(0, rename(daemon.path("conf/logs/messages").c_str(), daemon.path("conf/logs/messages.1").c_str()));
    kill(daemon.pid(), SIGHUP);
    EXPECT_TRUE(WaitForText(daemon.path("conf/logs/messages"), "Log files reopened", 10));
    std::unique_ptr<Sock> sock(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    sock->CloseConnection();
    EXPECT_TRUE(WaitForText(daemon.path("conf/logs/messages"), "au revoir", 10));
    EXPECT_EQ(std::string::npos, ReadWholeFile(daemon.path("conf/logs/messages.1")).find("au revoir"));
    sock.reset(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    sock->Write("terminate");
    EXPECT_EQ(0, daemon.WaitExit(30));
    EXPECT_NE(std::string::npos, daemon.Messages().find("MUST DIE"));
}

TEST(CommandRunner, LongCommandKeepsTheServerInformedAndADroppedServerNeverSeesItsFrameReused) {
    TestHome home;
    LoopbackPair pair(30);
    ASSERT_NE(nullptr, pair.server);
    int saved = keep_alive_interval;
    keep_alive_interval = 1;
    // The command runs until the test has seen two keep-alive lines, however
    // slowly the machine goes.
    std::string flag = home.path("enough");
    Command command(("while [ ! -e '" + flag + "' ]; do sleep 0.05; done").c_str());
    std::thread runner([&] { ThreadExecuteWithSock(&command, pair.server.get()); });
    int running = 0;
    for (int i = 0; i < 300 && running < 2; i++) {
        if (!pair.client->IsReadable(0, 100000, true)) continue;
        pair.client->Read();
        if (std::string(pair.client->read_buffer) == "RUNNING") running++;
    }
    WriteWholeFile(flag, "");
    runner.join();
    EXPECT_EQ(2, running);
    EXPECT_EQ(0, command.result);
    EXPECT_TRUE(CheckLocks(pair.server.get(), nullptr, false));

    // The server goes away while a command runs: the wait ends at once, and
    // the worker never writes into the caller's command, freed here while it
    // still runs (the sanitizer watches).
    Command* orphan = new Command("sleep 4");
    pair.client.reset();
    bool thrown = false;
    try {
        ThreadExecuteWithSock(orphan, pair.server.get());
    } catch (SocketError&) {
        ReleaseSocketError();
        thrown = true;
    }
    delete orphan;
    keep_alive_interval = saved;
    EXPECT_TRUE(thrown);
    EXPECT_TRUE(WaitForThreads(20));
}

}  // namespace
