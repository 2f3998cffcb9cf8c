// The world's contact pass: a sort-and-sweep along x over the collision
// volumes, then the narrow phase, the callbacks and the response for every
// pair whose x-extents overlap.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "controller/CTRL_Keys.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"

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
// order strict and puts them past every usable entry.
static void sweepValue(MDL_SweepEntry* e) {
  MDL_CollisionVolume* v = e->volume;
  const MDL_Frame& f = v->getGlobalFrame();
  if (v->shape < VOLUME_SPHERE || v->shape > VOLUME_CYLINDER) {
    e->value = 0;
    return;
  }
  double h = halfWidth(v, f);
  double lo = f.position.x - h, hi = f.position.x + h;
  bool usable = std::isfinite(lo) && std::isfinite(hi) && MDL_iFinite(f.basis) && std::isfinite(f.position.y) &&
                std::isfinite(f.position.z);
  if (usable) {
    if (MDL_RigidBody* body = v->getRigidBody()) {
      body->validateGlobalFrame();
      usable = MDL_iBodyIsFinite(body);
    }
  }
  e->value = !usable ? INFINITY : (e->isStart ? lo : hi);
}

// Insertion sort: the entries persist between steps and coherent motion
// leaves them nearly sorted. Values are never NaN, so the order is strict.
static void sortEntries(MDL_SweepEntry** a, int n) {
  for (int i = 1; i < n; ++i) {
    MDL_SweepEntry* e = a[i];
    double v = e->value;
    int j = i;
    while (j > 0 && a[j - 1]->value > v) {
      a[j] = a[j - 1];
      --j;
    }
    a[j] = e;
  }
}

// Merge sort for badly ordered input (the first step, teleported volumes).
static void mergeSort(MDL_SweepEntry** a, MDL_SweepEntry** tmp, int n) {
  if (n < 32) {
    sortEntries(a, n);
    return;
  }
  int h = n / 2;
  mergeSort(a, tmp, h);
  mergeSort(a + h, tmp, n - h);
  int i = 0, j = h, k = 0;
  while (i < h && j < n) tmp[k++] = a[j]->value < a[i]->value ? a[j++] : a[i++];
  while (i < h) tmp[k++] = a[i++];
  while (j < n) tmp[k++] = a[j++];
  for (int m = 0; m < n; ++m) a[m] = tmp[m];
}

// Counts inversions between neighbours to choose the sort.
static bool nearlySorted(MDL_SweepEntry** a, int n) {
  int out = 0;
  for (int i = 1; i < n; ++i)
    if (a[i - 1]->value > a[i]->value && ++out > 64) return false;
  return true;
}

static void responseTwoBodies(MDL_Scene& world, CTRL_ScriptEngine* engine, MDL_RigidBody* bA, MDL_RigidBody* bB,
                              MDL_CollisionVolume* A, MDL_CollisionVolume* B, const v3& p, const v3& pB,
                              const v3& n) {
  MDL_ContactSide sa, sb;
  MDL_iMakeSide(bA, p, n, sa);
  MDL_iMakeSide(bB, pB, n, sb);
  double j = MDL_iContactImpulse(sa, sb, -(bA->elasticity + bB->elasticity) / 2);
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

// Steps 6 to 9 of the sweep for one pair: A is the entry's volume, B the
// listed one.
static void examinePair(MDL_Scene& world, CTRL_ScriptEngine* engine, MDL_CollisionVolume* A,
                        MDL_CollisionVolume* B) {
  if (A->deleted || B->deleted || A == B) return;
  if ((A->layer & B->mask) == 0 && (A->mask & B->layer) == 0) return;
  MDL_RigidBody* bA = A->getRigidBody();
  MDL_RigidBody* bB = B->getRigidBody();
  if (bA == bB) return;
  if ((bA && bA->deleted) || (bB && bB->deleted)) return;
  if ((!bA || bA->still) && (!bB || bB->still)) return;
  v3 p, n;
  double depth;
  if (!MDL_Scene::collide(A, B, p, n, depth)) return;
  if (!MDL_iFireContact(&world, engine, CB_PRE_COLLISION, p, n, depth, bA, A, bB, B)) return;
  // The handler may have deleted either side.
  if (A->deleted || B->deleted || (bA && bA->deleted) || (bB && bB->deleted)) return;
  v3 pB = p - n * depth;
  if (bA && bB) {
    responseTwoBodies(world, engine, bA, bB, A, B, p, pB, n);
  } else if (bA) {
    bA->resolveStaticContact(engine, p, -n, world.elasticity, world.friction, A, B);
  } else {
    bB->resolveStaticContact(engine, p, n, world.elasticity, world.friction, B, A);
  }
  double W = 0;
  if (bA) W += bA->weightAlong(p - bA->getGlobalFrame().position, n);
  if (bB) W += bB->weightAlong(pB - bB->getGlobalFrame().position, n);
  if (W == 0) return;
  if (bA) bA->displace(p, n * (-depth / W));
  if (bB) bB->displace(pB, n * (depth / W));
}

void MDL_Scene::resolveContacts(CTRL_ScriptEngine* engine) {
  int nv = collisionVolumes.count;
  for (int i = 0; i < nv; ++i) MDL_iUpdateBoundingRadius(collisionVolumes.data[i]);
  int ne = sweepEntries.count;
  for (int i = 0; i < ne; ++i) sweepValue(sweepEntries.data[i]);
  if (nearlySorted(sweepEntries.data, ne)) {
    sortEntries(sweepEntries.data, ne);
  } else {
    MDL_SweepEntry** tmp = static_cast<MDL_SweepEntry**>(std::malloc(sizeof(MDL_SweepEntry*) * size_t(ne)));
    if (tmp) mergeSort(sweepEntries.data, tmp, ne);
    else sortEntries(sweepEntries.data, ne);
    std::free(tmp);
  }

  // The work list keeps its storage from step to step.
  activeVolumes.count = 0;
  // Handlers may add volumes (and so entries) while the pass runs: walk the
  // entries sorted above by index, re-reading the storage each time.
  for (int i = 0; i < ne && i < sweepEntries.count; ++i) {
    MDL_SweepEntry* e = sweepEntries.data[i];
    if (!(e->value < INFINITY)) break;  // only unusable volumes follow
    MDL_CollisionVolume* V = e->volume;
    if (V->deleted) continue;
    int na = activeVolumes.count;
    for (int k = 0; k < na && k < activeVolumes.count; ++k) examinePair(*this, engine, V, activeVolumes.data[k]);
    if (e->isStart) {
      activeVolumes.append(V);
    } else {
      for (int k = 0; k < activeVolumes.count; ++k)
        if (activeVolumes.data[k] == V) {
          std::memmove(&activeVolumes.data[k], &activeVolumes.data[k + 1],
                       sizeof(MDL_CollisionVolume*) * size_t(activeVolumes.count - k - 1));
          --activeVolumes.count;
          break;
        }
    }
  }
}
