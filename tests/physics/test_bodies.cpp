// Rigid bodies: the damped integrator against its closed forms, impulses,
// velocity at a point, sleeping and mass from mesh extents.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "model/MDL_Mesh.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics_rig.h"

using namespace rig;

namespace {

// Height and vertical speed after t seconds of falling from rest under g with
// linear damping k.
void dampedFall(double g, double k, double t, double& z, double& v) {
  if (k == 0) {
    v = g * t;
    z = 0.5 * g * t * t;
    return;
  }
  v = g * (1 - std::exp(-k * t)) / k;
  z = g * (t / k - (1 - std::exp(-k * t)) / (k * k));
}

}  // namespace

TEST(RigidBody, Defaults) {
  MDL_RigidBody b;
  EXPECT_EQ(b.type, OBJECT_RIGID_BODY);
  EXPECT_EQ(b.inverseMass, 1.0);
  EXPECT_EQ(b.inverseInertia.x, 100.0);
  EXPECT_EQ(b.inverseInertia.z, 100.0);
  EXPECT_EQ(b.damping, static_cast<double>(0.2f));
  EXPECT_EQ(b.angularDamping, static_cast<double>(0.2f));
  EXPECT_EQ(b.elasticity, static_cast<double>(0.6f));
  EXPECT_EQ(b.friction, static_cast<double>(0.8f));
  EXPECT_EQ(b.stillDelay, 2.0);
  EXPECT_EQ(b.still, 0);
  EXPECT_EQ(b.axisIndex, 0);
}

// The integrator is exact under constant acceleration and damping: one step
// of 1 s and 500 steps of 0.002 s both land on the closed form.
TEST(RigidBody, FallMatchesClosedFormForAnyStep) {
  const double g = static_cast<double>(-9.81f);
  for (double k : {static_cast<double>(0.2f), 0.0, 1.5}) {
    for (int steps : {1, 500}) {
      MDL_Scene w;
      openWorld(w);
      w.gravity = {0, 0, g};
      auto* b = new MDL_RigidBody;
      w.addObject(b);
      b->damping = k;
      b->stillDelay = 0;
      for (int i = 0; i < steps; ++i) w.step(1.0 / steps, nullptr);
      double z, v;
      dampedFall(g, k, 1.0, z, v);
      SCOPED_TRACE(testing::Message() << "damping " << k << ", steps " << steps);
      EXPECT_NEAR(b->speed.z, v, 1e-9);
      EXPECT_NEAR(b->getGlobalFrame().position.z, z, 1e-9);
      EXPECT_EQ(b->speed.x, 0.0);
    }
  }
}

// The torque enters the angular momentum already multiplied by the inverse
// inertia; content is tuned to this. With isotropic inertia the momentum
// after 1 s is invI * T * (1 - e^-k) / k whatever the step.
TEST(RigidBody, TorqueEntersMomentumScaledByInverseInertia) {
  const double k = 0.5;
  for (int steps : {1, 500}) {
    MDL_Scene w;
    openWorld(w);
    auto* b = new MDL_RigidBody;
    w.addObject(b);
    b->angularDamping = k;
    b->stillDelay = 0;
    b->inverseInertia = {4, 4, 4};
    b->torque = {0, 0, 0.5};
    for (int i = 0; i < steps; ++i) w.step(1.0 / steps, nullptr);
    EXPECT_NEAR(b->angularMomentum.z, 4 * 0.5 * (1 - std::exp(-k)) / k, 1e-9) << steps;
    EXPECT_NEAR(b->getAngularSpeed()->z, 16 * 0.5 * (1 - std::exp(-k)) / k, 1e-9) << steps;
  }
}

TEST(RigidBody, InfiniteMassIgnoresGravityAndForceButTurns) {
  MDL_Scene w;
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, V(0, 0, 5), m33::identity());
  b->inverseMass = 0;
  b->force = {3, 0, 0};
  b->torque = {0, 0, 1};
  b->stillDelay = 0;
  for (int i = 0; i < 100; ++i) w.step(0.002, nullptr);
  const MDL_Frame& f = b->getGlobalFrame();
  EXPECT_EQ(f.position.x, 0.0);
  EXPECT_EQ(f.position.z, 5.0);
  EXPECT_GT(f.basis.c[0].y, 0.01);  // turned about z
}

