#include "controller/CTRL_Generic.h"
#include "controller/CTRL_ScriptEngine.h"
#include "render/VIEW_Generic.h"
#include "sound/VIEW_Sound.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Keys, TableHoldsTheVirtualKeyCodes)
{
    struct Case {
        const char* name;
        int32_t code;
    } cases[] = {
        {"KEY_LBUTTON", 1}, {"KEY_EXECUTELM", 43}, {"KEY_HANJA", 25}, {"KEY_KANJI", 25},
        {"KEY_0", 48}, {"KEY_9", 57}, {"KEY_A", 65}, {"KEY_X", 88}, {"KEY_Z", 90},
        {"KEY_OEM_NEC_EQUAL", 146}, {"KEY_OEM_FJ_JISHO", 146}, {"KEY_F24", 135},
        {"KEY_OEM_CLEAR", 254},
    };
    for (const Case& k : cases) {
        int found = -1;
        for (int i = 0; i < CTRL_keyNameCount; i++)
            if (std::strcmp(CTRL_keyNames[i].name, k.name) == 0)
                found = CTRL_keyNames[i].code;
        EXPECT_EQ(found, k.code) << k.name;
    }
    EXPECT_STREQ(CTRL_keyNames[0].name, "KEY_LBUTTON");
    EXPECT_STREQ(CTRL_keyNames[CTRL_keyNameCount - 1].name, "KEY_OEM_CLEAR");
    EXPECT_EQ(KEY_X, 88);
    EXPECT_EQ(KEY_DELETE, 46);
}

TEST(Clock, SettableAndRestorable)
{
    CTRL_ManualClock manual;
    manual.now = 12345;
    CTRL_iSetClock(&manual);
    EXPECT_EQ(CTRL_iGetClock()->counter(), 12345);
    manual.advanceSeconds(0.5);
    EXPECT_EQ(CTRL_iGetClock()->counter(), 12345 + 500000);
    CTRL_iSetClock(nullptr);
    EXPECT_NE(CTRL_iGetClock(), &manual);
    EXPECT_GT(CTRL_iGetClock()->frequency(), 0);
}
