// Identification against a fake server: the agent connects at start-up,
// authenticates, asks "version" and follows the branch the reply chooses.
#include <gtest/gtest.h>

#include <vector>

#include "core/Globals.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/Identification.h"
#include "dialogue/SingleFileTransfer.h"
#include "records/Client.h"
#include "records/Config.h"

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
    ServerSide server_{"fake-server"};
    std::unique_ptr<Sock> listener_;
};

// Replies after which the agent closes at once, and what each leaves behind.
TEST_F(FakeServer, MaintenanceRebootRegenerateAndUnknownClientReplies) {
    const auto kept = [](AgentDaemon& d, Sock*) {
        std::string config = ReadWholeFile(d.path("conf/config"));
        EXPECT_NE(std::string::npos, config.find("name=agent-under-test\n")) << config;
        EXPECT_NE(std::string::npos, config.find("server=127.0.0.2 fake-server\n")) << config;
    };
    const struct {
        const char* reply;
        std::string config;  // added to the server's
        std::function<void(AgentDaemon&, Sock*)> check;
    } cases[] = {
        {"9.9.9.1", "", kept},
        {"9.9.9.9", "",
         [](AgentDaemon& d, Sock*) { EXPECT_TRUE(WaitForText(d.path("programs.log"), "stub-reboot", 10)); }},
        {"9.9.9.0", "client=b.1 10.0.0.1 \"one\" Linux 0 0 0 1 2 3 0\n",
         [](AgentDaemon& d, Sock*) {
             EXPECT_TRUE(PathExists(d.path("conf/admin/gui_pub")));
             EXPECT_TRUE(PathExists(d.path("conf/admin/gui_priv")));
             EXPECT_NE(std::string::npos, ReadWholeFile(d.path("console")).find("hash == "));
         }},
        {"ERROR_UNKNOWN_CLIENT", "",  // on an anonymous connection
         [&](AgentDaemon& d, Sock* agent) {
             EXPECT_TRUE(agent->anonymous);
             kept(d, agent);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        AgentDaemon daemon(ServerConfig() + c.config);
        std::unique_ptr<Sock> agent(AcceptAgent());
        ASSERT_NE(nullptr, agent);
        agent->Write(c.reply);
        EXPECT_EQ("close", NextPacket(agent.get()));
        ASSERT_TRUE(daemon.Started());
        c.check(daemon, agent.get());
    }
}

TEST_F(FakeServer, OlderServerGivesTimesAndSetsFallingBackToTheOldListing) {
    AgentDaemon daemon(ServerConfig());
    std::unique_ptr<Sock> agent(AcceptAgent());
    ASSERT_NE(nullptr, agent);
    const char* script[][2] = {  // the server's reply, the agent's next line
        {"1.0.0.0", "config time retrieve"},
        {"5 7", "config client getv2 all agent-under-test"},
        {"UNKNOWN_COMMAND", "config client get all agent-under-test"},
        {"1\nbox1.3 10.0.0.5 \"My Set\" Linux 0 1 * * * 3 1 100 200 0 x 0 0 0 3 x\n", "close"}};
    for (auto& step : script) EXPECT_EQ(step[1], (agent->Write(step[0]), NextPacket(agent.get())));
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
    EXPECT_EQ("update_software", NextPacket(agent.get()));
    std::string stub = server_.home.path("stub");
    WriteWholeFile(stub, "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/updated\"\n");
    ASSERT_EQ(0, SendFile(agent.get(), stub.c_str(), nullptr, nullptr));
    EXPECT_EQ("close", NextPacket(agent.get()));
    EXPECT_EQ(0, daemon.WaitExit(30));
    // The file appears before the stub has written into it: wait for the line.
    std::string line = "--update " + daemon.path("zelagent") + " " + daemon.path("qln_update.exe") + "\n";
    EXPECT_TRUE(WaitForText(daemon.path("updated"), line, 10)) << ReadWholeFile(daemon.path("updated"));
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
    EXPECT_EQ("close", NextPacket(agent.get()));
    ASSERT_TRUE(daemon.Started());
    std::string config = ReadWholeFile(daemon.path("conf/config"));
    for (const char* line : {"name=anonymous\n", "server=null null\n", "time=0 0\n"})
        EXPECT_NE(std::string::npos, config.find(line)) << line << config;
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
    char got[600];
    snprintf(got, sizeof(got), "%s|%s|%d|%s|%s|%s|%s|%s|%d %d %d %d|%u %u|%d %d|%u %u %d|%u %u", c->box_name,
             c->base_id, c->number, c->id, c->ip, c->name, c->os, c->schedule, c->value_2, c->value_1, c->setting_1,
             c->crypt, c->created, c->modified, c->state, c->setting_2, c->counter_1, c->stored_kb, c->setting_3,
             c->last_save, sets[1]->last_save);
    EXPECT_STREQ("srv|box1|3|box1.3|10.0.0.5|My Set|Linux|30 2 * * 1|30 2 4 1|100 200|8 6|7 9 5|300 4", got);
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