TEST(RigidBody, SetInertiaStoresReciprocalsAndChoosesAxis) {
  struct Case {
    v3 inertia, inverse;
    int axis;
  } cases[] = {
      {{1, 2, 4}, {1, 0.5, 0.25}, 0},
      {{4, 2, 1}, {0.25, 0.5, 1}, 2},
      {{2, 1, 1}, {0.5, 1, 1}, 1},  // a tie keeps the earlier axis
      {{1, 0, 0.5}, {1, 0, 2}, 2},
      {{0.5, 0, 3}, {2, 0, 1.0 / 3}, 2},  // a zero axis is taken, then loses to any later one
      {{0, 0, 5}, {0, 0, 0.2}, 2},
      {{0, 0, 0}, {0, 0, 0}, 2},
  };
  for (const Case& c : cases) {
    MDL_RigidBody b;
    b.setInertia(c.inertia);
    EXPECT_DOUBLE_EQ(b.inverseInertia.x, c.inverse.x);
    EXPECT_DOUBLE_EQ(b.inverseInertia.y, c.inverse.y);
    EXPECT_DOUBLE_EQ(b.inverseInertia.z, c.inverse.z);
    EXPECT_EQ(b.axisIndex, c.axis);
  }
}

TEST(RigidBody, AngularSpeedRoundTripsThroughMomentum) {
  MDL_RigidBody b;
  place(&b, V(1, 2, 3), rotation(0.3, -0.7, 1.1));
  b.inverseInertia = {2, 5, 0.5};
  b.setAngularSpeed({0.4, -1.2, 2.0});
  const v3 w = *b.getAngularSpeed();
  EXPECT_NEAR(w.x, 0.4, 1e-12);
  EXPECT_NEAR(w.y, -1.2, 1e-12);
  EXPECT_NEAR(w.z, 2.0, 1e-12);
  // An axis that cannot turn drops that part of the velocity.
  place(&b, V(0, 0, 0), m33::identity());
  b.inverseInertia = {1, 0, 1};
  b.setAngularSpeed({1, 2, 3});
  const v3 w2 = *b.getAngularSpeed();
  EXPECT_NEAR(w2.x, 1, 1e-12);
  EXPECT_EQ(w2.y, 0.0);
  EXPECT_NEAR(w2.z, 3, 1e-12);
}

TEST(RigidBody, ImpulseChangesMomentaAtItsPoint) {
  MDL_RigidBody b;
  place(&b, V(1, 0, 0), m33::identity());
  b.inverseMass = 0.5;
  b.inverseInertia = {1, 1, 1};
  b.applyImpulse(V(1, 2, 0), V(4, 0, 0));
  EXPECT_DOUBLE_EQ(b.speed.x, 2.0);
  EXPECT_DOUBLE_EQ(b.angularMomentum.z, -8.0);  // (0, 2, 0) x (4, 0, 0)
  v3 v;
  b.velocityAt(V(1, 2, 0), v);
  EXPECT_DOUBLE_EQ(v.x, 2.0 + 16.0);
}

// After setSpeed with a point and a velocity, that point moves with that
// velocity, whatever the pose and inertia.
TEST(RigidBody, SetSpeedAtPointGivesThePointTheVelocity) {
  struct Case {
    double inverseMass;
    v3 inverseInertia, point, velocity;
  } cases[] = {
      {1.0, {100, 100, 100}, {0.5, 0, 0}, {0, 1, 0}},
      {0.25, {2, 5, 0.5}, {0.3, -0.2, 0.9}, {1, -2, 0.5}},
      {4.0, {0, 3, 3}, {1, 1, 0}, {0, 0, -3}},
  };
  for (const Case& c : cases) {
    MDL_RigidBody b;
    place(&b, V(2, -1, 0.5), rotation(0.4, 0.1, -0.8));
    b.inverseMass = c.inverseMass;
    b.inverseInertia = c.inverseInertia;
    b.speed = {0.3, 0.2, 0.1};
    b.angularMomentum = {0.05, -0.02, 0.01};
    b.angularSpeedDirty = 1;
    b.setSpeed(c.point, c.velocity);
    const MDL_Frame& f = b.getGlobalFrame();
    v3 v;
    b.velocityAt(m33::apply(f.basis, c.point) + f.position, v);
    EXPECT_NEAR(v.x, c.velocity.x, 1e-9);
    EXPECT_NEAR(v.y, c.velocity.y, 1e-9);
    EXPECT_NEAR(v.z, c.velocity.z, 1e-9);
  }
}

