// Narrow phase: whether two collision volumes touch, and where. The shapes are
// the unit sphere, the box from -1 to 1 and the cylinder of radius 1 and
// height -1 to 1 along local z, mapped by the volume's global basis.
#include <cfloat>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/MDL_Objects.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_Scene.h"

namespace {

struct Shape {
  int32_t kind;
  v3 x;
  const v3* c;  // the three basis columns
  double radius;  // sphere and cylinder radius: length of column 0
  v3 u;           // cylinder: unit axis
};

Shape makeShape(MDL_CollisionVolume* v) {
  const MDL_Frame& f = v->getGlobalFrame();
  Shape s{v->shape, f.position, f.basis.c, 0, f.basis.c[2]};
  if (s.kind != VOLUME_BOX) s.radius = std::sqrt(MDL_iLength2(f.basis.c[0]));
  if (s.kind == VOLUME_CYLINDER) v3::normalize(s.u);
  return s;
}

// Half size of the shape's axis-aligned box on axis k.
double boxHalf(const Shape& s, int k) {
  if (s.kind == VOLUME_SPHERE) return s.radius;
  return std::fabs(MDL_iComponent(s.c[0], k)) + std::fabs(MDL_iComponent(s.c[1], k)) +
         std::fabs(MDL_iComponent(s.c[2], k));
}

// True when the axis-aligned boxes around two spheres or boxes are apart.
// For these shapes the tests below are exact, so this only answers sooner.
bool boxesApart(const Shape& a, const Shape& b) {
  for (int k = 0; k < 3; ++k) {
    double gap = std::fabs(MDL_iComponent(b.x, k) - MDL_iComponent(a.x, k)) - boxHalf(a, k) - boxHalf(b, k);
    if (gap > 0) return true;
  }
  return false;
}

inline double boxExtent(const v3* c, const v3& a) {
  return std::fabs(v3::dot(c[0], a)) + std::fabs(v3::dot(c[1], a)) + std::fabs(v3::dot(c[2], a));
}

inline double extent(const Shape& s, const v3& a) {
  switch (s.kind) {
    case VOLUME_BOX: return boxExtent(s.c, a);
    case VOLUME_CYLINDER: {
      v3 side = a - s.u * v3::dot(a, s.u);
      return std::fabs(v3::dot(s.c[2], a)) + s.radius * v3::length(side);
    }
    default: return s.radius;
  }
}

// The shape's point farthest along a.
v3 support(const Shape& s, const v3& a) {
  switch (s.kind) {
    case VOLUME_BOX: {
      v3 p = s.x;
      for (int j = 0; j < 3; ++j) p += v3::dot(s.c[j], a) > 0 ? s.c[j] : -s.c[j];
      return p;
    }
    case VOLUME_CYLINDER: {
      // The rim point farthest along a; along the axis itself, the cap centre.
      v3 p = v3::dot(s.c[2], a) < 0 ? s.x - s.c[2] : s.x + s.c[2];
      v3 side = a - s.u * v3::dot(a, s.u);
      if (v3::normalize(side)) p += side * s.radius;
      return p;
    }
    default: return s.x + a * s.radius;
  }
}

// Separating-axis search over candidate axes between a first and a second
// shape: the axis of least overlap, its overlap and both support points.
struct Sat {
  const Shape& first;
  const Shape& second;
  v3 d;  // second centre minus first centre
  double depth = DBL_MAX;
  v3 normal{0, 0, 0};
  v3 supportFirst{0, 0, 0}, supportSecond{0, 0, 0};
  int winner = 1 << 30;
  bool any = false;

  Sat(const Shape& a, const Shape& b) : first(a), second(b), d(b.x - a.x) {}

