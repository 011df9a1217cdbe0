// The real agent serving a test-side server over loopback: every simple
// command, reply by reply.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Globals.h"
#include "crypto/AesVetrak.h"
#include "dialogue/AgentHarness.h"
#include "records/Config.h"

namespace {

// One daemon for the whole suite: starting one per test would dominate.
class DispatcherTest : public DaemonSuite {
protected:
    static void SetUpTestSuite() {
        StartDaemon("name=agent-under-test\nclient=base.4 127.0.0.1 \"set four\" Linux 0 0 0 1 2 3 0\n");
    }
};

// Unknown lines and missing arguments keep the dialogue in step.
TEST_F(DispatcherTest, SimpleCommandsAndUnknownLinesAnswerTheirExactReplies) {
    const char* const cases[][2] = {
        {"echo hello there", "hello there"},  {"this_version", "12.2.2.2"},
        {"version", "ERROR_DATABASE"},        {"query anything at all", "0"},
        {"objects", "OK"},                    {"supersave base.4", "CONFIG_UNKNOWN_CLIENT"},
        {"erase base.4 some files", "ERROR_BUNKER_DOWN"},
        {"restore a b mode list\nlocation", "ERROR_UNKNOWN_ID"},
        {"update_software", "ERROR_OPEN_FILE"}, {"inexistent", "UNKNOWN COMMAND"},
        {"xyz", "UNKNOWN_COMMAND"},           {"dir", "UNKNOWN_COMMAND"},
        {"hello", "UNKNOWN_COMMAND"},         {"set_password2 secret", "UNKNOWN_COMMAND"},
        {"echo ", "UNKNOWN_COMMAND"},         {"md5sum ", "UNKNOWN_COMMAND"},
        {"fs_mkdir ", "UNKNOWN_COMMAND"},     {"get ", "UNKNOWN_COMMAND"},
        {"send ", "UNKNOWN_COMMAND"},         {"echo still here", "still here"},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], Ask(c[0])) << c[0];
    EXPECT_EQ(daemon_->dir(), Ask("cwd"));
    std::string os = Ask("operating_system");
    EXPECT_TRUE(os == "SunOS-X86" || os == "Unix") << os;
    EXPECT_EQ(0u, Ask("winver").find(os));
    EXPECT_EQ(std::string::npos, daemon_->Messages().find("set_password2 secret"));
    EXPECT_EQ(std::string::npos, daemon_->Messages().find("route_count == 0"));  // "objects" names only the odd ones
}

TEST_F(DispatcherTest, ExecuteReportsExitStatusAndChildrenStartClean) {
    std::string fds = daemon_->path("fds");
    const struct {
        std::string command, status;
    } cases[] = {
        {"execute", "OK"},
        {"execute true", "0"},
        {"execute exit 3", "3"},
        {"execute kill -KILL $$", "-119"},  // killed: 128 + 9, read as an exit status
        // The daemon ignores SIGPIPE; its children get the default back.
        {"execute exit $(( 0x$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/self/status) >> 12 & 1 ))", "0"},
        {"execute ls /proc/self/fd > " + fds, "0"},
    };
    for (const auto& c : cases) {
        std::string reply = Ask(c.command);
        EXPECT_EQ(c.status, reply.substr(0, reply.find(' '))) << c.command << ": " << reply;
    }
    // The standard three and the listing's own: nothing of the agent's.
    EXPECT_EQ("0\n1\n2\n3\n", ReadWholeFile(fds));
}

TEST_F(DispatcherTest, FileSystemCommands) {
    std::string base = daemon_->path("fs");
    mkdir(base.c_str(), 0755);
    std::string wire = ToWire(base);
    EXPECT_EQ("OK", Ask("fs_mkdir " + wire + "|new"));
    EXPECT_TRUE(PathExists(base + "/new"));
    EXPECT_EQ("ERROR_EEXIST", Ask("fs_mkdir " + wire + "|new"));
    EXPECT_EQ("ERROR_ENOENT", Ask("fs_mkdir " + wire + "|missing|deeper"));

    WriteWholeFile(base + "/a.txt", "abc");
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Ask("md5sum " + wire + "|a.txt"));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Ask("md5sum " + wire + "|nothing"));

    std::string listing = Ask("list you \"" + wire + "|\"");
    EXPECT_EQ(0u, listing.find("2\ndir ")) << listing;
    EXPECT_LT(listing.find("\"new\""), listing.find("\"a.txt\""));
    std::string file = Ask("list you \"" + wire + "|a.txt\"");
    EXPECT_EQ(0u, file.find("1\nfile 3 ")) << file;
    EXPECT_NE(std::string::npos, file.find("\"" + wire + "|a.txt\""));
    EXPECT_EQ("0", Ask("list you \"" + wire + "|nothing\""));
    EXPECT_EQ("0", Ask("list you \"SYSTEM_STATE|\""));
    EXPECT_EQ(0u, Ask("list you").find("1\ndrive 0 0 \"|\""));
    EXPECT_EQ("ERROR_CLIENT_UNKNOWN", Ask("list them \"" + wire + "|\""));

    EXPECT_EQ("CONFIG_UNKNOWN_CLIENT", Ask("fs_unlink them " + wire + "|a.txt"));
    EXPECT_TRUE(PathExists(base + "/a.txt"));
    EXPECT_EQ("CONFIG_OK", Ask("fs_unlink you " + wire + "|a.txt"));
    EXPECT_FALSE(PathExists(base + "/a.txt"));
    EXPECT_EQ("ERROR_UNLINK", Ask("fs_unlink you " + wire + "|a.txt"));
}

