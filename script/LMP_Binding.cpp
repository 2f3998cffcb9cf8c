// Shared parts of the class binding: proxy slots, push with its userdata
// cache, check and test, the shared __gc and __tostring, registration steps
// and placeholder classes.
#include "script/LMP_Binding.h"

#include <cstdio>

namespace {

constexpr uint64_t kSlotMark = 0x4c4d5050726f7879ull;  // tells a proxy slot from other userdata

// Placeholder constructors: upvalue 1 is the class's script name.
int placeholderPush(lua_State* L, LMP_Proxy* proxy) {
  auto* name = static_cast<const char*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (!LMP_iPushProxyAs(L, proxy, name) && proxy->refCount == 0) delete proxy;
  return 1;
}

int placeholderCreate(lua_State* L) {
  LMP_iDropClassArgument(L);
  return placeholderPush(L, new LMP_Proxy());
}

int placeholderObjectCreate(lua_State* L) {
  LMP_iDropClassArgument(L);
  const LMP_ClassHooks* object = LMP_iFindClassHooks("Object");
  return placeholderPush(L, object->newObjectProxy());
}

// Object methods on a placeholder object class: self is checked against the
// placeholder's own class (upvalue 2); its instances are all object proxies.
int placeholderObjectThunk(lua_State* L) {
  auto* name = static_cast<const char*>(lua_touserdata(L, lua_upvalueindex(2)));
  LMP_Proxy* self = LMP_iCheckProxy(L, 1, name);
  if (!self->asObject()) return luaL_argerror(L, 1, name);
  lua_remove(L, 1);
  auto* e = static_cast<const LMP_MethodEntry<LMP_Object>*>(lua_touserdata(L, lua_upvalueindex(1)));
  return LMP_iFindClassHooks("Object")->callObjectMethod(self, e, L);
}

}  // namespace

LMP_ProxySlot* LMP_iToSlot(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TUSERDATA || lua_rawlen(L, index) != sizeof(LMP_ProxySlot)) return nullptr;
  auto* slot = static_cast<LMP_ProxySlot*>(lua_touserdata(L, index));
  return slot->mark == kSlotMark ? slot : nullptr;
}

LMP_Proxy** LMP_iTestProxy(lua_State* L, int index, const char* scriptName) {
  index = lua_absindex(L, index);
  LMP_ProxySlot* slot = LMP_iToSlot(L, index);
  if (!slot || !lua_getmetatable(L, index)) return nullptr;
  luaL_getmetatable(L, scriptName);
  // The metatable must be the class's, and the one the slot was made with.
  bool same = lua_rawequal(L, -1, -2) && lua_topointer(L, -1) == slot->classKey;
  lua_pop(L, 2);
  return same ? &slot->proxy : nullptr;
}

LMP_Proxy* LMP_iCheckSelf(lua_State* L, int classIndex, const char* scriptName) {
  LMP_ProxySlot* slot = LMP_iToSlot(L, 1);
  bool same = false;
  if (slot && lua_getmetatable(L, 1)) {
    same = lua_rawequal(L, -1, classIndex) && lua_topointer(L, -1) == slot->classKey;
    lua_pop(L, 1);
  }
  if (!same || !slot->proxy) luaL_argerror(L, 1, scriptName);
  return slot->proxy;
}

LMP_Proxy* LMP_iCheckProxy(lua_State* L, int index, const char* scriptName) {
  LMP_Proxy** slot = LMP_iTestProxy(L, index, scriptName);
  if (!slot || !*slot) luaL_argerror(L, index, scriptName);
  return *slot;
}

void LMP_iGetUserdataCache(lua_State* L, int index) {
  index = lua_absindex(L, index);
  lua_getfield(L, index, "userdata");
  if (!lua_isnil(L, -1)) return;
  lua_pop(L, 1);
  luaL_checkstack(L, 3, nullptr);
  lua_newtable(L);
  lua_pushvalue(L, -1);
  lua_setmetatable(L, -2);
  lua_pushliteral(L, "v");
  lua_setfield(L, -2, "__mode");
  lua_pushvalue(L, -1);
  lua_setfield(L, index, "userdata");
}

