// Rows of the kernel's socket tables: only an established socket with both
// ends matching names its owner.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "foundation/SocketOwner.h"

TEST(SocketOwner, OnlyAnEstablishedRowWithBothEndsMatchingGivesItsOwner) {
    const char* title = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n";
    const uint32_t lo = inet_addr("127.0.0.1");
    struct Case {
        const char* row;
        bool found;
        unsigned uid;
    } cases[] = {
        {"0: 0100007F:9C40 0100007F:1A0A 01 00000000:00000000 00:00000000 00000000  1000 0 1", true, 1000},
        {"0: 0100007F:9C40 0100007F:1A0A 06 00000000:00000000 03:00000119 00000000     0 0 0", false, 0},
        {"0: 0100007F:1A0A 0100007F:9C40 01 00000000:00000000 00:00000000 00000000  1000 0 1", false, 0},
        {"0: 0200007F:9C40 0100007F:1A0A 01 00000000:00000000 00:00000000 00000000  1000 0 1", false, 0},
        {"0: 0000000000000000FFFF00000100007F:9C40 0000000000000000FFFF00000100007F:1A0A 01 "
         "00000000:00000000 00:00000000 00000000    33 0 1",
         true, 33},
        {"0: 00000000000000000000000001000000:9C40 00000000000000000000000001000000:1A0A 01 "
         "00000000:00000000 00:00000000 00000000    33 0 1",
         false, 0},
        {"0: 0100007F:9C40", false, 0},
    };
    for (const Case& c : cases) {
        unsigned uid = 0;
        std::string table = std::string(title) + c.row + "\n";
        EXPECT_EQ(c.found, FindSocketOwner(table.c_str(), lo, 0x9C40, lo, 0x1A0A, uid)) << c.row;
        EXPECT_EQ(c.uid, uid) << c.row;
    }
}