TEST_F(DispatcherTest, LongPathsWorkAndImpossibleOnesReadAsMissing) {
    std::string deep = daemon_->path("long");
    for (int i = 0; i < 12; i++) deep += "/" + std::string(50, 'a' + i);
    ASSERT_GT(deep.size(), 600u);
    std::string cmd = "mkdir -p " + deep;
    ASSERT_EQ(0, system(cmd.c_str()));
    WriteWholeFile(deep + "/f", "abc");
    std::string wire = ToWire(deep + "/f");
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Ask("md5sum " + wire));
    EXPECT_EQ(0u, Ask("list you \"" + wire + "\"").find("1\nfile 3 "));

    std::string impossible = "|" + std::string(5000, 'z') + "|f";
    EXPECT_EQ("0", Ask("list you \"" + impossible + "\""));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Ask("md5sum " + impossible));
    EXPECT_EQ("ERROR_FILE_DOES_NOT_EXIST", Ask("send " + impossible));
}

TEST_F(DispatcherTest, AntivirusPackageDigestsReadTheirOwnFiles) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Ask("md5_ides"));  // no package yet
    WriteWholeFile(daemon_->path("conf/exe/sophos_ides.zip"), "abc");
    WriteWholeFile(daemon_->path("conf/exe/linux.amd64.glibc.2.3.tar.gz"), "a");
    WriteWholeFile(daemon_->path("conf/exe/linux.intel.libc6.glibc.2.2.tar.gz"), "message digest");
    const char* abc = "900150983cd24fb0d6963f7d28e17f72";
    const char* a = "0cc175b9c0f1b6a831c399e269772661";
    const char* digest = "f96b697d7cb7938d525a2f31aaf161d0";
    const char* cases[][2] = {{"md5_ides", abc},         {"ides_md5", abc},
                              {"md5_sophos_amd64", a},   {"md5_sophos", digest},
                              {"md5_sophosXYZ", digest}, {"md5_sophos_amd64x", digest}};
    for (auto& c : cases) EXPECT_EQ(c[1], Ask(c[0])) << c[0];
    EXPECT_EQ("UNKNOWN_COMMAND", Ask("md5_idesX"));
}

TEST_F(DispatcherTest, ClearLogsWritesTheFrenchHeaderInLatin1) {
    sock_->Write("clear_logs");
    sock_->Read();
    EXPECT_STREQ("clear_logs", sock_->read_buffer);  // echoed
    EXPECT_EQ("still", Ask("echo still"));
    EXPECT_EQ("Journal des Ev\xe8nements\n", ReadWholeFile(daemon_->path("conf/logs/events.txt")));
}

TEST_F(DispatcherTest, FilesSavedUpdatesTheSetsLastSave) {
    sock_->Write("files_saved 0 987654");  // no reply
    EXPECT_EQ("synced", Ask("echo synced"));
    EXPECT_TRUE(WaitForText(daemon_->path("conf/config"), "\"set four\" Linux 0 0 0 1 2 987654 0", 10))
        << ReadWholeFile(daemon_->path("conf/config"));
}