int LMP_iPushProxyAs(lua_State* L, LMP_Proxy* proxy, const char* scriptName) {
  if (!proxy) {
    lua_pushnil(L);
    return 0;
  }
  luaL_getmetatable(L, scriptName);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    LMP_iReportError(L, "%s missing metatable", scriptName);
    lua_pushnil(L);
    return 0;
  }
  int mt = lua_gettop(L);
  LMP_iGetUserdataCache(L, mt);
  lua_pushlightuserdata(L, proxy);
  lua_rawget(L, -2);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    luaL_checkstack(L, 3, nullptr);
    auto* slot = static_cast<LMP_ProxySlot*>(lua_newuserdata(L, sizeof(LMP_ProxySlot)));
    *slot = LMP_ProxySlot{proxy, scriptName, lua_topointer(L, mt), kSlotMark, 0};
    lua_pushlightuserdata(L, proxy);
    lua_pushvalue(L, -2);
    lua_rawset(L, -4);
    ++proxy->refCount;
    lua_pushvalue(L, mt);
    lua_setmetatable(L, -2);
  }
  lua_replace(L, mt);
  lua_settop(L, mt);
  return mt;
}

int LMP_iBindingGc(lua_State* L) {
  LMP_ProxySlot* slot = LMP_iToSlot(L, 1);
  if (!slot || !slot->proxy) return 0;
  LMP_Proxy* proxy = slot->proxy;
  slot->proxy = nullptr;
  if (--proxy->refCount == 0) delete proxy;
  return 0;
}

int LMP_iBindingToString(lua_State* L) {
  LMP_ProxySlot* slot = LMP_iToSlot(L, 1);
  if (!slot) return luaL_argerror(L, 1, "script object expected");
  char address[32];
  snprintf(address, sizeof address, "%p", static_cast<void*>(slot->proxy));
  lua_pushfstring(L, "%s (%s)", slot->scriptName, address);
  return 1;
}

void LMP_iBeginClass(lua_State* L, const char* scriptName, lua_CFunction create, const void* createUpvalue) {
  auto pushCreate = [&] {
    if (createUpvalue) {
      lua_pushlightuserdata(L, const_cast<void*>(createUpvalue));
      lua_pushcclosure(L, create, 1);
    } else {
      lua_pushcfunction(L, create);
    }
  };
  lua_newtable(L);  // the methods table
  luaL_newmetatable(L, scriptName);
  lua_pushvalue(L, -2);
  lua_setglobal(L, scriptName);
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, "__metatable");
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, LMP_iBindingToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushcfunction(L, LMP_iBindingGc);
  lua_setfield(L, -2, "__gc");
  lua_pop(L, 1);
  lua_newtable(L);  // the methods table's own metatable
  pushCreate();
  lua_setfield(L, -3, "new");
  pushCreate();
  lua_setfield(L, -2, "__call");
  lua_setmetatable(L, -2);
}

void LMP_iAddMethod(lua_State* L, const char* scriptName, const char* name, lua_CFunction thunk,
                    const void* entry) {
  lua_pushlightuserdata(L, const_cast<void*>(entry));
  luaL_getmetatable(L, scriptName);
  lua_pushcclosure(L, thunk, 2);
  lua_setfield(L, -2, name);
}

void LMP_iEndClass(lua_State* L) { lua_pop(L, 1); }

void LMP_iDropClassArgument(lua_State* L) {
  if (lua_gettop(L) > 0) lua_remove(L, 1);
}

void LMP_iRegisterPlaceholder(lua_State* L, const char* scriptName, const LMP_ClassHooks* objectHooks) {
  bool object = objectHooks && objectHooks->objectMethods;
  LMP_iBeginClass(L, scriptName, object ? placeholderObjectCreate : placeholderCreate, scriptName);
  if (object) {
    for (const LMP_MethodEntry<LMP_Object>* e = objectHooks->objectMethods; e->name; ++e) {
      lua_pushlightuserdata(L, const_cast<LMP_MethodEntry<LMP_Object>*>(e));
      lua_pushlightuserdata(L, const_cast<char*>(scriptName));
      lua_pushcclosure(L, placeholderObjectThunk, 2);
      lua_setfield(L, -2, e->name);
    }
  }
  LMP_iEndClass(L);
}
