// The script class newScene: one physics world, its constants, its objects
// by name, and the four scene callbacks fired by the physics step.
#include <lua.hpp>

#include <cmath>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "model/MDL_Object.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Engine.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_Values.h"

LMP_Scene::LMP_Scene(lua_State* L) {
  CTRL_Generic* controller = LMP_iGetController(L);
  if (!controller) return;
  const char* name = nullptr;
  if (lua_gettop(L) >= 1 && (lua_type(L, 1) == LUA_TSTRING || lua_type(L, 1) == LUA_TNUMBER))
    name = lua_tostring(L, 1);
  MDL_Scene* s = new MDL_Scene(name);
  if (!controller->scenes.append(s)) {
    delete s;
    return;
  }
  model = s;
  LMP_iAssignProxy(&s->proxy, this);
}

namespace {

MDL_Scene* rec(LMP_Scene* self) { return self->scene(); }

int sceneClear(LMP_Scene* self, lua_State* L) {
  CTRL_Generic* controller = LMP_iGetController(L);
  MDL_Scene* s = rec(self);
  if (!controller || !s) return 0;
  // Objects already taken out with an ancestor are skipped: detaching them
  // again would walk a child chain they are no longer part of.
  int n = s->objects.count;
  for (int i = 0; i < n && i < s->objects.count; ++i) {
    MDL_Object* o = s->objects.data[i];
    if (!o->deleted) controller->detachObject(o);
  }
  return 0;
}

int sceneGetBounds(LMP_Scene* self, lua_State* L) {
  MDL_Scene* s = rec(self);
  if (!s) return 0;
  lua_createtable(L, 6, 0);
  for (int k = 0; k < 6; ++k) {
    lua_pushnumber(L, s->bounds[k]);
    lua_rawseti(L, -2, k + 1);
  }
  return 1;
}

int sceneSetBounds(LMP_Scene* self, lua_State* L) {
  MDL_Scene* s = rec(self);
  int top = lua_gettop(L);
  if (!s || top == 0 || !lua_istable(L, top)) return 0;
  double b[6];
  for (int k = 0; k < 6; ++k) {
    lua_pushinteger(L, k + 1);
    lua_gettable(L, top);  // ordinary indexing: metamethods apply
    int isNumber = 0;
    double v = 0;
    if (lua_type(L, -1) == LUA_TNUMBER || lua_type(L, -1) == LUA_TSTRING) v = lua_tonumberx(L, -1, &isNumber);
    b[k] = isNumber ? v : 0.0;
    lua_pop(L, 1);
  }
  for (int k = 0; k < 6; ++k) s->bounds[k] = b[k];
  return 0;
}

int sceneGetObject(LMP_Scene* self, lua_State* L) {
  int top = lua_gettop(L);
  if (top == 0 || (lua_type(L, top) != LUA_TNUMBER && lua_type(L, top) != LUA_TSTRING)) {
    LMP_iReportError(L, "Object name ommited");
    return 0;
  }
  MDL_Scene* s = rec(self);
  if (!s) return 0;
  const char* name = lua_tostring(L, top);
  for (int i = 0; i < s->objects.count; ++i)
    if (MDL_iSameName(s->objects.data[i]->name, name)) return LMP_iPushProxy(L, s->objects.data[i]);
  return 0;
}

int sceneSetIntegrationStep(LMP_Scene* self, lua_State* L) {
  double step = 0;
  if (!LMP_iCheckArgs(L, "N", &step)) return 0;
  MDL_Scene* s = rec(self);
  // The controller divides each frame time by the step: a step that is not
  // a positive number would ask for an endless run of sub-steps. It is
  // refused and the world keeps its step.
  if (!s || !(step > 0) || !std::isfinite(step)) return 0;
  s->integrationStep = step;
  return 0;
}

int sceneSetCallback(LMP_Scene* self, lua_State* L) { return LMP_iSetCallbackMethod(L, &self->callbacks); }
int sceneSetUserData(LMP_Scene* self, lua_State* L) { return LMP_iSetUserData(L, &self->userData); }
int sceneGetUserData(LMP_Scene* self, lua_State* L) { return LMP_iGetUserData(L, self->userData); }

// Pushes an object of a contact, nil for none.
void pushContactObject(lua_State* L, MDL_Object* o) {
  if (!o || !LMP_iPushProxy(L, o)) lua_pushnil(L);
}

}  // namespace