  // False when the axis separates the shapes. An axis not longer than
  // sqrt(minLength2) carries no direction and is skipped.
  bool axis(v3 a, int id, double minLength2 = 0) {
    double len2 = MDL_iLength2(a);
    if (!(len2 > minLength2)) return true;
    a = a * (1.0 / std::sqrt(len2));
    double s = v3::dot(a, d);
    if (s < 0) {
      a = -a;
      s = -s;
    }
    double ea = first.kind == VOLUME_BOX ? boxExtent(first.c, a) : extent(first, a);
    double eb = second.kind == VOLUME_BOX ? boxExtent(second.c, a) : extent(second, a);
    double overlap = ea + eb - s;
    if (!(overlap > 0)) return false;
    // The least overlap wins; among equal ones the axis that comes first in
    // the test's order (its id), whatever order the axes are tried in.
    if (overlap < depth || (overlap == depth && id < winner)) {
      depth = overlap;
      normal = a;
      winner = id;
      any = true;
    }
    return true;
  }
  void supports() {
    supportFirst = support(first, normal);
    supportSecond = support(second, -normal);
  }
};

// Cross axes of nearly parallel edges are rounding noise: skip them below
// this fraction of the product of the edge lengths (squared).
constexpr double kParallel2 = 1e-20;

// The point of the line p + s t nearest to the line q + r t', through the
// contact normal as in the box tests.
v3 edgePoint(const v3& p, const v3& ea, const v3& q, const v3& eb, const v3& n) {
  double den = v3::dot(MDL_iCross(ea, eb), n);
  if (den == 0) return p;
  double t = v3::dot(MDL_iCross(q - p, eb), n) / den;
  return p + ea * t;
}

bool sphereSphere(const Shape& a, const Shape& b, v3& point, v3& normal, double& depth) {
  v3 d = b.x - a.x;
  double len = v3::length(d);
  double pen = a.radius + b.radius - len;
  if (!(pen > 0)) return false;
  normal = len != 0 ? d / len : v3{1, 0, 0};
  point = a.x + normal * a.radius;
  depth = pen;
  return true;
}

bool boxSphere(const Shape& box, const Shape& sph, v3& point, v3& normal, double& depth) {
  Sat sat(box, sph);
  const v3 c = sph.x;
  v3 k = box.x;
  for (int j = 0; j < 3; ++j) k += v3::dot(box.c[j], c - box.x) > 0 ? box.c[j] : -box.c[j];
  for (int j = 0; j < 3; ++j) {
    if (!sat.axis(box.c[j], 2 * j)) return false;
    double l2 = MDL_iLength2(box.c[j]);
    if (l2 > 0) {
      v3 q = k + box.c[j] * (v3::dot(c - k, box.c[j]) / l2);
      if (!sat.axis(c - q, 2 * j + 1)) return false;
    }
  }
  // From the corner to the centre; a centre on the corner skips it.
  if (!sat.axis(c - k, 6)) return false;
  if (!sat.any) return false;
  normal = sat.normal;
  depth = sat.depth;
  point = c - normal * sph.radius + normal * depth;
  return true;
}

// The axis of least overlap among those tried: ties go to the earlier id,
// whatever order the axes are tried in.
struct Candidate {
  double best = DBL_MAX;  // the winner's overlap, after finish()
  int winner = 1 << 30;
  double u = 0, len2 = 0, sd = 0;
  v3 dir{0, 0, 0};
  v3 axis{0, 0, 0};
  bool found() const { return winner != (1 << 30); }
  // u is the overlap times the axis length (> 0), len2 the squared length,
  // sd the axis's dot product with the centres' difference. Overlaps u / len
  // are compared by cross-multiplying their squares, so that only the winner
  // needs a division and a square root.
  // The choice is made by selection rather than a branch: which axis wins
  // is hard to foresee.
  void take(double uu, double l2, double s, const v3& d, int id) {
    double mine = uu * uu * len2, theirs = u * u * l2;
    bool better = !found() | (mine < theirs) | ((mine == theirs) & (id < winner));
    winner = better ? id : winner;
    u = better ? uu : u;
    len2 = better ? l2 : len2;
    sd = better ? s : sd;
    dir.x = better ? d.x : dir.x;
    dir.y = better ? d.y : dir.y;
    dir.z = better ? d.z : dir.z;
  }
  // The winner's unit axis, pointing from the first shape to the second, and
  // its overlap.
  void finish() {
    if (!found()) return;
    double len = std::sqrt(len2);
    axis = dir * ((sd < 0 ? -1.0 : 1.0) / len);
    best = u / len;
  }
};

// A box column, or a cylinder's axis, counts as lying flat to a direction
// when the sine of the angle between it and the direction's plane is below
// this: the sign rule of the support point then picks an arbitrary corner of
// a whole face or edge (squared, as it is compared).
constexpr double kFlat2 = 1e-12;

inline bool flatTo(const v3& c, double l2, const v3& a) {
  double t = v3::dot(c, a);
  return t * t <= kFlat2 * l2;
}

// What a shape shows farthest along a unit direction a: a point (0), an edge
// or a cylinder's wall line (1), a face or a cap (2).
int featureDim(const Shape& s, const v3& a) {
  if (s.kind == VOLUME_CYLINDER) {
    double along = v3::dot(s.u, a);
    if (MDL_iLength2(a - s.u * along) <= kFlat2) return 2;
    return along * along <= kFlat2 ? 1 : 0;
  }
  int n = 0;
  for (int j = 0; j < 3; ++j) n += flatTo(s.c[j], MDL_iLength2(s.c[j]), a);
  return n < 2 ? n : 2;
}

// The area of a face or cap farthest along a, to tell the larger of two.
double featureArea(const Shape& s, const v3& a) {
  if (s.kind == VOLUME_CYLINDER) return M_PI * s.radius * s.radius;
  int flat[3], n = 0;
  for (int j = 0; j < 3; ++j)
    if (flatTo(s.c[j], MDL_iLength2(s.c[j]), a)) flat[n++] = j;
  return n < 2 ? 0 : 4 * v3::length(MDL_iCross(s.c[flat[0]], s.c[flat[1]]));
}

inline double clamp1(double t) { return t < -1 ? -1 : (t > 1 ? 1 : t); }

// The point of the shape's feature farthest along a that is nearest to q,
// clamped to the feature; for a single point, the support point.
v3 featurePoint(const Shape& s, const v3& a, const v3& q) {
  if (s.kind == VOLUME_CYLINDER) {
    double along = v3::dot(s.u, a);
    v3 side = a - s.u * along;
    if (MDL_iLength2(side) <= kFlat2) {
      // The cap: q brought into its plane, then into its disc.
      v3 centre = v3::dot(s.c[2], a) < 0 ? s.x - s.c[2] : s.x + s.c[2];
      v3 w = q - centre;
      w -= s.u * v3::dot(w, s.u);
      double l = v3::length(w);
      if (l > s.radius) w *= s.radius / l;
      return centre + w;
    }
    if (along * along <= kFlat2 && v3::normalize(side)) {
      // The wall line: as high as q, within the rims.
      double l2 = MDL_iLength2(s.c[2]);
      double t = l2 > 0 ? clamp1(v3::dot(q - s.x, s.c[2]) / l2) : 0;
      return s.x + s.c[2] * t + side * s.radius;
    }
    return support(s, a);
  }
  v3 p = s.x;
  for (int j = 0; j < 3; ++j) {
    double l2 = MDL_iLength2(s.c[j]);
    double t;
    if (flatTo(s.c[j], l2, a)) t = l2 > 0 ? clamp1(v3::dot(q - s.x, s.c[j]) / l2) : 0;
    else t = v3::dot(s.c[j], a) > 0 ? 1 : -1;
    p += s.c[j] * t;
  }
  return p;
}

// The contact point when the support point the axis's rule relies on is not
// unique: two faces, or a face and an edge, lie flat on each other. The point
// of the larger feature nearest to the centre of the shape with the smaller
// one is taken, then the point of the smaller feature nearest to that, so
// that the point lies under the smaller feature, inside both shapes, and
// near the middle of the touching patch when one shape rests well inside the
// other's face. As the rule's points, it lies on the first shape's surface.
v3 flatContactPoint(const Shape& a, const Shape& b, const v3& n, double depth) {
  int da = featureDim(a, n), db = featureDim(b, -n);
  bool aLarger = da != db ? da > db : featureArea(a, n) >= featureArea(b, -n);
  if (aLarger) return featurePoint(b, -n, featurePoint(a, n, b.x)) + n * depth;
  return featurePoint(a, n, featurePoint(b, -n, a.x));
}

// The nine edge-pair axes of two boxes, A's column i crossed with B's column
// j at 3 i + j: the axis, its squared length, its dot product with the
// centres' difference d and the overlap times its length.
struct EdgeAxes {
  double cx[10], cy[10], cz[10], len2[10], sd[10], u[10];
};

void edgeAxes(const v3* A, const v3* B, const v3& d, EdgeAxes& e) {
#if defined(__SSE2__)
  // Two axes at a time, each lane with the scalar arithmetic below,
  // operation for operation; the tenth lane is a spare copy of the ninth.
  const __m128d sign = _mm_set1_pd(-0.0);
  auto dot = [](const v3& a, __m128d x, __m128d y, __m128d z) {
    return _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(a.x), x), _mm_mul_pd(_mm_set1_pd(a.y), y)),
                      _mm_mul_pd(_mm_set1_pd(a.z), z));
  };
  auto two = [&](int q, const v3& a0, const v3& b0, const v3& a1, const v3& b1) {
    __m128d ax = _mm_setr_pd(a0.x, a1.x), ay = _mm_setr_pd(a0.y, a1.y), az = _mm_setr_pd(a0.z, a1.z);
    __m128d bx = _mm_setr_pd(b0.x, b1.x), by = _mm_setr_pd(b0.y, b1.y), bz = _mm_setr_pd(b0.z, b1.z);
    __m128d cx = _mm_sub_pd(_mm_mul_pd(ay, bz), _mm_mul_pd(az, by));
    __m128d cy = _mm_sub_pd(_mm_mul_pd(az, bx), _mm_mul_pd(ax, bz));
    __m128d cz = _mm_sub_pd(_mm_mul_pd(ax, by), _mm_mul_pd(ay, bx));
    __m128d len2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(cx, cx), _mm_mul_pd(cy, cy)), _mm_mul_pd(cz, cz));
    __m128d sd = _mm_add_pd(_mm_add_pd(_mm_mul_pd(cx, _mm_set1_pd(d.x)), _mm_mul_pd(cy, _mm_set1_pd(d.y))),
                            _mm_mul_pd(cz, _mm_set1_pd(d.z)));
    __m128d ea = _mm_add_pd(_mm_add_pd(_mm_andnot_pd(sign, dot(A[0], cx, cy, cz)), _mm_andnot_pd(sign, dot(A[1], cx, cy, cz))),
                            _mm_andnot_pd(sign, dot(A[2], cx, cy, cz)));
    __m128d eb = _mm_add_pd(_mm_add_pd(_mm_andnot_pd(sign, dot(B[0], cx, cy, cz)), _mm_andnot_pd(sign, dot(B[1], cx, cy, cz))),
                            _mm_andnot_pd(sign, dot(B[2], cx, cy, cz)));
    __m128d u = _mm_sub_pd(_mm_add_pd(ea, eb), _mm_andnot_pd(sign, sd));
    _mm_storeu_pd(e.cx + q, cx);
    _mm_storeu_pd(e.cy + q, cy);
    _mm_storeu_pd(e.cz + q, cz);
    _mm_storeu_pd(e.len2 + q, len2);
    _mm_storeu_pd(e.sd + q, sd);
    _mm_storeu_pd(e.u + q, u);
  };
  // Pairs (0, 1), (2, 3), (4, 5), (6, 7), (8, 8) of the axes 3 i + j,
  // spelt out so that every column is read from a fixed place.
  two(0, A[0], B[0], A[0], B[1]);
  two(2, A[0], B[2], A[1], B[0]);
  two(4, A[1], B[1], A[1], B[2]);
  two(6, A[2], B[0], A[2], B[1]);
  two(8, A[2], B[2], A[2], B[2]);
