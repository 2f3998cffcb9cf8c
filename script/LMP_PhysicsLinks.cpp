// The link classes of the physics: newSpring and newJoint tie two bodies of
// one scene, or a body and a fixed point. Their records live in the scene's
// lists; the proxy holds no fields of its own.
//
// Anchors, points and axes are kept in the body's own axes, or in world
// coordinates when that side has no body. The methods take an optional
// reference: REF_LOCAL reads or writes the stored value, REF_GLOBAL (the
// default) its world form.
#include <lua.hpp>

#include "model/MDL_Object.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "physics/MDL_Spring.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_Values.h"

class LMP_Spring : public LMP_Proxy {
 public:
  explicit LMP_Spring(lua_State* L);
  MDL_Spring* spring() const { return static_cast<MDL_Spring*>(model); }
  static constexpr const char* scriptName = "newSpring";
  static const LMP_MethodEntry<LMP_Spring> methods[];
};

class LMP_Joint : public LMP_Proxy {
 public:
  explicit LMP_Joint(lua_State* L);
  MDL_Joint* joint() const { return static_cast<MDL_Joint*>(model); }
  static constexpr const char* scriptName = "newJoint";
  static const LMP_MethodEntry<LMP_Joint> methods[];
};

namespace {

constexpr int32_t REF_LOCAL = 2, REF_GLOBAL = 3;

v3 asV3(const double* d) { return {d[0], d[1], d[2]}; }

bool validRef(lua_State* L, int32_t ref) {
  if (ref == REF_LOCAL || ref == REF_GLOBAL) return true;
  LMP_iReportError(L, "Invalid reference ID");
  return false;
}

// World form of a point or direction stored in a body's axes; a missing
// body keeps world values.
v3 pointToWorld(MDL_RigidBody* b, const v3& p) {
  if (!b) return p;
  v3 out;
  MDL_Frame::localToGlobalPoint(b->getGlobalFrame(), p, out);
  return out;
}
v3 pointFromWorld(MDL_RigidBody* b, const v3& p) {
  if (!b) return p;
  v3 out;
  MDL_Frame::globalToLocalPoint(b->getGlobalFrame(), p, out);
  return out;
}
v3 axisToWorld(MDL_RigidBody* b, const v3& a) {
  if (!b) return a;
  return m33::apply(b->getGlobalFrame().basis, a);
}
v3 axisFromWorld(MDL_RigidBody* b, const v3& a) {
  if (!b) return a;
  const MDL_Frame& f = b->getGlobalFrame();
  MDL_Frame::validateInverse(f);
  return m33::apply(f.inverse, a);
}

// Stores a value given with a reference into the body's axes; a bad
// reference reports and leaves the value alone.
void storePoint(lua_State* L, MDL_RigidBody* b, v3& slot, const v3& p, int32_t ref) {
  if (validRef(L, ref)) slot = ref == REF_LOCAL ? p : pointFromWorld(b, p);
}
void storeAxis(lua_State* L, MDL_RigidBody* b, v3& slot, const v3& a, int32_t ref) {
  if (validRef(L, ref)) slot = ref == REF_LOCAL ? a : axisFromWorld(b, a);
}

// The two bodies of a new spring or joint and their scene. Both missing:
// reported. Bodies of two scenes: reported, and the body outside the
// chosen scene is not kept, so that no link ever points into a world that
// frees its bodies without knowing of the link.
struct LinkSides {
  MDL_Scene* scene = nullptr;
  MDL_RigidBody* a = nullptr;
  MDL_RigidBody* b = nullptr;
};

bool chooseSides(lua_State* L, MDL_Object* a, MDL_Object* b, const char* twoScenes, LinkSides* out) {
  // A body marked deleted is freed at the end of the frame: it counts as
  // missing, like one whose script value lost it.
  if (a && a->deleted) a = nullptr;
  if (b && b->deleted) b = nullptr;
  if (!a && !b) {
    LMP_iReportError(L, "At least one rigid body expected");
    return false;
  }
  if (a && b && a->scene != b->scene) LMP_iReportError(L, "%s", twoScenes);
  out->scene = a && a->scene ? a->scene : b ? b->scene : nullptr;
  if (!out->scene) return false;
  if (a && a->scene == out->scene) out->a = static_cast<MDL_RigidBody*>(a);
  if (b && b->scene == out->scene) out->b = static_cast<MDL_RigidBody*>(b);
  return true;
}

// ---- spring

MDL_Spring* rec(LMP_Spring* self) { return self->spring(); }

// getPointA / getPointB ([reference]).
template <bool B>
int springGetPoint(LMP_Spring* self, lua_State* L) {
  int32_t ref = REF_GLOBAL;
  if (lua_gettop(L) > 0 && !LMP_iCheckArgs(L, "I", &ref)) return 0;
  MDL_Spring* s = rec(self);
  if (!s || !validRef(L, ref)) return 0;
  const v3& p = B ? s->pointB : s->pointA;
  LMP_iPushV3(L, ref == REF_LOCAL ? p : pointToWorld(B ? s->objectB : s->objectA, p));
  return 1;
}

// setPointA / setPointB (point, [reference]).
template <bool B>
int springSetPoint(LMP_Spring* self, lua_State* L) {
  double* p = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "V|I", &p, &ref)) return 0;
  MDL_Spring* s = rec(self);
  if (!s) return 0;
  storePoint(L, B ? s->objectB : s->objectA, B ? s->pointB : s->pointA, asV3(p), ref);
  return 0;
}

// ---- joint

MDL_Joint* rec(LMP_Joint* self) { return self->joint(); }

