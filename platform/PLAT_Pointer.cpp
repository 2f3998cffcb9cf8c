#include "platform/PLAT_Pointer.h"

#include <cmath>

#include "platform/PLAT.h"

bool PLAT_iButtonMessage(int32_t button, bool down, uint32_t *message, int32_t *wheel) {
    *wheel = 0;
    switch (button) {
    case 1: *message = down ? PLAT_WM_LBUTTONDOWN : PLAT_WM_LBUTTONUP; return true;
    case 3: *message = down ? PLAT_WM_RBUTTONDOWN : PLAT_WM_RBUTTONUP; return true;
    case 4:
    case 5:
        if (!down) return false;
        *message = PLAT_WM_MOUSEWHEEL;
        *wheel = button == 4 ? PLAT_WHEEL_NOTCH : -PLAT_WHEEL_NOTCH;
        return true;
    default: return false;
    }
}

int32_t PLAT_iWheelDelta(int32_t rotation, int32_t perNotch) {
    if (perNotch <= 0) perNotch = PLAT_WHEEL_NOTCH;
    double d = std::round(double(rotation) * PLAT_WHEEL_NOTCH / perNotch);
    if (d > 32767) d = 32767;
    if (d < -32768) d = -32768;
    return int32_t(d);
}
