#include "base/CTRL_Keys.h"

const CTRL_KeyName CTRL_keyNames[] = {
#define CTRL_KEY_ROW(name, code) {"KEY_" #name, code},
    CTRL_KEY_LIST(CTRL_KEY_ROW)
#undef CTRL_KEY_ROW
};

const int32_t CTRL_keyNameCount = sizeof(CTRL_keyNames) / sizeof(CTRL_keyNames[0]);
