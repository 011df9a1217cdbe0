#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "support/TestHome.h"

TEST(RandomAesKey, ThirtyTwoLowerCaseDigitsNeverALeadingZero) {
    for (int i = 0; i < 3; i++) {
        char* key = GetRandomAESKey();
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(strlen(key), 32u);
        EXPECT_NE(key[0], '0');
        for (const char* c = key; *c; c++)
            EXPECT_TRUE((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f')) << key;
        free(key);
    }
}

TEST(KeyPathFromName, NamesMapUnderTheConfigurationFolderAndNeverLeaveIt) {
    TestHome home;
    std::string conf = res->conf_dir;
    struct Case { const char* name; const char* suffix; bool ok; std::string expected; };
    const Case cases[] = {
        {nullptr, "pub", true, conf + "pub"}, {"", "priv", true, conf + "priv"},
        {"pc12", "pub", true, conf + "pc12/pub"}, {"zelgui_admin", "pub", true, conf + "admin/gui_pub"},
        {"zelgui_visu_2", "priv", true, conf + "visu_2/gui_priv"}, {"../../etc", "pub", false, ""},
        {"a/b", "pub", false, ""}, {"..", "pub", false, ""}, {"zelgui_..", "pub", false, ""},
        {"zelgui_x/../..", "priv", false, ""},
    };
    for (const Case& c : cases) {
        char out[400];
        EXPECT_EQ(GetKeyPathFromName(out, sizeof(out), c.name, c.suffix), c.ok)
            << (c.name ? c.name : "(null)");
        EXPECT_EQ(std::string(out), c.expected) << (c.name ? c.name : "(null)");
    }
    char tiny[8];
    EXPECT_FALSE(GetKeyPathFromName(tiny, sizeof(tiny), "pc12", "pub"));
    EXPECT_STREQ(tiny, "");
}
