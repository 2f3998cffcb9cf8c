// The world's contact pass: a sort-and-sweep along x over the collision
// volumes, then the narrow phase, the callbacks and the response for every
// pair whose x-extents overlap.
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "base/CTRL_Keys.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"

void (*MDL_contactProbe)(MDL_CollisionVolume*, MDL_CollisionVolume*, void*) = nullptr;
void* MDL_contactProbeData = nullptr;
bool MDL_contactRetakesEverySlot = false;

void MDL_iUpdateBoundingRadius(MDL_CollisionVolume* v) {
  const MDL_Frame& f = v->getGlobalFrame();
  const v3* c = f.basis.c;
  switch (v->shape) {
    case VOLUME_SPHERE: v->boundingRadius = v3::length(c[0]); break;
    case VOLUME_BOX:
    case VOLUME_CYLINDER:
      v->boundingRadius = std::sqrt(MDL_iLength2(c[0]) + MDL_iLength2(c[1]) + MDL_iLength2(c[2]));
      break;
    default: break;
  }
}

// Half width of a volume's extent along global x.
static double halfWidth(MDL_CollisionVolume* v, const MDL_Frame& f) {
  const v3* c = f.basis.c;
  if (v->shape == VOLUME_SPHERE) return v3::length(c[0]);
  return std::fabs(c[0].x) + std::fabs(c[1].x) + std::fabs(c[2].x);
}

// A volume whose own frame or whose body holds a non-finite value takes no
// part in contacts: its sweep entries get +infinity, which keeps the sort's
// order strict and puts them past every usable entry. Both entries of a
// volume are valued in one go, once per pass.
static uint64_t sweepPasses = 0;
static double sweepValue(const MDL_SweepEntry* e) {
  MDL_CollisionVolume* v = e->volume;
  if (v->sweepPass != sweepPasses) {
    v->sweepPass = sweepPasses;
    const MDL_Frame& f = v->getGlobalFrame();
    if (v->shape < VOLUME_SPHERE || v->shape > VOLUME_CYLINDER) {
      v->sweepLow = v->sweepHigh = 0;
    } else {
      double h = halfWidth(v, f);
      double lo = f.position.x - h, hi = f.position.x + h;
      bool usable = std::isfinite(lo) && std::isfinite(hi) && MDL_iFinite(f.basis) &&
                    std::isfinite(f.position.y) && std::isfinite(f.position.z);
      if (usable) {
        if (MDL_RigidBody* body = v->getRigidBody()) {
          body->validateGlobalFrame();
          usable = MDL_iBodyIsFinite(body);
        }
      }
      v->sweepLow = usable ? lo : INFINITY;
      v->sweepHigh = usable ? hi : INFINITY;
    }
  }
  return e->isStart ? v->sweepLow : v->sweepHigh;
}

// The entries with their values side by side, so that sorting reads no
// entry but moves only these pairs.
struct SortItem {
  double value;
  MDL_SweepEntry* entry;
};
inline double valueOf(const SortItem& s) { return s.value; }
inline double valueOf(const MDL_SweepEntry* e) { return e->value; }
static CTRL_Array<SortItem> sortScratch;

// Insertion sort: the entries persist between steps and coherent motion
// leaves them nearly sorted. Values are never NaN, so the order is strict.
template <class T>
static void sortEntries(T* a, int n) {
  for (int i = 1; i < n; ++i) {
    T e = a[i];
    double v = valueOf(e);
    int j = i;
    while (j > 0 && valueOf(a[j - 1]) > v) {
      a[j] = a[j - 1];
      --j;
    }
    a[j] = e;
  }
}

// Merge sort for badly ordered input (the first step, teleported volumes).
template <class T>
static void mergeSort(T* a, T* tmp, int n) {
  if (n < 32) {
    sortEntries(a, n);
    return;
  }
  int h = n / 2;
  mergeSort(a, tmp, h);
  mergeSort(a + h, tmp, n - h);
  int i = 0, j = h, k = 0;
  while (i < h && j < n) tmp[k++] = valueOf(a[j]) < valueOf(a[i]) ? a[j++] : a[i++];
  while (i < h) tmp[k++] = a[i++];
  while (j < n) tmp[k++] = a[j++];
  for (int m = 0; m < n; ++m) a[m] = tmp[m];
}

