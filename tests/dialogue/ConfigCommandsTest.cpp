// The "config" family against the real agent: replies, what reaches the
// configuration file, the pending network settings and their test, reset.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <regex>
#include <thread>

#include "dialogue/AgentHarness.h"

namespace {

struct Exchange {
    const char* command;
    const char* reply;  // null: any reply
};

void Play(AgentDaemon& daemon, Sock* sock, const std::vector<Exchange>& script) {
    for (const Exchange& e : script) {
        std::string reply = daemon.Ask(sock, e.command);
        if (e.reply) { EXPECT_EQ(e.reply, reply) << e.command; }
    }
}

TEST(ConfigCommands, EveryCategoryAnswersItsReplies) {
    ServerSide server;
    AgentDaemon daemon("name=agent-under-test\nclient_port=" + std::to_string(FreePort()) +
                       "\nserver_port=" + std::to_string(FreePort()) + "\n");
    ASSERT_TRUE(daemon.Started());
    std::unique_ptr<Sock> sock(daemon.Connect("127.0.0.2", "127.0.0.2"));
    ASSERT_NE(nullptr, sock);
    const std::string pwned = daemon.path("pwned");
    const std::string date = "12:00:00 `touch " + pwned + "`";
    Play(daemon, sock.get(),
         {{"config nosuch get", "UNKNOWN_COMMAND"},
          {"config name nosuch", "UNKNOWN_COMMAND"},
          {"config client get 0", "CONFIG_UNKNOWN_CLIENT"},
          {"config client get first", "UNKNOWN_COMMAND"},
          {"config client get count", "0"},
          {"config client getv2 all agent-under-test", "0"},
          {"config client add 127.0.0.1 \"my set\" 0 2 * * * 3 1 not-a-key 0", "BAD_PASSWORD"},
          {"config client add 127.0.0.1 \"my set\" 0 2 * * * 3 1 0123456789abcdef0123456789abcdef 0 3 0",
           "ERROR_CLIENT_DOWN"},
          {"config client detect 127.0.0.2", "ERROR_CLIENT_DOWN"},
          {"config client delete base.1", "CONFIG_UNKNOWN_CLIENT"},
          {"config client modify base.1 \"n\" 0 2 * * * 3 1 0 3 0", "CONFIG_UNKNOWN_CLIENT"},
          {"config client evaluate base.1 include dir \"|tmp|\"", "CONFIG_UNKNOWN_CLIENT"},
          {"config client pause job", "CONFIG_OK"},
          {"config client_port set 0", "CONFIG_BAD_PORT"},
          {"config client_port set -3", "CONFIG_BAD_PORT"},
          {"config client_port set 7000", "CONFIG_OK"},
          {"config client_port get", "7000"},
          {"config max_send_size set -5", "CONFIG_OK"},
          {"config max_send_size get", "0"},
          {"config time set 5", "CONFIG_ERROR"},
          {"config time set 5 7", "CONFIG_OK"},
          {"config time get", "5 7"},
          {"config time retrieve", "-1 -1"},
          {"config crypt set 0", "CONFIG_OK"},
          {"config server get", "null null"},
          {"config server set anything ..", "CONFIG_ERROR"},
          {"config server set anything box1", "CONFIG_OK"},
          {"config server get", "127.0.0.2 box1"},
          {"config name set", "CONFIG_ERROR"},
          {"config name set a/b", "CONFIG_ERROR"},
          {"config name get", "agent-under-test"},
          {"config ntpserver set time.test", "CONFIG_OK"},
          {"config systime set", "CONFIG_ERROR"},
          {("config systime set " + date).c_str(), "CONFIG_OK"},
          {"config route get count", "0"},
          {"config route get all", ""},
          {"config route get 0", "CONFIG_UNKNOWN_ROUTE"},
          {"config route add 10.0.0.0 255.0.0.0", "CONFIG_ERROR"},
          {"config route add 10.0.0.0 255.0.0.0 10.0.0.1", "CONFIG_OK"},
          {"config route get count", "0"},
          {"config email add a@b.test alert 1", "CONFIG_ERROR"},
          {"config email add a@b.test alert 1 2", "CONFIG_OK"},
          {"config email get count", "0"},
          {"config quota add q OCT 100", "CONFIG_ERROR"},
          {"config quota add q OCT 100 1", "CONFIG_OK"},
          {"config quota get -1", "CONFIG_UNKNOWN_QUOTA"},
          {"config quota get 5", "CONFIG_UNKNOWN_QUOTA"},
          {"config rate set", "CONFIG_ERROR"},
          {"config rate set 10Mbit", "CONFIG_OK"},
          {"config rate get", "100Mbit"},
          {"config ip modify 1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4", "CONFIG_OK"},
          {"config ip get", "0.0.0.0 0.0.0.0 127.0.0.1 127.0.0.1"},
          // Nothing listens at box1's port: nothing is applied.
          {"config test", "CONFIG_BAD_FIREWALL"},
          {"config ip get", "0.0.0.0 0.0.0.0 127.0.0.1 127.0.0.1"},
          {"config route get count", "0"},
          {"config test", "CONFIG_OK"}});
    EXPECT_TRUE(
        std::regex_match(daemon.Ask(sock.get(), "config systime get"), std::regex("\\d\\d:\\d\\d:\\d\\d")));
    sock->CloseConnection();
    // The wire text reached the date program as one argument, never a shell.
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("programs.log")).find("stub-date " + date));
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("programs.log")).find("stub-ntp"));
    EXPECT_FALSE(PathExists(pwned));
    std::string file = ReadWholeFile(daemon.path("conf/config"));
    for (const char* line : {"client_port=7000\n", "time=5 7\n", "crypt=0\n", "server=127.0.0.2 box1\n"})
        EXPECT_NE(std::string::npos, file.find(line)) << line;
}

