// Building blocks of the physics tests: worlds without gravity or bounds,
// bodies carrying one volume, static volumes, a sampled inside test.
#pragma once

#include <cfloat>
#include <cmath>
#include <random>

#include "model/MDL_Objects.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"

namespace rig {

inline v3 V(double x, double y, double z) { return {x, y, z}; }
inline double len(const v3& a) { return v3::length(a); }

// A world with no gravity and no bounds.
inline void openWorld(MDL_Scene& w) {
  w.gravity = {0, 0, 0};
  for (int i = 0; i < 6; ++i) w.bounds[i] = (i % 2) ? DBL_MAX : -DBL_MAX;
}

inline m33 rotation(double ax, double ay, double az) {
  m33 R;
  m33::fromEulerAngles(R, ax, ay, az);
  return R;
}

inline m33 scaled(const m33& R, const v3& s) {
  m33 M = R;
  M.c[0] *= s.x;
  M.c[1] *= s.y;
  M.c[2] *= s.z;
  return M;
}

inline void place(MDL_Object* o, const v3& p, const m33& basis) {
  MDL_Frame& f = o->editGlobalFrame();
  f.position = p;
  f.basis = basis;
  f.inverseDirty = 1;
}

// The scale of a shape's unit form: a sphere's radius in size.x, a
// cylinder's radius in size.x and half height in size.z, a box's half sizes.
inline v3 shapeScale(int32_t shape, const v3& size) {
  if (shape == VOLUME_SPHERE) return {size.x, size.x, size.x};
  if (shape == VOLUME_CYLINDER) return {size.x, size.x, size.z};
  return size;
}

// A volume of the given shape and size at a global pose, under parent (null:
// a static root volume).
inline MDL_CollisionVolume* volume(MDL_Scene& w, int32_t shape, const v3& p, const m33& R, const v3& size,
                                   MDL_Object* parent = nullptr) {
  auto* v = new MDL_CollisionVolume(shape);
  w.addObject(v);
  place(v, p, scaled(R, shapeScale(shape, size)));
  if (parent) parent->addChild(v);
  return v;
}

// A body with no damping, no sleeping, mass m and the inertia of its shape,
// carrying one volume at its centre.
inline MDL_RigidBody* body(MDL_Scene& w, int32_t shape, const v3& p, const m33& R, const v3& size, double m = 1) {
  auto* b = new MDL_RigidBody;
  w.addObject(b);
  place(b, p, R);
  b->damping = 0;
  b->angularDamping = 0;
  b->stillDelay = 0;
  b->inverseMass = 1 / m;
  v3 s = shapeScale(shape, size);
  if (shape == VOLUME_SPHERE) {
    double I = 0.4 * m * s.x * s.x;
    b->setInertia({I, I, I});
  } else {
    b->setInertia(v3{s.y * s.y + s.z * s.z, s.x * s.x + s.z * s.z, s.x * s.x + s.y * s.y} * (m / 3));
  }
  volume(w, shape, p, R, size, b);
  return b;
}

// Whether a global point lies inside a volume's shape.
inline bool inside(MDL_CollisionVolume* v, const v3& p) {
  const MDL_Frame& f = v->getGlobalFrame();
  MDL_Frame::validateInverse(f);
  v3 q = m33::apply(f.inverse, p - f.position);
  switch (v->shape) {
    case VOLUME_SPHERE: return len(p - f.position) <= len(f.basis.c[0]);
    case VOLUME_BOX: return std::fabs(q.x) <= 1 && std::fabs(q.y) <= 1 && std::fabs(q.z) <= 1;
    case VOLUME_CYLINDER: return q.x * q.x + q.y * q.y <= 1 && std::fabs(q.z) <= 1;
    default: return false;
  }
}

// Axis-aligned box around a volume.
inline void aabb(MDL_CollisionVolume* v, v3& lo, v3& hi) {
  const MDL_Frame& f = v->getGlobalFrame();
  v3 h;
  for (int k = 0; k < 3; ++k) {
    double e = 0;
    for (int j = 0; j < 3; ++j) e += std::fabs((&f.basis.c[j].x)[k]);
    (&h.x)[k] = e;
  }
  if (v->shape == VOLUME_SPHERE) {
    double r = len(f.basis.c[0]);
    h = {r, r, r};
  }
  lo = f.position - h;
  hi = f.position + h;
}

// Whether a grid of n^3 points over the common box of the two volumes has a
// point inside both.
inline bool sampledOverlap(MDL_CollisionVolume* a, MDL_CollisionVolume* b, int n = 28) {
  v3 la, ha, lb, hb;
  aabb(a, la, ha);
  aabb(b, lb, hb);
  v3 lo{std::fmax(la.x, lb.x), std::fmax(la.y, lb.y), std::fmax(la.z, lb.z)};
  v3 hi{std::fmin(ha.x, hb.x), std::fmin(ha.y, hb.y), std::fmin(ha.z, hb.z)};
  if (lo.x > hi.x || lo.y > hi.y || lo.z > hi.z) return false;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j)
      for (int k = 0; k <= n; ++k) {
        v3 p{lo.x + (hi.x - lo.x) * i / n, lo.y + (hi.y - lo.y) * j / n, lo.z + (hi.z - lo.z) * k / n};
        if (inside(a, p) && inside(b, p)) return true;
      }
  return false;
}

}  // namespace rig
