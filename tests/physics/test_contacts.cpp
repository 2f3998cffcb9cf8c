// Contacts: each shape pair against a sampled reference, the sweep against
// brute force, bounces, momentum, bounds, layers and the pass's robustness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "model/MDL_Mesh.h"
#include "physics/MDL_Contact.h"
#include "physics_rig.h"

using namespace rig;

namespace {

const char* shapeName(int32_t s) { return s == VOLUME_SPHERE ? "sphere" : s == VOLUME_BOX ? "box" : "cylinder"; }

bool touch(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& p, v3& n, double& d) {
  MDL_iUpdateBoundingRadius(a);
  MDL_iUpdateBoundingRadius(b);
  return MDL_Scene::collide(a, b, p, n, d);
}

void moveBy(MDL_CollisionVolume* v, const v3& t) { v->editGlobalFrame().position += t; }

}  // namespace

// For every pair of shapes in random poses: a sampled common point means a
// contact; a contact has a unit normal, and moving B along it by the depth
// parts the shapes while moving it by less keeps them touching. The pairs
// decided exactly (spheres and boxes, sphere and cylinder) also never report
// a contact where the samples find the shapes apart by a margin.
TEST(Collide, EveryShapePairAgainstSampledReference) {
  const int32_t shapes[] = {VOLUME_SPHERE, VOLUME_BOX, VOLUME_CYLINDER};
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> u(-1, 1), s(0.3, 1.0);
  for (int32_t sa : shapes)
    for (int32_t sb : shapes) {
      if (sa == VOLUME_CYLINDER && sb == VOLUME_CYLINDER) continue;
      bool exact = !(sa == VOLUME_CYLINDER && sb == VOLUME_BOX) && !(sa == VOLUME_BOX && sb == VOLUME_CYLINDER);
      int contacts = 0, apart = 0;
      for (int trial = 0; trial < 150; ++trial) {
        SCOPED_TRACE(testing::Message() << shapeName(sa) << " against " << shapeName(sb) << ", trial " << trial);
        MDL_Scene w;
        // Drawn in a fixed order: the order of a call's arguments is up to
        // the compiler.
        double r[15];
        for (int i = 0; i < 15; ++i) r[i] = i < 3 || (i >= 6 && i < 12) ? u(rng) : s(rng);
        auto* a = volume(w, sa, V(0, 0, 0), rotation(r[0] * 3, r[1] * 3, r[2] * 3), V(r[3], r[4], r[5]));
        auto* b = volume(w, sb, V(r[6] * 1.8, r[7] * 1.8, r[8] * 1.8), rotation(r[9] * 3, r[10] * 3, r[11] * 3),
                         V(r[12], r[13], r[14]));
        v3 p, n;
        double d;
        bool hit = touch(a, b, p, n, d);
        if (sampledOverlap(a, b)) {
          EXPECT_TRUE(hit);
        } else if (exact && hit) {
          // Only a graze finer than the sampling may be reported.
          EXPECT_LT(d, 0.15);
        }
        if (!hit) {
          ++apart;
          continue;
        }
        ++contacts;
        EXPECT_NEAR(len(n), 1.0, 1e-9);
        EXPECT_GT(d, 0.0);
        if (!exact) continue;
        moveBy(b, n * (d * 0.98));
        v3 p2, n2;
        double d2;
        EXPECT_TRUE(touch(a, b, p2, n2, d2));
        moveBy(b, n * (d * 0.04 + 1e-9));
        EXPECT_FALSE(touch(a, b, p2, n2, d2));
        EXPECT_FALSE(sampledOverlap(a, b, 20));
      }
      EXPECT_GT(contacts, 10) << shapeName(sa) << "/" << shapeName(sb);
      EXPECT_GT(apart, 10) << shapeName(sa) << "/" << shapeName(sb);
    }
}

