// The sound output: a software stereo mix written into one looping 16-bit
// 44,100 Hz buffer of the platform layer, refilled once per frame up to the
// device's play cursor.
#pragma once

#include <cstdint>

#include "sound/VIEW_Sound.h"

struct PLAT_SoundBuffer;
class MDL_Sound;

// Adds frames first .. first + n - 1 of a sound, counted at the output rate
// (rate conversion by truncating index, no interpolation), times the left
// and right gains, into the accumulators. The frames are those of
// MDL_Sound::getSample, read span by span instead of one call a frame.
void VIEW_iAccumulateSound(const MDL_Sound *sound, uint32_t outputRate, int64_t first, int32_t n, float leftGain,
                           float rightGain, float *left, float *right);

// The distance gain and pan of a source for a listener: g = listener gain /
// (squared distance x 0.1 + 1), split by the cosine between the listener's X
// axis and the direction to the source, each side clamped to [0, 1] and then
// scaled by the source's volume.
void VIEW_iSourceGains(const double sourcePosition[3], const double listenerPosition[3],
                       const double listenerAxisX[3], double listenerGain, double volume, float *leftGain,
                       float *rightGain);

// A mixed value to a 16-bit sample: x 32767 in single precision, saturated
// to [-32768, 32767], truncated toward zero; not a number gives 0.
inline int16_t VIEW_iToSample16(float v) {
    float x = v * 32767.0f;
    if (x > 32767.0f) return 32767;
    if (x < -32768.0f) return -32768;
    if (x != x) return 0;
    return static_cast<int16_t>(x);
}

class VIEW_SoundWin32 : public VIEW_Sound {
public:
    static constexpr uint32_t RING_SIZE = 16384;  // bytes: 4096 frames of 4 bytes
    static constexpr int32_t NO_DEVICE_FRAMES = 2147483647;
    static constexpr int32_t CHUNK_FRAMES = 4800;  // frames mixed per pass of the accumulators

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
