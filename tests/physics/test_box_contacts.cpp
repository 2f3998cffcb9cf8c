// Box pairs: the narrow phase against a plain separating-axis reference on
// random placements, and the placements where a whole face or edge touches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>

#include "physics/MDL_Contact.h"
#include "physics_rig.h"

using namespace rig;

namespace {

// ---- the reference: the separating-axis rules written out directly, one
// normalised axis at a time.

struct RefShape {
  int32_t kind;  // VOLUME_BOX or VOLUME_CYLINDER
  v3 x;
  v3 c[3];
};

v3 cross(const v3& a, const v3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

double refExtent(const RefShape& s, const v3& a) {
  if (s.kind == VOLUME_BOX) {
    return std::fabs(v3::dot(s.c[0], a)) + std::fabs(v3::dot(s.c[1], a)) + std::fabs(v3::dot(s.c[2], a));
  }
  v3 u = s.c[2] / len(s.c[2]);
  return std::fabs(v3::dot(s.c[2], a)) + len(s.c[0]) * len(a - u * v3::dot(a, u));
}

// The farthest point along a.
v3 refSupport(const RefShape& s, const v3& a) {
  if (s.kind == VOLUME_BOX) {
    v3 p = s.x;
    for (int j = 0; j < 3; ++j) p += v3::dot(s.c[j], a) > 0 ? s.c[j] : -s.c[j];
    return p;
  }
  // Towards a is away from -a: x -+ c2 (minus where c2 . (-a) > 0), then the
  // rim along the part of a perpendicular to the axis.
  v3 u = s.c[2] / len(s.c[2]);
  v3 p = v3::dot(s.c[2], -a) > 0 ? s.x - s.c[2] : s.x + s.c[2];
  v3 side = a - u * v3::dot(a, u);
  double l = len(side);
  if (l > 0) p += side * (len(s.c[0]) / l);
  return p;
}

struct RefResult {
  bool hit = false;
  v3 point, normal;
  double depth = 0;
  // Why the placement is unfit for an exact comparison: a near tie between
  // axes, a near-zero overlap, a support point that is nearly not unique, or
  // nearly parallel edges.
  bool doubtful = false;
};

struct RefSat {
  const RefShape& a;
  const RefShape& b;
  double best = DBL_MAX, second = DBL_MAX, smallest = DBL_MAX;
  v3 normal{0, 0, 0};
  int winner = -1;
  bool separated = false;

  RefSat(const RefShape& first, const RefShape& other) : a(first), b(other) {}
  void axis(v3 dir, int id) {
    if (separated) return;
    double l = len(dir);
    if (l == 0) return;
    dir = dir / l;
    double s = v3::dot(dir, b.x - a.x);
    if (s < 0) {
      dir = -dir;
      s = -s;
    }
    double overlap = refExtent(a, dir) + refExtent(b, dir) - std::fabs(s);
    smallest = std::min(smallest, std::fabs(overlap));
    if (overlap <= 0) {
      separated = true;
      return;
    }
    if (overlap < best) {
      second = best;
      best = overlap;
      normal = dir;
      winner = id;
    } else {
      second = std::min(second, overlap);
    }
  }
};

// True when a box column or a cylinder axis is so nearly perpendicular to n
// that the sign rule of the support point hangs on rounding.
bool nearlyFlat(const RefShape& s, const v3& n, int skipColumn) {
  const double kMargin = 1e-4;
  if (s.kind == VOLUME_BOX) {
    for (int j = 0; j < 3; ++j)
      if (j != skipColumn && std::fabs(v3::dot(s.c[j], n)) < kMargin * len(s.c[j])) return true;
    return false;
  }
  v3 u = s.c[2] / len(s.c[2]);
  double along = std::fabs(v3::dot(u, n));
  bool onSide = skipColumn == 2;  // a cross axis is perpendicular to the axis by construction
  return (!onSide && along < kMargin) || len(n - u * v3::dot(n, u)) < kMargin;
}

// The point of the line p + s ea nearest to the line q + t eb, through the
// contact normal.
v3 refEdgePoint(const v3& p, const v3& ea, const v3& q, const v3& eb, const v3& n) {
  double t = v3::dot(cross(q - p, eb), n) / v3::dot(cross(ea, eb), n);
  return p + ea * t;
}

// The pair with a box first and a box or cylinder second.
RefResult refCollide(const RefShape& A, const RefShape& B) {
  RefResult r;
  double ra = std::sqrt(v3::dot(A.c[0], A.c[0]) + v3::dot(A.c[1], A.c[1]) + v3::dot(A.c[2], A.c[2]));
  double rb = std::sqrt(v3::dot(B.c[0], B.c[0]) + v3::dot(B.c[1], B.c[1]) + v3::dot(B.c[2], B.c[2]));
  double dist = len(B.x - A.x);
  if (std::fabs(dist - (ra + rb)) < 1e-9) r.doubtful = true;
  if (dist > ra + rb) return r;
  RefSat sat(A, B);
  v3 edgeA, edgeB;  // the lines of a cross axis
  if (B.kind == VOLUME_BOX) {
    for (int i = 0; i < 3; ++i) {
      sat.axis(A.c[i], 5 * i);
      sat.axis(B.c[i], 5 * i + 1);
      for (int j = 0; j < 3; ++j) sat.axis(cross(A.c[i], B.c[j]), 5 * i + 2 + j);
    }
  } else {
    for (int i = 0; i < 3; ++i) {
      sat.axis(A.c[i], 2 * i);
      sat.axis(cross(A.c[i], B.c[2]), 2 * i + 1);
    }
    sat.axis(B.c[2], 6);
  }
  if (sat.smallest < 1e-9) r.doubtful = true;
  if (sat.separated || sat.winner < 0) return r;
  if (sat.second - sat.best < 1e-9) r.doubtful = true;
  const v3 n = sat.normal;
  const double d = sat.best;
  v3 sA = refSupport(A, n), sB = refSupport(B, -n);
  // Which support points the rule uses, and which column each may ignore.
  bool usesA = false, usesB = false, edgePair = false;
  int skipA = -1, skipB = -1;
  if (B.kind == VOLUME_BOX) {
    int i = sat.winner / 5, kind = sat.winner % 5;
    if (kind == 0) {
      r.point = sB + n * d;
      usesB = true;
    } else if (kind == 1) {
      r.point = sA;
      usesA = true;
    } else {
      edgeA = A.c[i];
      edgeB = B.c[kind - 2];
      r.point = refEdgePoint(sA, edgeA, sB, edgeB, n);
      usesA = usesB = edgePair = true;
      skipA = i;
      skipB = kind - 2;
    }
  } else {
    if (sat.winner < 6 && sat.winner % 2 == 0) {
      r.point = sB + n * d;
      usesB = true;
    } else if (sat.winner < 6) {
      edgeA = A.c[sat.winner / 2];
      edgeB = B.c[2];
      r.point = refEdgePoint(sA, edgeA, sB, edgeB, n);
      usesA = usesB = edgePair = true;
      skipA = sat.winner / 2;
      skipB = 2;
    } else {
      r.point = sA;
      usesA = true;
    }
  }
  if ((usesA && nearlyFlat(A, n, skipA)) || (usesB && nearlyFlat(B, n, skipB))) r.doubtful = true;
  if (edgePair && len(cross(edgeA, edgeB)) < 1e-3 * len(edgeA) * len(edgeB)) r.doubtful = true;
  r.hit = true;
  r.normal = n;
  r.depth = d;
  return r;
}

RefResult refFlip(RefResult r) {
  if (r.hit) {
    r.point = r.point - r.normal * r.depth;
    r.normal = -r.normal;
  }
  return r;
}

m33 randomRotation(std::mt19937& rng) {
  std::normal_distribution<double> g;
  v3 axis{g(rng), g(rng), g(rng)};
  if (!v3::normalize(axis)) axis = {1, 0, 0};
  std::uniform_real_distribution<double> angle(-M_PI, M_PI);
  m33 R = m33::identity();
  m33::rotate(R, axis, angle(rng));
  return R;
}

RefShape refShape(MDL_CollisionVolume* v) {
  const MDL_Frame& f = v->getGlobalFrame();
  return {v->shape, f.position, {f.basis.c[0], f.basis.c[1], f.basis.c[2]}};
}

// Depth of the reference along the ray from A's centre at distance t.
double refDepthAt(MDL_CollisionVolume* a, MDL_CollisionVolume* b, const v3& dir, double t) {
  place(b, a->getGlobalFrame().position + dir * t, b->getGlobalFrame().basis);
  RefResult r = refCollide(refShape(a), refShape(b));
  return r.hit ? r.depth : 0;
}

bool touch(MDL_CollisionVolume* a, MDL_CollisionVolume* b, v3& p, v3& n, double& d) {
  MDL_iUpdateBoundingRadius(a);
  MDL_iUpdateBoundingRadius(b);
  return MDL_Scene::collide(a, b, p, n, d);
}

}  // namespace

// Random sizes, turns and offsets, most of them shallow contacts where edge
// axes compete with face axes: wherever the reference's answer is not
// decided by rounding, the narrow phase gives the same normal, depth and
// point, for a box and a box, a box and a cylinder, and the cylinder first.
TEST(BoxContacts, AgreeWithThePlainSeparatingAxisRules) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> size(0.1, 1.5), unit(0, 1);
  std::normal_distribution<double> g;
  MDL_Scene w;
  struct Pair {
    int32_t second;
    bool cylinderFirst;
  } pairs[] = {{VOLUME_BOX, false}, {VOLUME_CYLINDER, false}, {VOLUME_CYLINDER, true}};
  for (const Pair& pr : pairs) {
    auto* a = volume(w, VOLUME_BOX, V(0, 0, 0), m33::identity(), V(1, 1, 1));
    auto* b = volume(w, pr.second, V(0, 0, 0), m33::identity(), V(1, 1, 1));
    int compared = 0, hits = 0, edges = 0;
    for (int trial = 0; compared < 100000; ++trial) {
      ASSERT_LT(trial, 400000) << "too many doubtful placements";
      place(a, V(g(rng), g(rng), g(rng)), scaled(randomRotation(rng), V(size(rng), size(rng), size(rng))));
      double radius = size(rng);
      place(b, V(0, 0, 0), scaled(randomRotation(rng), shapeScale(pr.second, V(radius, radius, size(rng)))));
      v3 dir{g(rng), g(rng), g(rng)};
      if (!v3::normalize(dir)) continue;
      // Three in four placements are shallow: the distance along dir whose
      // reference depth is a few millimetres, found by bisection (the depth
      // falls as B moves out along a ray).
      double far = 4 * 1.5 * std::sqrt(3.0), t;
      if (trial % 4 != 0) {
        double target = 1e-3 + 0.03 * unit(rng), lo = 0, hi = far;
        for (int k = 0; k < 30; ++k) {
          double mid = (lo + hi) / 2;
          (refDepthAt(a, b, dir, mid) > target ? lo : hi) = mid;
        }
        t = (lo + hi) / 2;
      } else {
        t = far / 2 * unit(rng);
      }
      place(b, a->getGlobalFrame().position + dir * t, b->getGlobalFrame().basis);
      RefResult ref = refCollide(refShape(a), refShape(b));
      if (ref.doubtful) continue;
      MDL_CollisionVolume* first = pr.cylinderFirst ? b : a;
      MDL_CollisionVolume* second = pr.cylinderFirst ? a : b;
      if (pr.cylinderFirst) ref = refFlip(ref);
      ++compared;
      v3 p, n;
      double d;
      bool hit = touch(first, second, p, n, d);
      ASSERT_EQ(hit, ref.hit) << "trial " << trial;
      if (!hit) continue;
      ++hits;
      double err = std::max({len(p - ref.point), len(n - ref.normal), std::fabs(d - ref.depth)});
      ASSERT_LE(err, 1e-12) << "trial " << trial << ": normal " << n.x << " " << n.y << " " << n.z << ", expected "
                            << ref.normal.x << " " << ref.normal.y << " " << ref.normal.z << "; depth " << d
                            << ", expected " << ref.depth << "; point off by " << len(p - ref.point);
      // Contacts won by an edge pair.
      v3 fa = pr.cylinderFirst ? -n : n;
      bool face = false;
      for (int j = 0; j < 3; ++j) {
        const v3& c = a->getGlobalFrame().basis.c[j];
        face = face || std::fabs(std::fabs(v3::dot(c, fa)) - len(c)) < 1e-9;
        if (pr.second == VOLUME_BOX) {
          const v3& e = b->getGlobalFrame().basis.c[j];
          face = face || std::fabs(std::fabs(v3::dot(e, fa)) - len(e)) < 1e-9;
        }
      }
      if (pr.second == VOLUME_CYLINDER) {
        const v3& e = b->getGlobalFrame().basis.c[2];
        face = face || std::fabs(std::fabs(v3::dot(e, fa)) - len(e)) < 1e-9;
      }
      edges += face ? 0 : 1;
    }
    // The placements reach every kind of axis.
    EXPECT_GT(hits, 60000);
    EXPECT_GT(edges, 5000);
  }
}