// The point lies on A's surface and point - normal * depth on B's.
TEST(Collide, ContactPointsLieOnBothSurfaces) {
  struct Case {
    int32_t sa, sb;
    v3 pb, sizeA, sizeB;
    v3 normal;
    double depth;
  } cases[] = {
      {VOLUME_SPHERE, VOLUME_SPHERE, {1.5, 0, 0}, {1, 1, 1}, {1, 1, 1}, {1, 0, 0}, 0.5},
      {VOLUME_SPHERE, VOLUME_SPHERE, {0, 0, 0}, {1, 1, 1}, {0.5, 1, 1}, {1, 0, 0}, 1.5},  // coincident centres
      {VOLUME_BOX, VOLUME_BOX, {0, 0, 1.9}, {2, 2, 1}, {0.5, 0.5, 1}, {0, 0, 1}, 0.1},  // smallest overlap wins
      {VOLUME_BOX, VOLUME_SPHERE, {0, 1.8, 0}, {1, 1, 1}, {1, 1, 1}, {0, 1, 0}, 0.2},
      {VOLUME_SPHERE, VOLUME_BOX, {0, -1.8, 0}, {1, 1, 1}, {1, 1, 1}, {0, -1, 0}, 0.2},
      {VOLUME_CYLINDER, VOLUME_SPHERE, {1.5, 0, 0}, {1, 1, 1}, {1, 1, 1}, {1, 0, 0}, 0.5},
      // A sphere over a cap, off the axis, rests on the cap.
      {VOLUME_CYLINDER, VOLUME_SPHERE, {0.6, 0, 1.4}, {1, 1, 1}, {0.5, 1, 1}, {0, 0, 1}, 0.1},
      {VOLUME_SPHERE, VOLUME_CYLINDER, {0.6, 0, -1.4}, {0.5, 1, 1}, {1, 1, 1}, {0, 0, -1}, 0.1},
      {VOLUME_BOX, VOLUME_CYLINDER, {0, 0, 1.8}, {1, 1, 1}, {0.5, 0.5, 1}, {0, 0, 1}, 0.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << shapeName(c.sa) << " against " << shapeName(c.sb) << " at " << c.pb.x << " "
                                    << c.pb.y << " " << c.pb.z);
    MDL_Scene w;
    auto* a = volume(w, c.sa, V(0, 0, 0), m33::identity(), c.sizeA);
    auto* b = volume(w, c.sb, c.pb, m33::identity(), c.sizeB);
    v3 p, n;
    double d;
    ASSERT_TRUE(touch(a, b, p, n, d));
    EXPECT_NEAR(n.x, c.normal.x, 1e-9);
    EXPECT_NEAR(n.y, c.normal.y, 1e-9);
    EXPECT_NEAR(n.z, c.normal.z, 1e-9);
    EXPECT_NEAR(d, c.depth, 1e-9);
    // On A's surface: inside A, and just outside when pushed along the normal.
    EXPECT_TRUE(inside(a, p - n * 1e-9));
    EXPECT_FALSE(inside(a, p + n * 1e-6));
    v3 q = p - n * d;
    EXPECT_TRUE(inside(b, q + n * 1e-9));
    EXPECT_FALSE(inside(b, q - n * 1e-6));
  }
}