bool LMP_Scene::dispatchCallback(LMP_Engine* engine, int id, va_list extra) {
  uint32_t ref = callbacks.get(id);
  if (ref == 0) return id == CB_PRE_COLLISION;
  lua_State* L = engine ? engine->luaState() : nullptr;
  if (!L) return false;
  int base = lua_gettop(L);
  lua_checkstack(L, 12);
  switch (id) {
    case CB_MECHA:
    case CB_POST_INTEGRATION: {
      double dt = va_arg(extra, double);
      lua_rawgeti(L, LUA_REGISTRYINDEX, int(ref));
      lua_pushnumber(L, dt);
      bool ok = engine->protectedCall(1, 0);
      lua_settop(L, base);
      return ok;
    }
    case CB_PRE_COLLISION:
    case CB_POST_COLLISION: {
      const v3* point = va_arg(extra, const v3*);
      const v3* normal = va_arg(extra, const v3*);
      double amount = va_arg(extra, double);
      MDL_Object* objects[4];
      for (MDL_Object*& o : objects) o = va_arg(extra, MDL_Object*);
      lua_rawgeti(L, LUA_REGISTRYINDEX, int(ref));
      LMP_Binding<LMP_Scene>::push(L, this);
      LMP_iPushV3(L, point ? *point : v3{0, 0, 0});
      LMP_iPushV3(L, normal ? *normal : v3{0, 0, 0});
      lua_pushnumber(L, amount);
      for (MDL_Object* o : objects) pushContactObject(L, o);
      bool pre = id == CB_PRE_COLLISION;
      bool ok = engine->protectedCall(8, pre ? 1 : 0);
      if (ok && pre) ok = lua_toboolean(L, -1) != 0;  // nil or false reject the contact
      lua_settop(L, base);
      return ok;
    }
    default:
      LMP_iReportError(L, "Unhandled scene callback");
      return false;
  }
}

const LMP_MethodEntry<LMP_Scene> LMP_Scene::methods[] = {
    {"clear", nullptr, &sceneClear},
    {"getBounds", nullptr, &sceneGetBounds},
    LMP_iGetter<LMP_Scene, &MDL_Scene::elasticity>("getElasticity"),
    LMP_iGetter<LMP_Scene, &MDL_Scene::friction>("getFriction"),
    LMP_iGetter<LMP_Scene, &MDL_Scene::gravity>("getGravity"),
    LMP_iGetter<LMP_Scene, &MDL_Scene::integrationStep>("getIntegrationStep"),
    {"getObject", nullptr, &sceneGetObject},
    {"setBounds", nullptr, &sceneSetBounds},
    {"setCallback", nullptr, &sceneSetCallback},
    LMP_iSetter<LMP_Scene, &MDL_Scene::friction>("setFriction"),
    LMP_iSetter<LMP_Scene, &MDL_Scene::elasticity>("setElasticity"),
    LMP_iSetter<LMP_Scene, &MDL_Scene::gravity>("setGravity"),
    {"setIntegrationStep", nullptr, &sceneSetIntegrationStep},
    {"setUserData", nullptr, &sceneSetUserData},
    {"getUserData", nullptr, &sceneGetUserData},
    LMP_iSetter<LMP_Scene, &MDL_Scene::active>("setActive"),
    LMP_iGetter<LMP_Scene, &MDL_Scene::active>("getActive"),
    {nullptr, nullptr, nullptr},
};

LMP_BIND_CLASS(Scene, LMP_Scene);
