// Proxy counts, the record link, callback tables.
#include "script/LMP_Proxy.h"

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "model/MDL_Object.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Engine.h"

bool LMP_iSetCallback(lua_State* L, LMP_CallbackTable* table, int id, uint32_t ref) {
  if (id < 1 || id > LMP_CALLBACK_COUNT) {
    if (ref > 0) luaL_unref(L, LUA_REGISTRYINDEX, int(ref));
    return false;
  }
  uint32_t old = table->ref[id - 1];
  table->ref[id - 1] = ref;
  if (old > 0 && old != ref) luaL_unref(L, LUA_REGISTRYINDEX, int(old));
  return true;
}

// ----- Objects and script values ----------------------------------------------

namespace {

// The class of each object type code (null: no class).
const char* const kObjectClassTags[] = {
    "Object", "Lamp",  "Camera", "Mesh",    "RigidBody",       "Sound",  "Bone",  "AnimatedMesh",
    "Text",   nullptr, "Image",  "Mike",    "Polyline",        "CollisionVolume", "Locator",
};
const char* const kObjectClassNames[] = {
    "newObject", "newLamp", "newCamera", "newMesh",     "newRigidBody",       "newSound",  "newBone",
    "newAnimatedMesh", "newText", nullptr, "newImage", "newMike", "newPolyline", "newCollisionVolume",
    "newLocator",
};
constexpr int kObjectTypeCount = int(sizeof kObjectClassTags / sizeof kObjectClassTags[0]);

// The classes whose instances count as objects for LMP_iToProxy, in order.
const char* const kToProxyClasses[] = {
    "newObject", "newMesh", "newRigidBody", "newText", "newSound", "newCamera",
    "newLamp",   "newImage", "newMike",     "newPolyline", "newBone",
};

}  // namespace

int LMP_iPushProxy(lua_State* L, MDL_Object* object) {
  if (!object) {
    lua_pushnil(L);
    return 1;
  }
  int type = object->type;
  const char* name = type >= 0 && type < kObjectTypeCount ? kObjectClassNames[type] : nullptr;
  if (!name) {
    LMP_iReportError(L, "LMP_iPushProxy -> Unknown object type");
    return 0;
  }
  // A class not built into this player still gets object proxies, made by
  // the Object class, under its own script name.
  const LMP_ClassHooks* hooks = LMP_iFindClassHooks(kObjectClassTags[type]);
  const LMP_ClassHooks* maker = hooks ? hooks : LMP_iFindClassHooks("Object");
  if (!maker || !maker->newObjectProxy) {
    LMP_iReportError(L, "LMP_iPushProxy -> Unknown object type");
    return 0;
  }
  if (!object->proxy) {
    LMP_Proxy* proxy = maker->newObjectProxy();
    proxy->model = object;
    LMP_iAssignProxy(&object->proxy, proxy);
  }
  if (hooks)
    hooks->push(L, object->proxy);
  else
    LMP_iPushProxyAs(L, object->proxy, name);
  return 1;
}

LMP_Object* LMP_iToProxy(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TUSERDATA) return nullptr;
  for (const char* name : kToProxyClasses) {
    LMP_Proxy** slot = LMP_iTestProxy(L, index, name);
    if (slot && *slot) return (*slot)->asObject();
  }
  return nullptr;
}

bool LMP_iFireCallback(MDL_Proxy* link, CTRL_ScriptEngine* engine, int id, ...) {
  if (!link || !*link || !engine) return false;
  LMP_Proxy* proxy = *link;
  if (!proxy->model) return false;
  auto* lmp = dynamic_cast<LMP_Engine*>(engine);
  if (!lmp || !lmp->getController() || lmp->getController()->halted) return false;
  // An object marked deleted waits for the end-of-frame purge: its
  // handlers must not run any more.
  if (proxy->asObject() && static_cast<MDL_Object*>(proxy->model)->deleted) return false;
  va_list extra;
  va_start(extra, id);
  bool answer = proxy->dispatchCallback(lmp, id, extra);
  va_end(extra);
  return answer;
}