// Degenerate placements give a finite contact instead of a division by zero
// or a missed contact.
TEST(Collide, DegeneratePlacementsStayFinite) {
  struct Case {
    const char* what;
    int32_t sa, sb;
    v3 pb, sizeA, sizeB;
    double depth;
  } cases[] = {
      {"sphere centred on a box corner", VOLUME_BOX, VOLUME_SPHERE, {1, 1, 1}, {1, 1, 1}, {0.3, 1, 1}, 0.3},
      {"sphere centre on a cylinder axis, inside", VOLUME_CYLINDER, VOLUME_SPHERE, {0, 0, 0.5}, {1, 1, 1},
       {0.2, 1, 1}, 0.7},
      {"sphere centre at a cylinder centre", VOLUME_CYLINDER, VOLUME_SPHERE, {0, 0, 0}, {2, 2, 1}, {0.2, 1, 1}, 1.2},
      {"box and cylinder with parallel axes", VOLUME_BOX, VOLUME_CYLINDER, {0.5, 0, 0}, {1, 1, 1}, {1, 1, 1}, 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MDL_Scene w;
    auto* a = volume(w, c.sa, V(0, 0, 0), m33::identity(), c.sizeA);
    auto* b = volume(w, c.sb, c.pb, m33::identity(), c.sizeB);
    v3 p, n;
    double d;
    ASSERT_TRUE(touch(a, b, p, n, d));
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
    EXPECT_NEAR(len(n), 1.0, 1e-9);
    EXPECT_NEAR(d, c.depth, 1e-9);
  }
}

namespace {

using Pair = std::pair<MDL_CollisionVolume*, MDL_CollisionVolume*>;

struct Seen {
  std::map<Pair, int> pairs;
  static void probe(MDL_CollisionVolume* a, MDL_CollisionVolume* b, void* data) {
    auto* self = static_cast<Seen*>(data);
    self->pairs[a < b ? Pair(a, b) : Pair(b, a)]++;
  }
};

struct ProbeScope {
  explicit ProbeScope(void (*f)(MDL_CollisionVolume*, MDL_CollisionVolume*, void*), void* data) {
    MDL_contactProbe = f;
    MDL_contactProbeData = data;
  }
  ~ProbeScope() {
    MDL_contactProbe = nullptr;
    MDL_contactProbeData = nullptr;
  }
};

double halfWidthX(MDL_CollisionVolume* v) {
  const MDL_Frame& f = v->getGlobalFrame();
  if (v->shape == VOLUME_SPHERE) return len(f.basis.c[0]);
  return std::fabs(f.basis.c[0].x) + std::fabs(f.basis.c[1].x) + std::fabs(f.basis.c[2].x);
}

// Bodies that cannot move: the pass then finds contacts without changing
// anything, so that its pairs can be compared with every pair tested alone.
MDL_RigidBody* frozenBody(MDL_Scene& w, const v3& p) {
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, p, m33::identity());
  b->inverseMass = 0;
  b->inverseInertia = {0, 0, 0};
  b->stillDelay = 0;
  return b;
}

}  // namespace

// The sweep examines each touching pair exactly twice per step, and exactly
// the pairs that the filters and the narrow phase accept when every pair is
// tried; volumes with non-finite positions take no part.
TEST(ContactPass, SweepFindsThePairsOfBruteForce) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0, 1);
  for (int scene = 0; scene < 24; ++scene) {
    // Half of the scenes on each path of the sphere tests.
    struct Path {
      bool wide;
      explicit Path(bool allow) : wide(MDL_iSetWideSweep(allow)) {}
      ~Path() { MDL_iSetWideSweep(true); }
    } path(scene % 2 == 1);
    SCOPED_TRACE(testing::Message() << "scene " << scene << (path.wide ? ", wide" : ", narrow"));
    MDL_Scene w;
    openWorld(w);
    std::vector<MDL_CollisionVolume*> vols;
    std::vector<MDL_RigidBody*> bodies;
    for (int i = 0; i < 60; ++i) {
      v3 p{u(rng) * 6, u(rng) * 3, u(rng) * 3};
      MDL_RigidBody* b = u(rng) < 0.8 ? frozenBody(w, p) : nullptr;
      if (b && !bodies.empty() && u(rng) < 0.1) b = bodies.back();  // a second volume on a body
      if (b) bodies.push_back(b);
      int32_t shape = 1 + int(u(rng) * 3);
      auto* v = volume(w, shape, p, rotation(u(rng) * 6, u(rng) * 6, u(rng) * 6),
                       V(0.2 + u(rng) * 0.4, 0.2 + u(rng) * 0.4, 0.2 + u(rng) * 0.4), b);
      v->layer = 1 << int(u(rng) * 3);
      v->mask = u(rng) < 0.7 ? -1 : 1 << int(u(rng) * 3);
      vols.push_back(v);
    }
    // Some bodies hold values no contact may read.
    const double bad[] = {NAN, INFINITY, -INFINITY};
    for (int i = 0; i < 3; ++i) {
      MDL_RigidBody* b = bodies[size_t(i * 7 + scene) % bodies.size()];
      (i == 0 ? b->editGlobalFrame().position.x : i == 1 ? b->speed.y : b->inverseMass) = bad[(i + scene) % 3];
    }
    Seen seen;
    {
      ProbeScope probe(Seen::probe, &seen);
      w.step(0, nullptr);
    }
    std::map<Pair, int> expected;
    for (size_t i = 0; i < vols.size(); ++i)
      for (size_t j = i + 1; j < vols.size(); ++j) {
        MDL_CollisionVolume *a = vols[i], *b = vols[j];
        MDL_RigidBody *ba = a->getRigidBody(), *bb = b->getRigidBody();
        if (ba == bb || (!ba && !bb)) continue;
        if ((a->layer & b->mask) == 0 && (a->mask & b->layer) == 0) continue;
        if ((ba && !MDL_iBodyIsFinite(ba)) || (bb && !MDL_iBodyIsFinite(bb))) continue;
        // Only pairs whose extents along x overlap are candidates.
        if (!(std::fabs(a->getGlobalFrame().position.x - b->getGlobalFrame().position.x) <
              halfWidthX(a) + halfWidthX(b)))
          continue;
        v3 p, n;
        double d;
        if (touch(a, b, p, n, d)) expected[a < b ? Pair(a, b) : Pair(b, a)] = 2;
      }
    EXPECT_GT(expected.size(), 5u);
    EXPECT_EQ(seen.pairs, expected);
  }
}

