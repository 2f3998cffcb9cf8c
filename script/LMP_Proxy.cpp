// Proxy counts, the record link, callback tables.
#include "script/LMP_Proxy.h"

#include <lua.hpp>

LMP_Proxy::~LMP_Proxy() {
  // In the normal course the record released us first; if it still names
  // this proxy, make sure it never follows the pointer again.
  if (model && link && *link == this) *link = nullptr;
  model = nullptr;
}

bool LMP_Proxy::dispatchCallback(LMP_Engine*, int, va_list) { return false; }

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

void LMP_iAssignProxy(MDL_Proxy* link, LMP_Proxy* proxy) {
  if (!link || *link == proxy) return;
  if (LMP_Proxy* old = *link) {
    *link = nullptr;
    old->model = nullptr;
    old->link = nullptr;
    if (--old->refCount == 0) delete old;
  }
  *link = proxy;
  if (proxy) {
    ++proxy->refCount;
    proxy->link = link;
  }
}

void LMP_iReleaseProxy(MDL_Proxy* link) {
  if (!link || !*link) return;
  LMP_Proxy* proxy = *link;
  *link = nullptr;
  proxy->model = nullptr;
  proxy->link = nullptr;
  if (--proxy->refCount == 0) delete proxy;
}
