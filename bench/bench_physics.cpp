// 500 boxes of 0.5 m in a 10 x 10 x 5 grid, each slightly offset and turned,
// fall onto a static floor: 2,500 steps of 0.002 s (5 s of motion), friction
// 0.8, elasticity 0.6, sleeping on. Our world against the same scene in
// Bullet (its discrete dynamics world and sequential impulse solver, the
// same fixed step), the two sides alternating round by round after a warm-up
// of each; each side counts with its fastest round.
//
// Every round checks its outcome, so that a solver that does less cannot
// win: no box may end below the floor, and the mean height of the boxes
// must be near that of five stacked layers. Prints each side's real-time
// factor (simulated seconds per second of computing) and ends with
// "ratio R": our time over Bullet's.
#include <benchmark/benchmark.h>

#include <btBulletDynamicsCommon.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "model/MDL_Objects.h"
#include "bench/bench_ratio.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"

namespace {

constexpr int NX = 10, NY = 10, NZ = 5;
constexpr int BOXES = NX * NY * NZ;
constexpr double HALF = 0.25;      // half side of a box
constexpr double SPACING = 0.6;    // between box centres in the grid
constexpr double FIRST_Z = 1.0;    // centre height of the lowest layer
constexpr double STEP = 0.002;
constexpr int STEPS = 2500;
constexpr double FRICTION = 0.8, ELASTICITY = 0.6;
constexpr double MASS = 1.0;
constexpr double DAMPING = 0.2;  // our bodies' default, given to Bullet's too
constexpr double GRAVITY = -9.81;

// The stacked layers' mean centre height, and how far the outcome may be
// from it: boxes that topple off a column lower the mean, so the tolerance
// is wide; boxes that stay in the air or sink through the floor are not.
constexpr double STACKED_MEAN = HALF * NZ;  // centres at 0.25, 0.75, ..., 2.25
constexpr double MEAN_TOLERANCE = 0.25;
constexpr double BELOW_FLOOR = HALF - 0.1;  // a centre lower than this is in the floor

struct Placement {
    double x, y, z;
    double axis[3];  // unit rotation axis
    double angle;    // radians
};

// The grid, offset and turned by a fixed pseudo-random draw.
const std::vector<Placement>& placements()
{
    static const std::vector<Placement> all = [] {
        std::vector<Placement> p;
        std::mt19937 rng(12345);
        std::uniform_real_distribution<double> offset(-0.05, 0.05), turn(-0.15, 0.15), unit(-1, 1);
        for (int k = 0; k < NZ; k++)
            for (int j = 0; j < NY; j++)
                for (int i = 0; i < NX; i++) {
                    Placement q{};
                    q.x = (i - (NX - 1) / 2.0) * SPACING + offset(rng);
                    q.y = (j - (NY - 1) / 2.0) * SPACING + offset(rng);
                    q.z = FIRST_Z + k * SPACING * 1.5 + offset(rng);
                    double a[3] = {unit(rng), unit(rng), unit(rng)};
                    double n = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
                    if (n < 1e-6) a[0] = n = 1;
                    for (int c = 0; c < 3; c++) q.axis[c] = a[c] / n;
                    q.angle = turn(rng);
                    p.push_back(q);
                }
        return p;
    }();
    return all;
}

struct Outcome {
    double seconds = 0;  // stepping only
    double meanZ = 0;
    double lowestZ = 0;
    int asleep = 0;
};

bool acceptable(const Outcome& o, std::string* why)
{
    char text[160];
    if (o.lowestZ < BELOW_FLOOR) {
        std::snprintf(text, sizeof text, "a box sank into the floor (centre at %.3f)", o.lowestZ);
        *why = text;
        return false;
    }
    if (std::fabs(o.meanZ - STACKED_MEAN) > MEAN_TOLERANCE) {
        std::snprintf(text, sizeof text, "mean height %.3f, stacked %.3f", o.meanZ, STACKED_MEAN);
        *why = text;
        return false;
    }
    return true;
}

// ---- our world

Outcome runOurs(int steps)
{
    MDL_Scene scene("bench");
    scene.friction = FRICTION;
    scene.elasticity = ELASTICITY;
    // The floor is a static box whose top is z = 0; the world's own floor
    // bound is lifted so that only the contact pass holds the boxes.
    scene.bounds[4] = -DBL_MAX;
    auto* floor = new MDL_CollisionVolume(VOLUME_BOX);
    scene.addObject(floor);
    {
        MDL_Frame& f = floor->editGlobalFrame();
        f.position = {0, 0, -1};
        f.basis = m33::identity();
        f.basis.c[0].x = 20;
        f.basis.c[1].y = 20;
        f.basis.c[2].z = 1;
        f.inverseDirty = 1;
    }
    const double inertia = MASS / 12.0 * (2 * HALF) * (2 * HALF) * 2;
    std::vector<MDL_RigidBody*> bodies;
    for (const Placement& q : placements()) {
        auto* b = new MDL_RigidBody();
        scene.addObject(b);
        b->inverseMass = 1.0 / MASS;
        b->setInertia(v3{inertia, inertia, inertia});
        b->friction = FRICTION;
        b->elasticity = ELASTICITY;
        b->damping = DAMPING;
        b->angularDamping = DAMPING;
        {
            MDL_Frame& f = b->editGlobalFrame();
            f.position = {q.x, q.y, q.z};
            f.basis = m33::identity();
            m33::rotate(f.basis, v3{q.axis[0], q.axis[1], q.axis[2]}, q.angle);
            f.inverseDirty = 1;
        }
        auto* v = new MDL_CollisionVolume(VOLUME_BOX);
        scene.addObject(v);
        b->addChild(v);
        MDL_Frame& l = v->editLocalFrame();
        l.position = {0, 0, 0};
        l.basis = m33::identity();
        l.basis.c[0].x = l.basis.c[1].y = l.basis.c[2].z = HALF;
        l.inverseDirty = 1;
        bodies.push_back(b);
    }

    auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < steps; s++) scene.step(STEP, nullptr);
    Outcome o;
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.lowestZ = DBL_MAX;
    for (MDL_RigidBody* b : bodies) {
        double z = b->getGlobalFrame().position.z;
        o.meanZ += z / BOXES;
        o.lowestZ = std::min(o.lowestZ, z);
        o.asleep += b->still ? 1 : 0;
    }
    return o;
}