TEST(ContactPass, LayersAndMasks) {
  struct Case {
    int32_t layerA, maskA, layerB, maskB;
    bool touch;
  } cases[] = {
      {2, 2, 1, 1, false},
      {2, 3, 1, 1, true},
      {1, 1, 2, 3, true},
      {4, 0, 4, 0, false},
      {1, -1, 8, -1, true},
  };
  for (const Case& c : cases) {
    MDL_Scene w;
    openWorld(w);
    auto* a = volume(w, VOLUME_SPHERE, V(0, 0, 0), m33::identity(), V(1, 1, 1), frozenBody(w, V(0, 0, 0)));
    auto* b = volume(w, VOLUME_SPHERE, V(1, 0, 0), m33::identity(), V(1, 1, 1), frozenBody(w, V(1, 0, 0)));
    a->layer = c.layerA;
    a->mask = c.maskA;
    b->layer = c.layerB;
    b->mask = c.maskB;
    Seen seen;
    ProbeScope probe(Seen::probe, &seen);
    w.step(0, nullptr);
    EXPECT_EQ(seen.pairs.size(), c.touch ? 1u : 0u) << c.layerA << " " << c.maskA << " " << c.layerB << " " << c.maskB;
  }
}

TEST(ContactPass, StillOrStaticPairsAreNotExamined) {
  MDL_Scene w;
  openWorld(w);
  volume(w, VOLUME_BOX, V(0, 0, -1), m33::identity(), V(5, 5, 1));  // static floor
  volume(w, VOLUME_BOX, V(0, 0, -1.05), m33::identity(), V(5, 5, 1));  // another, overlapping it
  MDL_RigidBody* b = frozenBody(w, V(0, 0, 0.4));
  volume(w, VOLUME_SPHERE, V(0, 0, 0.4), m33::identity(), V(0.5, 0, 0), b);
  b->still = 1;
  Seen seen;
  ProbeScope probe(Seen::probe, &seen);
  w.step(0, nullptr);
  EXPECT_TRUE(seen.pairs.empty());
  b->still = 0;
  w.step(0, nullptr);
  EXPECT_EQ(seen.pairs.size(), 2u);
}

namespace {

struct Deleter {
  MDL_CollisionVolume* victim;
  MDL_Scene* world;
  int afterDeletion = 0;
  bool deleted = false;
  static void probe(MDL_CollisionVolume* a, MDL_CollisionVolume* b, void* data) {
    auto* self = static_cast<Deleter*>(data);
    if (self->deleted && (a == self->victim || b == self->victim)) ++self->afterDeletion;
    if (a == self->victim || b == self->victim) {
      self->victim->deleted = 1;
      self->deleted = true;
    }
    // Volumes added while the pass runs move the world's arrays.
    for (int i = 0; i < 40; ++i) volume(*self->world, VOLUME_SPHERE, V(0, 0, 0), m33::identity(), V(1, 1, 1));
  }
};

}  // namespace

