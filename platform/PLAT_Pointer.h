// The pointer buttons of the X server as the window sees them: buttons 1
// and 3 are the left and right button, and buttons 4 and 5, the wheel, are
// one notch each of +120 (away from the user) and -120.
#pragma once

#include <cstdint>

constexpr int32_t PLAT_WHEEL_NOTCH = 120;

// The message a press or release of X button `button` gives; false for a
// button the window does not hear (the wheel's release, buttons 2, 6 and up).
// A wheel notch answers PLAT_WM_MOUSEWHEEL with its delta in *wheel.
bool PLAT_iButtonMessage(int32_t button, bool down, uint32_t *message, int32_t *wheel);
// A toolkit's wheel rotation in notches of `perNotch` turned into the
// window's delta (120 a notch), rounded and kept within 16 bits.
int32_t PLAT_iWheelDelta(int32_t rotation, int32_t perNotch);