TEST(RigidBody, SetSpeedSpecialCases) {
  // No rotation possible: the velocity is simply set.
  MDL_RigidBody a;
  a.inverseInertia = {0, 0, 0};
  a.setSpeed(V(1, 0, 0), V(0, 2, 0));
  EXPECT_EQ(a.speed.y, 2.0);
  // Infinite mass: the body turns about its centre so that the point moves
  // with the part of the velocity across it.
  MDL_RigidBody b;
  b.inverseMass = 0;
  b.inverseInertia = {1, 1, 1};
  b.setSpeed(V(2, 0, 0), V(1, 3, 0));
  v3 v;
  b.velocityAt(V(2, 0, 0), v);
  EXPECT_NEAR(v.x, 0, 1e-12);
  EXPECT_NEAR(v.y, 3, 1e-12);
  EXPECT_EQ(b.speed.x, 0.0);
  // A singular system (a negative inertia cancelling the mass) applies
  // nothing instead of dividing by zero.
  MDL_RigidBody c;
  c.inverseMass = 1;
  c.inverseInertia = {1, 1, -1};
  c.setSpeed(V(1, 0, 0), V(0, 1, 0));
  EXPECT_EQ(c.speed.x, 0.0);
  EXPECT_EQ(c.speed.y, 0.0);
  EXPECT_EQ(c.angularMomentum.z, 0.0);
}

TEST(RigidBody, SmallImpulseLeavesASleepingBodyAsleep) {
  MDL_RigidBody b;
  b.inverseInertia = {1, 1, 1};
  b.still = 1;
  b.stillTimer = 3;
  b.applyImpulse(V(0, 0, 0), V(0.05, 0, 0));  // speed 0.05: below 0.1
  EXPECT_EQ(b.still, 1);
  EXPECT_EQ(b.stillTimer, 3.0);
  b.applyImpulse(V(0, 0, 0), V(0.1, 0, 0));  // speed 0.15
  EXPECT_EQ(b.still, 0);
  EXPECT_EQ(b.stillTimer, 0.0);
  // A spin above its threshold wakes too.
  MDL_RigidBody c;
  c.inverseInertia = {1, 1, 1};
  c.still = 1;
  c.applyImpulse(V(1, 0, 0), V(0, 0.4, 0));  // speed 0.4 and spin 0.4
  EXPECT_EQ(c.still, 0);
  // Without a delay the wake rule does nothing.
  MDL_RigidBody d;
  d.stillDelay = 0;
  d.still = 1;
  d.applyImpulse(V(0, 0, 0), V(5, 0, 0));
  EXPECT_EQ(d.still, 1);
}

TEST(RigidBody, FallsAsleepAfterItsDelayAndNotBefore) {
  MDL_RigidBody b;
  b.speed = {0.05, 0, 0};
  b.damping = 0;
  const v3 g{0, 0, 0};
  int n = 0;
  while (!b.still && n < 5000) {
    b.integrate(0.002, g);
    ++n;
  }
  EXPECT_GT(n * 0.002, 2.0 - 1e-9);
  EXPECT_LT(n * 0.002, 2.0 + 0.005);
  // Asleep: not integrated any more.
  double x = b.getGlobalFrame().position.x;
  b.integrate(0.002, g);
  EXPECT_EQ(b.getGlobalFrame().position.x, x);

  // One step above a threshold starts the count again.
  MDL_RigidBody c;
  c.damping = 0;
  for (int i = 0; i < 900; ++i) c.integrate(0.002, g);
  c.speed = {0.2, 0, 0};
  c.integrate(0.002, g);
  EXPECT_EQ(c.stillTimer, 0.0);
  c.speed = {0, 0, 0};
  for (int i = 0; i < 900; ++i) c.integrate(0.002, g);
  EXPECT_EQ(c.still, 0);

  // No delay: never asleep, and the timer is left alone.
  MDL_RigidBody d;
  d.stillDelay = 0;
  for (int i = 0; i < 3000; ++i) d.integrate(0.002, g);
  EXPECT_EQ(d.still, 0);
  EXPECT_EQ(d.stillTimer, 0.0);
}