// ---- Bullet

Outcome runBullet(int steps)
{
    btDefaultCollisionConfiguration config;
    btCollisionDispatcher dispatcher(&config);
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld world(&dispatcher, &broadphase, &solver, &config);
    world.setGravity(btVector3(0, 0, btScalar(GRAVITY)));

    btBoxShape floorShape{btVector3(20, 20, 1)};
    btRigidBody::btRigidBodyConstructionInfo floorInfo(0, nullptr, &floorShape);
    floorInfo.m_startWorldTransform.setOrigin(btVector3(0, 0, -1));
    floorInfo.m_friction = btScalar(FRICTION);
    floorInfo.m_restitution = btScalar(ELASTICITY);
    btRigidBody floorBody(floorInfo);
    world.addRigidBody(&floorBody);

    btBoxShape boxShape{btVector3(btScalar(HALF), btScalar(HALF), btScalar(HALF))};
    btVector3 inertia;
    boxShape.calculateLocalInertia(btScalar(MASS), inertia);
    std::vector<btDefaultMotionState> states(BOXES);
    std::vector<btRigidBody*> bodies;
    int i = 0;
    for (const Placement& q : placements()) {
        btTransform t;
        t.setIdentity();
        t.setOrigin(btVector3(btScalar(q.x), btScalar(q.y), btScalar(q.z)));
        t.setRotation(btQuaternion(btVector3(btScalar(q.axis[0]), btScalar(q.axis[1]), btScalar(q.axis[2])),
                                   btScalar(q.angle)));
        states[i] = btDefaultMotionState(t);
        btRigidBody::btRigidBodyConstructionInfo info(btScalar(MASS), &states[i], &boxShape, inertia);
        info.m_friction = btScalar(FRICTION);
        info.m_restitution = btScalar(ELASTICITY);
        info.m_linearDamping = btScalar(DAMPING);
        info.m_angularDamping = btScalar(DAMPING);
        auto* b = new btRigidBody(info);
        world.addRigidBody(b);
        bodies.push_back(b);
        i++;
    }

    auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < steps; s++) world.stepSimulation(btScalar(STEP), 0);
    Outcome o;
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.lowestZ = DBL_MAX;
    for (btRigidBody* b : bodies) {
        double z = b->getCenterOfMassPosition().z();
        o.meanZ += z / BOXES;
        o.lowestZ = std::min(o.lowestZ, z);
        o.asleep += b->getActivationState() == ISLAND_SLEEPING ? 1 : 0;
    }
    for (btRigidBody* b : bodies) {
        world.removeRigidBody(b);
        delete b;
    }
    world.removeRigidBody(&floorBody);
    return o;
}

// ---- rounds

std::map<std::string, Outcome> best;  // fastest checked round of each side
bool failed = false;

void runSide(benchmark::State& state, const char* side, Outcome (*run)(int))
{
    for (auto _ : state) {
        Outcome o = run(STEPS);
        std::string why;
        if (!acceptable(o, &why)) {
            std::fprintf(stderr, "%s: wrong outcome: %s\n", side, why.c_str());
            failed = true;
            state.SkipWithError("wrong outcome");
            break;
        }
        state.SetIterationTime(o.seconds);
        state.counters["realtime_x"] = STEPS * STEP / o.seconds;
        state.counters["mean_z"] = o.meanZ;
        state.counters["asleep"] = o.asleep;
        auto it = best.find(side);
        if (it == best.end() || o.seconds < it->second.seconds) best[side] = o;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Warm both sides (code, allocator, caches) with a short run each.
    runOurs(200);
    runBullet(200);
    for (int round = 1; round <= 3; round++) {
        for (const char* side : {"ours", "bullet"}) {
            std::string name = std::string(side) + "/round" + std::to_string(round);
            Outcome (*run)(int) = side[0] == 'o' ? &runOurs : &runBullet;
            benchmark::RegisterBenchmark(name.c_str(), [side, run](benchmark::State& s) { runSide(s, side, run); })
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    bench_ratio::Reporter reporter;  // colour only on a terminal
    bench_ratio::initialize(&argc, argv, reporter);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    if (failed || best.count("ours") == 0 || best.count("bullet") == 0) {
        std::printf("ratio nan\n");
        return 1;
    }
    const Outcome& ours = best["ours"];
    const Outcome& bullet = best["bullet"];
    double simulated = STEPS * STEP;
    std::printf("ours:   %.3f s, real-time factor %.2f, mean height %.3f, lowest %.3f, asleep %d of %d\n",
                ours.seconds, simulated / ours.seconds, ours.meanZ, ours.lowestZ, ours.asleep, BOXES);
    std::printf("bullet: %.3f s, real-time factor %.2f, mean height %.3f, lowest %.3f, asleep %d of %d\n",
                bullet.seconds, simulated / bullet.seconds, bullet.meanZ, bullet.lowestZ, bullet.asleep, BOXES);
    std::printf("ratio %.3f\n", ours.seconds / bullet.seconds);
    return 0;
}
