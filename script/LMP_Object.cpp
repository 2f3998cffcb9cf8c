// The script class newObject: creating, placing and querying scene objects.
// Its 41 methods are the base list of every object class.
#include <lua.hpp>

#include <cmath>
#include <cstring>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "model/MDL_Object.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Engine.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_Values.h"

namespace {

constexpr double DEG_TO_RAD = 0.017453292519943295;
constexpr double PI = 3.14159265358979323846;
constexpr int32_t REF_SELF = 1, REF_LOCAL = 2, REF_GLOBAL = 3;
constexpr int32_t SCOPE_RECURSE = 2;
constexpr int32_t INTERPOL_SIN = 1, INTERPOL_BEGSIN = 2, INTERPOL_ENDSIN = 3;

// The live record of a proxy, or null once it is gone.
MDL_Object* rec(LMP_Object* self) { return self->object(); }

bool validRef(lua_State* L, int32_t ref) {
  if (ref >= REF_SELF && ref <= REF_GLOBAL) return true;
  LMP_iReportError(L, "Invalid reference ID");
  return false;
}

bool validAxis(lua_State* L, int32_t axis) {
  if (axis >= 1 && axis <= 3) return true;
  LMP_iReportError(L, "Invalid axis ID");
  return false;
}

v3& asV3(double* d) { return *reinterpret_cast<v3*>(d); }
m33& asM33(double* d) { return *reinterpret_cast<m33*>(d); }

// The frame a placement writes: local for REF_SELF and REF_LOCAL (REF_SELF
// values are first turned into the parent's axes), global for REF_GLOBAL.
MDL_Frame& editFrame(MDL_Object* o, int32_t ref) {
  return ref == REF_GLOBAL ? o->editGlobalFrame() : o->editLocalFrame();
}

double ease(double t, int32_t mode) {
  switch (mode) {
    case INTERPOL_SIN: return 0.5 - 0.5 * std::sin(PI * t + PI / 2);
    case INTERPOL_BEGSIN: return 1 - std::sin((t + 1) * PI / 2);
    case INTERPOL_ENDSIN: return -std::sin(t * PI / 2 + PI);
    default: return t;
  }
}

int pushObject(lua_State* L, MDL_Object* o) {
  if (!o) return 0;
  return LMP_iPushProxy(L, o);
}

// ---- tree

int objDelete(LMP_Object* self, lua_State* L) {
  LMP_iCheckArgs(L, "");
  CTRL_Generic* controller = LMP_iGetController(L);
  if (!controller) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  // An object already taken out with an ancestor or by the scene's clear is
  // not detached a second time.
  if (!o->deleted) controller->detachObject(o);
  self->model = nullptr;
  return 0;
}

int objGetBoundingBox(LMP_Object*, lua_State* L) {
  lua_createtable(L, 6, 0);
  for (int k = 1; k <= 6; ++k) {
    lua_pushnumber(L, 0);
    lua_rawseti(L, -2, k);
  }
  return 1;
}

int objGetChild(LMP_Object* self, lua_State* L) {
  const char* name = nullptr;
  if (lua_gettop(L) > 0 && !LMP_iCheckArgs(L, "S", &name)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  if (!name) return pushObject(L, o->firstChild);
  for (MDL_Object* c = o->firstChild; c; c = c->nextSibling)
    if (MDL_iSameName(c->name, name)) return pushObject(L, c);
  return 0;
}

int objGetChildrenCount(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o) return 0;
  int n = 0;
  for (MDL_Object* c = o->firstChild; c; c = c->nextSibling) ++n;
  lua_pushnumber(L, n);
  return 1;
}

int objGetDescendant(LMP_Object* self, lua_State* L) {
  const char* name = nullptr;
  if (!LMP_iCheckArgs(L, "S", &name)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  return pushObject(L, o->getDescendant(name));
}

int objGetParent(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  return o ? pushObject(L, o->parent) : 0;
}

int objGetScene(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o || !o->scene || !o->scene->proxy) return 0;
  LMP_Binding<LMP_Scene>::push(L, static_cast<LMP_Scene*>(o->scene->proxy));
  return 1;
}

int objGetSibling(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  return o ? pushObject(L, o->nextSibling) : 0;
}

// ---- frames

int objGetPosition(LMP_Object* self, lua_State* L) {
  int32_t ref = REF_GLOBAL;
  if (lua_gettop(L) > 0) LMP_iCheckArgs(L, "I", &ref);
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  v3 p{0, 0, 0};
  if (ref == REF_LOCAL) p = o->getLocalFrame().position;
  else if (ref == REF_GLOBAL) p = o->getGlobalFrame().position;
  LMP_iPushV3(L, p);
  return 1;
}

int objGetBasis(LMP_Object* self, lua_State* L) {
  int32_t ref = REF_GLOBAL;
  LMP_iCheckArgs(L, "|I", &ref);
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  m33 b = m33::identity();
  if (ref == REF_LOCAL) b = o->getLocalFrame().basis;
  else if (ref == REF_GLOBAL) b = o->getGlobalFrame().basis;
  LMP_iPushM33(L, b);
  return 1;
}

int objGetScale(LMP_Object* self, lua_State* L) {
  int32_t ref = REF_GLOBAL;
  if (lua_gettop(L) > 0) LMP_iCheckArgs(L, "I", &ref);
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  v3 s{1, 1, 1};
  if (ref != REF_SELF) {
    const m33& b = ref == REF_LOCAL ? o->getLocalFrame().basis : o->getGlobalFrame().basis;
    s = v3{v3::length(b.c[0]), v3::length(b.c[1]), v3::length(b.c[2])};
  }
  LMP_iPushV3(L, s);
  return 1;
}

int objGetAxis(LMP_Object* self, lua_State* L) {
  int32_t axis = 0, ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "I|I", &axis, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validAxis(L, axis) || !validRef(L, ref)) return 0;
  v3 a{0, 0, 0};
  if (ref == REF_SELF) (&a.x)[axis - 1] = 1;
  else a = (ref == REF_LOCAL ? o->getLocalFrame() : o->getGlobalFrame()).basis.c[axis - 1];
  LMP_iPushV3(L, a);
  return 1;
}