#else
  for (int q = 0; q < 9; ++q) {
    v3 c = MDL_iCross(A[q / 3], B[q % 3]);
    e.cx[q] = c.x;
    e.cy[q] = c.y;
    e.cz[q] = c.z;
    e.len2[q] = MDL_iLength2(c);
    e.sd[q] = v3::dot(c, d);
    e.u[q] = boxExtent(A, c) + boxExtent(B, c) - std::fabs(e.sd[q]);
  }
#endif
}

// Box against box over 15 axes in this order: for i = 0, 1, 2: A's column
// i, B's column i, then A's column i crossed with B's columns 0, 1, 2 (ids
// 5 i to 5 i + 4). The dot products of the columns are taken once; an
// overlap is first found times the axis length, so that a separating axis
// costs no square root. The face axes are tried first since they reject most
// pairs; ties still go to the earlier id.
bool boxBox(const Shape& a, const Shape& b, v3& point, v3& normal, double& depth) {
  const v3* A = a.c;
  const v3* B = b.c;
  const v3 d = b.x - a.x;
  double GA[3][3], GB[3][3], M[3][3], dA[3], dB[3];
  for (int i = 0; i < 3; ++i) {
    for (int k = i; k < 3; ++k) {
      GA[i][k] = GA[k][i] = std::fabs(v3::dot(A[i], A[k]));
      GB[i][k] = GB[k][i] = std::fabs(v3::dot(B[i], B[k]));
    }
    for (int j = 0; j < 3; ++j) M[i][j] = std::fabs(v3::dot(A[i], B[j]));
    dA[i] = v3::dot(A[i], d);
    dB[i] = v3::dot(B[i], d);
  }
  double uA[3], uB[3];
  for (int i = 0; i < 3; ++i) {
    uA[i] = GA[i][0] + GA[i][1] + GA[i][2] + M[i][0] + M[i][1] + M[i][2] - std::fabs(dA[i]);
    uB[i] = M[0][i] + M[1][i] + M[2][i] + GB[i][0] + GB[i][1] + GB[i][2] - std::fabs(dB[i]);
    // A zero-length column gives no axis.
    if ((GA[i][i] > 0 && !(uA[i] > 0)) || (GB[i][i] > 0 && !(uB[i] > 0))) return false;
  }
  Candidate won;
  for (int i = 0; i < 3; ++i) {
    if (GA[i][i] > 0) won.take(uA[i], GA[i][i], dA[i], A[i], 5 * i);
    if (GB[i][i] > 0) won.take(uB[i], GB[i][i], dB[i], B[i], 5 * i + 1);
  }
  EdgeAxes e;
  edgeAxes(A, B, d, e);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      int q = 3 * i + j;
      if (!(e.len2[q] > kParallel2 * GA[i][i] * GB[j][j])) continue;
      if (!(e.u[q] > 0)) return false;
      won.take(e.u[q], e.len2[q], e.sd[q], v3{e.cx[q], e.cy[q], e.cz[q]}, 5 * i + 2 + j);
    }
  }
  won.finish();
  if (!won.found()) return false;
  int winner = won.winner;
  double best = won.best;
  normal = won.axis;
  depth = best;
  int i = winner / 5, kind = winner % 5;
  // A face axis relies on the other box's support point, an edge pair on
  // both, beyond the edges' own directions.
  if ((kind != 0 && featureDim(a, normal) >= (kind == 1 ? 1 : 2)) ||
      (kind != 1 && featureDim(b, -normal) >= (kind == 0 ? 1 : 2))) {
    point = flatContactPoint(a, b, normal, depth);
    return true;
  }
  v3 supportA = support(a, normal), supportB = support(b, -normal);
  if (kind == 0) {
    point = supportB + normal * depth;
  } else if (kind == 1) {
    point = supportA;
  } else {
    point = edgePoint(supportA, A[i], supportB, B[kind - 2], normal);
  }
  return true;
}