TEST(ContactPass, HandlersMayDeleteAndAddVolumes) {
  MDL_Scene w;
  openWorld(w);
  std::vector<MDL_CollisionVolume*> vols;
  for (int i = 0; i < 6; ++i)
    vols.push_back(volume(w, VOLUME_SPHERE, V(0.3 * i, 0, 0), m33::identity(), V(0.5, 1, 1),
                          frozenBody(w, V(0.3 * i, 0, 0))));
  Deleter d{vols[2], &w};
  {
    ProbeScope probe(Deleter::probe, &d);
    w.step(0, nullptr);
  }
  EXPECT_TRUE(d.deleted);
  EXPECT_EQ(d.afterDeletion, 0);
  w.purgeDeleted();
}

// A ball dropped on the floor leaves with the mean elasticity times its
// impact speed, whether the floor is the world's bound or a static volume.
TEST(ContactResponse, BounceKeepsTheMeanElasticity) {
  struct Case {
    double world, body;
    bool volumeFloor;
  } cases[] = {
      {0.6, 0.6, false}, {0.0, 1.0, false}, {0.2, 0.4, false}, {0.6, 0.6, true}, {1.0, 1.0, true},
  };
  for (const Case& c : cases) {
    MDL_Scene w;
    openWorld(w);
    w.elasticity = c.world;
    w.friction = 0;
    if (c.volumeFloor) volume(w, VOLUME_BOX, V(0, 0, -1), m33::identity(), V(5, 5, 1));
    else w.bounds[4] = 0;
    MDL_RigidBody* b = body(w, VOLUME_SPHERE, V(0, 0, 0.51), m33::identity(), V(0.5, 0, 0));
    b->elasticity = c.body;
    b->friction = 0;
    b->speed = {0, 0, -2};
    for (int i = 0; i < 20; ++i) w.step(0.002, nullptr);
    EXPECT_NEAR(b->speed.z, 2 * (c.world + c.body) / 2, 1e-9) << c.world << " " << c.body << " " << c.volumeFloor;
    EXPECT_GE(b->getGlobalFrame().position.z, 0.5 - 1e-9);
  }
}

TEST(ContactResponse, HeadOnSpheresExchangeMomentum) {
  for (double e : {0.0, 0.5, 1.0}) {
    MDL_Scene w;
    openWorld(w);
    MDL_RigidBody* a = body(w, VOLUME_SPHERE, V(0, 0, 0), m33::identity(), V(0.5, 0, 0));
    MDL_RigidBody* b = body(w, VOLUME_SPHERE, V(1.01, 0, 0), m33::identity(), V(0.5, 0, 0));
    a->elasticity = b->elasticity = e;
    a->speed = {2, 0, 0};
    for (int i = 0; i < 20; ++i) w.step(0.002, nullptr);
    EXPECT_NEAR(a->speed.x, (1 - e), 1e-9) << e;
    EXPECT_NEAR(b->speed.x, (1 + e), 1e-9) << e;
  }
}

