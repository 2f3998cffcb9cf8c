// Small vector helpers shared by the rigid-body, contact and joint code.
#pragma once

#include <cmath>

#include "math/MDL_Frame.h"

inline v3 MDL_iCross(const v3& a, const v3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Component-wise product.
inline v3 MDL_iScale(const v3& a, const v3& b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline double MDL_iLength2(const v3& a) { return v3::dot(a, a); }
inline bool MDL_iIsZero(const v3& a) { return a.x == 0 && a.y == 0 && a.z == 0; }
inline bool MDL_iFinite(double d) { return std::isfinite(d); }
inline bool MDL_iFinite(const v3& a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }
inline bool MDL_iFinite(const m33& m) { return MDL_iFinite(m.c[0]) && MDL_iFinite(m.c[1]) && MDL_iFinite(m.c[2]); }
inline double MDL_iComponent(const v3& a, int k) { return (&a.x)[k]; }
inline double& MDL_iComponent(v3& a, int k) { return (&a.x)[k]; }

// A global vector in the axes of a frame (its inverse basis rebuilt first).
inline v3 MDL_iToFrame(const MDL_Frame& f, const v3& v) {
  MDL_Frame::validateInverse(f);
  return m33::apply(f.inverse, v);
}

// Scales v to unit length when it has one (true); a zero vector stays.
inline bool MDL_iNormalize(v3& v) {
  double L2 = v.x * v.x + v.y * v.y + v.z * v.z;
  if (!(L2 > 0)) return false;
  double inv = 1.0 / std::sqrt(L2);
  v.x *= inv;
  v.y *= inv;
  v.z *= inv;
  return true;
}

// The basis turned by the small rotation vector w (M := M + W M), then made
// orthonormal again keeping the direction of column k, the next two columns
// rebuilt in cyclic order so that the result stays right-handed. The same
// arithmetic as m33::integrateRotation, inline, for the bodies' hot paths.
inline bool MDL_iIntegrateRotation(m33& M, const v3& w, int k) {
  for (int j = 0; j < 3; ++j) M.c[j] += MDL_iCross(w, M.c[j]);
  if (k < 0 || k > 2) return false;
  int a = k, b = (k + 2) % 3, d = (k + 1) % 3;
  if (!MDL_iNormalize(M.c[a])) return false;
  M.c[b] = MDL_iCross(M.c[a], M.c[d]);
  if (!MDL_iNormalize(M.c[b])) return false;
  M.c[d] = MDL_iCross(M.c[b], M.c[a]);
  return MDL_iNormalize(M.c[d]);
}
