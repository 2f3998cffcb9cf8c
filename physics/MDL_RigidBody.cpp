#include "physics/MDL_RigidBody.h"

#include <cfloat>
#include <bit>
#include <cmath>

#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"

MDL_RigidBody::MDL_RigidBody() { type = OBJECT_RIGID_BODY; }

void MDL_RigidBody::setInertia(const v3& inertia) {
  axisIndex = 0;
  for (int i = 0; i < 3; ++i) {
    double I = MDL_iComponent(inertia, i);
    if (I != 0) {
      MDL_iComponent(inverseInertia, i) = 1.0 / I;
      if (MDL_iComponent(inverseInertia, i) > MDL_iComponent(inverseInertia, axisIndex)) axisIndex = i;
    } else {
      MDL_iComponent(inverseInertia, i) = 0.0;
      axisIndex = i;
    }
  }
}

const v3* MDL_RigidBody::getAngularSpeed() {
  if (angularSpeedDirty) {
    const MDL_Frame& f = getGlobalFrame();
    angularSpeed = m33::apply(f.basis, MDL_iScale(inverseInertia, MDL_iToFrame(f, angularMomentum)));
    angularSpeedDirty = 0;
  }
  return &angularSpeed;
}

void MDL_RigidBody::setAngularSpeed(const v3& w) {
  const MDL_Frame& f = getGlobalFrame();
  v3 b = MDL_iToFrame(f, w);
  for (int i = 0; i < 3; ++i) {
    double k = MDL_iComponent(inverseInertia, i);
    MDL_iComponent(b, i) = k != 0 ? MDL_iComponent(b, i) / k : 0.0;
  }
  angularMomentum = m33::apply(f.basis, b);
  angularSpeedDirty = 1;
}

void MDL_RigidBody::velocityAt(const v3& p, v3& out) {
  const v3 w = *getAngularSpeed();
  out = speed + MDL_iCross(w, p - globalFrame.position);
}

void MDL_RigidBody::wakeIfMoving() {
  if (!(stillDelay > 0)) return;
  // Awake with no rest counted: waking would change nothing.
  if (!still && stillTimer == 0) return;
  const v3 w = *getAngularSpeed();
  if (MDL_iLength2(w) >= MDL_STILL_ANGULAR_SPEED2 || MDL_iLength2(speed) >= MDL_STILL_SPEED2) {
    still = 0;
    stillTimer = 0;
  }
}

void MDL_RigidBody::applyImpulse(const v3& p, const v3& J) {
  const v3 x = getGlobalFrame().position;
  speed += J * inverseMass;
  angularMomentum += MDL_iCross(p - x, J);
  angularSpeedDirty = 1;
  wakeIfMoving();
}

double MDL_RigidBody::weightAlong(const v3& arm, const v3& n) {
  const MDL_Frame& f = getGlobalFrame();
  v3 c = MDL_iCross(MDL_iToFrame(f, arm), MDL_iToFrame(f, n));
  return inverseMass + inverseInertia.x * c.x * c.x + inverseInertia.y * c.y * c.y + inverseInertia.z * c.z * c.z;
}

// The move of a position correction and the turn it asks for: the opened
// frame (its inverse marked stale) and the turn, or null with no turn. The
// caller turns the basis, keeping the body's chosen column, before anything
// reads the frame.
MDL_Frame* MDL_RigidBody::displaceMotion(const v3& p, const v3& D, v3& theta) {
  MDL_Frame& f = editGlobalFrame();
  f.position += D * inverseMass;
  v3 r = p - f.position;
  v3 c = MDL_iScale(inverseInertia, MDL_iToFrame(f, MDL_iCross(r, D)));
  if (MDL_iIsZero(c)) return nullptr;
  theta = m33::apply(f.basis, c);
  f.inverseDirty = 1;
  return &f;
}

void MDL_RigidBody::displace(const v3& p, const v3& D) {
  v3 theta;
  MDL_Frame* f = displaceMotion(p, D, theta);
  if (!f) return;
  MDL_iIntegrateRotation(f->basis, theta, axisIndex);
  angularSpeedDirty = 1;
}

