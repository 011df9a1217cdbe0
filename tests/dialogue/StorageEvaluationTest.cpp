// Adding up what another agent lists: the whole listing dialogue against the
// real agent, its catalogue lines read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/StorageEvaluation.h"
#include "records/Client.h"
#include "records/Config.h"

namespace {

TEST(StorageEvaluation, RunsTheListingOfTheSetsMachine) {
    ServerSide server;
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    WriteWholeFile(daemon.path("d/a"), std::string(10, 'a'));
    // Quotes arrive escaped in the catalogue line; a sparse file past 4 GiB.
    WriteWholeFile(daemon.path("d/it's, 'big'.bin"), "");
    ASSERT_EQ(0, truncate(daemon.path("d/it's, 'big'.bin").c_str(), 5000000000LL));
    Client set;
    snprintf(set.ip, sizeof(set.ip), "127.0.0.2");
    std::string rules = "include dir \"" + ToWire(daemon.path("d")) + "|\"";
    int count = -1;
    long long bytes = -1;
    EXPECT_EQ(-1, EvaluateStorage(nullptr, rules.c_str(), count, bytes));
    config->client_port = FreePort();
    EXPECT_EQ(-2, EvaluateStorage(&set, rules.c_str(), count, bytes));
    config->client_port = daemon.port();
    EXPECT_EQ(-3, EvaluateStorage(&set, "", count, bytes));
    EXPECT_EQ(0, EvaluateStorage(&set, rules.c_str(), count, bytes));
    EXPECT_EQ(2, count);
    EXPECT_EQ(10 + 32 + 5000000000LL + 32, bytes);  // listed sizes count the metadata record
}

}  // namespace
