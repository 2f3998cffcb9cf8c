// The body classes of the physics: newRigidBody (mass, inertia, velocity,
// sleeping) and newCollisionVolume (a shape that belongs to the nearest body
// above it). Both have the 41 Object methods before their own.
#include <lua.hpp>

#include <cmath>

#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_Values.h"

class LMP_RigidBody : public LMP_Object {
 public:
  LMP_RigidBody() = default;
  explicit LMP_RigidBody(lua_State* L);
  const char* className() const override { return scriptName; }
  static constexpr const char* scriptName = "newRigidBody";
  static const LMP_MethodEntry<LMP_RigidBody> methods[];
};

class LMP_CollisionVolume : public LMP_Object {
 public:
  LMP_CollisionVolume() = default;
  explicit LMP_CollisionVolume(lua_State* L);
  const char* className() const override { return scriptName; }
  static constexpr const char* scriptName = "newCollisionVolume";
  static const LMP_MethodEntry<LMP_CollisionVolume> methods[];
};

namespace {

MDL_RigidBody* body(LMP_RigidBody* self) { return static_cast<MDL_RigidBody*>(self->object()); }

v3 asV3(const double* d) { return {d[0], d[1], d[2]}; }

// 1 / x, with 0 standing for an infinite value.
double reciprocal(double x) { return x == 0 ? HUGE_VAL : 1.0 / x; }

void wake(MDL_RigidBody* b) {
  b->still = 0;
  b->stillTimer = 0;
}

// Object types that the scene cannot copy (overlays and listeners).
bool hasCopy(const MDL_Object* o) { return o->type < OBJECT_TEXT || o->type > OBJECT_POLYLINE; }

// ---- getters

int rbGetAngularSpeed(LMP_RigidBody* self, lua_State* L) {
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  LMP_iPushV3(L, *b->getAngularSpeed());
  return 1;
}

int rbGetInertia(LMP_RigidBody* self, lua_State* L) {
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  const v3& i = b->inverseInertia;
  LMP_iPushV3(L, v3{reciprocal(i.x), reciprocal(i.y), reciprocal(i.z)});
  return 1;
}

int rbGetMass(LMP_RigidBody* self, lua_State* L) {
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  lua_pushnumber(L, reciprocal(b->inverseMass));
  return 1;
}

// ---- setters

int rbSetAngularSpeed(LMP_RigidBody* self, lua_State* L) {
  double* w = nullptr;
  if (!LMP_iCheckArgs(L, "V", &w)) return 0;
  if (MDL_RigidBody* b = body(self)) b->setAngularSpeed(asV3(w));
  return 0;
}

int rbSetInertia(LMP_RigidBody* self, lua_State* L) {
  double* i = nullptr;
  if (!LMP_iCheckArgs(L, "V", &i)) return 0;
  if (MDL_RigidBody* b = body(self)) b->setInertia(asV3(i));
  return 0;
}

int rbSetMass(LMP_RigidBody* self, lua_State* L) {
  double m = 0;
  if (!LMP_iCheckArgs(L, "N", &m)) return 0;
  if (MDL_RigidBody* b = body(self)) b->inverseMass = m == 0 ? 0.0 : 1.0 / m;
  return 0;
}

// setSpeed(velocity): the centre's velocity; setSpeed(velocity, point): the
// velocity of that point (in the body's axes), by an impulse there.
int rbSetSpeed(LMP_RigidBody* self, lua_State* L) {
  double* t = nullptr;
  double* p = nullptr;
  int n = LMP_iCheckArgs(L, "V|V", &t, &p);
  if (!n) return 0;
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  if (p) {
    b->setSpeed(asV3(p), asV3(t));
  } else {
    wake(b);
    b->speed = asV3(t);
  }
  return 0;
}

int rbSetStill(LMP_RigidBody* self, lua_State* L) {
  uint8_t still = 0;
  if (!LMP_iCheckArgs(L, "B", &still)) return 0;
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  b->still = still;
  if (!still) b->stillTimer = 0;
  return 0;
}

int rbComputeMassAndInertia(LMP_RigidBody* self, lua_State* L) {
  double density = 0;
  if (!LMP_iCheckArgs(L, "N", &density)) return 0;
  if (MDL_RigidBody* b = body(self)) b->computeMassAndInertia(density);
  return 0;
}

// setForce and setTorque wake the body: a sleeping body is not integrated.
template <v3 MDL_RigidBody::*F>
int rbSetWaking(LMP_RigidBody* self, lua_State* L) {
  double* v = nullptr;
  if (!LMP_iCheckArgs(L, "V", &v)) return 0;
  MDL_RigidBody* b = body(self);
  if (!b) return 0;
  wake(b);
  b->*F = asV3(v);
  return 0;
}

MDL_Object* makeVolume() { return new MDL_CollisionVolume(VOLUME_SPHERE); }

}  // namespace

