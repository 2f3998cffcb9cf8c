#include "physics/MDL_Spring.h"

#include <cmath>

#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_RigidBody.h"
#include "base/LMP_ProxyLink.h"

MDL_Spring::~MDL_Spring() { LMP_iReleaseProxy(&proxy); }
MDL_Joint::~MDL_Joint() { LMP_iReleaseProxy(&proxy); }

// Global anchor of a side: the stored point in the body's axes, or the
// stored point itself when the side has no body.
static v3 globalPoint(MDL_RigidBody* body, const v3& p) {
  if (!body) return p;
  const MDL_Frame& f = body->getGlobalFrame();
  return m33::apply(f.basis, p) + f.position;
}

static v3 globalAxis(MDL_RigidBody* body, const v3& a) {
  if (!body) return a;
  return m33::apply(body->getGlobalFrame().basis, a);
}

static v3 velocityAt(MDL_RigidBody* body, const v3& p) {
  v3 v{0, 0, 0};
  if (body) body->velocityAt(p, v);
  return v;
}

// A side whose lever arm is already in the body's axes.
static void localSide(MDL_RigidBody* body, const v3& arm, const v3& n, MDL_ContactSide& s) {
  if (!body) {
    s = MDL_ContactSide{};
    return;
  }
  const MDL_Frame& f = body->getGlobalFrame();
  s.r = arm;
  s.n = MDL_iToFrame(f, n);
  s.v = MDL_iToFrame(f, body->speed);
  s.L = MDL_iToFrame(f, body->angularMomentum);
  s.inverseInertia = body->inverseInertia;
  s.inverseMass = body->inverseMass;
}

// Pins a side that loses its body to where the body last was.
static void pinSide(MDL_RigidBody* body, MDL_RigidBody*& side, v3& point, v3* axis) {
  if (!body || side != body) return;
  point = globalPoint(body, point);
  if (axis) *axis = globalAxis(body, *axis);
  side = nullptr;
}

void MDL_Spring::detachBody(MDL_RigidBody* body) {
  pinSide(body, objectA, pointA, nullptr);
  pinSide(body, objectB, pointB, nullptr);
}

void MDL_Joint::detachBody(MDL_RigidBody* body) {
  pinSide(body, objectA, pointA, &axisA);
  pinSide(body, objectB, pointB, &axisB);
}

void MDL_Spring::step(double dt) {
  if (!objectA && !objectB) return;
  v3 a = globalPoint(objectA, pointA);
  v3 b = globalPoint(objectB, pointB);
  v3 d = b - a;
  double L = v3::length(d);
  v3 u = L != 0 ? d / L : v3{1, 0, 0};
  v3 vA = velocityAt(objectA, a);
  v3 vB = velocityAt(objectB, b);
  double f = ((L - restPosition) * stiffness + damping * v3::dot(vB - vA, u)) * dt;
  if (objectA) objectA->applyImpulse(a, u * f);
  if (objectB) objectB->applyImpulse(b, u * -f);
}

void MDL_Joint::solvePair(const v3& direction, const v3& rB, const v3& PA, const v3& PB, double e) {
  v3 n = direction;
  if (!v3::normalize(n)) return;
  MDL_ContactSide sa, sb;
  localSide(objectA, pointA, n, sa);
  localSide(objectB, rB, n, sb);
  double j = MDL_iContactImpulse(sa, sb, e);
  if (e == 0 || j < 0) {
    if (objectA) objectA->applyImpulse(PA, n * j);
    if (objectB) objectB->applyImpulse(PB, n * -j);
  }
  v3 D = PB - PA;
  double distance = v3::length(D);
  if (distance == 0) return;
  v3 m = D / distance;
  localSide(objectA, pointA, m, sa);
  localSide(objectB, rB, m, sb);
  double W = MDL_iSideWeight(sa) + MDL_iSideWeight(sb);
  if (W == 0) return;
  if (objectA) objectA->displace(PA, m * (distance / W));
  if (objectB) objectB->displace(PB, m * (-distance / W));
}

// Lever arm in the axes of side B for a global point (the point itself when
// B has no body).
static v3 armOfB(MDL_RigidBody* body, const v3& q) {
  if (!body) return q;
  const MDL_Frame& f = body->getGlobalFrame();
  return MDL_iToFrame(f, q - f.position);
}

// Rotational weight of a body for a global rotation vector.
static double turnWeight(MDL_RigidBody* body, const v3& c) {
  if (!body) return 0;
  v3 b = MDL_iToFrame(body->getGlobalFrame(), c);
  return std::fabs(b.x) * body->inverseInertia.x + std::fabs(b.y) * body->inverseInertia.y +
         std::fabs(b.z) * body->inverseInertia.z;
}

static void turn(MDL_RigidBody* body, const v3& theta) {
  MDL_Frame& f = body->editGlobalFrame();
  f.inverseDirty = 1;
  MDL_iIntegrateRotation(f.basis, theta, body->axisIndex);
}

static v3 angularSpeedOf(MDL_RigidBody* body) { return body ? *body->getAngularSpeed() : v3{0, 0, 0}; }

void MDL_Joint::solve() {
  if (!objectA && !objectB) return;
  switch (type) {
    case JOINT_POINT_POINT: {
      v3 PA = globalPoint(objectA, pointA);
      v3 PB = globalPoint(objectB, pointB);
      solvePair(velocityAt(objectB, PB) - velocityAt(objectA, PA), pointB, PA, PB, 0);
      break;
    }
    case JOINT_AXIS_AXIS: {
      v3 aA = globalAxis(objectA, axisA);
      v3 aB = globalAxis(objectB, axisB);
      v3 c = MDL_iCross(aA, aB);
      double mA = turnWeight(objectA, c), mB = turnWeight(objectB, c);
      double M = mA + mB;
      if (M != 0) {
        if (objectA) turn(objectA, c * (mA / M));
        if (objectB) turn(objectB, c * (-mB / M));
      }
      v3 wA = angularSpeedOf(objectA), wB = angularSpeedOf(objectB);
      v3 r = wB - wA;
      r -= aB * v3::dot(aB, r);
      double nA = turnWeight(objectA, r), nB = turnWeight(objectB, r);
      double N = nA + nB;
      if (N != 0) {
        if (objectA) objectA->setAngularSpeed(wA + r * (nA / N));
        if (objectB) objectB->setAngularSpeed(wB - r * (nB / N));
      }
      break;
    }
    case JOINT_POINT_AXIS: {
      v3 pA = globalPoint(objectA, pointA);
      v3 pB = globalPoint(objectB, pointB);
      v3 aB = globalAxis(objectB, axisB);
      v3 q = pB + aB * v3::dot(pA - pB, aB);
      v3 rel = velocityAt(objectB, q) - velocityAt(objectA, pA);
      v3 n = rel - aB * v3::dot(aB, rel);
      solvePair(n, armOfB(objectB, q), pA, q, 0);
      break;
    }
    case JOINT_POINT_ABOVE_PLANE:
    case JOINT_POINT_ON_PLANE: {
      v3 pA = globalPoint(objectA, pointA);
      v3 pB = globalPoint(objectB, pointB);
      v3 aB = globalAxis(objectB, axisB);
      double s = v3::dot(pA - pB, aB);
      if (type == JOINT_POINT_ABOVE_PLANE && s >= 0) break;
      v3 q = pA - aB * s;
      double e = -((objectA ? objectA->elasticity : 0) + (objectB ? objectB->elasticity : 0)) / 2;
      solvePair(-aB, armOfB(objectB, q), pA, q, e);
      break;
    }
    default: break;
  }
}