namespace {

// How far p lies outside a box or cylinder (0 inside), in length units.
double outside(MDL_CollisionVolume* v, const v3& p) {
  const MDL_Frame& f = v->getGlobalFrame();
  const v3* c = f.basis.c;
  v3 r = p - f.position;
  if (v->shape == VOLUME_CYLINDER) {
    double h = len(c[2]), R = len(c[0]);
    double z = v3::dot(r, c[2]) / h;
    double rho = len(r - c[2] * (z / h));
    return std::max({0.0, std::fabs(z) - h, rho - R});
  }
  double out = 0;
  for (int j = 0; j < 3; ++j) out = std::max(out, std::fabs(v3::dot(r, c[j])) / len(c[j]) - len(c[j]));
  return out;
}

}  // namespace

// Placements where a whole face or edge touches, so that no single corner is
// the deepest: the point lies on the first shape's surface, inside both
// shapes within the depth, and on the smaller shape's touching face or edge;
// where that shape rests inside the other's face, right under its centre.
// Each placement is tried with both shapes first, turned as given and turned
// together about a slanted axis (so that "flat" holds only up to rounding).
TEST(BoxContacts, FlatPlacementsTouchUnderTheSmallerShape) {
  const m33 I = m33::identity();
  m33 edgeDown = I, edgeDown30 = I, lying = I;
  m33::rotate(edgeDown, V(1, 0, 0), M_PI / 4);     // a bottom edge along x, under the centre
  m33::rotate(edgeDown30, V(1, 0, 0), M_PI / 6);   // a bottom edge along x, off the centre
  m33::rotate(lying, V(1, 0, 0), M_PI / 2);        // a cylinder's axis along y
  struct Case {
    const char* what;
    int32_t shapeA, shapeB;
    v3 sizeA, sizeB;
    m33 turnB;
    v3 placeB;       // B's centre; A sits at the origin
    bool smallerIsA;  // which shape's touching feature is the smaller
    bool underCentre;  // the point lies straight under the smaller shape's centre
  } cases[] = {
      {"small box on a large one", VOLUME_BOX, VOLUME_BOX, {6, 4, 1}, {0.5, 0.5, 0.5}, I, {3.1, -2.7, 1.49}, false, true},
      {"large box on a small one", VOLUME_BOX, VOLUME_BOX, {0.5, 0.5, 0.5}, {6, 4, 1}, I, {-2.2, 3.0, 1.49}, true, true},
      {"equal boxes, offset", VOLUME_BOX, VOLUME_BOX, {0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}, I, {0.3, -0.4, 0.99}, false,
       false},
      {"small box hanging over a large one's edge", VOLUME_BOX, VOLUME_BOX, {2, 2, 1}, {0.5, 0.5, 0.5}, I,
       {2.2, 0.6, 1.49}, false, false},
      {"edge under the centre on a face", VOLUME_BOX, VOLUME_BOX, {6, 4, 1}, {0.5, 0.5, 0.5}, edgeDown,
       {-1.3, 0.8, 1 + std::sqrt(0.5) - 0.01}, false, true},
      {"edge off the centre on a face", VOLUME_BOX, VOLUME_BOX, {6, 4, 1}, {0.5, 0.5, 0.5}, edgeDown30,
       {2.4, -1.1, 1 + 0.5 * (std::cos(M_PI / 6) + std::sin(M_PI / 6)) - 0.01}, false, false},
      {"edge along a parallel edge", VOLUME_BOX, VOLUME_BOX, {2, 1, 1}, {0.5, 0.5, 0.5}, edgeDown,
       {1.2, 1 + 0.3, 1 + 0.3}, false, false},
      {"cylinder standing on a box", VOLUME_BOX, VOLUME_CYLINDER, {6, 4, 1}, {0.4, 0.4, 0.7}, I, {1.9, 2.8, 1.69},
       false, true},
      {"box on a cylinder's cap", VOLUME_BOX, VOLUME_CYLINDER, {0.3, 0.3, 0.3}, {3, 3, 1}, I, {-0.9, 1.1, -1.29},
       true, true},
      {"cylinder lying on a box", VOLUME_BOX, VOLUME_CYLINDER, {6, 4, 1}, {0.4, 0.4, 0.7}, lying, {-2.5, 1.2, 1.39},
       false, true},
  };
  m33 slant = I;
  m33::rotate(slant, V(0.3, -0.5, 0.8) / len(V(0.3, -0.5, 0.8)), 0.7);
  for (const Case& c : cases)
    for (bool turned : {false, true})
      for (bool swapped : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.what << (turned ? ", turned" : "") << (swapped ? ", swapped" : ""));
        MDL_Scene w;
        m33 T = turned ? slant : I;
        m33 RB;
        m33::multiply(RB, T, c.turnB);
        auto* a = volume(w, c.shapeA, V(0, 0, 0), T, c.sizeA);
        auto* b = volume(w, c.shapeB, m33::apply(T, c.placeB), RB, c.sizeB);
        MDL_CollisionVolume* first = swapped ? b : a;
        MDL_CollisionVolume* second = swapped ? a : b;
        v3 p, n;
        double d;
        ASSERT_TRUE(touch(first, second, p, n, d));
        v3 q = p - n * d;
        EXPECT_LE(outside(first, p), 1e-9);
        EXPECT_LE(outside(second, q), 1e-9);
        EXPECT_LE(outside(second, p), d + 1e-9);
        EXPECT_LE(outside(first, q), d + 1e-9);
        // On the smaller shape's touching face or edge.
        MDL_CollisionVolume* smaller = c.smallerIsA ? a : b;
        v3 onSmaller = smaller == first ? p : q;
        EXPECT_LE(outside(smaller, onSmaller), 1e-9);
        v3 along = smaller == first ? n : -n;  // out of the smaller shape
        v3 r = onSmaller - smaller->getGlobalFrame().position;
        if (c.underCentre) {
          EXPECT_LE(len(r - along * v3::dot(r, along)), 1e-9);
        }
        // Pushed out of the smaller shape a little, the point leaves it.
        EXPECT_GT(outside(smaller, onSmaller + along * 1e-6), 0.0);
      }
}

