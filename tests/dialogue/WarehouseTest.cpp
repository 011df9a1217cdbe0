// The warehouse routines over a socket pair against a scripted warehouse.
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <thread>

#include "core/Globals.h"
#include "crypto/Container.h"
#include "crypto/Zip.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/FileStreams.h"
#include "dialogue/SingleFileTransfer.h"
#include "dialogue/Warehouse.h"
#include "records/Client.h"
#include "records/Config.h"
#include "selection/VersionFiles.h"
#include "selection/VersionNode.h"
#include "transport/Loopback.h"

namespace {

const char* const kKey = "7d41c9e2b05a36f8e1c4d7a2905b3e6f";

class WarehouseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        snprintf(client_.base_id, sizeof(client_.base_id), "set7");
        snprintf(client_.box_name, sizeof(client_.box_name), "box9");
        version_.SetHashName("abcd0123456789abcdef0123456789ab");
        version_.backup_date = 1234;
        version_.diff_date = 99;
    }
    // Runs `warehouse` on the peer's side while `agent` runs here.
    template <typename T>
    T Dialogue(const std::function<void(Sock*)>& warehouse, const std::function<T(Sock*)>& agent) {
        std::thread peer([&] { warehouse(pair_.server.get()); });
        T result = agent(pair_.client.get());
        peer.join();
        return result;
    }
    std::string Stored(const char* suffix = "") {
        char path[400];
        return std::string(GetServerPath(path, &client_, &version_, nullptr)) + suffix;
    }

    TestHome home_;
    LoopbackPair pair_{10};
    Client client_;
    VersionNode version_;
};

}  // namespace