bool boxCylinder(const Shape& box, const Shape& cyl, v3& point, v3& normal, double& depth) {
  // Axis order: for i = 0, 1, 2: the box's column i, then that column
  // crossed with the cylinder's axis (ids 2 i, 2 i + 1); last the cylinder's
  // axis (id 6).
  const v3 d = cyl.x - box.x;
  Candidate won;
  auto test = [&](const v3& a, int id, double minLength2, Candidate& into) {
    double len2 = MDL_iLength2(a);
    if (!(len2 > minLength2)) return true;
    double sd = v3::dot(a, d);
    double u = boxExtent(box.c, a) + extent(cyl, a) - std::fabs(sd);
    if (!(u > 0)) return false;
    into.take(u, len2, sd, a, id);
    return true;
  };
  double l2 = MDL_iLength2(cyl.c[2]);
  for (int i = 0; i < 3; ++i) {
    if (!test(box.c[i], 2 * i, 0, won)) return false;
    if (!test(MDL_iCross(box.c[i], cyl.c[2]), 2 * i + 1, kParallel2 * MDL_iLength2(box.c[i]) * l2, won))
      return false;
  }
  if (!test(cyl.c[2], 6, 0, won)) return false;
  won.finish();
  if (!won.found()) return false;
  normal = won.axis;
  depth = won.best;
  // A box face relies on the cylinder's support point, the cylinder's axis
  // on the box's, an edge pair on the box's beyond its edge's direction.
  bool boxFace = won.winner < 6 && won.winner % 2 == 0, cylAxis = won.winner == 6;
  if ((!boxFace && featureDim(box, normal) >= (cylAxis ? 1 : 2)) || (boxFace && featureDim(cyl, -normal) >= 1)) {
    point = flatContactPoint(box, cyl, normal, depth);
    return true;
  }
  v3 supportBox = support(box, normal), supportCyl = support(cyl, -normal);
  if (won.winner < 6 && won.winner % 2 == 0) {
    point = supportCyl + normal * depth;
  } else if (won.winner < 6) {
    point = edgePoint(supportBox, box.c[won.winner / 2], supportCyl, cyl.c[2], normal);
  } else {
    point = supportBox;
  }
  return true;
}