void MDL_RigidBody::displaceBoth(MDL_RigidBody* a, const v3& pa, const v3& Da, MDL_RigidBody* b, const v3& pb,
                                 const v3& Db) {
  v3 ta, tb;
  MDL_Frame* fa = a->displaceMotion(pa, Da, ta);
  MDL_Frame* fb = b->displaceMotion(pb, Db, tb);
  if (fa && fb && a->axisIndex == b->axisIndex) {
    MDL_iIntegrateRotations(fa->basis, ta, fb->basis, tb, a->axisIndex);
  } else {
    if (fa) MDL_iIntegrateRotation(fa->basis, ta, a->axisIndex);
    if (fb) MDL_iIntegrateRotation(fb->basis, tb, b->axisIndex);
  }
  if (fa) a->angularSpeedDirty = 1;
  if (fb) b->angularSpeedDirty = 1;
}

void MDL_RigidBody::setSpeed(const v3& p, const v3& t) {
  const MDL_Frame& f = getGlobalFrame();
  if (inverseMass != 0) {
    if (MDL_iIsZero(inverseInertia)) {
      speed = t;
      return;
    }
    v3 tb = MDL_iToFrame(f, t);
    v3 vb = MDL_iToFrame(f, speed);
    v3 wb = MDL_iScale(inverseInertia, MDL_iToFrame(f, angularMomentum));
    v3 rhs = tb - (vb + MDL_iCross(wb, p));
    // K J = m J + (I o (p x J)) x p, built column by column.
    m33 K;
    const v3 units[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int j = 0; j < 3; ++j)
      K.c[j] = units[j] * inverseMass + MDL_iCross(MDL_iScale(inverseInertia, MDL_iCross(p, units[j])), p);
    // Cramer's rule; a singular or non-finite system (zero or negative mass
    // or inertia) gets no impulse rather than a division by zero.
    double det = m33::determinant(K);
    if (det == 0 || !std::isfinite(det)) return;
    v3 J;
    for (int j = 0; j < 3; ++j) {
      m33 Kj = K;
      Kj.c[j] = rhs;
      MDL_iComponent(J, j) = m33::determinant(Kj) / det;
    }
    if (!MDL_iFinite(J)) return;
    applyImpulse(m33::apply(f.basis, p) + f.position, m33::apply(f.basis, J));
    return;
  }
  double p2 = MDL_iLength2(p);
  if (p2 > 0) {
    v3 tb = MDL_iToFrame(f, t);
    setAngularSpeed(m33::apply(f.basis, MDL_iCross(p, tb) / p2));
  }
}

// Exponential damping factors over dt for rate k: e = exp(-k dt), c1 the
// integral of e over the step, c2 the double integral.
static void dampingFactorsAnew(double k, double dt, double& e, double& c1, double& c2) {
  if (k >= 1e-5) {
    e = std::exp(-k * dt);
    c1 = (1 - e) / k;
    c2 = (dt - c1) / k;
  } else {
    e = 1;
    c1 = dt;
    c2 = dt * dt / 2;
  }
}

// The last answer for one rate, kept: bodies of one world mostly share their
// rates and step. Compared bit for bit, so that a signed zero is not taken
// for the other.
struct DampingMemo {
  bool held = false;
  uint64_t k = 0, dt = 0;
  double e = 0, c1 = 0, c2 = 0;
};

static void dampingFactors(DampingMemo& memo, double k, double dt, double& e, double& c1, double& c2) {
  const uint64_t kb = std::bit_cast<uint64_t>(k), db = std::bit_cast<uint64_t>(dt);
  if (!memo.held || kb != memo.k || db != memo.dt) {
    dampingFactorsAnew(k, dt, memo.e, memo.c1, memo.c2);
    memo.held = true;
    memo.k = kb;
    memo.dt = db;
  }
  e = memo.e;
  c1 = memo.c1;
  c2 = memo.c2;
}
static thread_local DampingMemo linearMemo, angularMemo;

// What the first half of a step leaves for the second: the turn to make
// and what the angular momentum and the rest test need.
struct MDL_RigidBody::Spin {
  MDL_Frame* frame = nullptr;  // the opened frame to turn, or null
  v3 theta, alpha;
  double ea, d1, dt;
};

