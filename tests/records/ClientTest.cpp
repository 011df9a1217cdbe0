#include <gtest/gtest.h>
#include <string.h>

#include <sstream>

#include "core/Globals.h"
#include "records/Client.h"
#include "records/ClientManagement.h"
#include "records/Config.h"
#include "support/TestHome.h"

TEST(ClientState, ResetClearsBitsTwentyEightToThirtyOneUnlessRequested) {
    struct Case { int start, bits; bool ok; int after; };
    const Case cases[] = {
        {0x10000001, 1, true, 0},  // bit 28 goes with bit value 1
        {0x10000003, 1, true, 2},
        {0x10000001, 0x10000000, true, 0x10000001},  // a high bit asked for is kept (XOR mask)
        {0x70000000, 2, false, 0x70000000},          // nothing to clear: unchanged
        {0, 0, false, 0},
    };
    for (const Case& c : cases) {
        Client client;
        client.state = c.start;
        EXPECT_EQ(client.ResetState(c.bits), c.ok) << std::hex << c.start << " " << c.bits;
        EXPECT_EQ(client.GetState(), c.after) << std::hex << c.start << " " << c.bits;
    }
}

TEST(ClientState, SettingABitTwiceReportsTheSecondAsRefused) {
    Client client;
    EXPECT_TRUE(client.SetState(1));
    EXPECT_FALSE(client.SetState(1));
    EXPECT_FALSE(client.SetState(3));  // any bit already set refuses all
    EXPECT_EQ(client.GetState(), 1);
}

TEST(ClientCopy, TransientIsResetAndTheCountFollowsEveryObject) {
    int before = client_count;
    {
        Client original;
        original.transient = 5;
        original.stored_kb = 77;
        Client copy(&original);
        EXPECT_EQ(copy.transient, 0);
        EXPECT_EQ(copy.stored_kb, 77u);
        EXPECT_EQ(client_count, before + 2);
    }
    EXPECT_EQ(client_count, before);
}

TEST(ClientRow, OptionalSlotsAndOverlongTextsStayInBounds) {
    std::vector<std::string> texts = {
        "box", "pc12", "jeu du lundi", "10.0.0.7",   "SunOS", "1", "2", "1",         "100", "200", "300",
        "4",   "5",    "4000000000",   "4000000001", "6",     "7", "8", "1 2 3 4 5", "9",   "10"};
    std::vector<char*> row;
    for (std::string& t : texts) row.push_back(&t[0]);
    for (int count : {18, 19, 20, 21}) {  // slot 18 is always there
        Client c(row.data(), count);
        std::ostringstream got;
        got << c.id << "|" << c.box_name << "|" << c.name << "|" << c.counter_1 << "|" << c.stored_kb << "|"
            << c.number << "|" << c.schedule << "|" << c.setting_4 << "|" << c.value_3;
        EXPECT_EQ(got.str(), std::string("pc12.7|box|jeu du lundi|4000000000|4000000001|7|1 2 3 4 5|") +
                                 (count > 19 ? "9|" : "0|") + (count > 20 ? "10" : "0")) << count;
    }
    std::string longText(500, 'x');
    texts[1] = longText;  // base_id
    texts[4] = longText;  // os
    row.clear();
    for (std::string& t : texts) row.push_back(&t[0]);
    Client c(row.data(), 19);
    EXPECT_EQ(strlen(c.base_id), sizeof(c.base_id) - 1);
    EXPECT_EQ(strlen(c.os), sizeof(c.os) - 1);
    EXPECT_EQ(strlen(c.id), sizeof(c.id) - 1);

    Client shortRow(row.data(), 17);  // below the documented counts: defaults stay
    EXPECT_STREQ(shortRow.name, "null");
}

TEST(SetManagement, EveryOperationOnAnUnknownSetFails) {
    TestHome home;
    char ip[] = "127.0.0.1", name[] = "jeu", schedule[] = "0 0 * * *", password[] = "", id[] = "pc12.1";
    int before = client_count;
    EXPECT_EQ(AddClient(ip, name, schedule, 3, 0, password, 0, 3, 0), -1);
    EXPECT_EQ(client_count, before);  // the refused record is not leaked
    EXPECT_EQ(ModifyClient(id, ip, name, schedule, 3, 0, 0, 3, 0), -1);
    EXPECT_EQ(DeleteClient(id), -1);
    EXPECT_EQ(DeleteClient(nullptr), -1);
}
