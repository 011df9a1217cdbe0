// The key commands against the real agent: the administrator's password,
// keys installed by the server and used by the next handshake, "get_key".
#include <gtest/gtest.h>

#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/AgentHarness.h"

namespace {

const std::string kOld = "8123456789abcdef0123456789abcdef";
const std::string kNew = "9123456789abcdef0123456789abcdef";

void SendKey(Sock* sock, const std::string& command, const RSAKey& key) {
    sock->Write(command.c_str());
    sock->Write(key.ModuloText().c_str());
    sock->Write(key.ExponentText().c_str());
}

// A password change needs two good keys and the old password; keys the
// server installs then carry the next handshake and "get_key".
TEST(KeyCommands, PasswordChangeAndInstalledKeysCarryTheNextHandshake) {
    ServerSide server;
    AgentDaemon daemon("name=agent-under-test\n", [](const std::string& dir) {
        RSAKey key;
        key.SetExponent("10001");
        key.SetModulo("c0ffee1234567890abcdef");
        WriteKey((dir + "/conf/admin/gui_priv").c_str(), &key, kOld.c_str());
    });
    ASSERT_TRUE(daemon.Started());
    const std::string file = daemon.path("conf/admin/gui_priv");
    const std::string before = ReadWholeFile(file);
    std::unique_ptr<Sock> sock(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    struct {
        std::string command, reply;
    } cases[] = {
        {"set_password admin not-a-key " + kNew, "PASSWORD_BAD"},
        {"set_password admin " + kOld + " 12345", "PASSWORD_BAD"},
        {"set_password bob not-a-key " + kNew, "PASSWORD_BAD"},  // keys are checked before the user
        {"set_password admin " + kNew + " " + kOld, "PASSWORD_BAD"},  // wrong old password
        {"set_password bob " + kOld + " " + kNew, "CONFIG_UNKNOWN_CLIENT"},
    };
    for (auto& c : cases) EXPECT_EQ(c.reply, daemon.Ask(sock.get(), c.command)) << c.command;
    EXPECT_EQ(before, ReadWholeFile(file));
    EXPECT_EQ("PASSWORD_OK", daemon.Ask(sock.get(), "set_password admin " + kOld + " " + kNew));
    // Pairs of their own, not the ones the names would give.
    RSAKey agent_pub, agent_priv, server_pub, server_priv;
    GeneratePasswordKey(&agent_pub, &agent_priv, "agent pair");
    GeneratePasswordKey(&server_pub, &server_priv, "server pair");
    EXPECT_EQ("1234abc", daemon.Ask(sock.get(), "get_key 1234abc"));  // no private key yet
    EXPECT_EQ(std::string(2555, 'a'), daemon.Ask(sock.get(), "get_key " + std::string(3000, 'a')));  // kept
    SendKey(sock.get(), "set_priv_key \"\"", agent_priv);
    SendKey(sock.get(), "set_pub_key \"test-server\"", server_pub);
    SendKey(sock.get(), "set_pub_key \"..\"", server_pub);
    EXPECT_EQ("no reply before", daemon.Ask(sock.get(), "echo no reply before"));
    sock->CloseConnection();
    EXPECT_FALSE(PathExists(daemon.path("pub")));

    WritePrivKey(&server_priv, nullptr, nullptr);
    WritePubKey(&agent_pub, "agent-under-test");
    sock.reset(daemon.Connect());
    ASSERT_NE(nullptr, sock);
    EXPECT_FALSE(sock->anonymous);
    char expected[600] = "1234abc";
    ASSERT_TRUE(RSACrypt(expected, sizeof(expected), &agent_priv));
    EXPECT_EQ(expected, daemon.Ask(sock.get(), "get_key 1234abc"));
    sock->CloseConnection();
    RSAKey back;
    EXPECT_EQ(1, ReadKey(file.c_str(), &back, kNew.c_str()));
    EXPECT_EQ("c0ffee1234567890abcdef", back.ModuloText());
    EXPECT_EQ(std::string::npos, daemon.Messages().find(kOld));  // passwords are never logged
}

}  // namespace