// getPointA/B and getAxisA/B ([reference]).
template <bool B, bool Axis>
int jointGet(LMP_Joint* self, lua_State* L) {
  int32_t ref = REF_GLOBAL;
  if (lua_gettop(L) > 0 && !LMP_iCheckArgs(L, "I", &ref)) return 0;
  MDL_Joint* j = rec(self);
  if (!j || !validRef(L, ref)) return 0;
  MDL_RigidBody* b = B ? j->objectB : j->objectA;
  const v3& v = Axis ? (B ? j->axisB : j->axisA) : (B ? j->pointB : j->pointA);
  if (ref == REF_LOCAL) LMP_iPushV3(L, v);
  else LMP_iPushV3(L, Axis ? axisToWorld(b, v) : pointToWorld(b, v));
  return 1;
}

// setPointA/B and setAxisA/B (value, [reference]).
template <bool B, bool Axis>
int jointSet(LMP_Joint* self, lua_State* L) {
  double* v = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "V|I", &v, &ref)) return 0;
  MDL_Joint* j = rec(self);
  if (!j) return 0;
  MDL_RigidBody* b = B ? j->objectB : j->objectA;
  if (Axis) storeAxis(L, b, B ? j->axisB : j->axisA, asV3(v), ref);
  else storePoint(L, b, B ? j->pointB : j->pointA, asV3(v), ref);
  return 0;
}

}  // namespace

// newSpring(body A, point A, body B, point B, [reference A], [reference B]).
LMP_Spring::LMP_Spring(lua_State* L) {
  MDL_Object* a = nullptr;
  MDL_Object* b = nullptr;
  double* pa = nullptr;
  double* pb = nullptr;
  int32_t refA = REF_GLOBAL, refB = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "RVRV|II", &a, &pa, &b, &pb, &refA, &refB)) return;
  LinkSides sides;
  if (!chooseSides(L, a, b, "Spring rigid bodies must belong to the same scene", &sides)) return;
  MDL_Spring* s = sides.scene->addSpring();
  if (!s) return;
  s->objectA = sides.a;
  s->objectB = sides.b;
  storePoint(L, sides.a, s->pointA, asV3(pa), refA);
  storePoint(L, sides.b, s->pointB, asV3(pb), refB);
  model = s;
  LMP_iAssignProxy(&s->proxy, this);
}

// newJoint(type, body A, point A, axis A, body B, point B, axis B,
//          [reference of point A], [of axis A], [of point B], [of axis B]).
LMP_Joint::LMP_Joint(lua_State* L) {
  int32_t type = 0;
  MDL_Object* a = nullptr;
  MDL_Object* b = nullptr;
  double *pa = nullptr, *xa = nullptr, *pb = nullptr, *xb = nullptr;
  int32_t refPA = REF_GLOBAL, refXA = REF_GLOBAL, refPB = REF_GLOBAL, refXB = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "IRVVRVV|IIII", &type, &a, &pa, &xa, &b, &pb, &xb, &refPA, &refXA, &refPB, &refXB))
    return;
  LinkSides sides;
  if (!chooseSides(L, a, b, "Joint rigid bodies must belong to the same scene", &sides)) return;
  MDL_Joint* j = sides.scene->addJoint();
  if (!j) return;
  j->objectA = sides.a;
  j->objectB = sides.b;
  storePoint(L, sides.a, j->pointA, asV3(pa), refPA);
  storeAxis(L, sides.a, j->axisA, asV3(xa), refXA);
  storePoint(L, sides.b, j->pointB, asV3(pb), refPB);
  storeAxis(L, sides.b, j->axisB, asV3(xb), refXB);
  // Unknown types are kept: the solver ignores them.
  j->type = uint32_t(type);
  model = j;
  LMP_iAssignProxy(&j->proxy, this);
}

const LMP_MethodEntry<LMP_Spring> LMP_Spring::methods[] = {
    LMP_iGetter<LMP_Spring, &MDL_Spring::damping>("getDamping"),
    {"getPointA", nullptr, &springGetPoint<false>},
    {"getPointB", nullptr, &springGetPoint<true>},
    LMP_iGetter<LMP_Spring, &MDL_Spring::restPosition>("getRestPosition"),
    LMP_iGetter<LMP_Spring, &MDL_Spring::stiffness>("getStiffness"),
    LMP_iSetter<LMP_Spring, &MDL_Spring::damping>("setDamping"),
    {"setPointA", nullptr, &springSetPoint<false>},
    {"setPointB", nullptr, &springSetPoint<true>},
    LMP_iSetter<LMP_Spring, &MDL_Spring::restPosition>("setRestPosition"),
    LMP_iSetter<LMP_Spring, &MDL_Spring::stiffness>("setStiffness"),
    {nullptr, nullptr, nullptr},
};

const LMP_MethodEntry<LMP_Joint> LMP_Joint::methods[] = {
    {"getAxisA", nullptr, &jointGet<false, true>},
    {"getAxisB", nullptr, &jointGet<true, true>},
    {"getPointA", nullptr, &jointGet<false, false>},
    {"getPointB", nullptr, &jointGet<true, false>},
    {"setAxisA", nullptr, &jointSet<false, true>},
    {"setAxisB", nullptr, &jointSet<true, true>},
    {"setPointA", nullptr, &jointSet<false, false>},
    {"setPointB", nullptr, &jointSet<true, false>},
    {nullptr, nullptr, nullptr},
};

LMP_BIND_CLASS(Spring, LMP_Spring);
LMP_BIND_CLASS(Joint, LMP_Joint);
