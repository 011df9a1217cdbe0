// Outgoing connections and probes against a real agent.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/Connections.h"
#include "records/Client.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

class ConnectionsTest : public DaemonSuite {};

TEST_F(ConnectionsTest, LocalAddressAlwaysMeansTheOwnPort) {
    config->local_port = daemon_->port();
    snprintf(config->name, sizeof(config->name), "agent-under-test");
    std::unique_ptr<Sock> sock(OpenConnection("127.0.0.1", 9, 1, false, 1, 0));
    ASSERT_NE(nullptr, sock);
    EXPECT_EQ(nullptr, sock->aes);  // this agent trusts itself
    sock->Write("echo me");
    sock->Read();
    EXPECT_STREQ("me", sock->read_buffer);
    sock->CloseConnection();
}

TEST_F(ConnectionsTest, AttemptsAgainstAClosedPortAreSpacedAndFail) {
    double start = Now();
    EXPECT_EQ(nullptr, OpenConnection("127.0.0.2", FreePort(), 3, true, 0, 200000));
    EXPECT_GE(Now() - start, 0.35);
    EXPECT_EQ(nullptr, OpenConnection(nullptr, 1, 1, false, 1, 0));
}

// A listener whose queue is full drops new attempts: the probe must give up
// after its own seconds, not the system's minutes.
TEST_F(ConnectionsTest, ProbeOfAPeerThatNeverAnswersEndsOnItsOwnTimeOut) {
    Sock full(AF_INET, SOCK_STREAM, 0), waiting(AF_INET, SOCK_STREAM, 0);
    ASSERT_TRUE(full.Bind(0, "127.0.0.1"));
    ASSERT_EQ(0, listen(full.sock, 0));
    ASSERT_TRUE(waiting.Connect("127.0.0.1", full.port));  // fills the queue
    double start = Now();
    EXPECT_FALSE(VerifyClientExists("127.0.0.1", "agent-under-test", 1, full.port));
    EXPECT_LT(Now() - start, 30);
}

TEST_F(ConnectionsTest, ProbeComparesTheAnsweredName) {
    EXPECT_TRUE(VerifyClientExists("127.0.0.2", "agent-under-test", 5, daemon_->port()));
    EXPECT_FALSE(VerifyClientExists("127.0.0.2", "somebody-else", 5, daemon_->port()));
    EXPECT_TRUE(VerifyClientExists("127.0.0.1", "somebody-else", 5, daemon_->port()));
    EXPECT_FALSE(VerifyClientExists("127.0.0.2", "agent-under-test", 1, FreePort()));
    // The probes left the agent serving.
    std::unique_ptr<Sock> sock(daemon_->Connect());
    ASSERT_NE(nullptr, sock);
    EXPECT_EQ("up", daemon_->Ask(sock.get(), "echo up"));
    sock->CloseConnection();
}

TEST_F(ConnectionsTest, UnreachableSetMachineIsMarkedAndReconnectionClearsTheMark) {
    Client set;
    snprintf(set.ip, sizeof(set.ip), "127.0.0.2");
    snprintf(set.name, sizeof(set.name), "agent-under-test");
    config->client_port = FreePort();
    EXPECT_EQ(nullptr, OpenClientConnection(&set, 1, false, 1, 0));
    EXPECT_EQ(1, set.state & 1);
    config->client_port = daemon_->port();
    std::unique_ptr<Sock> sock(OpenClientConnection(&set, 1, false, 5, 0));
    ASSERT_NE(nullptr, sock);
    EXPECT_EQ(0, set.state & 1);
    sock->CloseConnection();
}

TEST_F(ConnectionsTest, WarehouseIsReachableOnlyWhenConfiguredAndAnswering) {
    EXPECT_EQ(nullptr, OpenWarehouseConnection(1));
    EXPECT_FALSE(VerifyWarehouseExists());
    snprintf(config->server_name, sizeof(config->server_name), "agent-under-test");
    snprintf(config->server_address, sizeof(config->server_address), "127.0.0.2");
    config->server_port = daemon_->port();
    EXPECT_TRUE(VerifyWarehouseExists());
    config->server_port = FreePort();
    EXPECT_FALSE(VerifyWarehouseExists());
    snprintf(config->server_name, sizeof(config->server_name), "null");
    snprintf(config->server_address, sizeof(config->server_address), "null");
}

}  // namespace
