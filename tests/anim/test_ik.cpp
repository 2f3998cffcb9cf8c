// Bones: rotation limits and inverse kinematics. The carried point never
// gets farther from the target, limits hold to their tolerance, a hinge
// keeps its axis, and bones that may not move stay put.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "anim_fixture.h"
#include "model/MDL_Bone.h"

namespace {

constexpr double kDeg = 0.017453292519943295;

// A chain of bones along x, each one unit long, under a plain root.
struct Chain {
    MDL_Object root;
    std::vector<MDL_Bone*> bones;
    explicit Chain(int n)
    {
        MDL_Object* parent = &root;
        for (int i = 0; i < n; i++) {
            auto* b = new MDL_Bone();
            parent->addChild(b);
            b->editLocalFrame().position = {i == 0 ? 0.0 : 1.0, 0, 0};
            b->restFrame = b->getLocalFrame();
            bones.push_back(b);
            parent = b;
        }
    }
    ~Chain()
    {
        for (auto it = bones.rbegin(); it != bones.rend(); ++it) {
            (*it)->unlinkFromParent();
            delete *it;
        }
    }
    MDL_Bone* tip() { return bones.back(); }
    // A point carried by the tip bone (by default one unit beyond it), in
    // world coordinates.
    v3 offset{1, 0, 0};
    v3 point()
    {
        v3 p;
        MDL_Frame::localToGlobalPoint(tip()->getGlobalFrame(), offset, p);
        return p;
    }
};

// Twist angle about axis k of a rotation, read from its quaternion: the
// rotation is a swing about an axis normal to k after a turn about k.
double twist(const m33& q, int k)
{
    const double t = q.at(0, 0) + q.at(1, 1) + q.at(2, 2);
    double w, v[3];
    if (t > 0) {
        double s = std::sqrt(t + 1) * 2;
        w = 0.25 * s;
        v[0] = (q.at(2, 1) - q.at(1, 2)) / s;
        v[1] = (q.at(0, 2) - q.at(2, 0)) / s;
        v[2] = (q.at(1, 0) - q.at(0, 1)) / s;
    } else {
        int i = 0;
        if (q.at(1, 1) > q.at(i, i)) i = 1;
        if (q.at(2, 2) > q.at(i, i)) i = 2;
        int j = (i + 1) % 3, m = (i + 2) % 3;
        double s = std::sqrt(1 + q.at(i, i) - q.at(j, j) - q.at(m, m)) * 2;
        w = (q.at(m, j) - q.at(j, m)) / s;
        v[i] = 0.25 * s;
        v[j] = (q.at(j, i) + q.at(i, j)) / s;
        v[m] = (q.at(m, i) + q.at(i, m)) / s;
    }
    return 2 * std::atan2(v[k], w);
}

double wrap(double a)
{
    while (a > M_PI) a -= 2 * M_PI;
    while (a <= -M_PI) a += 2 * M_PI;
    return a;
}

m33 relativeToRest(MDL_Bone* b)
{
    m33 inv, q;
    m33::inverse(inv, b->restFrame.basis);
    m33::multiply(q, inv, b->getLocalFrame().basis);
    return q;
}

TEST(InverseKinematics, NeverIncreasesTheDistance)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-4, 4);
    for (int limited = 0; limited < 2; limited++) {
        Chain chain(3);
        if (limited)
            for (MDL_Bone* b : chain.bones) {
                b->limitXRot[0] = -20 * kDeg, b->limitXRot[1] = 20 * kDeg;
                b->limitZRot[0] = -45 * kDeg, b->limitZRot[1] = 60 * kDeg;
            }
        for (int trial = 0; trial < 200; trial++) {
            const v3 target{u(rng), u(rng), u(rng)};
            const v3 before = chain.point();
            chain.tip()->movePoint(before, target, nullptr);
            EXPECT_LE(dist(chain.point(), target), dist(before, target) + 1e-12) << limited << " " << trial;
        }
    }
}

TEST(InverseKinematics, ReachesATargetWithinReach)
{
    Chain chain(3);
    const v3 target{1.5, 2.0, 0.5};  // 2.55 from the root, reach 3
    const double start = dist(chain.point(), target);
    chain.tip()->movePoint(chain.point(), target, nullptr);
    EXPECT_LT(dist(chain.point(), target), 0.1 * start);
}

// One limited axis per bone (x, y, z down the chain): after any move each
// bone's turn about that axis, measured from its rest pose, stays within
// the range plus the tolerance.
TEST(InverseKinematics, KeepsLimits)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-4, 4);
    Chain chain(3);
    double* ranges[3] = {chain.bones[0]->limitXRot, chain.bones[1]->limitYRot, chain.bones[2]->limitZRot};
    const double lo[3] = {-10 * kDeg, -25 * kDeg, -30 * kDeg}, hi[3] = {15 * kDeg, 5 * kDeg, 30 * kDeg};
    for (int k = 0; k < 3; k++) ranges[k][0] = lo[k], ranges[k][1] = hi[k];
    for (int trial = 0; trial < 300; trial++) {
        chain.tip()->movePoint(chain.point(), {u(rng), u(rng), u(rng)}, nullptr);
        for (int k = 0; k < 3; k++) {
            const double angle = wrap(twist(relativeToRest(chain.bones[k]), k));
            EXPECT_GE(angle, lo[k] - MDL_Bone::limitTolerance - 1e-12) << trial << " bone " << k;
            EXPECT_LE(angle, hi[k] + MDL_Bone::limitTolerance + 1e-12) << trial << " bone " << k;
        }
    }
}