int objRotate(LMP_Object* self, lua_State* L) {
  double* axis = nullptr;
  double degrees = 0;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "VN|I", &axis, &degrees, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF) m33::transform(o->getLocalFrame().basis, asV3(axis));
  MDL_Frame& f = editFrame(o, ref);
  m33::rotate(f.basis, asV3(axis), degrees * DEG_TO_RAD);
  f.inverseDirty = 1;
  return 0;
}

int objRotateAxis(LMP_Object* self, lua_State* L) {
  int32_t axis = 0;
  double degrees = 0;
  if (!LMP_iCheckArgs(L, "IN", &axis, &degrees)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validAxis(L, axis)) return 0;
  MDL_Frame& f = o->editLocalFrame();
  m33::rotateAxis(f.basis, axis - 1, degrees * DEG_TO_RAD);
  f.inverseDirty = 1;
  return 0;
}

int objSetScale(LMP_Object* self, lua_State* L) {
  double* s = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "V|I", &s, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  if (ref == REF_SELF) {
    LMP_iReportError(L, "Invalid reference ID");
    return 0;
  }
  if (!validRef(L, ref)) return 0;
  MDL_Frame& f = editFrame(o, ref);
  m33::setScale(f.basis, asV3(s));
  f.inverseDirty = 1;
  return 0;
}