// Counts inversions between neighbours to choose the sort.
template <class T>
static bool nearlySorted(const T* a, int n) {
  int out = 0;
  for (int i = 1; i < n; ++i)
    if (valueOf(a[i - 1]) > valueOf(a[i]) && ++out > 64) return false;
  return true;
}

// The response of two bodies. weight gets the sum of both sides' weights
// along n at their points, from before the impulses: what the position
// correction needs, as long as no handler moved a body meanwhile.
static void responseTwoBodies(MDL_Scene& world, CTRL_ScriptEngine* engine, MDL_RigidBody* bA, MDL_RigidBody* bB,
                              MDL_CollisionVolume* A, MDL_CollisionVolume* B, const v3& p, const v3& pB,
                              const v3& n, double& weight) {
  MDL_ContactSide sa, sb;
  MDL_iMakeSide(bA, p, n, sa);
  MDL_iMakeSide(bB, pB, n, sb);
  weight = MDL_iSideWeight(sa) + MDL_iSideWeight(sb);
  double j = MDL_iContactImpulse(sa, sb, -(bA->elasticity + bB->elasticity) / 2, weight);
  if (!(j < 0)) return;
  bA->applyImpulse(p, n * j);
  bB->applyImpulse(pB, n * -j);
  MDL_iFireContact(&world, engine, CB_POST_COLLISION, p, n, -j, bA, A, bB, B);
  v3 vA, vB;
  bA->velocityAt(p, vA);
  bB->velocityAt(pB, vB);
  v3 rel = vB - vA;
  v3 t = rel - n * v3::dot(n, rel);
  double len = v3::length(t);
  if (!(len > 0)) return;
  t = t / len;
  double limit = (bA->friction + bB->friction) / 2 * std::fabs(j);
  MDL_iSideDirection(bA, t, sa);
  MDL_iSideDirection(bB, t, sb);
  double jt = MDL_iContactImpulse(sa, sb, 0);
  if (jt > 0) {
    double f = jt < limit ? jt : limit;
    bA->applyImpulse(p, t * f);
    bB->applyImpulse(pB, t * -f);
  }
}

// What the sweep reads of a volume for its cheap tests: position, bounding
// radius, half size of its axis-aligned box, layer, mask, deleted byte and
// body. Taken when the volume enters the work list and taken again whenever
// the response may have moved it or a script handler may have changed it, so
// that the tests read what the volume itself holds. The coordinates are kept
// in separate flat arrays so that the bounding-sphere test runs over the
// whole list at once.
struct MDL_SweepSlot {
  MDL_CollisionVolume* volume;
  MDL_RigidBody* body;
  v3 half;
  int32_t shape, layer, mask;
  uint8_t deleted;
};

namespace {

// Half size of a volume's axis-aligned box, as the narrow phase reckons it
// for spheres and boxes: the radius, or the sum of the columns' magnitudes.
v3 boxHalfSize(MDL_CollisionVolume* v, const MDL_Frame& f) {
  const v3* c = f.basis.c;
  if (v->shape == VOLUME_SPHERE) {
    double r = std::sqrt(MDL_iLength2(c[0]));
    return {r, r, r};
  }
  return {std::fabs(c[0].x) + std::fabs(c[1].x) + std::fabs(c[2].x),
          std::fabs(c[0].y) + std::fabs(c[1].y) + std::fabs(c[2].y),
          std::fabs(c[0].z) + std::fabs(c[1].z) + std::fabs(c[2].z)};
}

// The narrow phase's first answer for two volumes without a cylinder: their
// axis-aligned boxes are apart on some axis (the same arithmetic, so that
// the sweep can skip the pair without asking).
inline bool boxesApart(const v3& pa, const v3& ha, const v3& pb, const v3& hb) {
  return std::fabs(pb.x - pa.x) - ha.x - hb.x > 0 || std::fabs(pb.y - pa.y) - ha.y - hb.y > 0 ||
         std::fabs(pb.z - pa.z) - ha.z - hb.z > 0;
}

#if defined(__x86_64__)
// The sphere test four slots at a time where the processor has 256-bit
// registers: the same operations as the narrower paths, lane for lane (no
// fused multiply-adds). Appends to out from n on and answers the new count;
// k is left at the first slot not tested.
__attribute__((target("avx2"))) int32_t sphereHitsWide(const double* X, const double* Y, const double* Z,
                                                     const double* R, int& k, int to, double px, double py,
                                                     double pz, double pr, int32_t* out, int32_t n) {
  const __m256d PX = _mm256_set1_pd(px), PY = _mm256_set1_pd(py), PZ = _mm256_set1_pd(pz), PR = _mm256_set1_pd(pr);
  for (; k + 4 <= to; k += 4) {
    __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(X + k), PX);
    __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(Y + k), PY);
    __m256d dz = _mm256_sub_pd(_mm256_loadu_pd(Z + k), PZ);
    __m256d reach = _mm256_add_pd(_mm256_loadu_pd(R + k), PR);
    __m256d d2 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
    int m = _mm256_movemask_pd(_mm256_cmp_pd(d2, _mm256_mul_pd(reach, reach), _CMP_LE_OQ));
    out[n] = k;
    n += m & 1;
    out[n] = k + 1;
    n += (m >> 1) & 1;
    out[n] = k + 2;
    n += (m >> 2) & 1;
    out[n] = k + 3;
    n += m >> 3;
  }
  return n;
}
bool g_wideSpheres = __builtin_cpu_supports("avx2");
#endif