// newRigidBody(scene or object, [source object]): a body at the origin, or
// one that carries a copy of the source, placed and turned like it.
LMP_RigidBody::LMP_RigidBody(lua_State* L) {
  int n = lua_gettop(L);
  if (n > 2) LMP_iReportError(L, "Too much arguments for %s", scriptName);
  MDL_Scene* scene = nullptr;
  if (LMP_Object* named = n >= 1 ? LMP_iToProxy(L, 1) : nullptr) {
    // An object only names the scene; the body does not hang under it. One
    // marked deleted counts as gone, as everywhere an object is taken.
    if (!named->object() || named->object()->deleted) {
      LMP_iReportError(L, "Unable to retreive Scene");
      return;
    }
    scene = named->object()->scene;
  } else {
    scene = LMP_Binding<LMP_Scene>::check(L, 1)->scene();
  }
  if (!scene) return;

  // The source is checked before anything is built, so that a source that
  // is gone or cannot be copied leaves no stray body in the scene.
  MDL_Object* source = nullptr;
  if (n >= 2) {
    if (LMP_Object* s = LMP_iToProxy(L, 2)) {
      source = s->object();
      if (!source || source->deleted || !hasCopy(source)) {
        LMP_iReportError(L, "Unable to copy the source object");
        return;
      }
    }
  }

  auto* b = new MDL_RigidBody();
  scene->addObject(b);
  if (source) {
    MDL_Object* copy = scene->clone(source);
    if (copy) {
      b->addChild(copy);
      const MDL_Frame& placed = copy->getGlobalFrame();
      v3 position = placed.position;
      m33 basis = placed.basis;
      v3 scale{v3::length(basis.c[0]), v3::length(basis.c[1]), v3::length(basis.c[2])};
      m33::orthonormalize(basis, 0);
      MDL_Frame& g = b->editGlobalFrame();
      g.position = position;
      g.basis = basis;
      g.inverseDirty = 1;
      // The copy keeps only the source's scale, relative to the body.
      MDL_Frame& l = copy->editLocalFrame();
      l.position = {0, 0, 0};
      l.basis = m33::identity();
      l.basis.c[0].x = scale.x;
      l.basis.c[1].y = scale.y;
      l.basis.c[2].z = scale.z;
      l.inverseDirty = 1;
    }
  }
  model = b;
  LMP_iAssignProxy(&b->proxy, this);
}

LMP_CollisionVolume::LMP_CollisionVolume(lua_State* L) {
  LMP_iConstructObject(this, L, scriptName, &makeVolume);
}

const LMP_MethodEntry<LMP_RigidBody> LMP_RigidBody::methods[] = {
    {"getAngularSpeed", nullptr, &rbGetAngularSpeed},
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::elasticity>("getElasticity"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::friction>("getFriction"),
    {"getInertia", nullptr, &rbGetInertia},
    {"getMass", nullptr, &rbGetMass},
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::speed>("getSpeed"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::still>("getStill"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::stillDelay>("getStillDelay"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::verticesGroundCollision>("getVerticesGroundCollision"),
    {"setAngularSpeed", nullptr, &rbSetAngularSpeed},
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::elasticity>("setElasticity"),
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::friction>("setFriction"),
    {"setInertia", nullptr, &rbSetInertia},
    {"setMass", nullptr, &rbSetMass},
    {"setSpeed", nullptr, &rbSetSpeed},
    {"setStill", nullptr, &rbSetStill},
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::stillDelay>("setStillDelay"),
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::verticesGroundCollision>("setVerticesGroundCollision"),
    {"computeMassAndInertia", nullptr, &rbComputeMassAndInertia},
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::damping>("setDamping"),
    LMP_iSetter<LMP_RigidBody, &MDL_RigidBody::angularDamping>("setAngularDamping"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::damping>("getDamping"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::angularDamping>("getAngularDamping"),
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::force>("getForce"),
    {"setForce", nullptr, &rbSetWaking<&MDL_RigidBody::force>},
    LMP_iGetter<LMP_RigidBody, &MDL_RigidBody::torque>("getTorque"),
    {"setTorque", nullptr, &rbSetWaking<&MDL_RigidBody::torque>},
    {nullptr, nullptr, nullptr},
};

const LMP_MethodEntry<LMP_CollisionVolume> LMP_CollisionVolume::methods[] = {
    LMP_iGetter<LMP_CollisionVolume, &MDL_CollisionVolume::layer>("getCollisionLayer"),
    LMP_iGetter<LMP_CollisionVolume, &MDL_CollisionVolume::mask>("getCollisionMask"),
    LMP_iSetter<LMP_CollisionVolume, &MDL_CollisionVolume::layer, &MDL_CollisionVolume::layersChanged>(
        "setCollisionLayer"),
    LMP_iSetter<LMP_CollisionVolume, &MDL_CollisionVolume::mask, &MDL_CollisionVolume::layersChanged>(
        "setCollisionMask"),
    {nullptr, nullptr, nullptr},
};

LMP_BIND_CLASS(RigidBody, LMP_RigidBody);
LMP_BIND_CLASS(CollisionVolume, LMP_CollisionVolume);
