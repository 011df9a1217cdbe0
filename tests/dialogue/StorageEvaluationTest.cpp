// Adding up what another agent lists: catalogue lines read back, and the
// whole listing dialogue against the real agent.
#include <gtest/gtest.h>

#include <string>

#include "core/Globals.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/StorageEvaluation.h"
#include "records/Client.h"
#include "records/Config.h"
#include "selection/CatalogueLine.h"
#include "support/Process.h"
#include "support/TestHome.h"

namespace {

TEST(StorageEvaluation, CatalogueLinesGiveBackTheirSizes) {
    TestHome home;
    std::string block;
    const long long sizes[] = {42, 5000000000LL, 0};
    // Quotes are escaped in the line as the walk writes it.
    const char* paths[] = {"|d|a.txt", "|d|it\\'s, \\'big\\'.bin", "|d|e"};
    for (int i = 0; i < 3; i++) {
        char* line = FormatCatalogueLine(0, paths[i], kCatalogueFile, 2, "x", paths[i], 1700000000, sizes[i]);
        block += line;
        delete[] line;
    }
    int count = 0;
    long long bytes = 0;
    AddCatalogueLines(block.data(), block.size(), count, bytes);
    EXPECT_EQ(3, count);
    EXPECT_EQ(5000000042LL, bytes);
}

TEST(StorageEvaluation, RunsTheListingOfTheSetsMachine) {
    ServerSide server;
    AgentDaemon daemon;
    ASSERT_TRUE(daemon.Started());
    WriteWholeFile(daemon.path("d/a"), std::string(10, 'a'));
    WriteWholeFile(daemon.path("d/b"), std::string(2000, 'b'));
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
    EXPECT_EQ(10 + 32 + 2000 + 32, bytes);  // listed sizes count the metadata record
}

}  // namespace