// A crate dropped flat onto a larger static box, away from the box's centre,
// lands without turning: the contact takes the crate's bottom, not a corner
// of the big box or of the crate. Also with both turned about the vertical.
TEST(BoxContacts, CrateDroppedFlatOntoABoxLandsWithoutSpin) {
  for (double turn : {0.0, 0.4}) {
    SCOPED_TRACE(testing::Message() << "turned by " << turn);
    MDL_Scene w;
    w.bounds[4] = -DBL_MAX;  // only the box holds the crate
    m33 R = m33::identity();
    m33::rotate(R, V(0, 0, 1), turn);
    volume(w, VOLUME_BOX, V(0, 0, -1), R, V(8, 6, 1));
    MDL_RigidBody* crate = body(w, VOLUME_BOX, m33::apply(R, V(4.3, -3.1, 0)) + V(0, 0, 0.9), R, V(0.5, 0.5, 0.5));
    double fastest = 0, lowest = DBL_MAX;
    for (int s = 0; s < 1000; ++s) {
      w.step(0.002, nullptr);
      fastest = std::max(fastest, len(*crate->getAngularSpeed()));
      lowest = std::min(lowest, crate->getGlobalFrame().position.z);
    }
    EXPECT_LT(fastest, 0.1);
    EXPECT_LT(lowest, 0.51);  // it did land
    EXPECT_GT(crate->getGlobalFrame().position.z, 0.45);
  }
}