// x and y locked: every bone turns about its own z axis only, within its z
// range, and the axis itself never tilts.
TEST(InverseKinematics, HingeKeepsItsAxis)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-3, 3);
    Chain chain(3);
    chain.offset = {1, 0, 0.7};  // off the plane the hinges turn in
    // Tilted rest poses, so that the hinge axes are no world axes.
    // The hinges are not parallel either.
    const double tilt[3][3] = {{0.4, -0.3, 0.2}, {0.9, 0, 0}, {0, 0.6, 0}};
    for (int i = 0; i < 3; i++) {
        m33::fromEulerAngles(chain.bones[i]->editLocalFrame().basis, tilt[i][0], tilt[i][1], tilt[i][2]);
        chain.bones[i]->editLocalFrame().inverseDirty = 1;
        chain.bones[i]->restFrame = chain.bones[i]->getLocalFrame();
    }
    for (MDL_Bone* b : chain.bones) {
        b->limitXRot[0] = b->limitXRot[1] = 0;
        b->limitYRot[0] = b->limitYRot[1] = 0;
        b->limitZRot[0] = -30 * kDeg, b->limitZRot[1] = 30 * kDeg;
    }
    for (int trial = 0; trial < 200; trial++) {
        const v3 target{u(rng), u(rng), u(rng)};
        const v3 before = chain.point();
        chain.tip()->movePoint(before, target, nullptr);
        EXPECT_LE(dist(chain.point(), target), dist(before, target) + 1e-12);
        for (MDL_Bone* b : chain.bones) {
            const m33 q = relativeToRest(b);
            EXPECT_LT(dist(q.c[2], {0, 0, 1}), 1e-9) << trial;
            EXPECT_LE(std::fabs(std::atan2(q.c[0].y, q.c[0].x)), 30 * kDeg + MDL_Bone::limitTolerance + 1e-12);
        }
    }
}

// Nothing moves: the point already on the target, or no bone movable.
TEST(InverseKinematics, StillCases)
{
    Chain chain(2);
    const v3 p = chain.point();
    chain.tip()->movePoint(p, p, nullptr);
    for (MDL_Bone* b : chain.bones) EXPECT_EQ(dist(b->getLocalFrame().basis.c[0], {1, 0, 0}), 0.0);
    for (MDL_Bone* b : chain.bones) b->state &= ~STATE_MOVABLE;
    chain.tip()->movePoint(p, {0, 3, 0}, nullptr);
    for (MDL_Bone* b : chain.bones) EXPECT_EQ(dist(b->getLocalFrame().basis.c[0], {1, 0, 0}), 0.0);
    EXPECT_EQ(dist(chain.point(), p), 0.0);
}

TEST(BoneLimits, ApplyLimitsClampsEachAxisAndReset)
{
    struct Case {
        int axis;
        double angle, lo, hi, expected;
    } cases[] = {
        {0, 50, -20, 20, 20}, {1, -70, -10, 45, -10}, {2, 100, -30, 30, 30}, {2, 10, -30, 30, 10},
        {2, 35, 35, 35, 35},
    };
    for (const Case& c : cases) {
        MDL_Bone bone;
        m33::fromEulerAngles(bone.restFrame.basis, 0.2, 0.1, -0.3);  // a rest pose that is not the identity
        bone.restFrame.inverseDirty = 1;
        double* ranges[3] = {bone.limitXRot, bone.limitYRot, bone.limitZRot};
        ranges[c.axis][0] = c.lo * kDeg, ranges[c.axis][1] = c.hi * kDeg;
        double e[3] = {0, 0, 0};
        e[c.axis] = c.angle * kDeg;
        m33 turn;
        m33::fromEulerAngles(turn, e[0], e[1], e[2]);
        m33::multiply(bone.editLocalFrame().basis, bone.restFrame.basis, turn);
        bone.editLocalFrame().inverseDirty = 1;
        bone.moved = 0;
        bone.applyLimits();
        EXPECT_NEAR(wrap(twist(relativeToRest(&bone), c.axis)), c.expected * kDeg, 1e-9) << c.axis << " " << c.angle;
        EXPECT_EQ(bone.moved, c.expected != c.angle) << c.axis << " " << c.angle;
        bone.editLocalFrame().position = {4, 5, 6};
        bone.reset();
        EXPECT_EQ(dist(bone.getLocalFrame().position, bone.restFrame.position), 0.0);
        EXPECT_EQ(dist(bone.getLocalFrame().basis.c[1], bone.restFrame.basis.c[1]), 0.0);
    }
}

}  // namespace
