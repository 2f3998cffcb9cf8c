// The keyboard as the window procedure sees it: hardware keys of the X
// server turned into the virtual-key codes that the player's key tables and
// KEY_ constants use, and the key messages that presses and releases become.
//
// A code follows the physical key, never the symbol that Shift, Caps Lock or
// AltGr make of it: letters go by the Latin letter the key types in the
// active layout (or, for a key of another script, by the letter on the same
// key of the US layout), the digit row is KEY_0 to KEY_9 in every layout,
// keypad keys follow NumLock alone, and every other key goes by its place.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/PLAT.h"

// 0 for a symbol without a virtual key. The US layout's meaning is taken
// for the symbols of a shifted key. Used for keys the position table does
// not know.
uint32_t PLAT_iKeysymToVirtualKey(uint32_t keysym);

// The code of hardware key keycode (X keycode, evdev numbering), given the
// symbol the key types unshifted in the active layout group and the NumLock
// state. 0 for a key without a virtual key.
uint32_t PLAT_iKeyToVirtualKey(uint32_t keycode, uint32_t unshiftedKeysym, bool numLock);

// Presses and releases of hardware keys become key messages. A release
// carries the code its press carried, whatever the modifiers or the layout
// are by then; a key that is down and pressed again (auto-repeat) repeats
// its code. Alt and F10 are system keys, and so is any key pressed while Alt
// is held without Control: they become PLAT_WM_SYSKEYDOWN and
// PLAT_WM_SYSKEYUP, which the key tables never see. Alt+Enter becomes the
// fullscreen system command. AltGr (ISO_Level3_Shift) is no Alt.
class PLAT_KeyTracker {
public:
    // False when the key has no code: nothing is posted.
    bool press(uint32_t keycode, uint32_t vk, uint32_t unshiftedKeysym, PLAT_Msg *out);
    // False when the key was not down.
    bool release(uint32_t keycode, PLAT_Msg *out);
    // Every key still down, released in the order they were pressed (the
    // focus went elsewhere and their releases will not come).
    std::vector<PLAT_Msg> releaseAll();
    bool isDown(uint32_t vk) const;
    // PLAT_KS_ bits of the modifier keys down.
    uint32_t keyState() const;

private:
    struct Down {
        uint32_t vk;
        bool systemAlt;  // an Alt key (not AltGr)
        uint64_t order;
    };
    std::map<uint32_t, Down> down_;  // keycode -> what its press carried
    uint64_t next_ = 0;
    bool altHeld() const;
    bool isSystem(const Down &d) const;
};
