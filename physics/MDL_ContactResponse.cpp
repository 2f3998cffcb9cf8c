// Impulse magnitudes, the one-body response against immovable things, and
// the world's bounds.
#include <cfloat>
#include <cmath>

#include "base/CTRL_Keys.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Contact.h"
#include "physics/MDL_PhysicsMath.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "base/LMP_ProxyLink.h"

void MDL_iMakeSide(MDL_RigidBody* body, const v3& point, const v3& n, MDL_ContactSide& s) {
  if (!body) {
    s = MDL_ContactSide{};
    return;
  }
  const MDL_Frame& f = body->getGlobalFrame();
  s.r = MDL_iToFrame(f, point - f.position);
  s.n = MDL_iToFrame(f, n);
  s.v = MDL_iToFrame(f, body->speed);
  s.L = MDL_iToFrame(f, body->angularMomentum);
  s.inverseInertia = body->inverseInertia;
  s.inverseMass = body->inverseMass;
}

void MDL_iSideDirection(MDL_RigidBody* body, const v3& n, MDL_ContactSide& s) {
  if (body) s.n = MDL_iToFrame(body->getGlobalFrame(), n);
}

double MDL_iSideWeight(const MDL_ContactSide& s) {
  v3 c = MDL_iCross(s.r, s.n);
  return s.inverseMass + s.inverseInertia.x * c.x * c.x + s.inverseInertia.y * c.y * c.y +
         s.inverseInertia.z * c.z * c.z;
}

// Velocity of the side's point along its direction.
static double pointSpeed(const MDL_ContactSide& s) {
  v3 w = MDL_iScale(s.inverseInertia, s.L);
  return v3::dot(s.v + MDL_iCross(w, s.r), s.n);
}

double MDL_iContactImpulse(const MDL_ContactSide& a, const MDL_ContactSide& b, double e) {
  return MDL_iContactImpulse(a, b, e, MDL_iSideWeight(a) + MDL_iSideWeight(b));
}

double MDL_iContactImpulse(const MDL_ContactSide& a, const MDL_ContactSide& b, double e, double W) {
  if (W == 0) return 0;
  return (1 - e) * (pointSpeed(b) - pointSpeed(a)) / W;
}

double MDL_iBodyImpulse(const MDL_ContactSide& s, double e) {
  double W = MDL_iSideWeight(s);
  if (W == 0) return 0;
  return -(1 - e) * pointSpeed(s) / W;
}

bool MDL_iFireContact(MDL_Scene* world, CTRL_ScriptEngine* engine, int id, const v3& point, const v3& normal,
                      double value, MDL_Object* bodyA, MDL_Object* volumeA, MDL_Object* bodyB, MDL_Object* volumeB) {
  // A world that no script drives has nobody to veto a contact.
  if (!world || !world->proxy) return true;
  return LMP_iFireCallback(&world->proxy, engine, id, &point, &normal, value, bodyA, volumeA, bodyB, volumeB);
}

bool MDL_RigidBody::resolveStaticContact(CTRL_ScriptEngine* engine, const v3& point, const v3& normal, double e,
                                         double f, MDL_Object* ownVolume, MDL_Object* otherVolume) {
  MDL_ContactSide side;
  MDL_iMakeSide(this, point, normal, side);
  double j = MDL_iBodyImpulse(side, -(e + elasticity) / 2);
  if (!(j > 0)) return false;
  applyImpulse(point, normal * j);
  MDL_iFireContact(scene, engine, CB_POST_COLLISION, point, normal, j, this, ownVolume, nullptr, otherVolume);
  double mu = f + friction;
  if (mu <= 0) return true;
  v3 vp;
  velocityAt(point, vp);
  v3 t = vp - normal * v3::dot(normal, vp);
  double len = v3::length(t);
  if (len == 0) return true;
  t = t / len;
  double limit = (mu < 2.0 ? mu : 2.0) * j / 2;
  MDL_iSideDirection(this, t, side);
  double jt = MDL_iBodyImpulse(side, 0);
  if (-jt > 0) applyImpulse(point, t * -(-jt < limit ? -jt : limit));
  return true;
}

void MDL_RigidBody::correctBoundsPenetration(const v3& point, const v3& normal, double depth) {
  double W = weightAlong(point - getGlobalFrame().position, normal);
  if (W != 0) displace(point, normal * (depth / W));
}

void MDL_Extremes::take(const v3& p, int k, MDL_Object* from) {
  double c = MDL_iComponent(p, k);
  if (!hasLow || c < MDL_iComponent(low, k)) {
    if (hasLow || std::isfinite(c)) {
      low = p;
      lowObject = from;
      hasLow = true;
    }
  }
  if (!hasHigh || c > MDL_iComponent(high, k)) {
    if (hasHigh || std::isfinite(c)) {
      high = p;
      highObject = from;
      hasHigh = true;
    }
  }
}

