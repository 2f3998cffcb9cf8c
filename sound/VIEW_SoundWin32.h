// The sound output: a software stereo mix written into one looping 16-bit
// 44,100 Hz buffer of the platform layer, refilled once per frame up to the
// device's play cursor.
#pragma once

#include <cstdint>

#include "sound/VIEW_Sound.h"

struct PLAT_SoundBuffer;

class VIEW_SoundWin32 : public VIEW_Sound {
public:
    static constexpr uint32_t RING_SIZE = 16384;  // bytes: 4096 frames of 4 bytes
    static constexpr int32_t NO_DEVICE_FRAMES = 2147483647;

    // Any failing step leaves the output without a buffer (it then mixes
    // nothing and reports NO_DEVICE_FRAMES, so sounds run to their end).
    explicit VIEW_SoundWin32(void *window);
    ~VIEW_SoundWin32() override;

    uint32_t getSampleRate() override { return 44100; }
    int32_t update(const CTRL_Array<MDL_Viewport *> *viewports) override;
    void stop() override;
    void play() override;

    // Writes n frames of what the viewports' listeners hear, from frame
    // `first` on, into interleaved left/right 16-bit samples.
    void mix(const CTRL_Array<MDL_Viewport *> *viewports, int32_t n, int32_t first, int16_t *left, int16_t *right);

    PLAT_SoundBuffer *buffer = nullptr;
    int32_t writePosition = 0;  // the mixer's own byte offset in the ring
};