TEST_F(WarehouseTest, StoredContainersTravelInClearAndRestoreByteForByte) {
    std::string text;
    for (int i = 0; text.size() < 12000000; i++) text += "stored line " + std::to_string(i) + "\n";
    struct {
        const char* name;
        std::string content;
        bool compress;
        const char* key;
        int sent;
        long long received;
    } cases[] = {
        {"plain", RandomBytes(300000, 3), false, kKey, 0, 300000},
        {"compressed", text.substr(0, 500000), true, kKey, 0, 500000},
        {"split", text, false, kKey, 0, (long long)text.size()},
        {"empty", "", false, kKey, 0, 0},
        {"wrong key", "secret", false, "00112233445566778899aabbccddeeff", -5, -1},
        // Damage in the last chunk shows after data went out: the receiver
        // is told to drop what it has.
        {"damaged", text.substr(0, 40000), true, kKey, -4, -4},
        {"absent", "", false, kKey, -7, -3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        char path[512];
        snprintf(path, sizeof(path), "%s", home_.path(c.name).c_str());
        WriteWholeFile(path, c.content);
        ASSERT_TRUE(CryptAES(path, kKey, true, c.compress, nullptr, nullptr));
        std::string bytes = ReadWholeFile(path);
        if (!strcmp(c.name, "damaged")) WriteWholeFile(path, bytes.replace(bytes.size() - 40, 1, "!"));
        if (!strcmp(c.name, "absent")) unlink(path);
        const std::string out = home_.path("restored");
        long long received = -100;
        int sent = Dialogue<int>([&](Sock* s) { received = MultiGetFile(s, out.c_str(), nullptr, nullptr, 1, 0); },
                                 [&](Sock* s) {
                                     int r = MultiSendCryptedFile(s, path, c.name, (long long)c.content.size(), c.key);
                                     s->FastSend();
                                     return r;
                                 });
        EXPECT_EQ(c.sent, sent);
        EXPECT_EQ(c.received, received);
        EXPECT_EQ(c.sent == 0, PathExists(out) && ReadWholeFile(out) == c.content);
        unlink(out.c_str());
    }
}

TEST_F(WarehouseTest, VersionDialoguesNameTheSetAndMoveTheStoredFiles) {
    long long bytes = 0;
    bool full = false;
    const std::string h = version_.hash_name;
    // Nothing stored: nothing is said.
    EXPECT_FALSE(TellWarehouseSaveFile(pair_.client.get(), &client_, &version_, bytes));

    WriteWholeFile(Stored(), "stored version");
    std::string heard;
    auto receive = [&](Sock* s) {
        heard = NextPacket(s);
        GetFile(s, home_.path("got").c_str(), nullptr, nullptr, "wb");
    };
    EXPECT_TRUE(Dialogue<bool>(receive, [&](Sock* s) { return TellWarehouseSaveFile(s, &client_, &version_, bytes); }));
    EXPECT_EQ("mirror box9 save set7 " + h + " 1234", heard);
    EXPECT_EQ("stored version", ReadWholeFile(home_.path("got")));
    EXPECT_EQ(14, bytes);

    WriteWholeFile(Stored(".dif"), "patch");
    for (const char* answer : {"SUCCESS", "PATCH_FAILED"}) {
        bool ok = Dialogue<bool>([&](Sock* s) { receive(s), s->Write(answer); },
                                 [&](Sock* s) { return TellWarehousePatchFile(s, &client_, &version_, bytes, full); });
        EXPECT_EQ(!strcmp(answer, "SUCCESS"), ok);
        EXPECT_EQ(!ok, full);
        EXPECT_EQ("mirror box9 patch set7 " + h + " 1234 99", heard);
        EXPECT_EQ("patch", ReadWholeFile(home_.path("got")));
    }
    EXPECT_EQ(10, pair_.client->timeout);

    snprintf(client_.box_name, sizeof(client_.box_name), "%s", config->name);
    EXPECT_TRUE(Dialogue<bool>([&](Sock* s) { heard = NextPacket(s), s->Write("SUCCESS"); },
                               [&](Sock* s) { return TellWarehouseEraseFile(s, &client_, &version_); }));
    EXPECT_EQ("backupdb erase set7 " + h + " 1234", heard);

    WriteWholeFile(home_.path("kept"), "from the warehouse");
    EXPECT_TRUE(Dialogue<bool>(
        [&](Sock* s) { heard = NextPacket(s), SendFile(s, home_.path("kept").c_str(), nullptr, nullptr); },
        [&](Sock* s) { return TellWarehouseRestoreFile(s, &client_, &version_); }));
    EXPECT_EQ("backupdb restore set7 " + h + " 1234", heard);
    EXPECT_EQ("from the warehouse", ReadWholeFile(Stored()));
}

TEST_F(WarehouseTest, ConfigurationArchiveAndItsDifferenceGoOutCompressed) {
    const std::string conf = res->conf_dir;
    WriteWholeFile(conf + "conf.tar", "archive bytes");
    WriteWholeFile(conf + "conf.tar.diff", "difference bytes");
    std::string heard;
    auto receive = [&](Sock* s, const char* answer) {
        heard = NextPacket(s);
        GetFile(s, home_.path("got.gz").c_str(), nullptr, nullptr, "wb");
        if (answer) s->Write(answer);
    };
    EXPECT_TRUE(Dialogue<bool>([&](Sock* s) { receive(s, nullptr); }, TellWarehouseSaveConfig));
    EXPECT_EQ("save_config", heard);
    EXPECT_EQ("archive bytes", ReadWholeFile(conf + "conf.tar.old"));
    EXPECT_FALSE(PathExists(conf + "conf.tar"));
    char got[512];
    snprintf(got, sizeof(got), "%s", home_.path("got.gz").c_str());
    ASSERT_TRUE(DeZip(got, true));
    EXPECT_EQ("archive bytes", ReadWholeFile(got));

    EXPECT_TRUE(Dialogue<bool>([&](Sock* s) { receive(s, "SUCCESS"); }, TellWarehousePatchConfig));
    EXPECT_EQ("patch_config", heard);
    EXPECT_FALSE(PathExists(conf + "conf.tar.diff.gz"));
    EXPECT_FALSE(TellWarehousePatchConfig(pair_.client.get()));  // nothing left to send
}
