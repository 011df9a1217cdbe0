// Serving many peers at once, the keep-alive of long commands, and the
// end of the daemon on "terminate".
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/CommandRunner.h"
#include "foundation/Commands.h"
#include "records/Config.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

namespace {

TEST(Serving, FiftyConcurrentConnectionsAllGetTheirOwnReplies) {
    ServerSide server;
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    std::atomic<int> good{0};
    std::vector<std::thread> peers;
    for (int i = 0; i < 50; i++) {
        peers.emplace_back([&, i] {
            std::unique_ptr<Sock> sock(daemon.Connect());
            if (!sock) return;
            try {
                bool ok = true;
                for (int k = 0; k < 3; k++) {
                    std::string text = "peer " + std::to_string(i) + " call " + std::to_string(k);
                    ok = ok && daemon.Ask(sock.get(), "echo " + text) == text;
                }
                ok = ok && daemon.Ask(sock.get(), "this_version") == "12.2.2.2";
                sock->CloseConnection();
                if (ok) good++;
            } catch (SocketError&) {
                ReleaseSocketError();
            }
        });
    }
    for (auto& t : peers) t.join();
    EXPECT_EQ(50, good.load());
    std::unique_ptr<Sock> after(daemon.Connect());
    ASSERT_NE(nullptr, after);
    EXPECT_EQ("still serving", daemon.Ask(after.get(), "echo still serving"));
    after->CloseConnection();
}

TEST(Serving, TerminateEndsTheDaemonWithoutReply) {
    ServerSide server;
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    std::unique_ptr<Sock> sock(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    sock->Write("terminate");
    EXPECT_EQ(0, daemon.WaitExit(30));
    EXPECT_NE(std::string::npos, daemon.Messages().find("MUST DIE"));
}

// A connected pair of Socks inside this process, without a handshake.
struct SockPair {
    SockPair() {
        Sock listener(AF_INET, SOCK_STREAM, 0);
        listener.Bind(0, "127.0.0.1");
        listener.Listen();
        client.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        client->Connect("127.0.0.1", listener.port);
        server.reset(listener.Accept(false));
        client->timeout = server->timeout = 30;
        client->authenticated = server->authenticated = true;  // as past a handshake
    }
    std::unique_ptr<Sock> client, server;
};

TEST(CommandRunner, LongCommandKeepsTheServerInformed) {
    TestHome home;
    SockPair pair;
    ASSERT_NE(nullptr, pair.server);
    int saved = keep_alive_interval;
    keep_alive_interval = 1;
    Command command("sleep 2.6");
    std::thread runner([&] { ThreadExecuteWithSock(&command, pair.server.get()); });
    int running = 0;
    for (int i = 0; i < 100 && !command.done.load(); i++) {
        if (!pair.client->IsReadable(0, 100000, true)) continue;
        pair.client->Read();
        if (std::string(pair.client->read_buffer) == "RUNNING") running++;
    }
    runner.join();
    keep_alive_interval = saved;
    EXPECT_GE(running, 2);
    EXPECT_EQ(0, command.result);
    EXPECT_EQ(-1, ThreadExecuteWithSock(nullptr, pair.server.get()));
    EXPECT_EQ(-2, ThreadExecuteWithSock(&command, nullptr));
    EXPECT_TRUE(CheckLocks(pair.server.get(), nullptr, false));
}

}  // namespace
