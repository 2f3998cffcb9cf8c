#include "sound/VIEW_SoundWin32.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/VIEW_Sample.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
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

// ---------------------------------------------------------------- mixer

namespace {

// Adds channel samples at frames f0, f0 + 1, ... (same-rate reading) times
// the gains; wrap: the frame index runs modulo the channel's length.
void addSpan(const VIEW_SampleChannel &ch, int64_t f, int32_t n, bool wrap, float lg, float rg, float *left,
             float *right) {
    if (!ch.samples || ch.count <= 0) return;
    const int64_t len = ch.count;
    int32_t k = 0;
    if (wrap) {
        f %= len;
        if (f < 0) f += len;
        while (k < n) {
            int32_t run = static_cast<int32_t>(std::min<int64_t>(n - k, len - f));
            const float *src = ch.samples + f;
            for (int32_t j = 0; j < run; j++) {
                left[k + j] += src[j] * lg;
                right[k + j] += src[j] * rg;
            }
            k += run;
            f = 0;
        }
        return;
    }
    // Frames before 0 and from the length on are silent.
    if (f < 0) {
        if (-f >= n) return;
        k = static_cast<int32_t>(-f);
        f = 0;
    }
    if (f >= len) return;
    int32_t run = static_cast<int32_t>(std::min<int64_t>(n - k, len - f));
    const float *src = ch.samples + f;
    for (int32_t j = 0; j < run; j++) {
        left[k + j] += src[j] * lg;
        right[k + j] += src[j] * rg;
    }
}

// One channel's sample at frame f, as the sample fetch reads it.
inline float channelAt(const VIEW_SampleChannel &ch, int64_t f, bool wrap) {
    if (!ch.samples || ch.count <= 0) return 0.0f;
    if (wrap) {
        f %= ch.count;
        if (f < 0) f += ch.count;
        return ch.samples[f];
    }
    return (f >= 0 && f < ch.count) ? ch.samples[f] : 0.0f;
}

}  // namespace

void VIEW_iAccumulateSound(const MDL_Sound *sound, uint32_t outputRate, int64_t first, int32_t n, float lg,
                           float rg, float *left, float *right) {
    if (!sound || n <= 0 || outputRate == 0) return;
    const VIEW_Sample *s = sound->sample;
    if (!s || s->paused || s->channels.count <= 0) return;
    const bool wrap = sound->looping && !s->streamFed;
    const int64_t base = s->streamFed ? 0 : int64_t(sound->position);
    const bool sum = sound->channel < 0;
    if (!sum && sound->channel >= s->channels.count) return;  // no such channel: silence

    if (s->sampleRate == outputRate && !sum) {
        addSpan(s->channels.data[sound->channel], base + first, n, wrap, lg, rg, left, right);
        return;
    }
    // Frame index (rate x (first + i)) / output rate, stepped exactly in
    // integers: quotient q and remainder r.
    const int64_t rate = s->sampleRate, out = outputRate;
    // rate < 2^32 and first < 2^31: the product fits 64 bits.
    const int64_t start = rate * first;
    int64_t q = start / out, r = start % out;
    const int64_t stepQ = rate / out, stepR = rate % out;
    // One channel whose indices stay in the 32-bit range: walk the frame
    // index (wrapped when looping) instead of recomputing it.
    if (!sum && (rate * (first + n - 1)) / out <= INT32_MAX) {
        const VIEW_SampleChannel &ch = s->channels.data[sound->channel];
        if (!ch.samples || ch.count <= 0) return;
        const int64_t len = ch.count;
        int64_t f = base + q;
        if (wrap) {
            f %= len;
            if (f < 0) f += len;
        }
        for (int32_t i = 0; i < n; i++) {
            const float v = wrap ? ch.samples[f] : (f >= 0 && f < len ? ch.samples[f] : 0.0f);
            left[i] += v * lg;
            right[i] += v * rg;
            int64_t dq = stepQ;
            r += stepR;
            if (r >= out) {
                r -= out;
                dq++;
            }
            f += dq;
            if (wrap && f >= len) f %= len;
        }
        return;
    }
    const int32_t from = sum ? 0 : sound->channel, to = sum ? s->channels.count : sound->channel + 1;
    for (int32_t i = 0; i < n; i++) {
        // Indices past the 32-bit range read as that range's end (silent or
        // wrapped, like any other frame).
        int64_t index = std::min<int64_t>(q, INT32_MAX);
        int64_t f = base + index;
        float v = 0.0f;
        for (int32_t c = from; c < to; c++) v += channelAt(s->channels.data[c], f, wrap);
        left[i] += v * lg;
        right[i] += v * rg;
        q += stepQ;
        r += stepR;
        if (r >= out) {
            r -= out;
            q++;
        }
    }
}