// A server that answers the agent's probe: greeting, name, then "close".
// Bound but not listening until Serve: connections are refused till then.
struct FakeServer {
    FakeServer() { listener.Bind(0, "127.0.0.2"); }
    ~FakeServer() {
        if (worker.joinable()) worker.join();
    }
    void Serve() {
        listener.Listen();
        worker = std::thread([this] {
            std::unique_ptr<Sock> c(listener.Accept(true));  // bounded wait
            if (!c) return;
            try {
                for (const char* answer : {"hello", "fakebox", ""}) {
                    c->Receive(0);
                    heard += std::string(c->read_buffer) + (*answer ? "|" : "");
                    if (*answer) c->Send(answer);
                }
            } catch (SocketError&) {
                ReleaseSocketError();
            }
        });
    }
    Sock listener{AF_INET, SOCK_STREAM, 0};
    std::thread worker;
    std::string heard;
};

TEST(ConfigCommands, PendingAddressesApplyOnlyWhenTheServerAnswers) {
    ServerSide server;
    FakeServer fake;
    AgentDaemon daemon("name=agent-under-test\nserver=127.0.0.2 fakebox\nserver_port=" +
                       std::to_string(fake.listener.port) + "\n");
    ASSERT_TRUE(daemon.Started());
    std::unique_ptr<Sock> sock(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    Play(daemon, sock.get(),
         {{"config ip modify 1.1.1.1 2.2.2.2", "CONFIG_OK"},
          {"config test", "CONFIG_BAD_FIREWALL"},
          {"config ip get", "0.0.0.0 0.0.0.0 127.0.0.1 127.0.0.1"}});
    fake.Serve();
    Play(daemon, sock.get(),
         {{"config ip modify 1.1.1.1 2.2.2.2", "CONFIG_OK"},
          {"config route add 10.0.0.0 255.0.0.0 10.0.0.1", "CONFIG_OK"},
          {"config ip get", "0.0.0.0 0.0.0.0 127.0.0.1 127.0.0.1"},
          {"config test", "CONFIG_OK"},
          {"config ip get", "1.1.1.1 2.2.2.2 127.0.0.1 127.0.0.1"},
          {"config route get all", "10.0.0.0 255.0.0.0 10.0.0.1"}});
    sock->CloseConnection();
    fake.worker.join();
    EXPECT_EQ("hello|agent-under-test|close", fake.heard);
}

TEST(ConfigCommands, NameSurvivesARestartReloadReadsTheFileOnceAndResetForgetsTheServer) {
    ServerSide server;
    AgentDaemon daemon(
        "name=agent-under-test\nserver=127.0.0.3 box9\nserver_port=" + std::to_string(FreePort()) + "\n",
        [](const std::string& dir) {
            for (const char* f : {"conf/box9/pub", "conf/pub", "conf/priv", "conf/other/pub"})
                WriteWholeFile(dir + "/" + f, "key");
        });
    ASSERT_TRUE(daemon.Started());
    std::unique_ptr<Sock> sock(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    EXPECT_EQ("CONFIG_OK", daemon.Ask(sock.get(), "config name set renamed agent"));
    // A line break would smuggle a setting of its own into the file.
    EXPECT_EQ("CONFIG_ERROR", daemon.Ask(sock.get(), "config smtpserver set x\nserver=6.6.6.6 evil"));
    sock->CloseConnection();
    ASSERT_TRUE(daemon.Restart());
    sock.reset(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    EXPECT_STREQ("renamed agent", sock->name);
    std::string file = ReadWholeFile(daemon.path("conf/config"));
    WriteWholeFile(daemon.path("conf/config"),
                   file + "client=base.4 10.0.0.9 \"set four\" Linux 1 2 1 100 200 300 0\ncrypt=0\n");
    Play(daemon, sock.get(),
         {{"config reload", "CONFIG_OK"},
          {"config reload", "CONFIG_OK"},
          {"config client get count", "1"},
          {"config client get 0", "base.4 10.0.0.9 \"set four\" Linux 0 0 * * * 3 1 100 200 0 1 0 0 0 3 0 "},
          {"config client getv2 0",
           "base.4 10.0.0.9 \"set four\" Linux 0 0 * * * 3 1 100 200 0 1 0 0 0 3 0 300 0 "},
          {"config client get 1", "CONFIG_UNKNOWN_CLIENT"},
          {"config reset", "CONFIG_OK"},
          {"config name get", "anonymous"},
          {"config server get", "null null"},
          {"config time get", "0 0"}});
    sock->CloseConnection();
    EXPECT_EQ(std::string::npos, file.find("evil"));
    EXPECT_FALSE(PathExists(daemon.path("conf/box9")));
    EXPECT_FALSE(PathExists(daemon.path("conf/pub")));
    EXPECT_FALSE(PathExists(daemon.path("conf/priv")));
    EXPECT_TRUE(PathExists(daemon.path("conf/other/pub")));
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("conf/config")).find("name=anonymous\n"));
}

}  // namespace