// Marked places of the work list are dropped once there are this many and
// they are at least half of the list.
constexpr int kManyDead = 8;

struct SweepSlots {
  CTRL_Array<MDL_SweepSlot> meta;
  CTRL_Array<MDL_RigidBody*> body;
  CTRL_Array<double> x, y, z, r;
  CTRL_Array<int32_t> hits;
  int32_t hitCount = 0;

  void clear() {
    meta.count = body.count = x.count = y.count = z.count = r.count = 0;
    dead = 0;
  }
  void take(int k, MDL_CollisionVolume* v) {
    const MDL_Frame& f = v->getGlobalFrame();
    const v3& p = f.position;
    x.data[k] = p.x;
    y.data[k] = p.y;
    z.data[k] = p.z;
    r.data[k] = v->boundingRadius;
    body.data[k] = v->getRigidBody();
    meta.data[k] = {v, body.data[k], boxHalfSize(v, f), v->shape, v->layer, v->mask, v->deleted};
  }
  bool append(MDL_CollisionVolume* v) {
    int n = meta.count;
    if (!meta.resize(n + 1) || !body.resize(n + 1) || !x.resize(n + 1) || !y.resize(n + 1) || !z.resize(n + 1) ||
        !r.resize(n + 1) || (hits.count < n + 1 && !hits.resize(n + 1))) {
      clear();
      return false;
    }
    take(n, v);
    return true;
  }
  // Slot k and the work list's entry k leave the list. Their places stay,
  // marked (no volume, a position no sphere test meets), so that the rest
  // keeps its places and order without moving; the marked places are
  // dropped once they are many.
  int32_t dead = 0;
  void removeAt(int k, CTRL_Array<MDL_CollisionVolume*>& list) {
    list.data[k] = nullptr;
    meta.data[k].volume = nullptr;
    meta.data[k].body = nullptr;
    body.data[k] = nullptr;
    x.data[k] = NAN;
    r.data[k] = 0;
    if (++dead >= kManyDead && 2 * dead >= meta.count) compact(list);
  }
  void compact(CTRL_Array<MDL_CollisionVolume*>& list) {
    int n = 0;
    for (int m = 0; m < list.count; ++m) {
      if (!list.data[m]) continue;
      if (n != m) {
        list.data[n] = list.data[m];
        meta.data[n] = meta.data[m];
        body.data[n] = body.data[m];
        x.data[n] = x.data[m];
        y.data[n] = y.data[m];
        z.data[n] = z.data[m];
        r.data[n] = r.data[m];
      }
      ++n;
    }
    list.count = meta.count = body.count = x.count = y.count = z.count = r.count = n;
    dead = 0;
  }
  // hits := the slots k in [from, to), in order, whose bounding spheres meet
  // the sphere at (px, py, pz) with radius pr. Four or two slots at a time
  // where the processor has the vector units for it; the arithmetic is the
  // scalar one, operation for operation.
  void sphereTest(int from, int to, double px, double py, double pz, double pr) {
    const double* X = x.data;
    const double* Y = y.data;
    const double* Z = z.data;
    const double* R = r.data;
    int32_t* out = hits.data;
    int32_t n = 0;
    int k = from;
#if defined(__x86_64__)
    if (g_wideSpheres) n = sphereHitsWide(X, Y, Z, R, k, to, px, py, pz, pr, out, n);
#endif
#if defined(__SSE2__)
    const __m128d PX = _mm_set1_pd(px), PY = _mm_set1_pd(py), PZ = _mm_set1_pd(pz), PR = _mm_set1_pd(pr);
    for (; k + 2 <= to; k += 2) {
      __m128d dx = _mm_sub_pd(_mm_loadu_pd(X + k), PX);
      __m128d dy = _mm_sub_pd(_mm_loadu_pd(Y + k), PY);
      __m128d dz = _mm_sub_pd(_mm_loadu_pd(Z + k), PZ);
      __m128d reach = _mm_add_pd(_mm_loadu_pd(R + k), PR);
      __m128d d2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz));
      int m = _mm_movemask_pd(_mm_cmple_pd(d2, _mm_mul_pd(reach, reach)));
      out[n] = k;
      n += m & 1;
      out[n] = k + 1;
      n += m >> 1;
    }