// Bodies knocking into each other with no outside influence keep their total
// momentum; frictionless elastic spheres also keep their kinetic energy.
TEST(ContactResponse, CollisionsConserveMomentum) {
  for (bool friction : {false, true}) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    MDL_Scene w;
    openWorld(w);
    std::vector<MDL_RigidBody*> bodies;
    for (int i = 0; i < 40; ++i) {
      int32_t shape = friction ? (i % 2 ? VOLUME_BOX : VOLUME_SPHERE) : VOLUME_SPHERE;
      MDL_RigidBody* b = body(w, shape, V(u(rng) * 2, u(rng) * 2, u(rng) * 2),
                              rotation(u(rng) * 3, u(rng) * 3, u(rng) * 3), V(0.3, 0.25, 0.2), 1 + (i % 3));
      b->speed = V(u(rng), u(rng), u(rng)) * 3;
      b->elasticity = 1;
      b->friction = friction ? 0.8 : 0;
      bodies.push_back(b);
    }
    auto momentum = [&] {
      v3 p{0, 0, 0};
      for (auto* b : bodies) p += b->speed / b->inverseMass;
      return p;
    };
    auto energy = [&] {
      double e = 0;
      for (auto* b : bodies) e += 0.5 * v3::dot(b->speed, b->speed) / b->inverseMass;
      return e;
    };
    v3 p0 = momentum();
    double e0 = energy();
    for (int i = 0; i < 400; ++i) w.step(0.002, nullptr);
    v3 p1 = momentum();
    EXPECT_NEAR(p1.x, p0.x, 1e-9);
    EXPECT_NEAR(p1.y, p0.y, 1e-9);
    EXPECT_NEAR(p1.z, p0.z, 1e-9);
    if (!friction) EXPECT_NEAR(energy(), e0, 1e-9 * e0);
    else EXPECT_LT(energy(), e0);
  }
}

TEST(Bounds, BodyRestsOnTheDefaultFloorAndFallsAsleep) {
  MDL_Scene w;
  MDL_RigidBody* b = body(w, VOLUME_BOX, V(0, 0, 1), rotation(0.3, 0.2, 0.1), V(0.25, 0.25, 0.25));
  b->damping = b->angularDamping = static_cast<double>(0.2f);
  b->stillDelay = 2;
  double lowest = 1;
  int steps = 0;
  for (; steps < 5000 && !b->still; ++steps) {
    w.step(0.002, nullptr);
    lowest = std::min(lowest, b->getGlobalFrame().position.z);
  }
  EXPECT_EQ(b->still, 1);
  EXPECT_GT(steps, 1000);  // at least the delay of rest
  EXPECT_NEAR(b->getGlobalFrame().position.z, 0.25, 0.01);
  EXPECT_GT(lowest, 0.2);
  // An impulse above the threshold wakes it, and it falls asleep again.
  b->applyImpulse(b->getGlobalFrame().position, V(0, 0, 1));
  EXPECT_EQ(b->still, 0);
}

TEST(Bounds, EveryAxisAndSide) {
  struct Case {
    int axis;
    bool upper;
  } cases[] = {{0, false}, {0, true}, {1, false}, {1, true}, {2, false}, {2, true}};
  for (const Case& c : cases) {
    MDL_Scene w;
    openWorld(w);
    w.bounds[2 * c.axis] = -1;
    w.bounds[2 * c.axis + 1] = 1;
    v3 start{0, 0, 0}, velocity{0, 0, 0};
    (&velocity.x)[c.axis] = c.upper ? 3 : -3;
    MDL_RigidBody* b = body(w, VOLUME_SPHERE, start, m33::identity(), V(0.25, 0, 0));
    b->speed = velocity;
    b->friction = 0;
    w.friction = 0;
    for (int i = 0; i < 500; ++i) w.step(0.002, nullptr);
    double x = (&b->getGlobalFrame().position.x)[c.axis];
    EXPECT_GE(x, -0.75 - 1e-9) << c.axis << c.upper;
    EXPECT_LE(x, 0.75 + 1e-9) << c.axis << c.upper;
  }
}

TEST(Bounds, TouchingIsNotAContact) {
  MDL_Scene w;
  w.gravity = {0, 0, 0};
  MDL_RigidBody* b = body(w, VOLUME_SPHERE, V(0, 0, 0.5), m33::identity(), V(0.5, 0, 0));
  b->speed = {0, 0, -0.0};
  EXPECT_FALSE(b->clampToBounds(nullptr, 2, 0, DBL_MAX, 0.6, 0.8));
  place(b, V(0, 0, 0.49), m33::identity());
  EXPECT_TRUE(b->clampToBounds(nullptr, 2, 0, DBL_MAX, 0.6, 0.8));
  EXPECT_NEAR(b->getGlobalFrame().position.z, 0.5, 1e-12);
}

