// The socket wrapper below the framing: creation, options, buffers,
// connecting, waiting and the raw exchange.
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include "foundation/HostLookup.h"
#include "records/Config.h"
#include "support/TestHome.h"
#include "transport/Loopback.h"

struct SockTest : ::testing::Test { TestHome home; };

TEST_F(SockTest, NewSocketCountsItselfAndSurvivesABadDescriptorAndAnUnboundedTimeout) {
    int before = sock_count;
    {
        Sock s(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(before + 1, sock_count);
        EXPECT_TRUE(s.SetRecvBuffer(1048575));  // capped by the system, never refused
        EXPECT_TRUE(Sock(AF_INET, SOCK_STREAM, 0, -1).failed);
        config->timeout = 1u << 31;  // beyond an int: no limit, not a negative wait that fails at once
        EXPECT_EQ(-1, Sock(AF_INET, SOCK_STREAM, 0).SetTimeout(7));
    }
    EXPECT_EQ(before, sock_count);
}

TEST_F(SockTest, SecondCloseDoesNotCloseADescriptorReusedElsewhere) {
    Sock s(AF_INET, SOCK_STREAM, 0);
    s.Close();
    int other = open("/dev/null", O_RDONLY);  // likely takes the freed number
    ASSERT_GE(other, 0);
    s.Close();
    EXPECT_NE(-1, fcntl(other, F_GETFD));
    close(other);
}

TEST_F(SockTest, ConnectsPlainNonblockingAndLightThenFailsOnAClosedPortOrNoName) {
    LoopbackPair pair;
    EXPECT_STREQ("127.0.0.1", pair.server->ip);
    EXPECT_EQ(pair.listener->port, pair.client->port);
    Sock second(AF_INET, SOCK_STREAM, 0), third(AF_INET, SOCK_STREAM, 0);
    EXPECT_TRUE(second.Connect("127.0.0.1", pair.listener->port, true, 2, 0));
    EXPECT_EQ(0, fcntl(second.sock, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(third.ConnectLite("localhost", pair.listener->port));
    EXPECT_FALSE(third.connected);
    std::unique_ptr<Sock> a(pair.listener->Accept(true)), b(pair.listener->Accept());
    EXPECT_TRUE(a && b);
    pair.listener->Close();  // the port now has no listener
    Sock s(AF_INET, SOCK_STREAM, 0), t(AF_INET, SOCK_STREAM, 0), u(AF_INET, SOCK_STREAM, 0);
    EXPECT_FALSE(s.Connect("127.0.0.1", pair.client->port));
    EXPECT_FALSE(s.connected);
    EXPECT_FALSE(u.ConnectLite("127.0.0.1", pair.client->port));  // a probe: quiet
    EXPECT_EQ("Connect(127.0.0.1): Connection refused\n",
              ReadWholeFile(res->errors_file).substr(ReadWholeFile(res->errors_file).find("): ") + 3));
    EXPECT_FALSE(t.Connect("127.0.0.1", pair.client->port, true, 2, 0));
    EXPECT_FALSE(u.Connect(nullptr, 1));
    in_addr address;
    EXPECT_EQ(-1, GetHostByName(nullptr, &address));
}

TEST_F(SockTest, IsConnectedOnlyForAnIdleSocket) {
    LoopbackPair pair;
    EXPECT_TRUE(pair.client->IsConnected(1, 0));
    EXPECT_FALSE(pair.client->IsReadable(0, 0, true));
    pair.server->Send("x");
    EXPECT_TRUE(pair.client->IsReadable(1, 0, true));
    EXPECT_FALSE(pair.client->IsConnected(1, 0));
    pair.client->Flush();
    EXPECT_TRUE(pair.client->IsConnected(1, 0));
}

TEST_F(SockTest, ReceiveAnyReturnsAfterTheFirstArrivalAndExactCollectsSplitSends) {
    LoopbackPair pair;
    EXPECT_EQ(3, pair.client->Send("abc"));
    EXPECT_EQ(3, pair.server->Receive(0));
    EXPECT_STREQ("abc", pair.server->read_buffer);
    config->max_send_size = 3;  // many small sends
    pair.client->Send("0123456789");
    config->max_send_size = 0;
    EXPECT_EQ(10, pair.server->Receive(10));
    EXPECT_STREQ("0123456789", pair.server->read_buffer);
}