#endif
    for (; k < to; ++k) {
      double dx = X[k] - px, dy = Y[k] - py, dz = Z[k] - pz, reach = R[k] + pr;
      out[n] = k;
      n += dx * dx + dy * dy + dz * dz <= reach * reach;
    }
    hitCount = n;
  }
};
SweepSlots slots;

// The volumes that responses and handlers change while a pass runs. The
// pass that starts while another runs lists its own; the outer one then
// takes every slot anew, since it cannot tell what the inner one moved. A
// pass that needs no list and runs inside no other keeps none, so that
// moving a body costs no listing.
MDL_TouchedVolumes touched;
struct TouchWatch {
  MDL_TouchedVolumes* outer;
  MDL_TouchedVolumes own;
  MDL_TouchedVolumes* list;
  explicit TouchWatch(bool needed) : outer(MDL_iTouched), list(outer ? &own : &touched) {
    list->list.count = 0;
    list->lost = false;
    if (needed || outer) MDL_iTouched = list;
  }
  ~TouchWatch() {
    MDL_iTouched = outer;
    if (outer) outer->lost = true;
  }
};

// Beyond this many listed volumes, taking every slot costs less than
// finding each of them in the list.
constexpr int kFewTouched = 16;
// Spans of the list tested at once against a volume's bounding sphere.
constexpr int kFirstSpan = 16, kLongestSpan = 1 << 20;

}  // namespace

// Steps 6 to 9 of the sweep for a pair that passed the cheap tests: A is the
// entry's volume, B the listed one. True when a response may have moved
// bodies or a handler may have run.
static bool examinePair(MDL_Scene& world, CTRL_ScriptEngine* engine, MDL_CollisionVolume* A,
                        MDL_CollisionVolume* B, MDL_RigidBody* bA, MDL_RigidBody* bB) {
  if (bA == bB) return false;
  if ((bA && bA->deleted) || (bB && bB->deleted)) return false;
  if ((!bA || bA->still) && (!bB || bB->still)) return false;
  v3 p, n;
  double depth;
  if (!MDL_Scene::collideMeeting(A, B, p, n, depth)) return false;
  if (MDL_contactProbe) MDL_contactProbe(A, B, MDL_contactProbeData);
  if (!MDL_iFireContact(&world, engine, CB_PRE_COLLISION, p, n, depth, bA, A, bB, B)) return true;
  // The handler may have deleted either side.
  if (A->deleted || B->deleted || (bA && bA->deleted) || (bB && bB->deleted)) return true;
  v3 pB = p - n * depth;
  double W = 0;
  // Impulses leave the frames as they are: without a script, the weights
  // of the two-body response serve the correction too.
  bool weighed = false;
  if (bA && bB) {
    responseTwoBodies(world, engine, bA, bB, A, B, p, pB, n, W);
    weighed = !world.proxy;
  } else if (bA) {
    bA->resolveStaticContact(engine, p, -n, world.elasticity, world.friction, A, B);
  } else {
    bB->resolveStaticContact(engine, p, n, world.elasticity, world.friction, B, A);
  }
  if (!weighed) {
    W = 0;
    if (bA) W += bA->weightAlong(p - bA->getGlobalFrame().position, n);
    if (bB) W += bB->weightAlong(pB - bB->getGlobalFrame().position, n);
  }
  if (W == 0) return true;
  // Two bodies of which neither lies below a body (as handlers left them)
  // cannot move each other: their corrections are made together.
  if (bA && bB && !bA->getRigidBody() && !bB->getRigidBody()) {
    MDL_RigidBody::displaceBoth(bA, p, n * (-depth / W), bB, pB, n * (depth / W));
    return true;
  }
  if (bA) bA->displace(p, n * (-depth / W));
  if (bB) bB->displace(pB, n * (depth / W));
  return true;
}

