// The configuration file: keys, limits, defaults and the fixed write order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/Globals.h"
#include "records/Config.h"
#include "records/PendingConfig.h"
#include "records/ServerReset.h"
#include "support/TestHome.h"

namespace {

// Writes `text` as the configuration file and reads it into a fresh Config.
class ConfigFile : public ::testing::Test {
protected:
    Config* Load(const std::string& text) {
        WriteWholeFile(res->config_file, text);
        loaded_.reset(new Config());
        EXPECT_EQ(1, loaded_->ReadConfig(nullptr));
        return loaded_.get();
    }
    std::string Written(Config* c) {
        EXPECT_EQ(1, c->WriteConfig());
        return ReadWholeFile(res->config_file);
    }
    TestHome home_;
    std::unique_ptr<Config> loaded_;
};

TEST_F(ConfigFile, DefaultsAreWrittenInTheFixedOrder) {
    Config c;
    c.backup = 1700000000;
    EXPECT_EQ(
        "type=client\nname=anonymous\nappname=Quillon\nserver=null null\nuser=null\ntime=0 0\n"
        "backup=1700000000\nserver_port=6666\nlocal_port=6666\nclient_port=6666\ncrypt=1\nsilent=0\n"
        "url=http://www.example.org/\n",
        Written(&c));
}

TEST_F(ConfigFile, EveryWrittenKeySurvivesReadWriteRead) {
    const std::string text =
        "type=client\nname=host one\nappname=Quillon\nserver=10.1.2.3 the server\nuser=null\ntime=5 7\n"
        "backup=1234\nserver_port=7001\nlocal_port=7002\nclient_port=7003\ncrypt=0\nemail=a@b.c\n"
        "client=base.1 10.0.0.9 \"My set with blanks\" Linux 1 2 1 100 200 300 5\n"
        "client=base.2 10.0.0.8 \"x\" SunOS 0 0 0 1 2 3 0\n"
        "silent=2\nurl=http://u/\ntimeout=60\nmax_send_size=100\nno_patch=1\nno_network\nstrict_auth=1\n";
    Config* c = Load(text);
    EXPECT_STREQ("host one", c->name);
    EXPECT_STREQ("10.1.2.3", c->server_address);
    EXPECT_STREQ("the server", c->server_name);
    EXPECT_EQ(5, c->time[0]);
    EXPECT_EQ(7, c->time[1]);
    EXPECT_EQ(60u, c->timeout);
    EXPECT_EQ(100, c->max_send_size);
    EXPECT_EQ(1, c->no_network);
    EXPECT_EQ(1, c->strict_auth);
    ASSERT_EQ(2, c->GetClientCount());
    Client* set = c->GetClientAt(0);
    EXPECT_STREQ("base.1", set->id);
    EXPECT_STREQ("My set with blanks", set->name);
    EXPECT_STREQ("Linux", set->os);
    EXPECT_EQ(300u, set->last_save);
    EXPECT_EQ(5, set->state);
    EXPECT_EQ(text, Written(c));
}

TEST_F(ConfigFile, ReadOnlyKeysAreTakenButNeverWritten) {
    Config* c = Load(
        "ntpserver=time.local\nsmtpserver=10.0.0.1\nip=1.1.1.1 2.2.2.2 3.3.3.3 4.4.4.4\nrate=1Gbit\n"
        "route=10.0.0.0 255.0.0.0 10.0.0.1\nroute=11.0.0.0 255.0.0.0 11.0.0.1\n");
    EXPECT_STREQ("time.local", c->ntpserver);
    EXPECT_STREQ("10.0.0.1", c->smtpserver);
    EXPECT_STREQ("4.4.4.4", c->network[3]);
    EXPECT_STREQ("1Gbit", c->rate);
    ASSERT_EQ(2, c->GetRouteCount());
    EXPECT_STREQ("11.0.0.1", c->GetRouteAt(1)->gateway);
    EXPECT_EQ(nullptr, c->GetRouteAt(2));
    std::string out = Written(c);
    for (const char* key : {"ntpserver", "smtpserver", "ip=", "rate", "route"})
        EXPECT_EQ(std::string::npos, out.find(key)) << key;
}

TEST_F(ConfigFile, GuardedValuesAndAMissingFileKeepDefaults) {
    Config* c = Load(
        "timeout=0\nmax_send_size=-5\nserver=lonely\nname\nname=\n# name=comment\nbogus=1\n"
        "ntpserver=" + std::string(50, 'n') + "\n");
    EXPECT_EQ(3600u, c->timeout);
    EXPECT_EQ(0, c->max_send_size);
    EXPECT_STREQ("null", c->server_address);
    EXPECT_STREQ("anonymous", c->name);
    EXPECT_STREQ(kDefaultNtpServer, c->ntpserver);
    EXPECT_EQ(std::string::npos, Written(c).find("timeout="));
    EXPECT_EQ(4294967295u, Load("timeout=99999999999\n")->timeout);  // not cut to a small number
    Config fresh;
    EXPECT_EQ(0, fresh.ReadConfig((home_.dir() + "/nothing").c_str()));
    EXPECT_STREQ("anonymous", fresh.name);
}

TEST_F(ConfigFile, OverlongValuesAreCutAndOlderOrCutClientLinesAreRead) {
    std::string huge(1500, 'z');
    Config* c = Load("name=" + huge + "\nuser=" + huge + "\nrate=" + huge + "\nurl=" + huge +
                     "\nip=" + huge + " b c d\nclient=" + huge + " " + huge + " \"" + huge + "\" " + huge +
                     " 1 2 3 4 5 6 7\n");
    EXPECT_EQ(49u, strlen(c->name));
    EXPECT_EQ(19u, strlen(c->user));
    EXPECT_EQ(25u, strlen(c->rate));
    EXPECT_EQ(50u, strlen(c->url));
    EXPECT_EQ(19u, strlen(c->network[0]));
    ASSERT_EQ(1, c->GetClientCount());
    EXPECT_EQ(29u, strlen(c->GetClientAt(0)->id));

    // The older client line takes its tenth field as the state.
    c = Load("client=b.1 1.2.3.4 \"old set\" Linux 1 2 0 10 20 9\n");
    ASSERT_EQ(1, c->GetClientCount());
    EXPECT_EQ(9, c->GetClientAt(0)->state);
    EXPECT_EQ(0u, c->GetClientAt(0)->last_save);
    // A line cut after the crypt flag keeps what it has.
    c = Load("client=b.2 1.2.3.4 \"cut\" Linux 1 2 1\n");
    ASSERT_EQ(1, c->GetClientCount());
    EXPECT_EQ(1, c->GetClientAt(0)->crypt);
}

TEST(ConfigCopy, CopyIsDeepAndCopyNetworkTakesOnlyTheNetwork) {
    Config original;
    original.SetEmail("me@x");
    original.routes.push_back(new Route("1.0.0.0", "255.0.0.0", "1.0.0.1"));
    original.clients.push_back(new Client());
    original.AddQuota(new Quota("agent", "disk", "OCT", 1000, 1));
    Config copy(&original);
    copy.SetEmail("other@x");
    snprintf(copy.clients[0]->name, sizeof(copy.clients[0]->name), "changed");
    EXPECT_STREQ("me@x", original.email);
    EXPECT_STREQ("null", original.clients[0]->name);
    ASSERT_EQ(1, copy.GetQuotaCount());

    Config target;
    snprintf(copy.rate, sizeof(copy.rate), "10Mbit");
    copy.SetIP("9.9.9.9", nullptr, nullptr, nullptr);
    snprintf(copy.name, sizeof(copy.name), "not copied");
    target.CopyNetwork(&copy);  // no process globals: the route write is skipped
    EXPECT_STREQ("10Mbit", target.rate);
    EXPECT_STREQ("9.9.9.9", target.network[0]);
    EXPECT_STREQ("127.0.0.1", target.network[2]);
    EXPECT_STREQ("other@x", target.email);
    EXPECT_EQ(1, target.GetRouteCount());
    EXPECT_STREQ("anonymous", target.name);
}

TEST(ConfigQuota, LookupGivesACopyAndNamesAreCut) {
    Config c;
    c.AddQuota(new Quota("agent", "disk", "OCT", 5000, 1));
    Quota* q = c.GetQuota("disk", "OCT");
    ASSERT_NE(nullptr, q);
    EXPECT_NE(c.quotas[0], q);  // a copy the caller owns
    delete q;
    EXPECT_EQ(nullptr, c.GetQuota("none", "OCT"));
    Quota cut("a-very-long-owner-name-longer-than-thirty", "namenamename", "UNITS", 1, 1);
    EXPECT_STREQ("namenamena", cut.name);
    EXPECT_STREQ("UNITS", cut.unit);
}

// The configuration test probes the server as configured: a dotted quad as
// it stands, a name once it resolves, "null" never.
std::string probed;
TEST(ConfigNetwork, TestProbesTheConfiguredServerOnlyWhenThereIsOne) {
    TestHome home;  // its start-up installs the real probe again for later tests
    SetServerProbe([](const char* address, const char* name, int, int) {
        probed = std::string(address) + " " + name;
        return true;
    });
    const char* cases[][2] = {{"null null", ""}, {"127.0.0.2 box", "127.0.0.2 box"}, {"localhost box", "localhost box"}};
    for (auto& c : cases) {
        probed.clear();
        config->ReadLine((std::string("server=") + c[0]).c_str());
        EXPECT_EQ(*c[1] ? 0 : -2, config->TestNetwork()) << c[0];
        EXPECT_EQ(c[1], probed) << c[0];
    }
    SetServerProbe(nullptr);
}

TEST(ServerReset, AServerNameThatIsNoFolderNameTakesNothingWithIt) {
    TestHome home;
    WriteWholeFile(home.path("conf/pub"), "k");
    WriteWholeFile(home.path("keep"), "k");
    RemoveResetFiles("..");
    EXPECT_FALSE(PathExists(home.path("conf/pub")));
    EXPECT_TRUE(PathExists(home.path("keep")));
    // A link standing as the server's folder goes; what it points to stays.
    ASSERT_EQ(0, symlink(home.path("keep-dir").c_str(), home.path("conf/linked").c_str()));
    WriteWholeFile(home.path("keep-dir/pub"), "k");
    RemoveResetFiles("linked");
    EXPECT_FALSE(PathExists(home.path("conf/linked")));
    EXPECT_TRUE(PathExists(home.path("keep-dir/pub")));
}

}  // namespace