namespace {

MDL_MeshData* cubeData(double half) {
  auto* d = new MDL_MeshData;
  d->vertexCount = 8;
  d->positions = static_cast<double*>(std::malloc(sizeof(double) * 24));
  for (int i = 0; i < 8; ++i) {
    d->positions[3 * i] = (i & 1) ? half : -half;
    d->positions[3 * i + 1] = (i & 2) ? half : -half;
    d->positions[3 * i + 2] = (i & 4) ? half : -half;
  }
  return d;
}

}  // namespace

TEST(RigidBody, MassAndInertiaFromMeshExtents) {
  MDL_Scene w;
  MDL_MeshData* data = cubeData(1.0);
  MDL_MeshData empty;
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, V(5, 5, 5), rotation(0.5, 0.2, 0.1));
  auto* mesh = new MDL_Mesh;
  mesh->meshData = data;
  w.addObject(mesh);
  place(mesh, V(5, 5, 5), rotation(0.5, 0.2, 0.1));
  b->addChild(mesh);
  mesh->addChild(volume(w, VOLUME_BOX, V(5, 5, 5), m33::identity(), V(1, 1, 1)));
  // Meshes without geometry and volumes not under a mesh add nothing.
  auto* hollow = new MDL_Mesh;
  w.addObject(hollow);
  b->addChild(hollow);
  hollow->addChild(volume(w, VOLUME_SPHERE, V(50, 0, 0), m33::identity(), V(1, 1, 1)));
  auto* none = new MDL_Mesh;
  none->meshData = &empty;
  w.addObject(none);
  b->addChild(none);
  none->addChild(volume(w, VOLUME_SPHERE, V(-50, 0, 0), m33::identity(), V(1, 1, 1)));
  volume(w, VOLUME_SPHERE, V(0, 80, 0), m33::identity(), V(1, 1, 1), b);

  b->computeMassAndInertia(1.0);
  EXPECT_NEAR(1 / b->inverseMass, 8.0, 1e-12);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(1 / (&b->inverseInertia.x)[k], 16.0 / 3, 1e-12);
  // The pose is back where it was.
  EXPECT_NEAR(b->getGlobalFrame().position.x, 5, 1e-12);
  EXPECT_NEAR(mesh->getGlobalFrame().position.y, 5, 1e-12);

  // No vertices at all: size 1 on every axis; density 0 gives infinite mass.
  auto* c = new MDL_RigidBody;
  w.addObject(c);
  c->computeMassAndInertia(3.0);
  EXPECT_DOUBLE_EQ(c->inverseMass, 1.0 / 3);
  c->computeMassAndInertia(0.0);
  EXPECT_EQ(c->inverseMass, 0.0);
  EXPECT_EQ(c->inverseInertia.x, 0.0);
  mesh->meshData = nullptr;
  delete data;
  none->meshData = nullptr;
}

