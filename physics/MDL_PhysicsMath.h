// Small vector helpers shared by the rigid-body, contact and joint code.
#pragma once

#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Two bases turned at once, each as MDL_iIntegrateRotation turns it (the same
// operations in the same order, one lane each), so that the two chains of
// square roots and divisions overlap. Both keep column k. When a column of
// either cannot be normalised, or k is not a column, each basis is turned
// alone instead.
inline void MDL_iIntegrateRotations(m33& M1, const v3& w1, m33& M2, const v3& w2, int k) {
#if defined(__SSE2__)
  if (k >= 0 && k <= 2) {
    struct Column {
      __m128d x, y, z;
    };
    auto pack = [](const v3& a, const v3& b) {
      return Column{_mm_setr_pd(a.x, b.x), _mm_setr_pd(a.y, b.y), _mm_setr_pd(a.z, b.z)};
    };
    auto cross = [](const Column& a, const Column& b) {
      return Column{_mm_sub_pd(_mm_mul_pd(a.y, b.z), _mm_mul_pd(a.z, b.y)),
                    _mm_sub_pd(_mm_mul_pd(a.z, b.x), _mm_mul_pd(a.x, b.z)),
                    _mm_sub_pd(_mm_mul_pd(a.x, b.y), _mm_mul_pd(a.y, b.x))};
    };
    // Scales c to unit length; the mask has a lane's bit set when that lane
    // had no length (which ends the joint turn).
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    int failed = 0;
    auto normalize = [&](Column& c) {
      __m128d L2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(c.x, c.x), _mm_mul_pd(c.y, c.y)), _mm_mul_pd(c.z, c.z));
      failed |= _mm_movemask_pd(_mm_cmpgt_pd(L2, zero)) ^ 3;
      __m128d inv = _mm_div_pd(one, _mm_sqrt_pd(L2));
      c.x = _mm_mul_pd(c.x, inv);
      c.y = _mm_mul_pd(c.y, inv);
      c.z = _mm_mul_pd(c.z, inv);
    };
    const Column w = pack(w1, w2);
    Column c[3];
    for (int j = 0; j < 3; ++j) {
      Column m = pack(M1.c[j], M2.c[j]);
      Column t = cross(w, m);
      c[j] = Column{_mm_add_pd(m.x, t.x), _mm_add_pd(m.y, t.y), _mm_add_pd(m.z, t.z)};
    }
    const int a = k, b = (k + 2) % 3, d = (k + 1) % 3;
    normalize(c[a]);
    c[b] = cross(c[a], c[d]);
    normalize(c[b]);
    c[d] = cross(c[b], c[a]);
    normalize(c[d]);
    if (!failed) {
      for (int j = 0; j < 3; ++j) {
        _mm_storel_pd(&M1.c[j].x, c[j].x);
        _mm_storel_pd(&M1.c[j].y, c[j].y);
        _mm_storel_pd(&M1.c[j].z, c[j].z);
        _mm_storeh_pd(&M2.c[j].x, c[j].x);
        _mm_storeh_pd(&M2.c[j].y, c[j].y);
        _mm_storeh_pd(&M2.c[j].z, c[j].z);
      }
      return;
    }
  }
#endif
  MDL_iIntegrateRotation(M1, w1, k);
  MDL_iIntegrateRotation(M2, w2, k);
}