int objScale(LMP_Object* self, lua_State* L) {
  double* s = nullptr;
  if (!LMP_iCheckArgs(L, "V", &s)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  MDL_Frame& f = o->editLocalFrame();
  for (int i = 0; i < 3; ++i) f.basis.c[i] *= s[i];
  f.inverseDirty = 1;
  return 0;
}

int objSetPosition(LMP_Object* self, lua_State* L) {
  double* p = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckV3OptInt(L, &p, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF) MDL_Frame::localToGlobalPointInPlace(o->getLocalFrame(), asV3(p));
  editFrame(o, ref).position = asV3(p);
  return 0;
}

int objSetBasis(LMP_Object* self, lua_State* L) {
  double* m = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "M|I", &m, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF)
    for (int i = 0; i < 3; ++i) m33::transform(o->getLocalFrame().basis, asM33(m).c[i]);
  MDL_Frame& f = editFrame(o, ref);
  f.basis = asM33(m);
  f.inverseDirty = 1;
  return 0;
}

int objTranslate(LMP_Object* self, lua_State* L) {
  double* d = nullptr;
  int32_t ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "V|I", &d, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF) m33::transform(o->getLocalFrame().basis, asV3(d));
  editFrame(o, ref).position += asV3(d);
  return 0;
}

int objInterpolateBasis(LMP_Object* self, lua_State* L) {
  double *a = nullptr, *b = nullptr, t = 0;
  int32_t mode = 0, ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "MMN|II", &a, &b, &t, &mode, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF) {
    const m33& basis = o->getLocalFrame().basis;
    for (int i = 0; i < 3; ++i) {
      m33::transform(basis, asM33(a).c[i]);
      m33::transform(basis, asM33(b).c[i]);
    }
  }
  m33 out;
  m33::interpolateBasis(out, asM33(a), asM33(b), ease(t, mode));
  MDL_Frame& f = editFrame(o, ref);
  f.basis = out;
  f.inverseDirty = 1;
  return 0;
}

int objInterpolatePosition(LMP_Object* self, lua_State* L) {
  double *a = nullptr, *b = nullptr, t = 0;
  int32_t mode = 0, ref = REF_GLOBAL;
  if (!LMP_iCheckArgs(L, "VVN|II", &a, &b, &t, &mode, &ref)) return 0;
  MDL_Object* o = rec(self);
  if (!o || !validRef(L, ref)) return 0;
  if (ref == REF_SELF) {
    const m33& basis = o->getLocalFrame().basis;
    m33::transform(basis, asV3(a));
    m33::transform(basis, asV3(b));
  }
  double e = ease(t, mode);
  editFrame(o, ref).position = asV3(a) * (1 - e) + asV3(b) * e;
  return 0;
}

int objLocalToGlobalPoint(LMP_Object* self, lua_State* L) {
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  v3 out;
  MDL_Frame::localToGlobalPoint(o->getGlobalFrame(), asV3(p), out);
  LMP_iPushV3(L, out);
  return 1;
}

int objLocalToGlobalVector(LMP_Object* self, lua_State* L) {
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  LMP_iPushV3(L, m33::apply(o->getGlobalFrame().basis, asV3(p)));
  return 1;
}

int objGlobalToLocalPoint(LMP_Object* self, lua_State* L) {
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  v3 out;
  MDL_Frame::globalToLocalPoint(o->getGlobalFrame(), asV3(p), out);
  LMP_iPushV3(L, out);
  return 1;
}

int objGlobalToLocalVector(LMP_Object* self, lua_State* L) {
  double* p = nullptr;
  if (!LMP_iCheckArgs(L, "V", &p)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  const MDL_Frame& g = o->getGlobalFrame();
  MDL_Frame::validateInverse(g);
  LMP_iPushV3(L, m33::apply(g.inverse, asV3(p)));
  return 1;
}

int objSetMaxMouseMove(LMP_Object* self, lua_State* L) {
  double d = 0;
  int32_t scope = SCOPE_RECURSE;
  if (!LMP_iCheckArgs(L, "N|I", &d, &scope)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  o->maxMouseMove = d;
  if (scope == SCOPE_RECURSE) o->setMaxMouseMove(d);
  return 0;
}

// ---- identity and state

int objGetType(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o) return 0;
  lua_pushnumber(L, o->type);
  return 1;
}

int objGetName(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o || !o->name) return 0;
  lua_pushstring(L, o->name);
  return 1;
}