TEST(RigidBody, CloneCopiesEveryBodyField) {
  MDL_Scene w;
  auto* b = body(w, VOLUME_BOX, V(1, 2, 3), rotation(0.1, 0.2, 0.3), V(0.5, 0.5, 0.5), 2.0);
  b->force = {1, 2, 3};
  b->speed = {4, 5, 6};
  b->torque = {7, 8, 9};
  b->angularMomentum = {1, 1, 2};
  b->damping = 0.7;
  b->elasticity = 0.1;
  b->friction = 0.3;
  b->still = 1;
  b->stillTimer = 1.5;
  b->stillDelay = 4;
  b->verticesGroundCollision = 1;
  b->axisIndex = 2;
  auto* c = static_cast<MDL_RigidBody*>(w.clone(b));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->type, OBJECT_RIGID_BODY);
  auto same = [](const v3& a, const v3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; };
  EXPECT_TRUE(same(c->force, b->force));
  EXPECT_TRUE(same(c->speed, b->speed));
  EXPECT_TRUE(same(c->torque, b->torque));
  EXPECT_TRUE(same(c->angularMomentum, b->angularMomentum));
  EXPECT_TRUE(same(c->inverseInertia, b->inverseInertia));
  EXPECT_EQ(c->inverseMass, b->inverseMass);
  EXPECT_EQ(c->damping, 0.7);
  EXPECT_EQ(c->elasticity, 0.1);
  EXPECT_EQ(c->friction, 0.3);
  EXPECT_EQ(c->still, 1);
  EXPECT_EQ(c->stillTimer, 1.5);
  EXPECT_EQ(c->stillDelay, 4.0);
  EXPECT_EQ(c->verticesGroundCollision, 1);
  EXPECT_EQ(c->axisIndex, 2);
  EXPECT_TRUE(w.rigidBodies.indexOf(c) >= 0);
  ASSERT_NE(c->firstChild, nullptr);
  EXPECT_EQ(c->firstChild->type, OBJECT_COLLISION_VOLUME);
}

// Two bases turned together give, bit for bit, what each gives turned alone:
// random bases and turns, and bases whose columns cannot be normalised (zero,
// NaN, infinite), in either lane, and columns that are not a column.
TEST(RigidBody, TwoTurnsAtOnceEqualTurnsAlone) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-2, 2);
  auto randomBasis = [&] {
    m33 M;
    for (auto& c : M.c) c = {u(rng), u(rng), u(rng)};
    return M;
  };
  const double spoilers[] = {0.0, -0.0, NAN, INFINITY};
  for (int round = 0; round < 4000; ++round) {
    m33 A = randomBasis(), B = randomBasis();
    v3 wa{u(rng) * 0.1, u(rng) * 0.1, u(rng) * 0.1}, wb{u(rng), u(rng), u(rng)};
    if (round % 5 == 1) {
      m33& M = round % 2 ? A : B;
      M.c[rng() % 3] = v3{spoilers[rng() % 4], spoilers[rng() % 4], spoilers[rng() % 4]};
    }
    if (round % 7 == 3) wb = {0, 0, 0};
    const int k = round % 11 == 5 ? 3 : int(rng() % 3);
    m33 a1 = A, b1 = B, a2 = A, b2 = B;
    MDL_iIntegrateRotation(a1, wa, k);
    MDL_iIntegrateRotation(b1, wb, k);
    MDL_iIntegrateRotations(a2, wa, b2, wb, k);
    ASSERT_EQ(std::memcmp(&a1, &a2, sizeof a1), 0) << "round " << round;
    ASSERT_EQ(std::memcmp(&b1, &b2, sizeof b1), 0) << "round " << round;
  }
}