TEST(Bounds, ShapesWithoutBitZeroAreIgnored) {
  MDL_Scene w;
  MDL_RigidBody* b = body(w, VOLUME_SPHERE, V(0, 0, 0.3), m33::identity(), V(0.5, 0, 0));
  static_cast<MDL_CollisionVolume*>(b->firstChild)->mask = 2;
  EXPECT_FALSE(b->clampToBounds(nullptr, 2, 0, DBL_MAX, 0.6, 0.8));
}

TEST(Bounds, VertexGroundUsesMeshVerticesAndSkipsEmptyMeshes) {
  MDL_Scene w;
  w.gravity = {0, 0, 0};
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, V(0, 0, 0.2), m33::identity());
  b->verticesGroundCollision = 1;
  auto* data = new MDL_MeshData;
  data->vertexCount = 2;
  data->positions = static_cast<double*>(std::malloc(sizeof(double) * 6));
  const double pos[6] = {0, 0, -0.5, 0, 0, 0.5};
  std::copy(pos, pos + 6, data->positions);
  auto* empty = new MDL_Mesh;  // no data at all
  w.addObject(empty);
  place(empty, V(0, 0, -10), m33::identity());
  b->addChild(empty);
  empty->addChild(volume(w, VOLUME_SPHERE, V(0, 0, -10), m33::identity(), V(1, 1, 1)));
  EXPECT_FALSE(b->clampToBounds(nullptr, 2, 0, DBL_MAX, 0.6, 0.8));  // nothing usable: no contact

  auto* mesh = new MDL_Mesh;
  mesh->meshData = data;
  w.addObject(mesh);
  place(mesh, V(0, 0, 0.2), m33::identity());
  b->addChild(mesh);
  mesh->addChild(volume(w, VOLUME_SPHERE, V(0, 0, 5), m33::identity(), V(0.1, 1, 1)));
  EXPECT_TRUE(b->clampToBounds(nullptr, 2, 0, DBL_MAX, 0.6, 0.8));
  // The lowest vertex (0.2 - 0.5) is brought up to the floor.
  EXPECT_NEAR(b->getGlobalFrame().position.z, 0.5, 1e-9);
  mesh->meshData = nullptr;
  delete data;
}

// Both paths of the sweep's sphere tests give the same world bit for bit:
// spheres, boxes and cylinders falling onto a floor and onto each other for
// many steps, so that volumes enter and leave the sweep's list in every order.
TEST(ContactPass, WideAndNarrowSweepsGiveTheSameWorld) {
  auto run = [](bool wide) {
    MDL_iSetWideSweep(wide);
    MDL_Scene w;
    w.gravity = {0, 0, -9.81};
    volume(w, VOLUME_BOX, V(0, 0, -1), m33::identity(), V(10, 10, 1));
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<MDL_RigidBody*> bodies;
    for (int i = 0; i < 90; ++i) {
      int32_t shape = 1 + i % 3;
      bodies.push_back(body(w, shape, V(u(rng) * 2, u(rng) * 2, 0.5 + 0.4 * i / 3.0),
                            rotation(u(rng), u(rng), u(rng)), V(0.3, 0.25, 0.2)));
    }
    for (int s = 0; s < 400; ++s) w.step(0.004, nullptr);
    std::vector<double> state;
    for (MDL_RigidBody* b : bodies) {
      const MDL_Frame& f = b->getGlobalFrame();
      state.insert(state.end(), {f.position.x, f.position.y, f.position.z, f.basis.c[0].x, f.basis.c[1].y,
                                 f.basis.c[2].z, b->speed.x, b->speed.z, b->angularMomentum.y});
    }
    MDL_iSetWideSweep(true);
    return state;
  };
  if (!MDL_iSetWideSweep(true)) GTEST_SKIP() << "no 256-bit registers here";
  std::vector<double> narrow = run(false), wide = run(true);
  ASSERT_EQ(narrow.size(), wide.size());
  EXPECT_EQ(std::memcmp(narrow.data(), wide.data(), sizeof(double) * narrow.size()), 0);
  EXPECT_LT(narrow[2], 3.0);  // the bodies have fallen and met
}