int objSetName(LMP_Object* self, lua_State* L) {
  const char* name = nullptr;
  if (LMP_iCheckArgs(L, "S", &name)) {
    if (MDL_Object* o = rec(self)) o->setName(name);
    return 0;
  }
  int top = lua_gettop(L);
  if (top > 0 && lua_isnil(L, top)) {
    if (MDL_Object* o = rec(self)) o->setName(nullptr);
  } else {
    LMP_iReportError(L, "Wrong usage of setName");
  }
  return 0;
}

int objExist(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  lua_pushboolean(L, o && !o->deleted);
  return 1;
}

int objGetState(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o) return 0;
  lua_pushnumber(L, o->state);
  return 1;
}

int objHasState(LMP_Object* self, lua_State* L) {
  int32_t bits = 0;
  if (!LMP_iCheckArgs(L, "I", &bits)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  lua_pushboolean(L, (o->state & uint32_t(bits)) == uint32_t(bits));
  return 1;
}

// The four state methods: the object first, then (with SCOPE_RECURSE, the
// default) every descendant through the tree's recursive setter.
template <int Op>
int objStateOp(LMP_Object* self, lua_State* L) {
  int32_t bits = 0, scope = SCOPE_RECURSE;
  if (!LMP_iCheckArgs(L, "I|I", &bits, &scope)) return 0;
  MDL_Object* o = rec(self);
  if (!o) return 0;
  uint32_t b = uint32_t(bits);
  switch (Op) {
    case 0: o->state = b; break;
    case 1: o->state |= b; break;
    case 2: o->state &= ~b; break;
    default: o->state ^= b; break;
  }
  if (scope != SCOPE_RECURSE) return 0;
  switch (Op) {
    case 0: o->setState(b); break;
    case 1: o->enableState(b); break;
    case 2: o->disableState(b); break;
    default: o->toggleState(b); break;
  }
  return 0;
}

// The object argument of setParent and isDescendant: the last value, if it
// is an object proxy that still has its record.
MDL_Object* lastObjectArgument(lua_State* L) {
  if (lua_gettop(L) == 0) return nullptr;
  LMP_Object* p = LMP_iToProxy(L, -1);
  return p ? p->object() : nullptr;
}

int objSetParent(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  if (!o) return 0;
  bool given = lua_gettop(L) > 0 && LMP_iToProxy(L, -1);
  MDL_Object* parent = lastObjectArgument(L);
  // Refused, leaving the tree as it is: a deleted object (freed at the end
  // of the frame) as either side, a parent of another world, or a parent
  // inside the object's own subtree, which would make a cycle.
  if (given && !parent) return 0;
  if (o->deleted) return 0;
  if (parent && (parent->deleted || parent->scene != o->scene || parent == o || parent->hasAncestor(o))) return 0;
  if (parent) {
    // Keeps its place in the world under the new parent (the same parent
    // too: it then moves to the end of the child list).
    o->validateGlobalFrame();
    o->unlinkFromParent();
    parent->addChild(o);
    return 0;
  }
  // Becoming a root: the local values become the placement in the world.
  // Both frames are brought up to date while the old parent still counts.
  o->validateLocalFrame();
  o->validateGlobalFrame();
  o->invalidateDescendants();
  o->unlinkFromParent();
  o->globalValid = 0;
  return 0;
}

int objIsDescendant(LMP_Object* self, lua_State* L) {
  MDL_Object* o = rec(self);
  MDL_Object* other = lastObjectArgument(L);
  lua_pushboolean(L, o && other && o->hasAncestor(other));
  return 1;
}

// ---- script data

int objSetCallback(LMP_Object* self, lua_State* L) { return LMP_iSetCallbackMethod(L, &self->callbacks); }
int objSetUserData(LMP_Object* self, lua_State* L) { return LMP_iSetUserData(L, &self->userData); }
int objGetUserData(LMP_Object* self, lua_State* L) { return LMP_iGetUserData(L, self->userData); }

MDL_Object* makePlainObject() { return new MDL_Object(); }

}  // namespace