static void shapeExtremes(MDL_CollisionVolume* v, int k, MDL_Extremes& out) {
  const MDL_Frame& f = v->getGlobalFrame();
  const v3& x = f.position;
  const v3* c = f.basis.c;
  v3 ek{0, 0, 0};
  MDL_iComponent(ek, k) = 1;
  switch (v->shape) {
    case VOLUME_SPHERE: {
      double r = v3::length(c[0]);
      out.take(x - ek * r, k, v);
      out.take(x + ek * r, k, v);
      break;
    }
    case VOLUME_BOX: {
      v3 lo = x, hi = x;
      for (int j = 0; j < 3; ++j) {
        double cj = MDL_iComponent(c[j], k);
        lo += c[j] * (cj > 0 ? -1.0 : 1.0);
        hi += c[j] * (cj >= 0 ? 1.0 : -1.0);
      }
      out.take(lo, k, v);
      out.take(hi, k, v);
      break;
    }
    case VOLUME_CYLINDER: {
      double c2k = MDL_iComponent(c[2], k);
      v3 u = c[2];
      v3::normalize(u);
      v3 side = ek - u * v3::dot(ek, u);
      v3::normalize(side);
      double R = v3::length(c[0]);
      v3 lo = (c2k <= 0 ? x + c[2] : x - c[2]) - side * R;
      v3 hi = (c2k < 0 ? x - c[2] : x + c[2]) + side * R;
      out.take(lo, k, v);
      out.take(hi, k, v);
      break;
    }
    default: break;
  }
}

// The subtrees of root's children, pre-order, without the deleted ones.
template <class Visit>
static void walkBelow(MDL_Object* root, Visit&& visit) {
  MDL_iWalkBelow(root, [&](MDL_Object* c) {
    if (c->deleted) return MDL_Walk::over;
    visit(c);
    return MDL_Walk::into;
  });
}

void MDL_iShapeExtremes(MDL_Object* root, int k, MDL_Extremes& out) {
  walkBelow(root, [&](MDL_Object* o) {
    if (o->type != OBJECT_COLLISION_VOLUME) return;
    auto* v = static_cast<MDL_CollisionVolume*>(o);
    if (v->mask & 1) shapeExtremes(v, k, out);
  });
}

void MDL_iVertexExtremes(MDL_Object* root, int k, MDL_Extremes& out) {
  walkBelow(root, [&](MDL_Object* o) {
    if (o->type != OBJECT_COLLISION_VOLUME) return;
    MDL_Object* p = o->parent;
    // Only meshes have vertices; a mesh without geometry gives none.
    if (!p || (p->type != OBJECT_MESH && p->type != OBJECT_ANIMATED_MESH)) return;
    auto* mesh = static_cast<MDL_Mesh*>(p);
    if (!mesh->meshData || mesh->meshData->vertexCount <= 0) return;
    const MDL_Frame& f = mesh->getGlobalFrame();
    int32_t n = mesh->meshData->vertexCount;
    for (int32_t i = 0; i < n; ++i) {
      const double* q = mesh->getVertex(i);
      if (!q) continue;
      v3 g = m33::apply(f.basis, v3{q[0], q[1], q[2]}) + f.position;
      out.take(g, k, mesh);
    }
  });
}

bool MDL_RigidBody::clampToBounds(CTRL_ScriptEngine* engine, int axis, double lower, double upper, double e,
                                  double f) {
  if (still || !firstChild || axis < 0 || axis > 2) return false;
  validateGlobalFrame();
  // A body with non-finite state takes no part in contacts.
  if (!MDL_iBodyIsFinite(this)) return false;
  MDL_Extremes ex;
  if (verticesGroundCollision) MDL_iVertexExtremes(this, axis, ex);
  else MDL_iShapeExtremes(this, axis, ex);
  if (lower != -DBL_MAX && ex.hasLow) {
    double depth = lower - MDL_iComponent(ex.low, axis);
    if (depth > 0) {
      v3 n{0, 0, 0};
      MDL_iComponent(n, axis) = 1;
      if (!MDL_iFireContact(scene, engine, CB_PRE_COLLISION, ex.low, n, depth, this, ex.lowObject, nullptr, nullptr))
        return false;
      resolveStaticContact(engine, ex.low, n, e, f, ex.lowObject, nullptr);
      if (inverseMass != 0) correctBoundsPenetration(ex.low, n, depth);
      return true;
    }
  }
  if (upper != DBL_MAX && ex.hasHigh) {
    double depth = MDL_iComponent(ex.high, axis) - upper;
    if (depth > 0) {
      v3 n{0, 0, 0};
      MDL_iComponent(n, axis) = -1;
      if (!MDL_iFireContact(scene, engine, CB_PRE_COLLISION, ex.high, n, depth, this, ex.highObject, nullptr,
                            nullptr))
        return false;
      resolveStaticContact(engine, ex.high, n, e, f, ex.highObject, nullptr);
      if (inverseMass != 0) correctBoundsPenetration(ex.high, n, depth);
      return true;
    }
  }
  return false;
}