void MDL_RigidBody::integrateMotion(double dt, const v3& gravity, Spin& spin) {
  v3 a{0, 0, 0};
  if (inverseMass != 0) a = force * inverseMass + gravity;
  double e, c1, c2;
  dampingFactors(linearMemo, damping, dt, e, c1, c2);
  // The frame is opened for editing once, by the first change.
  MDL_Frame* edited = nullptr;
  if (!MDL_iIsZero(a)) (edited = &editGlobalFrame())->position += a * c2;
  if (!MDL_iIsZero(speed)) (edited ? edited : (edited = &editGlobalFrame()))->position += speed * c1;
  speed = speed * e + a * c1;

  double d2;
  dampingFactors(angularMemo, angularDamping, dt, spin.ea, spin.d1, d2);
  const MDL_Frame& f = getGlobalFrame();
  spin.alpha = m33::apply(f.basis, MDL_iScale(inverseInertia, MDL_iToFrame(f, torque)));
  v3 w = *getAngularSpeed();
  spin.theta = w * spin.d1 + spin.alpha * d2;
  spin.dt = dt;
  spin.frame = nullptr;
  if (!MDL_iIsZero(spin.theta)) {
    spin.frame = edited ? edited : &editGlobalFrame();
    spin.frame->inverseDirty = 1;
  }
}

void MDL_RigidBody::integrateRest(const Spin& spin) {
  // The torque enters the momentum already multiplied by the inverse
  // inertia; content is tuned to this.
  angularMomentum = angularMomentum * spin.ea + spin.alpha * spin.d1;
  angularSpeedDirty = 1;

  if (stillDelay > 0) {
    v3 w = *getAngularSpeed();
    if (MDL_iLength2(w) < MDL_STILL_ANGULAR_SPEED2 && MDL_iLength2(speed) < MDL_STILL_SPEED2) {
      stillTimer += spin.dt;
      if (stillTimer > stillDelay) still = 1;
    } else {
      stillTimer = 0;
    }
  }
}

void MDL_RigidBody::integrate(double dt, const v3& gravity) {
  if (still) return;
  Spin spin;
  integrateMotion(dt, gravity, spin);
  if (spin.frame) MDL_iIntegrateRotation(spin.frame->basis, spin.theta, axisIndex);
  integrateRest(spin);
}

bool MDL_RigidBody::integratesApart(const MDL_RigidBody* a, const MDL_RigidBody* b) {
  // Neither lies below a body, so neither lies below the other: what one
  // step reads and writes of one, the other's never touches.
  return a && b && a != b && !a->still && !b->still && a->axisIndex == b->axisIndex &&
         !const_cast<MDL_RigidBody*>(a)->getRigidBody() && !const_cast<MDL_RigidBody*>(b)->getRigidBody();
}

void MDL_RigidBody::integrateBoth(MDL_RigidBody* a, MDL_RigidBody* b, double dt, const v3& gravity) {
  Spin sa, sb;
  a->integrateMotion(dt, gravity, sa);
  b->integrateMotion(dt, gravity, sb);
  if (sa.frame && sb.frame) {
    MDL_iIntegrateRotations(sa.frame->basis, sa.theta, sb.frame->basis, sb.theta, a->axisIndex);
  } else {
    if (sa.frame) MDL_iIntegrateRotation(sa.frame->basis, sa.theta, a->axisIndex);
    if (sb.frame) MDL_iIntegrateRotation(sb.frame->basis, sb.theta, b->axisIndex);
  }
  a->integrateRest(sa);
  b->integrateRest(sb);
}

void MDL_RigidBody::computeMassAndInertia(double density) {
  validateGlobalFrame();
  MDL_Frame saved = globalFrame;
  MDL_Frame& f = editGlobalFrame();
  f = MDL_Frame::identity();
  v3 size{1, 1, 1};
  for (int k = 0; k < 3; ++k) {
    MDL_Extremes ex;
    MDL_iVertexExtremes(this, k, ex);
    if (ex.hasLow && ex.hasHigh)
      MDL_iComponent(size, k) = MDL_iComponent(ex.high, k) - MDL_iComponent(ex.low, k);
  }
  double m = size.x * size.y * size.z * density;
  v3 inertia{0, 0, 0};
  if (m != 0) {
    inverseMass = 1.0 / m;
    const double twelfth = 0.08333333333333333;
    inertia = v3{size.y * size.y + size.z * size.z, size.x * size.x + size.z * size.z,
                 size.x * size.x + size.y * size.y} *
              (m * twelfth);
  } else {
    inverseMass = 0;
  }
  setInertia(inertia);
  MDL_Frame& g = editGlobalFrame();
  g = saved;
  g.inverseDirty = 1;
}

bool MDL_iBodyIsFinite(const MDL_RigidBody* b) {
  return MDL_iFinite(b->globalFrame.position) && MDL_iFinite(b->globalFrame.basis) && MDL_iFinite(b->speed) &&
         MDL_iFinite(b->angularMomentum) && MDL_iFinite(b->inverseMass) && MDL_iFinite(b->inverseInertia);
}