// True when some body carries more than one collision volume.
static bool bodiesShareVolumes(const CTRL_Array<MDL_CollisionVolume*>& volumes) {
  for (int i = 0; i < volumes.count; ++i) {
    MDL_CollisionVolume* v = volumes.data[i];
    MDL_RigidBody* b = v->getRigidBody();
    if (!b || (b->firstChild == v && !v->nextSibling && !v->firstChild)) continue;
    int found = 0;
    // Pre-order walk of the body's subtree, without recursion.
    for (MDL_Object* o = b->firstChild; o;) {
      if (o->type == OBJECT_COLLISION_VOLUME && ++found > 1) return true;
      if (o->firstChild) {
        o = o->firstChild;
        continue;
      }
      while (o != b && !o->nextSibling) o = o->parent;
      o = o == b ? nullptr : o->nextSibling;
    }
  }
  return false;
}

bool MDL_iSetWideSweep(bool allow) {
#if defined(__x86_64__)
  g_wideSpheres = allow && __builtin_cpu_supports("avx2");
  return g_wideSpheres;
#else
  (void)allow;
  return false;
#endif
}

void MDL_Scene::resolveContacts(CTRL_ScriptEngine* engine) {
  int nv = collisionVolumes.count;
  for (int i = 0; i < nv; ++i) MDL_iUpdateBoundingRadius(collisionVolumes.data[i]);
  // A body below another body moves with it: then every slot is taken anew
  // after a response, not only those of the two bodies. When every body
  // carries one volume and no script can run, a response moves at most the
  // two volumes of the pair.
  bool nested = false;
  for (int i = 0; i < rigidBodies.count && !nested; ++i) nested = rigidBodies.data[i]->getRigidBody() != nullptr;
  const bool retakeAll = proxy || nested;
  const bool onlyThePair = !retakeAll && !bodiesShareVolumes(collisionVolumes);
  int ne = sweepEntries.count;
  ++sweepPasses;
  // Sorted as value and entry pairs in a scratch that keeps its storage;
  // without one, in place through the entries (the same order either way).
  const bool paired = sortScratch.count >= 2 * ne || sortScratch.resize(2 * ne);
  SortItem* items = sortScratch.data;
  for (int i = 0; i < ne; ++i) {
    MDL_SweepEntry* e = sweepEntries.data[i];
    e->value = sweepValue(e);
    if (paired) items[i] = {e->value, e};
  }
  if (paired) {
    if (nearlySorted(items, ne)) sortEntries(items, ne);
    else mergeSort(items, items + ne, ne);
    for (int i = 0; i < ne; ++i) sweepEntries.data[i] = items[i].entry;
  } else if (nearlySorted(sweepEntries.data, ne)) {
    sortEntries(sweepEntries.data, ne);
  } else {
    MDL_SweepEntry** tmp = static_cast<MDL_SweepEntry**>(std::malloc(sizeof(MDL_SweepEntry*) * size_t(ne)));
    if (tmp) mergeSort(sweepEntries.data, tmp, ne);
    else sortEntries(sweepEntries.data, ne);
    std::free(tmp);
  }

  // The work lists keep their storage from step to step; the slots follow
  // activeVolumes entry for entry.
  activeVolumes.count = 0;
  slots.clear();
  // However the pass ends, the list keeps no marked places.
  struct DropMarked {
    CTRL_Array<MDL_CollisionVolume*>& list;
    ~DropMarked() {
      int n = 0;
      for (int m = 0; m < list.count; ++m)
        if (list.data[m]) list.data[n++] = list.data[m];
      list.count = n;
    }
  } dropMarked{activeVolumes};
  TouchWatch watch(retakeAll);
  MDL_TouchedVolumes& changed = *watch.list;
  // Handlers may add volumes (and so entries) while the pass runs: walk the
  // entries sorted above by index, re-reading the storage each time.
  for (int i = 0; i < ne && i < sweepEntries.count; ++i) {
    MDL_SweepEntry* e = sweepEntries.data[i];
    if (!(e->value < INFINITY)) break;  // only unusable volumes follow
    MDL_CollisionVolume* V = e->volume;
    if (V->deleted) continue;
    int na = activeVolumes.count;
    // An end entry's volume is in the list (once); without handlers its
    // place does not change until it is removed below.
    int own = -1;
    if (!e->isStart && onlyThePair)
      for (int k = 0; k < na; ++k)
        if (activeVolumes.data[k] == V) {
          own = k;
          break;
        }
    const MDL_Frame* fa = &V->getGlobalFrame();
    v3 halfA = boxHalfSize(V, *fa);
    MDL_RigidBody* bA = V->getRigidBody();
    // The list is tested in spans that grow while nothing answers: after a
    // pair moved something, only the rest of the list is tested again, so a
    // crowd of touching volumes costs one short span per pair rather than
    // the whole rest of the list.
    for (int from = 0, span = kFirstSpan; from < na;) {
      const int to = na - from > span ? from + span : na;
      slots.sphereTest(from, to, fa->position.x, fa->position.y, fa->position.z, V->boundingRadius);
      from = to;
      if (span < kLongestSpan) span *= 2;
      for (int h = 0; h < slots.hitCount; ++h) {
        int k = slots.hits.data[h];
        const MDL_SweepSlot& ws = slots.meta.data[k];
        // The remaining cheap tests; none of them has side effects.
        if (V->deleted || ws.deleted || ws.volume == V) continue;
        if ((V->layer & ws.mask) == 0 && (V->mask & ws.layer) == 0) continue;
        if (V->shape != VOLUME_CYLINDER && ws.shape != VOLUME_CYLINDER &&
            boxesApart(fa->position, halfA, v3{slots.x.data[k], slots.y.data[k], slots.z.data[k]}, ws.half))
          continue;
        // What the refresh below needs of the slot, before it is taken anew.
        const struct {
          MDL_CollisionVolume* volume;
          MDL_RigidBody* body;
        } w = {ws.volume, ws.body};
        changed.list.count = 0;
        changed.lost = false;
        if (!examinePair(*this, engine, V, w.volume, bA, w.body)) continue;
        // Take again what the response or a handler may have changed, and
        // test the rest of the list against where V is now.
        if (retakeAll) {
          if (changed.lost || changed.list.count > kFewTouched || MDL_contactRetakesEverySlot) {
            for (int m = 0; m < activeVolumes.count; ++m)
              if (activeVolumes.data[m]) slots.take(m, activeVolumes.data[m]);
          } else {
            // Every volume that moved, changed body, layers or deleted mark
            // was listed as it changed; the others' slots still hold.
            MDL_CollisionVolume* const* list = activeVolumes.data;
            for (int t = 0; t < changed.list.count; ++t) {
              const MDL_Object* c = changed.list.data[t];
              for (int m = 0; m < activeVolumes.count; ++m)
                if (list[m] == c) {
                  slots.take(m, list[m]);
                  break;
                }
            }
          }
          bA = V->getRigidBody();
        } else if (onlyThePair) {
          if (w.body) slots.take(k, w.volume);
          if (bA && own >= 0) slots.take(own, V);
        } else {
          MDL_RigidBody* const* bodies = slots.body.data;
          for (int m = 0; m < activeVolumes.count; ++m)
            if (bodies[m] && (bodies[m] == bA || bodies[m] == w.body)) slots.take(m, activeVolumes.data[m]);
        }
        fa = &V->getGlobalFrame();
        halfA = boxHalfSize(V, *fa);
        from = k + 1;
        span = kFirstSpan;
        break;
      }
    }
    if (e->isStart) {
      // Without storage the pass ends: the list and its slots must agree.
      if (!activeVolumes.append(V)) return;
      if (!slots.append(V)) return;
    } else {
      int k = own;
      if (k < 0)
        for (k = 0; k < activeVolumes.count && activeVolumes.data[k] != V; ++k) {
        }
      if (k < activeVolumes.count) {
        slots.removeAt(k, activeVolumes);
      }
    }
  }
}