// A world's bodies stepped two at a time end where the same bodies stepped
// one at a time end, bit for bit: awake and sleeping bodies, bodies keeping
// different columns, with different dampings, and bodies inside bodies.
TEST(RigidBody, BodiesSteppedInPairsEqualBodiesSteppedAlone) {
  auto build = [](MDL_Scene& w, std::vector<MDL_RigidBody*>& bodies) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    openWorld(w);
    w.gravity = {0, 0, -9.81};
    for (int i = 0; i < 40; ++i) {
      auto* b = new MDL_RigidBody();
      w.addObject(b);
      b->setInertia(v3{0.1 + 0.05 * (i % 3), 0.1, 0.2});
      b->axisIndex = i % 9 == 4 ? (i % 2) : b->axisIndex;
      b->damping = 0.1 * (i % 4);
      b->angularDamping = 0.05 * (i % 5);
      b->torque = {u(rng), u(rng), u(rng)};
      b->speed = {u(rng), u(rng), u(rng)};
      b->angularMomentum = {u(rng), u(rng), u(rng)};
      if (i % 13 == 6) b->still = 1;
      if (i % 10 == 2) b->stillDelay = 0.001;
      rig::place(b, v3{u(rng), u(rng), u(rng)}, rig::rotation(u(rng), u(rng), u(rng)));
      if (i % 8 == 7) bodies.back()->addChild(b);
      bodies.push_back(b);
    }
  };
  MDL_Scene paired("paired");
  std::vector<MDL_RigidBody*> p, s;
  build(paired, p);
  MDL_Scene single("single");
  build(single, s);
  for (int step = 0; step < 200; ++step) {
    paired.step(0.002, nullptr);
    // The same stage, one body at a time.
    for (MDL_RigidBody* b : s) b->integrate(0.002, single.gravity);
    single.resolveContacts(nullptr);
  }
  for (size_t i = 0; i < p.size(); ++i) {
    const MDL_Frame& a = p[i]->getGlobalFrame();
    const MDL_Frame& b = s[i]->getGlobalFrame();
    EXPECT_EQ(std::memcmp(&a.position, &b.position, sizeof a.position), 0) << i;
    EXPECT_EQ(std::memcmp(&a.basis, &b.basis, sizeof a.basis), 0) << i;
    EXPECT_EQ(std::memcmp(&p[i]->speed, &s[i]->speed, sizeof(v3)), 0) << i;
    EXPECT_EQ(std::memcmp(&p[i]->angularMomentum, &s[i]->angularMomentum, sizeof(v3)), 0) << i;
    EXPECT_EQ(p[i]->still, s[i]->still) << i;
  }
}

// Two position corrections made together give what each gives alone, bit
// for bit: random bodies, points and moves, moves along the lever arm (no
// turn), bodies without rotational freedom and bodies keeping other columns.
TEST(RigidBody, CorrectionsMadeTogetherEqualCorrectionsAlone) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> u(-1, 1);
  auto make = [&](MDL_Scene& w, int round, int which) {
    auto* b = new MDL_RigidBody();
    w.addObject(b);
    b->setInertia(round % 9 == 4 && which ? v3{0, 0, 0} : v3{0.1 + 0.1 * which, 0.2, 0.3});
    if (round % 7 == 3 && which) b->axisIndex = 2;
    rig::place(b, v3{u(rng), u(rng), u(rng)}, rig::rotation(u(rng) * 3, u(rng) * 3, u(rng) * 3));
    return b;
  };
  for (int round = 0; round < 500; ++round) {
    MDL_Scene together("together"), alone("alone");
    std::mt19937 again = rng;
    MDL_RigidBody *a1 = make(together, round, 0), *b1 = make(together, round, 1);
    rng = again;
    MDL_RigidBody *a2 = make(alone, round, 0), *b2 = make(alone, round, 1);
    v3 pa{u(rng), u(rng), u(rng)}, pb{u(rng), u(rng), u(rng)}, Da{u(rng), u(rng), u(rng)}, Db{u(rng), u(rng), u(rng)};
    if (round % 5 == 2) Db = (pb - b1->getGlobalFrame().position) * 0.25;  // along the arm
    MDL_RigidBody::displaceBoth(a1, pa, Da * 0.01, b1, pb, Db * 0.01);
    a2->displace(pa, Da * 0.01);
    b2->displace(pb, Db * 0.01);
    for (auto [x, y] : {std::pair{a1, a2}, std::pair{b1, b2}}) {
      const MDL_Frame &f = x->getGlobalFrame(), &g = y->getGlobalFrame();
      ASSERT_EQ(std::memcmp(&f.position, &g.position, sizeof(v3)), 0) << round;
      ASSERT_EQ(std::memcmp(&f.basis, &g.basis, sizeof(m33)), 0) << round;
      ASSERT_EQ(std::memcmp(x->getAngularSpeed(), y->getAngularSpeed(), sizeof(v3)), 0) << round;
    }
  }
}