// The folder removed is data/<peer>/backup/<id>/: neither the identifier
// nor the peer's name may lead it anywhere else.
TEST_F(DispatcherTest, EraseClientRemovesOnlyTheSetsOwnFolder) {
    auto erase = [](Sock* s, const char* id) {
        s->Write("erase_client");
        s->Read();
        EXPECT_STREQ("erase_client", s->read_buffer);
        EXPECT_EQ("success", daemon_->Ask(s, id)) << id;
    };
    std::string sets = daemon_->path("data/test-server/backup/");
    for (const char* f : {"base.9/f", "base.8/f"}) WriteWholeFile(sets + f, "x");
    WriteWholeFile(daemon_->path("backup/outside/f"), "x");
    for (const char* id : {"base.7", "..", "../..", "base.8/..", "base.8|..", ""}) erase(sock_.get(), id);
    EXPECT_TRUE(PathExists(sets + "base.9/f"));
    erase(sock_.get(), "base.9");
    EXPECT_FALSE(PathExists(sets + "base.9"));
    EXPECT_TRUE(PathExists(sets + "base.8/f"));
    snprintf(config->name, sizeof(config->name), "..");
    std::unique_ptr<Sock> climber(daemon_->Connect());
    ASSERT_NE(nullptr, climber);
    erase(climber.get(), "outside");
    EXPECT_TRUE(PathExists(daemon_->path("backup/outside/f")));
    climber->CloseConnection();
}

TEST_F(DispatcherTest, RebootShutdownAndCloseKeepTheirDialogue) {
    EXPECT_EQ("reboot", Ask("reboot"));  // echoed, then the programs run
    EXPECT_EQ("shutdown", Ask("shutdown"));
    EXPECT_EQ("after", Ask("echo after"));
    std::string log = ReadWholeFile(daemon_->path("programs.log"));
    EXPECT_NE(std::string::npos, log.find("stub-reboot"));
    EXPECT_NE(std::string::npos, log.find("stub-halt"));
    sock_->Write("close");  // no reply: the connection ends
    EXPECT_THROW(sock_->Read(), SocketError);
    ReleaseSocketError();
}

// Through another loopback address the handshake installs a cipher; a
// local peer with the agent's own name is trusted without one.
TEST_F(DispatcherTest, TrustedLocalPeerWithOwnNameGetsNoCipher) {
    EXPECT_NE(nullptr, sock_->aes);
    EXPECT_STREQ("agent-under-test", sock_->name);
    EXPECT_TRUE(sock_->anonymous);
    snprintf(config->name, sizeof(config->name), "agent-under-test");
    std::unique_ptr<Sock> local(daemon_->Connect("127.0.0.1"));
    ASSERT_NE(nullptr, local);
    EXPECT_EQ(nullptr, local->aes);
    EXPECT_EQ("trusted", daemon_->Ask(local.get(), "echo trusted"));
    local->CloseConnection();
}

TEST_F(DispatcherTest, BrokenPeersEndOnlyTheirOwnConnection) {
    // A garbage header, a header announcing 2 GiB, a silent client.
    std::unique_ptr<Sock> garbage(daemon_->Connect());
    ASSERT_NE(nullptr, garbage);
    garbage->SetWriteBuffer("this is not a header at all, no.", 32);
    garbage->Send(32);
    std::unique_ptr<Sock> huge(daemon_->Connect());
    ASSERT_NE(nullptr, huge);
    char header[32] = {0};
    snprintf(header, sizeof(header), "%u %u %u %u ", 2147483648u, 2147483648u, 0u, 1u);
    huge->aes->encrypt(header, 32);
    huge->SetWriteBuffer(header, 32);
    huge->Send(32);
    Sock silent(AF_INET, SOCK_STREAM, 0);
    ASSERT_TRUE(silent.Connect("127.0.0.2", daemon_->port()));
    EXPECT_EQ("alive", Ask("echo alive"));
}

// Last: it points the daemon's server at the daemon itself.
TEST_F(DispatcherTest, TestConnectionEchoesThenSaysWhetherTheServerAnswers) {
    auto test = [](Sock* s) {
        s->Write("test_connection");
        s->Read();
        EXPECT_STREQ("test_connection", s->read_buffer);
        s->Read();
        return std::string(s->read_buffer);
    };
    EXPECT_EQ("TEST_OUT_FAILED", test(sock_.get()));  // no server configured
    EXPECT_TRUE(WaitForText(daemon_->path("conf/logs/events.txt"),
                            "(ERROR) Connection au Centre de Sauvegarde impossible (V\xe9rifier les connections)\n", 10));
    // Set from a local connection, the server is this agent, which trusts itself.
    snprintf(config->name, sizeof(config->name), "agent-under-test");
    std::unique_ptr<Sock> local(daemon_->Connect("127.0.0.1"));
    ASSERT_NE(nullptr, local);
    EXPECT_EQ("CONFIG_OK", daemon_->Ask(local.get(), "config server set x agent-under-test"));
    EXPECT_EQ("TEST_OK", test(local.get()));
    local->CloseConnection();
}

}  // namespace