// Sphere first: the point is on the sphere, the normal points from the
// sphere towards the cylinder.
bool sphereCylinder(const Shape& sph, const Shape& cyl, MDL_CollisionVolume* cv, v3& point, v3& normal,
                    double& depth) {
  const MDL_Frame& f = cv->getGlobalFrame();
  v3 q = MDL_iToFrame(f, sph.x - cyl.x);
  double rho = std::sqrt(q.x * q.x + q.y * q.y);
  double r = sph.radius;
  if (rho > 1 || std::fabs(q.z) > 1) {
    // Outside: the nearest point of the solid cylinder, on the wall, a rim
    // or a cap.
    if (rho > 1) {
      q.x /= rho;
      q.y /= rho;
    }
    if (q.z > 1) q.z = 1;
    if (q.z < -1) q.z = -1;
    v3 s = cyl.x + m33::apply(f.basis, q);
    v3 d = s - sph.x;
    double dist = v3::length(d);
    if (!(dist < r) || dist == 0) return false;
    normal = d / dist;
    depth = r - dist;
    point = s + normal * depth;
    return true;
  }
  // The centre is inside: leave through the nearer of the wall and the caps.
  double wall = (1 - rho) * cyl.radius;
  double cap = (1 - std::fabs(q.z)) * v3::length(cyl.c[2]);
  v3 out;     // unit direction in which the sphere leaves
  double gap;  // distance from the centre to that face
  v3 radial = m33::apply(f.basis, v3{q.x, q.y, 0});
  if (wall < cap && v3::normalize(radial)) {
    out = radial;
    gap = wall;
  } else {
    out = q.z < 0 ? -cyl.u : cyl.u;
    gap = cap;
  }
  if (MDL_iIsZero(out)) return false;
  normal = -out;
  depth = r + gap;
  point = sph.x + normal * r;
  return true;
}