void VIEW_iSourceGains(const double sp[3], const double lp[3], const double ax[3], double listenerGain,
                       double volume, float *leftGain, float *rightGain) {
    const double d[3] = {sp[0] - lp[0], sp[1] - lp[1], sp[2] - lp[2]};
    const double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double len = std::sqrt(d2);
    double u[3] = {d[0], d[1], d[2]};
    if (len > 0) {
        u[0] /= len;
        u[1] /= len;
        u[2] /= len;
    }
    const double p = u[0] * ax[0] + u[1] * ax[1] + u[2] * ax[2];
    const float g = static_cast<float>(listenerGain / (d2 * static_cast<double>(0.1f) + 1.0));
    float l = static_cast<float>((1.0 - p) * 0.5) * g;
    float r = g * static_cast<float>(p * 0.5 + 0.5);
    // Clamped to [0, 1]; a value that is not a number counts as 0.
    l = l > 0.0f ? (l < 1.0f ? l : 1.0f) : 0.0f;
    r = r > 0.0f ? (r < 1.0f ? r : 1.0f) : 0.0f;
    *leftGain = static_cast<float>(l * volume);
    *rightGain = static_cast<float>(r * volume);
}

void VIEW_SoundWin32::mix(const CTRL_Array<MDL_Viewport *> *viewports, int32_t n, int32_t first, int16_t *left,
                          int16_t *right) {
    const uint32_t rate = getSampleRate();
    float accL[CHUNK_FRAMES], accR[CHUNK_FRAMES];
    while (n > 0) {
        const int32_t chunk = n < CHUNK_FRAMES ? n : CHUNK_FRAMES;
        std::fill(accL, accL + chunk, 0.0f);
        std::fill(accR, accR + chunk, 0.0f);
        for (int32_t v = 0; viewports && v < viewports->count; v++) {
            MDL_Viewport *vp = viewports->data[v];
            MDL_Mike *mike = vp ? vp->listener : nullptr;
            if (!mike || !mike->scene || !mike->on) continue;
            const MDL_Frame &lf = mike->getGlobalFrame();
            const double lp[3] = {lf.position.x, lf.position.y, lf.position.z};
            const double ax[3] = {lf.basis.c[0].x, lf.basis.c[0].y, lf.basis.c[0].z};
            const CTRL_Array<MDL_Object *> &sounds = mike->scene->sounds;
            for (int32_t i = 0; i < sounds.count; i++) {
                MDL_Object *o = sounds.data[i];
                if (!o || o->deleted || o->type != OBJECT_SOUND) continue;
                auto *snd = static_cast<MDL_Sound *>(o);
                if (!(snd->volume > 0)) continue;
                const VIEW_Sample *sample = snd->sample;
                if (!sample || sample->paused || sample->channels.count <= 0) continue;  // silent anyway
                const MDL_Frame &sf = snd->getGlobalFrame();
                const double sp[3] = {sf.position.x, sf.position.y, sf.position.z};
                float lg = 0, rg = 0;
                VIEW_iSourceGains(sp, lp, ax, mike->gain, snd->volume, &lg, &rg);
                VIEW_iAccumulateSound(snd, rate, first, chunk, lg, rg, accL, accR);
            }
        }
        for (int32_t i = 0; i < chunk; i++) {
            left[2 * i] = VIEW_iToSample16(accL[i]);
            right[2 * i] = VIEW_iToSample16(accR[i]);
        }
        left += 2 * chunk;
        right += 2 * chunk;
        first += chunk;
        n -= chunk;
    }
}
