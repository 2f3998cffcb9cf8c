// Keyframe tracks: one playing track drives one object's local frame from
// the keys of an animation data set (read from a scene file). The track
// belongs to its target's world, which advances it once per frame.
#pragma once

#include <cstdint>

#include "math/MDL_Frame.h"

class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

class MDL_Object;
struct MDL_AnimationData;

// Uniform Catmull-Rom point between p1 (u = 0) and p2 (u = 1).
void MDL_iCatmullRom(v3& out, const v3& p0, const v3& p1, const v3& p2, const v3& p3, double u);

class MDL_Animation {
public:
    // A playing track at time 0 and speed 1; its end time is the sum of the
    // key times. The track keeps the data's scene file alive while it lives.
    MDL_Animation(MDL_Object* target, MDL_AnimationData* data);
    MDL_Animation(const MDL_Animation&) = delete;
    MDL_Animation& operator=(const MDL_Animation&) = delete;
    // Releases the proxy link and the hold on the data.
    ~MDL_Animation();

    // Poses the target for the current time, then advances the time by
    // dt x speed; clears the playing flag once the time passes the end.
    void update(double dt);

    MDL_Proxy proxy = nullptr;
    MDL_Object* target = nullptr;     // not owned
    MDL_AnimationData* data = nullptr;  // not owned; its set is held
    double time = 0.0;
    double endTime = 0.0;
    double speed = 1.0;
    uint8_t playing = 1;
};
