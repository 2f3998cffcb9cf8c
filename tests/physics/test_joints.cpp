// Springs and joints: a spring's period, each joint type holding its
// constraint, and links whose bodies are freed.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_Spring.h"
#include "physics_rig.h"

using namespace rig;

namespace {

MDL_RigidBody* freeBody(MDL_Scene& w, const v3& p, double m = 1) {
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, p, m33::identity());
  b->inverseMass = 1 / m;
  b->inverseInertia = {2, 2, 2};
  b->damping = b->angularDamping = 0;
  b->stillDelay = 0;
  return b;
}

v3 globalOf(MDL_RigidBody* b, const v3& local) {
  if (!b) return local;
  const MDL_Frame& f = b->getGlobalFrame();
  return m33::apply(f.basis, local) + f.position;
}

}  // namespace

TEST(Spring, DefaultsAndWorldLists) {
  MDL_Scene w;
  MDL_Spring* s = w.addSpring();
  MDL_Joint* j = w.addJoint();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(w.springs.count, 1);
  EXPECT_EQ(w.joints.count, 1);
  EXPECT_EQ(s->stiffness, 1.0);
  EXPECT_EQ(s->damping, 0.5);
  EXPECT_EQ(s->restPosition, 0.0);
  EXPECT_EQ(s->objectA, nullptr);
  EXPECT_EQ(j->type, uint32_t(JOINT_POINT_POINT));
  EXPECT_EQ(j->axisA.x, 1.0);
  EXPECT_EQ(j->axisB.x, 1.0);
  EXPECT_EQ(j->pointB.y, 0.0);
}

// A mass on an undamped spring tied to a fixed point oscillates with period
// 2 pi sqrt(m / k) about the rest length.
TEST(Spring, MassOnSpringKeepsItsPeriod) {
  for (double m : {0.5, 2.0}) {
    MDL_Scene w;
    openWorld(w);
    MDL_RigidBody* b = freeBody(w, V(1.5, 0, 0), m);
    MDL_Spring* s = w.addSpring();
    s->objectB = b;
    s->pointA = {0, 0, 0};  // a fixed point: no body on side A
    s->stiffness = 40;
    s->damping = 0;
    s->restPosition = 1;
    double last = b->getGlobalFrame().position.x, t = 0;
    std::vector<double> crossings;
    for (int i = 0; i < 5000; ++i) {
      w.step(0.002, nullptr);
      t += 0.002;
      double x = b->getGlobalFrame().position.x;
      if ((last - 1) * (x - 1) < 0) crossings.push_back(t);
      last = x;
    }
    ASSERT_GE(crossings.size(), 4u);
    double period = 2 * (crossings.back() - crossings.front()) / double(crossings.size() - 1);
    EXPECT_NEAR(period, 2 * M_PI * std::sqrt(m / 40), 0.01 * period) << m;
  }
}

TEST(Spring, CoincidentAnchorsGiveOnlyDamping) {
  MDL_Scene w;
  openWorld(w);
  MDL_RigidBody* a = freeBody(w, V(0, 0, 0));
  MDL_RigidBody* b = freeBody(w, V(0, 0, 0));
  MDL_Spring* s = w.addSpring();
  s->objectA = a;
  s->objectB = b;
  b->speed = {0, 3, 0};  // across the fallback direction (1, 0, 0): no damping either
  a->speed = {1, 0, 0};
  s->step(0.1);
  // Relative speed along (1, 0, 0) is -1: the damping pulls A back and B on.
  EXPECT_NEAR(a->speed.x, 1 - 0.5 * 1 * 0.1, 1e-12);
  EXPECT_NEAR(b->speed.x, 0.5 * 1 * 0.1, 1e-12);
  EXPECT_EQ(b->speed.y, 3.0);
}

namespace {

struct JointCase {
  const char* what;
  uint32_t type;
  // Builds the joint and its bodies; answers the body to watch.
  std::function<MDL_RigidBody*(MDL_Scene&, MDL_Joint*)> build;
  // The constraint's error (0 when held).
  std::function<double(MDL_Joint*)> error;
};

}  // namespace

