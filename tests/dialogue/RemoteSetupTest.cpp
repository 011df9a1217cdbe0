// Setting up other machines: the system question of a new backup set and
// the repair of a set's keys, each against a peer over loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/RemoteSetup.h"
#include "records/Client.h"
#include "records/ClientManagement.h"
#include "records/Config.h"

namespace {

TEST(RemoteSetup, AddingASetAsksTheMachineForItsSystem) {
    ServerSide side("box");
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    config->client_port = daemon.port();
    // The registry refuses every new set, but only after the machine answered.
    EXPECT_EQ(-1, AddClient("127.0.0.2", "new set", "0 0 * * *", 3, 1, "pw", 0, 3, 0));
    std::string log = ReadWholeFile(res->messages_file);
    EXPECT_NE(std::string::npos, log.find("Config::AddClient(127.0.0.2, new set, " + std::string(res->system_name)))
        << log;
    char os[12];
    EXPECT_FALSE(AskOperatingSystem("127.0.0.2", FreePort(), os, sizeof(os)));
}

TEST(RemoteSetup, KeyRepairInstallsFreshKeysOnTheMachine) {
    ServerSide side("box");
    Sock listener(AF_INET, SOCK_STREAM, 0);
    ASSERT_TRUE(listener.Bind(0, "127.0.0.2"));
    ASSERT_TRUE(listener.Listen());
    config->client_port = listener.port;
    std::vector<std::string> lines;
    std::thread peer([&] {
        if (!listener.IsReadable(30, 0, true)) return;
        std::unique_ptr<Sock> sock(listener.Accept(false));
        if (!sock || !sock->Authenticate()) return;
        try {
            while (lines.empty() || lines.back() != "close") {
                sock->Read();
                lines.push_back(sock->read_buffer);
                if (lines.back().compare(0, 4, "set_") == 0) sock->Read(), sock->Read();  // the key's two numbers
                if (lines.back() != "close") sock->Write("CONFIG_OK");
            }
        } catch (SocketError&) {
            ReleaseSocketError();
        }
    });
    Client set;
    snprintf(set.ip, sizeof(set.ip), "127.0.0.2");
    snprintf(set.name, sizeof(set.name), "broken");
    snprintf(set.base_id, sizeof(set.base_id), "m1");
    EXPECT_EQ(1, FixBrokenAesKey(&set));
    peer.join();
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ((std::vector<std::string>{"config name set m1", "config server set 0.0.0.0 box", "set_pub_key \"\"",
                                        "set_priv_key \"\"", "set_pub_key \"box\"", lines[5]}),
              lines);
    EXPECT_TRUE(PathExists(std::string(res->conf_dir) + "broken/pub"));
    EXPECT_TRUE(PathExists(std::string(res->conf_dir) + "broken/gui_priv"));
    EXPECT_TRUE(PathExists(std::string(res->conf_dir) + "m1/key"));
}

}  // namespace
