// Keyframe tracks: uniform Catmull-Rom through the keys, the key search and
// the time bookkeeping, and the pose written into the target's local frame
// with its descendants following.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "anim_fixture.h"
#include "model/MDL_Animation.h"
#include "model/MDL_Object.h"

namespace {

struct Key {
    double time;
    v3 location, rotation, scale;
};

struct Data {
    MDL_AnimationData d;
    explicit Data(const std::vector<Key>& keys)
    {
        const size_t n = keys.size();
        d.keyCount = int32_t(n);
        d.times = static_cast<double*>(std::malloc(sizeof(double) * (n ? n : 1)));
        d.locations = static_cast<v3*>(std::malloc(sizeof(v3) * (n ? n : 1)));
        d.rotations = static_cast<v3*>(std::malloc(sizeof(v3) * (n ? n : 1)));
        d.scales = static_cast<v3*>(std::malloc(sizeof(v3) * (n ? n : 1)));
        for (size_t i = 0; i < n; i++) {
            d.times[i] = keys[i].time;
            d.locations[i] = keys[i].location;
            d.rotations[i] = keys[i].rotation;
            d.scales[i] = keys[i].scale;
        }
    }
};

// Keys at 0, 1, 2, 3, 4 whose values are linear in time.
std::vector<Key> linearKeys()
{
    std::vector<Key> keys;
    for (int i = 0; i < 5; i++)
        keys.push_back({double(i), v3{1.0 + 2 * i, -0.5 * i, 0.25 * i}, v3{0.1 * i, -0.2 * i, 0.3 * i},
                        v3{1 + 0.1 * i, 1.0, 1 - 0.05 * i}});
    return keys;
}

void expectPose(MDL_Object& o, const v3& location, const v3& rotation, const v3& scale, double tolerance,
                const char* what)
{
    const MDL_Frame& f = o.getLocalFrame();
    m33 b;
    m33::fromEulerAngles(b, rotation.x, rotation.y, rotation.z);
    b.c[0] *= scale.x;
    b.c[1] *= scale.y;
    b.c[2] *= scale.z;
    EXPECT_LE(dist(f.position, location), tolerance) << what;
    for (int k = 0; k < 3; k++) EXPECT_LE(dist(f.basis.c[k], b.c[k]), tolerance) << what << " column " << k;
}

TEST(Keyframes, InteriorSegmentsReproduceLinearKeys)
{
    Data data(linearKeys());
    MDL_Object target;
    MDL_Animation track(&target, &data.d);
    // Segments 1 and 2 have real neighbours on both sides.
    for (double t = 1.0; t <= 3.0; t += 0.125) {
        track.time = t;
        track.update(0);
        expectPose(target, {1 + 2 * t, -0.5 * t, 0.25 * t}, {0.1 * t, -0.2 * t, 0.3 * t},
                   {1 + 0.1 * t, 1.0, 1 - 0.05 * t}, 1e-12, "linear");
    }
}

TEST(Keyframes, EveryKeyIsHitExactly)
{
    std::vector<Key> keys = {{0, {1, 2, 3}, {0.5, 0, -1}, {1, 1, 1}},
                             {0.4, {-4, 0.5, 9}, {0.1, 2, 0.3}, {2, 0.5, 1}},
                             {1.5, {7, -3, 0}, {-1, 0.2, 0}, {1, 3, 0.25}},
                             {2.0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}};
    Data data(keys);
    MDL_Object target;
    MDL_Animation track(&target, &data.d);
    for (const Key& k : keys) {
        track.time = k.time;
        track.update(0);
        expectPose(target, k.location, k.rotation, k.scale, 0.0, "key");
    }
}

// Where the time falls, whether the target is posed, and how the time and
// the playing flag move on.
TEST(Keyframes, TimeAndPlayingFlag)
{
    Data three({{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}},
                {1, {2, 0, 0}, {0, 0, 0}, {1, 1, 1}},
                {2, {4, 0, 0}, {0, 0, 0}, {1, 1, 1}}});
    MDL_Object target;
    {
        MDL_Animation track(&target, &three.d);
        EXPECT_EQ(track.endTime, 3.0);  // the sum of the key times
        EXPECT_EQ(track.time, 0.0);
        EXPECT_EQ(track.speed, 1.0);
        EXPECT_EQ(track.playing, 1);
        track.speed = 2;
        track.update(0.1);
        EXPECT_DOUBLE_EQ(track.time, 0.2);
        // u = 0.5 of the first segment, key 0 standing in for the key
        // before it: only keys 1 and 2 (x = 2 and 4) contribute.
        track.time = 0.5;
        track.update(0);
        const double u = 0.5, c = -3 * u * u * u + 4 * u * u + u, d = u * u * u - u * u;
        EXPECT_DOUBLE_EQ(target.getLocalFrame().position.x, 0.5 * (c * 2 + d * 4));
        track.time = 3.0;
        track.update(0);
        EXPECT_EQ(track.playing, 1);  // at the end time exactly it still plays
        track.update(1e-9);
        EXPECT_EQ(track.playing, 0);
        // Past the last key nothing is posed, but the time goes on.
        target.editLocalFrame().position = {9, 9, 9};
        track.update(0.5);
        EXPECT_EQ(target.getLocalFrame().position.x, 9.0);
        EXPECT_GT(track.time, 3.5);
    }
    Data one({{0.75, {5, 5, 5}, {0, 0, 0}, {1, 1, 1}}});
    MDL_Animation single(&target, &one.d);
    EXPECT_EQ(single.endTime, 0.75);
    target.moved = 0;
    single.time = 0.75;
    single.update(0.25);
    EXPECT_EQ(target.moved, 0);  // one key never poses
    EXPECT_EQ(single.time, 1.0);

    // Two keys at one time: the segment starts at its first key, no NaN.
    Data same({{1, {1, 0, 0}, {0, 0, 0}, {1, 1, 1}}, {1, {3, 0, 0}, {0, 0, 0}, {1, 1, 1}}});
    MDL_Animation twin(&target, &same.d);
    twin.time = 1;
    twin.update(0);
    EXPECT_EQ(target.getLocalFrame().position.x, 1.0);

    // A deleted target stops the track at once.
    target.deleted = 1;
    MDL_Animation stopped(&target, &three.d);
    stopped.update(0.5);
    EXPECT_EQ(stopped.time, 0.0);
    target.deleted = 0;
}

TEST(Keyframes, TrackDrivesTheTargetAndDescendantsFollow)
{
    Data data(linearKeys());
    MDL_Object parent, target, child;
    parent.editLocalFrame().position = {10, 0, 0};
    parent.addChild(&target);
    target.addChild(&child);
    child.editLocalFrame().position = {0, 1, 0};
    MDL_Animation track(&target, &data.d);
    for (int frame = 0; frame < 30; frame++) {
        track.update(0.1);
        const MDL_Frame& t = target.getGlobalFrame();
        v3 expected;
        MDL_Frame::localToGlobalPoint(t, {0, 1, 0}, expected);
        EXPECT_LT(dist(child.getGlobalFrame().position, expected), 1e-12) << frame;
        EXPECT_LT(dist(t.position, parent.getGlobalFrame().position + target.getLocalFrame().position), 1e-12);
    }
    // Unlink before the stack objects go.
    child.unlinkFromParent();
    target.unlinkFromParent();
}

}  // namespace