// Each joint type holds its constraint within a tolerance over a second of
// gravity, spin and push.
TEST(Joint, EveryTypeKeepsItsConstraint) {
  const JointCase cases[] = {
      {"ball joint hanging from a fixed point", JOINT_POINT_POINT,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* b = freeBody(w, V(1, 0, 0));
         b->speed = {0, 2, 0};
         j->pointA = {0, 0, 0};
         j->objectB = b;
         j->pointB = {-1, 0, 0};
         return b;
       },
       [](MDL_Joint* j) { return len(globalOf(j->objectB, j->pointB) - j->pointA); }},
      {"ball joint between two bodies", JOINT_POINT_POINT,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* a = freeBody(w, V(0, 0, 0));
         a->inverseMass = 0;  // a fixed hub that may turn
         MDL_RigidBody* b = freeBody(w, V(0, 0, -1));
         b->speed = {1, 0, 0};
         j->objectA = a;
         j->objectB = b;
         j->pointA = {0, 0, -0.5};
         j->pointB = {0, 0, 0.5};
         return b;
       },
       [](MDL_Joint* j) { return len(globalOf(j->objectB, j->pointB) - globalOf(j->objectA, j->pointA)); }},
      {"axis kept parallel to a fixed axis while spun across it", JOINT_AXIS_AXIS,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* b = freeBody(w, V(0, 0, 0));
         b->setAngularSpeed({3, 0, 5});
         j->objectA = b;
         j->axisA = {0, 0, 1};
         j->axisB = {0, 0, 1};
         return b;
       },
       [](MDL_Joint* j) {
         v3 a = m33::apply(j->objectA->getGlobalFrame().basis, j->axisA);
         return len(MDL_iCross(a, j->axisB));
       }},
      {"slider along a tilted line", JOINT_POINT_AXIS,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* b = freeBody(w, V(0, 0, 0));
         b->speed = {1, 1, 0};
         j->objectA = b;
         j->pointB = {0, 0, 0};
         j->axisB = {std::sqrt(0.5), 0, std::sqrt(0.5)};
         return b;
       },
       [](MDL_Joint* j) {
         v3 p = globalOf(j->objectA, j->pointA);
         return len(p - j->axisB * v3::dot(p, j->axisB));
       }},
      {"point above a plane under gravity", JOINT_POINT_ABOVE_PLANE,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* b = freeBody(w, V(0, 0, 1));
         j->objectA = b;
         j->pointB = {0, 0, 0.5};
         j->axisB = {0, 0, 1};
         return b;
       },
       [](MDL_Joint* j) {
         double s = globalOf(j->objectA, j->pointA).z - 0.5;
         return s < 0 ? -s : 0;
       }},
      {"point on a plane pushed off it", JOINT_POINT_ON_PLANE,
       [](MDL_Scene& w, MDL_Joint* j) {
         MDL_RigidBody* b = freeBody(w, V(0, 0, 0));
         b->speed = {1, 0, 2};
         b->elasticity = 0;
         j->objectA = b;
         j->pointB = {0, 0, 0};
         j->axisB = {0, 0, 1};
         return b;
       },
       [](MDL_Joint* j) { return std::fabs(globalOf(j->objectA, j->pointA).z); }},
  };
  for (const JointCase& c : cases) {
    SCOPED_TRACE(c.what);
    MDL_Scene w;
    openWorld(w);
    w.gravity = {0, 0, static_cast<double>(-9.81f)};
    MDL_Joint* j = w.addJoint();
    j->type = c.type;
    MDL_RigidBody* b = c.build(w, j);
    double worst = 0;
    for (int i = 0; i < 500; ++i) {
      w.step(0.002, nullptr);
      worst = std::fmax(worst, c.error(j));
    }
    EXPECT_LT(worst, 1e-3);
    EXPECT_TRUE(MDL_iBodyIsFinite(b));
  }
}

TEST(Joint, PlaneJointsOnlyActWhereTheyShould) {
  // Above the plane: the above-plane joint does nothing, the on-plane joint
  // pulls the anchor back.
  for (uint32_t type : {uint32_t(JOINT_POINT_ABOVE_PLANE), uint32_t(JOINT_POINT_ON_PLANE)}) {
    MDL_Scene w;
    openWorld(w);
    MDL_RigidBody* b = freeBody(w, V(0, 0, 1));
    MDL_Joint* j = w.addJoint();
    j->type = type;
    j->objectA = b;
    j->axisB = {0, 0, 1};
    j->solve();
    EXPECT_NEAR(b->getGlobalFrame().position.z, type == JOINT_POINT_ABOVE_PLANE ? 1.0 : 0.0, 1e-12);
  }
  // A ball joint whose anchors move alike does nothing, even apart.
  MDL_Scene w;
  openWorld(w);
  MDL_RigidBody* b = freeBody(w, V(2, 0, 0));
  MDL_Joint* j = w.addJoint();
  j->objectB = b;
  j->solve();
  EXPECT_EQ(b->getGlobalFrame().position.x, 2.0);
  // An unknown type does nothing.
  j->type = 9;
  b->speed = {1, 0, 0};
  j->solve();
  EXPECT_EQ(b->getGlobalFrame().position.x, 2.0);
}

// A body that is freed leaves its springs and joints tied to where it was:
// the other side keeps being held there, and nothing reads the freed body.
TEST(Joint, FreedBodiesLeaveTheirAnchorsInPlace) {
  MDL_Scene w;
  openWorld(w);
  MDL_RigidBody* gone = freeBody(w, V(0, 0, 2));
  place(gone, V(0, 0, 2), rotation(0, 0, M_PI / 2));
  MDL_RigidBody* kept = freeBody(w, V(1, 0, 2));
  MDL_Spring* s = w.addSpring();
  s->objectA = gone;
  s->pointA = {1, 0, 0};  // (0, 1, 2) in the world
  s->objectB = kept;
  MDL_Joint* j = w.addJoint();
  j->type = JOINT_POINT_AXIS;
  j->objectA = kept;
  j->objectB = gone;
  j->pointB = {1, 0, 0};
  j->axisB = {1, 0, 0};  // (0, 1, 0) in the world
  MDL_Spring* both = w.addSpring();
  both->objectA = gone;
  both->objectB = gone;

  gone->deleted = 1;
  w.purgeDeleted();
  EXPECT_EQ(w.rigidBodies.count, 1);
  EXPECT_EQ(s->objectA, nullptr);
  EXPECT_NEAR(s->pointA.y, 1, 1e-12);
  EXPECT_NEAR(s->pointA.z, 2, 1e-12);
  EXPECT_EQ(j->objectB, nullptr);
  EXPECT_NEAR(j->pointB.y, 1, 1e-12);
  EXPECT_NEAR(j->axisB.y, 1, 1e-12);
  EXPECT_NEAR(j->axisB.x, 0, 1e-12);
  EXPECT_EQ(both->objectA, nullptr);
  EXPECT_EQ(both->objectB, nullptr);
  for (int i = 0; i < 200; ++i) w.step(0.002, nullptr);
  // The kept body is held on the line through (0, 1, 2) along y.
  const v3 p = kept->getGlobalFrame().position;
  EXPECT_NEAR(p.x, 0, 1e-3);
  EXPECT_NEAR(p.z, 2, 1e-3);
}