int LMP_iSetUserData(lua_State* L, uint32_t* ref) {
  if (*ref != 0 && int(*ref) != LUA_REFNIL) luaL_unref(L, LUA_REGISTRYINDEX, int(*ref));
  *ref = 0;
  lua_settop(L, 1);
  *ref = uint32_t(luaL_ref(L, LUA_REGISTRYINDEX));
  return 0;
}

int LMP_iGetUserData(lua_State* L, uint32_t ref) {
  if (ref == 0) return 0;
  if (int(ref) == LUA_REFNIL) lua_pushnil(L);
  else lua_rawgeti(L, LUA_REGISTRYINDEX, int(ref));
  return 1;
}

int LMP_iSetCallbackMethod(lua_State* L, LMP_CallbackTable* table) {
  int32_t id = 0;
  uint32_t ref = 0;
  if (!LMP_iCheckArgs(L, "IF", &id, &ref)) return 0;
  // An id outside the table is ignored; its reference is released there.
  LMP_iSetCallback(L, table, id, ref);
  return 0;
}

MDL_Scene* LMP_iObjectTarget(lua_State* L, const char* className, MDL_Object** parent) {
  int n = lua_gettop(L);
  if (n > 2) LMP_iReportError(L, "Too much arguments for %s", className);
  *parent = nullptr;
  if (LMP_Object* p = n >= 1 ? LMP_iToProxy(L, 1) : nullptr) {
    // A parent that is gone, or marked deleted and freed at the end of the
    // frame, cannot take a child.
    if (!p->object() || p->object()->deleted) {
      LMP_iReportError(L, "Unable to retreive Scene");
      return nullptr;
    }
    *parent = p->object();
    return (*parent)->scene;
  }
  return LMP_Binding<LMP_Scene>::check(L, 1)->scene();
}

void LMP_iPlaceNewObject(LMP_Object* self, MDL_Object* o, MDL_Scene* scene, MDL_Object* parent) {
  scene->addObject(o);
  if (parent) {
    o->moved = 1;
    o->globalFrame = parent->getGlobalFrame();
    o->globalValid = 1;
    o->localValid = 0;
    parent->addChild(o);
  }
  self->model = o;
  LMP_iAssignProxy(&o->proxy, self);
}

void LMP_iConstructObject(LMP_Object* self, lua_State* L, const char* className, MDL_Object* (*make)(),
                          int32_t ownType) {
  MDL_Object* parent = nullptr;
  MDL_Scene* scene = LMP_iObjectTarget(L, className, &parent);
  if (!scene) return;
  if (lua_gettop(L) < 2) {
    LMP_iPlaceNewObject(self, make(), scene, parent);
    return;
  }
  // The source must be of the constructor's own class and still exist (not
  // marked deleted either).
  LMP_Proxy** slot = LMP_iTestProxy(L, 2, className);
  LMP_Object* source = slot && *slot ? static_cast<LMP_Object*>(*slot) : nullptr;
  if (!source || !source->object() || source->object()->deleted) {
    luaL_argerror(L, 2, className);
    return;
  }
  MDL_Object* o = scene->clone(source->object(), ownType);
  if (!o) return;
  if (parent) parent->addChild(o);
  self->model = o;
  LMP_iAssignProxy(&o->proxy, self);
}

LMP_Object::LMP_Object(lua_State* L) { LMP_iConstructObject(this, L, "newObject", &makePlainObject); }

const char* LMP_Object::className() const { return "newObject"; }

