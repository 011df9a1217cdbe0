// Identification against a fake server: the agent connects at start-up,
// authenticates, asks "version" and follows the branch the reply chooses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

#include "core/Globals.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/Identification.h"
#include "dialogue/SingleFileTransfer.h"
#include "records/Client.h"
#include "records/Config.h"
#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

namespace {

// Listens on 127.0.0.2 (the agent always reaches 127.0.0.1 on its own port)
// and serves the agent's identification connection.
class FakeServer : public ::testing::Test {
protected:
    void SetUp() override {
        listener_.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        ASSERT_TRUE(listener_->Bind(0, "127.0.0.2"));
        ASSERT_TRUE(listener_->Listen());
    }
    std::string ServerConfig() {
        return "name=agent-under-test\nserver=127.0.0.2 fake-server\nserver_port=" +
               std::to_string(listener_->port) + "\n";
    }
    // Accepts and authenticates the agent's connection, reads "version".
    Sock* AcceptAgent() {
        if (!listener_->IsReadable(60, 0, true)) return nullptr;
        Sock* agent = listener_->Accept(false);
        if (!agent) return nullptr;
        agent->timeout = 30;
        if (!agent->Authenticate()) {
            delete agent;
            return nullptr;
        }
        agent->Read();
        EXPECT_STREQ("version", agent->read_buffer);
        return agent;
    }
    std::string Next(Sock* agent) {
        unsigned n = agent->Read();
        return std::string(agent->read_buffer, n);
    }
    ServerSide server_{"fake-server"};
    std::unique_ptr<Sock> listener_;
};

TEST_F(FakeServer, MaintenanceReplyChangesNothing) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    agent->Write("9.9.9.1");
    EXPECT_EQ("close", Next(agent.get()));
    ASSERT_TRUE(daemon.Started());
    std::string config = ReadWholeFile(daemon.path("conf/config"));
    EXPECT_NE(std::string::npos, config.find("name=agent-under-test\n"));
    EXPECT_NE(std::string::npos, config.find("server=127.0.0.2 fake-server\n"));
}

TEST_F(FakeServer, RebootReplyRunsTheRebootProgram) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    agent->Write("9.9.9.9");
    EXPECT_EQ("close", Next(agent.get()));
    EXPECT_TRUE(WaitForText(daemon.path("programs.log"), "stub-reboot", 10));
}

TEST_F(FakeServer, RegenerateReplyWritesNewAdministratorKeys) {
    AgentDaemon daemon(ServerConfig() + "client=b.1 10.0.0.1 \"one\" Linux 0 0 0 1 2 3 0\n");
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    agent->Write("9.9.9.0");
    EXPECT_EQ("close", Next(agent.get()));
    ASSERT_TRUE(daemon.Started());
    EXPECT_TRUE(PathExists(daemon.path("conf/admin/gui_pub")));
    EXPECT_TRUE(PathExists(daemon.path("conf/admin/gui_priv")));
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("console")).find("hash == "));
}

TEST_F(FakeServer, OlderServerGivesTimesAndSetsFallingBackToTheOldListing) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    agent->Write("1.0.0.0");
    EXPECT_EQ("config time retrieve", Next(agent.get()));
    agent->Write("5 7");
    EXPECT_EQ("config client getv2 all agent-under-test", Next(agent.get()));
    agent->Write("UNKNOWN_COMMAND");
    EXPECT_EQ("config client get all agent-under-test", Next(agent.get()));
    agent->Write("1\nbox1.3 10.0.0.5 \"My Set\" Linux 0 1 * * * 3 1 100 200 0 x 0 0 0 3 x\n");
    EXPECT_EQ("close", Next(agent.get()));
    ASSERT_TRUE(daemon.Started());
    std::string config = ReadWholeFile(daemon.path("conf/config"));
    EXPECT_NE(std::string::npos, config.find("time=5 7\n")) << config;
    EXPECT_NE(std::string::npos, config.find("client=box1.3 10.0.0.5 \"My Set\" Linux 1 0 1 100 200 200 0\n"))
        << config;
}

TEST_F(FakeServer, NewerVersionDownloadsTheUpdateAndHandsOverToIt) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    agent->Write("13.0.0.0");
    EXPECT_EQ("update_software", Next(agent.get()));
    std::string stub = server_.home.path("stub");
    WriteWholeFile(stub, "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/updated\"\n");
    ASSERT_EQ(0, SendFile(agent.get(), stub.c_str(), nullptr, nullptr));
    EXPECT_EQ("close", Next(agent.get()));
    EXPECT_EQ(0, daemon.WaitExit(30));
    // The file appears before the stub has written into it: wait for the line.
    std::string line = "--update " + daemon.path("zelagent") + " " + daemon.path("qln_update.exe") + "\n";
    EXPECT_TRUE(WaitForText(daemon.path("updated"), line, 10)) << ReadWholeFile(daemon.path("updated"));
}

