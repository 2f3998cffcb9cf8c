#include "sound/VIEW_SoundWin32.h"

#include <cstring>

#include "platform/PLAT.h"

VIEW_SoundWin32::VIEW_SoundWin32(void *window) {
    PLAT_System *plat = PLAT_iGet();
    if (!plat) return;
    PLAT_SoundFormat format;  // 44,100 Hz, 2 channels, 16 bits
    buffer = plat->createSoundBuffer(static_cast<PLAT_Window *>(window), format, RING_SIZE);
    if (!buffer) return;
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (!plat->soundLock(buffer, 0, RING_SIZE, &p1, &n1, &p2, &n2)) {
        plat->deleteSoundBuffer(buffer);
        buffer = nullptr;
        return;
    }
    if (p1) memset(p1, 0, n1);
    if (p2) memset(p2, 0, n2);
    plat->soundUnlock(buffer, p1, n1, p2, n2);
    plat->soundPlay(buffer);
}

VIEW_SoundWin32::~VIEW_SoundWin32() {
    PLAT_System *plat = PLAT_iGet();
    if (!buffer || !plat) return;
    plat->soundStop(buffer);
    plat->deleteSoundBuffer(buffer);
    buffer = nullptr;
}

void VIEW_SoundWin32::stop() {
    if (buffer && PLAT_iGet()) PLAT_iGet()->soundStop(buffer);
}

void VIEW_SoundWin32::play() {
    if (buffer && PLAT_iGet()) PLAT_iGet()->soundPlay(buffer);
}

int32_t VIEW_SoundWin32::update(const CTRL_Array<MDL_Viewport *> *viewports) {
    PLAT_System *plat = PLAT_iGet();
    if (!buffer || !plat) return NO_DEVICE_FRAMES;
    uint32_t play = 0, write = 0;
    if (!plat->soundGetPosition(buffer, &play, &write)) return 0;
    const int32_t P = static_cast<int32_t>(play % RING_SIZE), W = static_cast<int32_t>(write % RING_SIZE);
    // Never write where the device may still be reading: [P, W), wrapping.
    int32_t pos = writePosition;
    bool reading = W > P ? (pos >= P && pos < W) : (pos >= P || pos < W);
    if (reading) pos = W;
    int32_t bytes = pos > P ? static_cast<int32_t>(RING_SIZE) - pos + P : P - pos;
    bytes &= ~3;  // whole frames
    if (bytes <= 0) {
        writePosition = pos;
        return 0;
    }
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (!plat->soundLock(buffer, static_cast<uint32_t>(pos), static_cast<uint32_t>(bytes), &p1, &n1, &p2, &n2))
        return 0;
    int32_t frames1 = static_cast<int32_t>(n1 / 4), frames2 = static_cast<int32_t>(n2 / 4);
    if (p1 && frames1 > 0) {
        auto *s = static_cast<int16_t *>(p1);
        mix(viewports, frames1, 0, s, s + 1);
    }
    if (p2 && frames2 > 0) {
        auto *s = static_cast<int16_t *>(p2);
        mix(viewports, frames2, frames1, s, s + 1);
    }
    writePosition = (pos + bytes) % static_cast<int32_t>(RING_SIZE);
    plat->soundUnlock(buffer, p1, n1, p2, n2);
    return bytes / 4;
}

void VIEW_SoundWin32::mix(const CTRL_Array<MDL_Viewport *> *, int32_t n, int32_t, int16_t *left, int16_t *right) {
    // No sources are mixed yet: the span is written as silence.
    for (int32_t i = 0; i < n; i++) {
        left[2 * i] = 0;
        right[2 * i] = 0;
    }
}