void flip(v3& point, v3& normal, double depth) {
  point = point - normal * depth;
  normal = -normal;
}

}  // namespace

namespace {

bool shapesTouch(const Shape& A, const Shape& B, MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& point,
                 v3& normal, double& depth) {
  if (A.kind == VOLUME_SPHERE && B.kind == VOLUME_SPHERE) return sphereSphere(A, B, point, normal, depth);
  if (A.kind == VOLUME_BOX && B.kind == VOLUME_SPHERE) return boxSphere(A, B, point, normal, depth);
  if (A.kind == VOLUME_SPHERE && B.kind == VOLUME_BOX) {
    if (!boxSphere(B, A, point, normal, depth)) return false;
    flip(point, normal, depth);
    return true;
  }
  if (A.kind == VOLUME_BOX && B.kind == VOLUME_BOX) return boxBox(A, B, point, normal, depth);
  if (A.kind == VOLUME_BOX && B.kind == VOLUME_CYLINDER) return boxCylinder(A, B, point, normal, depth);
  if (A.kind == VOLUME_CYLINDER && B.kind == VOLUME_BOX) {
    if (!boxCylinder(B, A, point, normal, depth)) return false;
    flip(point, normal, depth);
    return true;
  }
  if (A.kind == VOLUME_SPHERE && B.kind == VOLUME_CYLINDER) return sphereCylinder(A, B, b, point, normal, depth);
  if (A.kind == VOLUME_CYLINDER && B.kind == VOLUME_SPHERE) {
    if (!sphereCylinder(B, A, a, point, normal, depth)) return false;
    flip(point, normal, depth);
    return true;
  }
  return false;
}

}  // namespace

bool MDL_Scene::collide(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& point, v3& normal, double& depth) {
  if (!a || !b) return false;
  Shape A = makeShape(a), B = makeShape(b);
  v3 d = B.x - A.x;
  double reach = a->boundingRadius + b->boundingRadius;
  // Apart, or not comparable (non-finite): no contact.
  if (!(MDL_iLength2(d) <= reach * reach)) return false;
  if (A.kind != VOLUME_CYLINDER && B.kind != VOLUME_CYLINDER && boxesApart(A, B)) return false;
  return shapesTouch(A, B, a, b, point, normal, depth);
}

bool MDL_Scene::collideMeeting(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& point, v3& normal,
                               double& depth) {
  return shapesTouch(makeShape(a), makeShape(b), a, b, point, normal, depth);
}