TEST_F(FakeServer, UnknownClientReplyOnAnAnonymousConnectionChangesNothing) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    EXPECT_TRUE(agent->anonymous);
    agent->Write("ERROR_UNKNOWN_CLIENT");
    EXPECT_EQ("close", Next(agent.get()));
    ASSERT_TRUE(daemon.Started());
    EXPECT_NE(std::string::npos, ReadWholeFile(daemon.path("conf/config")).find("name=agent-under-test\n"));
}

TEST_F(FakeServer, UnknownClientReplyWithKeyFilesResetsTheAgent) {
    RSAKey agent_pub, agent_priv, server_pub, server_priv;
    GenerateKeyPair(&agent_pub, &agent_priv);
    GenerateKeyPair(&server_pub, &server_priv);
    ASSERT_EQ(1, WritePrivKey(&server_priv, nullptr, nullptr));
    ASSERT_EQ(1, WritePubKey(&agent_pub, "agent-under-test"));
    ASSERT_EQ(1, WritePrivKey(&agent_priv, "agent-copy", nullptr));
    ASSERT_EQ(1, WritePubKey(&server_pub, "fake-server"));
    const std::string conf = res->conf_dir;
    AgentDaemon daemon(ServerConfig() + "time=5 7\n", [&](const std::string& dir) {
        WriteWholeFile(dir + "/conf/priv", ReadWholeFile(conf + "agent-copy/priv"), 0600);
        WriteWholeFile(dir + "/conf/pub", ReadWholeFile(conf + "agent-under-test/pub"));
        WriteWholeFile(dir + "/conf/fake-server/pub", ReadWholeFile(conf + "fake-server/pub"));
        WriteWholeFile(dir + "/conf/agent-under-test/pub", "another name's key");
    });
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    EXPECT_FALSE(agent->anonymous);
    agent->Write("ERROR_UNKNOWN_CLIENT");
    EXPECT_EQ("close", Next(agent.get()));
    ASSERT_TRUE(daemon.Started());
    std::string config = ReadWholeFile(daemon.path("conf/config"));
    EXPECT_NE(std::string::npos, config.find("name=anonymous\n")) << config;
    EXPECT_NE(std::string::npos, config.find("server=null null\n"));
    EXPECT_NE(std::string::npos, config.find("time=0 0\n"));
    EXPECT_FALSE(PathExists(daemon.path("conf/fake-server")));
    // The agent's own pair goes; keys filed under its name are another's.
    EXPECT_FALSE(PathExists(daemon.path("conf/priv")));
    EXPECT_FALSE(PathExists(daemon.path("conf/pub")));
    EXPECT_TRUE(PathExists(daemon.path("conf/agent-under-test/pub")));
}

TEST(ClientListReply, FieldsLandInTheirSlots) {
    std::vector<Client*> sets;
    int count = ParseClientList(
        "2\nbox1.3 10.0.0.5 \"My Set\" Linux 30 2 * * 1 4 1 100 200 8 x 6 7 9 5 x 300\n"
        "box2.0 10.0.0.6 \"Other\" SunOS 0 0 * * * 3 0 1 2 0 x 0 0 0 3 x 4\n",
        true, "srv", sets);
    ASSERT_EQ(2, count);
    ASSERT_EQ(2u, sets.size());
    Client* c = sets[0];
    EXPECT_STREQ("srv", c->box_name);
    EXPECT_STREQ("box1", c->base_id);
    EXPECT_EQ(3, c->number);
    EXPECT_STREQ("box1.3", c->id);
    EXPECT_STREQ("10.0.0.5", c->ip);
    EXPECT_STREQ("My Set", c->name);
    EXPECT_STREQ("Linux", c->os);
    EXPECT_STREQ("30 2 * * 1", c->schedule);
    EXPECT_EQ(30, c->value_2);
    EXPECT_EQ(2, c->value_1);
    EXPECT_EQ(4, c->setting_1);
    EXPECT_EQ(1, c->crypt);
    EXPECT_EQ(100u, c->created);
    EXPECT_EQ(200u, c->modified);
    EXPECT_EQ(8, c->state);
    EXPECT_EQ(6, c->setting_2);
    EXPECT_EQ(7u, c->counter_1);
    EXPECT_EQ(9u, c->stored_kb);
    EXPECT_EQ(5, c->setting_3);
    EXPECT_EQ(300u, c->last_save);
    EXPECT_EQ(4u, sets[1]->last_save);
    for (Client* s : sets) delete s;
}

TEST(ClientListReply, ShortOrLyingRepliesNeverReadPastTheText) {
    std::vector<Client*> sets;
    EXPECT_EQ(5, ParseClientList("5\n\n...\nbox.1 ip\n", true, "srv", sets));
    ASSERT_EQ(1u, sets.size());  // blank lines make no set
    EXPECT_STREQ("box", sets[0]->base_id);
    delete sets[0];
    sets.clear();
    EXPECT_EQ(0, ParseClientList("", true, "srv", sets));
    EXPECT_EQ(0, ParseClientList("-3\nx.1\n", false, "srv", sets));
    EXPECT_TRUE(sets.empty());
}

}  // namespace