bool LMP_Object::dispatchCallback(LMP_Engine* engine, int id, va_list extra) {
  uint32_t ref = callbacks.get(id);
  if (ref == 0 || !engine) return false;
  lua_State* L = engine->luaState();
  MDL_Object* o = object();
  if (!L || !o) return false;
  switch (id) {
    case CB_MOUSE_DOWN:
    case CB_MOUSE_UP:
    case CB_MOUSE_CLICK: {
      MDL_Object* hit = va_arg(extra, MDL_Object*);
      const v3* point = va_arg(extra, const v3*);
      lua_checkstack(L, 6);
      int base = lua_gettop(L);
      lua_rawgeti(L, LUA_REGISTRYINDEX, int(ref));
      if (!LMP_iPushProxy(L, o)) lua_pushnil(L);
      if (!LMP_iPushProxy(L, hit)) lua_pushnil(L);
      LMP_iPushV3(L, point ? *point : v3{0, 0, 0});
      bool ok = engine->protectedCall(3, 0);
      lua_settop(L, base);  // drops an error value left by a failed call
      return ok;
    }
    case CB_MOVED: {
      lua_checkstack(L, 4);
      int base = lua_gettop(L);
      lua_rawgeti(L, LUA_REGISTRYINDEX, int(ref));
      if (!LMP_iPushProxy(L, o)) lua_pushnil(L);
      bool ok = engine->protectedCall(1, 0);
      lua_settop(L, base);
      return ok;
    }
    default:
      LMP_iReportError(L, "Unhandled object callback");
      return false;
  }
}

const LMP_MethodEntry<LMP_Object> LMP_Object::methods[] = {
    {"delete", nullptr, &objDelete},
    {"getBoundingBox", nullptr, &objGetBoundingBox},
    {"getChild", nullptr, &objGetChild},
    {"getChildrenCount", nullptr, &objGetChildrenCount},
    {"getDescendant", nullptr, &objGetDescendant},
    {"getParent", nullptr, &objGetParent},
    {"getScene", nullptr, &objGetScene},
    {"getPosition", nullptr, &objGetPosition},
    {"getBasis", nullptr, &objGetBasis},
    {"getScale", nullptr, &objGetScale},
    {"getSibling", nullptr, &objGetSibling},
    {"getUserData", nullptr, &objGetUserData},
    {"getAxis", nullptr, &objGetAxis},
    {"rotate", nullptr, &objRotate},
    {"rotateAxis", nullptr, &objRotateAxis},
    {"setScale", nullptr, &objSetScale},
    {"scale", nullptr, &objScale},
    {"setCallback", nullptr, &objSetCallback},
    {"setPosition", nullptr, &objSetPosition},
    {"setBasis", nullptr, &objSetBasis},
    {"setUserData", nullptr, &objSetUserData},
    {"translate", nullptr, &objTranslate},
    {"interpolateBasis", nullptr, &objInterpolateBasis},
    {"interpolatePosition", nullptr, &objInterpolatePosition},
    {"localToGlobalPoint", nullptr, &objLocalToGlobalPoint},
    {"localToGlobalVector", nullptr, &objLocalToGlobalVector},
    {"globalToLocalPoint", nullptr, &objGlobalToLocalPoint},
    {"globalToLocalVector", nullptr, &objGlobalToLocalVector},
    {"setMaxMouseMove", nullptr, &objSetMaxMouseMove},
    {"getType", nullptr, &objGetType},
    {"getName", nullptr, &objGetName},
    {"setName", nullptr, &objSetName},
    {"exist", nullptr, &objExist},
    {"getState", nullptr, &objGetState},
    {"setState", nullptr, &objStateOp<0>},
    {"hasState", nullptr, &objHasState},
    {"enableState", nullptr, &objStateOp<1>},
    {"disableState", nullptr, &objStateOp<2>},
    {"toggleState", nullptr, &objStateOp<3>},
    {"setParent", nullptr, &objSetParent},
    {"isDescendant", nullptr, &objIsDescendant},
    {nullptr, nullptr, nullptr},
};

LMP_BIND_CLASS(Object, LMP_Object);
