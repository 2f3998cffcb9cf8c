// The script engine: state set-up, the start sequence, the per-tick calls,
// protected calls and the variant interface.
//
// Anything that may allocate inside the Lua state (pushing strings or
// values, reading globals through metamethods, collecting) can raise an
// error: a memory error, an __index that fails, or a failing __gc run by a
// collection step. Outside a protected call such an error would reach the
// panic handler and end the process, so every entry point does its pushing
// and calling inside one protected body (runProtected) and reports failures
// to the controller's error stop like any script error.
#include "script/LMP_Engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "model/MDL_Objects.h"
#include "package/CTRL_File.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Library.h"
#include "script/LMP_Values.h"

namespace {

// ----- State set-up ----------------------------------------------------------

// The 26 script classes in registration order: tag of LMP_BIND_CLASS, script
// name, and whether the class is an object class.
struct ClassRow {
  const char* tag;
  const char* scriptName;
  bool object;
};
const ClassRow kClasses[] = {
    {"Scene", "newScene", false},
    {"Viewport", "newViewport", false},
    {"Object", "newObject", true},
    {"Mesh", "newMesh", true},
    {"AnimatedMesh", "newAnimatedMesh", true},
    {"RigidBody", "newRigidBody", true},
    {"Sound", "newSound", true},
    {"Text", "newText", true},
    {"Lamp", "newLamp", true},
    {"Camera", "newCamera", true},
    {"Mike", "newMike", true},
    {"Image", "newImage", true},
    {"Polyline", "newPolyline", true},
    {"Texture", "newTexture", false},
    {"Sample", "newSample", false},
    {"Bone", "newBone", true},
    {"Stream", "newStream", false},
    {"Font", "newFont", false},
    {"ModelsSet", "newModelsSet", false},
    {"Material", "newMaterial", false},
    {"Spring", "newSpring", false},
    {"Joint", "newJoint", false},
    {"CollisionVolume", "newCollisionVolume", true},
    {"AnimationData", "newAnimationData", false},
    {"Animation", "newAnimation", false},
    {"Locator", "newLocator", true},
};

void openClasses(lua_State* L) {
  const LMP_ClassHooks* object = LMP_iFindClassHooks("Object");
  for (const ClassRow& row : kClasses) {
    if (const LMP_ClassHooks* hooks = LMP_iFindClassHooks(row.tag))
      hooks->registerClass(L);
    else
      LMP_iRegisterPlaceholder(L, row.scriptName, row.object ? object : nullptr);
  }
}

// The standard libraries in the stock order, with our io library in its
// slot, then the player's own loader, module search, print and debug prompt.
void openLibraries(lua_State* L) {
  static const luaL_Reg libraries[] = {
      {"_G", luaopen_base},
      {LUA_LOADLIBNAME, luaopen_package},
      {LUA_COLIBNAME, luaopen_coroutine},
      {LUA_TABLIBNAME, luaopen_table},
      {LUA_IOLIBNAME, LMP_iOpenIo},
      {LUA_OSLIBNAME, luaopen_os},
      {LUA_STRLIBNAME, luaopen_string},
      {LUA_BITLIBNAME, luaopen_bit32},
      {LUA_MATHLIBNAME, luaopen_math},
      {LUA_DBLIBNAME, luaopen_debug},
      {nullptr, nullptr},
  };
  for (const luaL_Reg* lib = libraries; lib->func; ++lib) {
    luaL_requiref(L, lib->name, lib->func, 1);
    lua_pop(L, 1);
  }
  luaL_getsubtable(L, LUA_REGISTRYINDEX, "_PRELOAD");
  lua_pop(L, 1);
  LMP_iInstallLoader(L);
  LMP_iInstallOutput(L);
}

// The instruction-count hook (inherited by every coroutine of the state).
void interruptHook(lua_State* L, lua_Debug*) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  auto* extra = static_cast<LMP_GlobalStateExtra*>(ud);
  if (!extra->interrupted) {
    if (!LMP_gInterruptCheck || !LMP_gInterruptCheck()) return;
    extra->interrupted = true;
  }
  lua_sethook(L, interruptHook, LUA_MASKCOUNT, 1);
  luaL_error(L, "script stopped: the player is quitting");
}

int setUpState(lua_State* L) {
  openLibraries(L);
  lua_sethook(L, interruptHook, LUA_MASKCOUNT, LMP_INTERRUPT_COUNT);
  lua_gc(L, LUA_GCSETPAUSE, 100);
  lua_gc(L, LUA_GCSETSTEPMUL, 300);
  LMP_iOpenGlobals(L);
  openClasses(L);
  LMP_iOpenValues(L);
  return 0;
}

// ----- Protected bodies ------------------------------------------------------

// The text of an error value: a string as it is, a number in its string form
// (formatted here, since converting in place could run the collector), no
// text for anything else.
const char* errorText(lua_State* L, int index, char (&buffer)[64]) {
  if (lua_type(L, index) == LUA_TSTRING) return lua_tostring(L, index);
  if (lua_type(L, index) == LUA_TNUMBER) {
    snprintf(buffer, sizeof buffer, LUA_NUMBER_FMT, lua_tonumber(L, index));
    return buffer;
  }
  return nullptr;
}

// Runs body(context) in protected mode. Refused when required is set and the
// controller is missing or halted. An error goes to the error stop. The
// stack keeps nresults values on success and is restored otherwise.
bool runProtected(lua_State* L, CTRL_Generic* controller, bool required, lua_CFunction body, void* context,
                  int nresults) {
  if (!L) return false;
  if (required && (!controller || controller->halted)) return false;
  int top = lua_gettop(L);
  lua_pushcfunction(L, body);
  lua_pushlightuserdata(L, context);
  if (lua_pcall(L, 1, nresults, 0) != LUA_OK) {
    char buffer[64];
    LMP_iStopOnError(controller, errorText(L, -1, buffer));
    lua_settop(L, top);
    return false;
  }
  return true;
}

struct CallbackCall {
  uint32_t ref;
  double value;
};

int callbackBody(lua_State* L) {
  auto* c = static_cast<CallbackCall*>(lua_touserdata(L, 1));
  lua_rawgeti(L, LUA_REGISTRYINDEX, int(c->ref));
  if (!lua_isfunction(L, -1)) return 0;
  lua_pushnumber(L, c->value);
  lua_call(L, 1, 0);
  return 0;
}

struct EventCall {
  uint32_t ref;
  const CTRL_Event* event;
};

int eventBody(lua_State* L) {
  auto* c = static_cast<EventCall*>(lua_touserdata(L, 1));
  const CTRL_Event* e = c->event;
  lua_rawgeti(L, LUA_REGISTRYINDEX, int(c->ref));
  lua_pushnumber(L, e->type);
  switch (e->type) {
    case EVENT_KEY_DOWN:
    case EVENT_KEY_UP:
      lua_pushnumber(L, e->code);
      lua_pushnumber(L, 0);
      break;
    case EVENT_ZOOM: {
      lua_pushnumber(L, e->amount);
      double* b = LMP_iPushV2(L);
      if (e->point) {
        b[0] = e->point->x;
        b[1] = e->point->y;
      }
      break;
    }
    case EVENT_DEVICE:
      lua_pushnumber(L, e->code);
      if (e->bytes && e->length > 0)
        lua_pushlstring(L, reinterpret_cast<const char*>(e->bytes), size_t(e->length));
      else
        lua_pushliteral(L, "");
      break;
    default:
      lua_pushnumber(L, 0);
      lua_pushnumber(L, 0);
      break;
  }
  lua_call(L, 3, 1);
  return 1;
}

struct StartCall {
  const char* name;
};

int loadBody(lua_State* L) {
  auto* c = static_cast<StartCall*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  if (LMP_iLoadFileX(L, c->name, nullptr) != LUA_OK) {
    if (!lua_isstring(L, -1)) lua_pushnil(L);  // no text for other error values
    return lua_error(L);
  }
  return 1;
}

int startupBody(lua_State* L) {
  lua_getglobal(L, "startup");
  lua_call(L, 0, 0);
  return 0;
}

struct GlobalCall {
  const char* name;
  const CTRL_Variant* value;
  const CTRL_Array<CTRL_Variant*>* args;
};

int setGlobalBody(lua_State* L) {
  auto* c = static_cast<GlobalCall*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  LMP_iPushVariant(L, c->value);
  if (lua_gettop(L) == 0) return 0;  // a variant of unknown type stores nothing
  lua_setglobal(L, c->name);
  return 0;
}

int getGlobalBody(lua_State* L) {
  auto* c = static_cast<GlobalCall*>(lua_touserdata(L, 1));
  lua_getglobal(L, c->name);
  return 1;
}

int callFunctionBody(lua_State* L) {
  auto* c = static_cast<GlobalCall*>(lua_touserdata(L, 1));
  lua_settop(L, 0);
  lua_getglobal(L, c->name);
  int n = c->args ? c->args->count : 0;
  luaL_checkstack(L, n, "too many arguments");
  for (int i = 0; i < n; ++i) {
    int before = lua_gettop(L);
    LMP_iPushVariant(L, (*c->args)[i]);
    if (lua_gettop(L) == before) lua_pushnil(L);  // keep the argument positions
  }
  lua_call(L, n, 1);
  return 1;
}

struct ModuleCall {
  const CTRL_ScriptModule* module;
  void* context;
};

int LMP_iNativeTrampoline(lua_State* L);

int registerModuleBody(lua_State* L) {
  auto* c = static_cast<ModuleCall*>(lua_touserdata(L, 1));
  lua_newtable(L);
  for (const CTRL_ScriptFunction* f = c->module->functions; f && f->name; ++f) {
    lua_pushlightuserdata(L, c->context);
    lua_pushlightuserdata(L, reinterpret_cast<void*>(f->function));
    lua_pushcclosure(L, LMP_iNativeTrampoline, 2);
    lua_setfield(L, -2, f->name);
  }
  lua_setglobal(L, c->module->name);
  return 0;
}

int collectBody(lua_State* L) {
  if (!lua_gc(L, LUA_GCISRUNNING, 0)) lua_gc(L, LUA_GCCOLLECT, 0);
  return 0;
}

void freeVariant(CTRL_Variant* v) {
  if (!v) return;
  if (v->type == VARIANT_STRING) free(v->string);
  free(v);
}

// The arguments of a native call; freed however the call ends.
struct NativeArgs {
  CTRL_Array<CTRL_Variant*> array;
  CTRL_Variant result{};
  ~NativeArgs() {
    for (int32_t i = 0; i < array.count; ++i) freeVariant(array[i]);
    if (result.type == VARIANT_STRING) free(result.string);
  }
};

int LMP_iNativeTrampoline(lua_State* L) {
  auto function = reinterpret_cast<CTRL_NativeFunction>(lua_touserdata(L, lua_upvalueindex(2)));
  void* context = lua_touserdata(L, lua_upvalueindex(1));
  int n = lua_gettop(L);
  NativeArgs a;
  if (n > 0) {
    if (!a.array.resize(n)) return luaL_error(L, "not enough memory");
    for (int i = 0; i < n; ++i) a.array[i] = nullptr;
    for (int i = n - 1; i >= 0; --i) {
      auto* v = static_cast<CTRL_Variant*>(calloc(1, sizeof(CTRL_Variant)));
      if (!v) return luaL_error(L, "not enough memory");
      a.array[i] = v;
      LMP_iPopVariant(L, v);
    }
  }
  lua_settop(L, 0);
  function(context, &a.array, &a.result);
  LMP_iPushVariant(L, &a.result);
  if (lua_gettop(L) == 0) lua_pushnil(L);  // a result of unknown type reads as nil
  return 1;
}

}  // namespace

// ----- Variants --------------------------------------------------------------

void LMP_iPushVariant(lua_State* L, const CTRL_Variant* value) {
  if (!value) return;
  switch (value->type) {
    case VARIANT_NIL: lua_pushnil(L); break;
    case VARIANT_BOOLEAN: lua_pushboolean(L, value->boolean != 0); break;
    case VARIANT_INTEGER: lua_pushnumber(L, value->integer); break;
    case VARIANT_DOUBLE: lua_pushnumber(L, value->number); break;
    case VARIANT_STRING: lua_pushstring(L, value->string ? value->string : ""); break;
    default: break;
  }
}

bool LMP_iPopVariant(lua_State* L, CTRL_Variant* out) {
  switch (lua_type(L, -1)) {
    case LUA_TBOOLEAN:
      out->type = VARIANT_BOOLEAN;
      out->boolean = lua_toboolean(L, -1) ? 1 : 0;
      break;
    case LUA_TNUMBER:
    case LUA_TSTRING:
      if (lua_isnumber(L, -1)) {
        out->type = VARIANT_DOUBLE;
        out->number = lua_tonumber(L, -1);
      } else {
        size_t len = 0;
        const char* s = lua_tolstring(L, -1, &len);
        char* copy = static_cast<char*>(malloc(len + 1));
        if (copy) {
          memcpy(copy, s, len + 1);
          out->type = VARIANT_STRING;
          out->string = copy;
        } else {
          out->type = VARIANT_NIL;
        }
      }
      break;
    case LUA_TNIL:
      out->type = VARIANT_NIL;
      break;
    default:
      break;  // tables, functions, userdata and threads leave out alone
  }
  lua_pop(L, 1);
  return true;
}

// ----- The engine ------------------------------------------------------------

bool (*LMP_gInterruptCheck)() = nullptr;

LMP_Engine::LMP_Engine() {
  extra.engine = this;
  extra.heapLimit = LMP_iDefaultHeapLimit();
  state = lua_newstate(LMP_iAlloc, &extra);
  if (!state) return;
  lua_atpanic(state, LMP_iPanic);
  lua_pushcfunction(state, setUpState);
  if (lua_pcall(state, 0, 0, 0) != LUA_OK) {
    const char* text = lua_tostring(state, -1);
    CTRL_iDebugLog("%s", text ? text : "script state set-up failed");
    lua_close(state);
    state = nullptr;
  }
}

LMP_Engine::~LMP_Engine() {
  if (state) lua_close(state);
  state = nullptr;
}

void LMP_Engine::attachController(CTRL_Generic* c) {
  controller = c;
  extra.controller = c;
}

bool LMP_Engine::protectedCall(int nargs, int nresults) {
  if (!state) return false;
  int base = lua_gettop(state) - nargs - 1;
  if (base < 0) base = 0;
  if (!controller || controller->halted) {
    lua_settop(state, base);
    return false;
  }
  if (lua_pcallk(state, nargs, nresults, 0, 0, nullptr) != LUA_OK) {
    char buffer[64];
    LMP_iStopOnError(controller, errorText(state, -1, buffer));
    lua_settop(state, base);
    return false;
  }
  return true;
}

void LMP_Engine::callNumberCallback(int id, double value) {
  CallbackCall call{callbacks.get(id), value};
  int top = state ? lua_gettop(state) : 0;
  runProtected(state, controller, true, callbackBody, &call, 0);
  if (state) lua_settop(state, top);
}

void LMP_Engine::update(double dt) { callNumberCallback(CB_UPDATE, dt); }

void LMP_Engine::aspectRatioChanged(double ratio) { callNumberCallback(CB_ASPECT_RATIO_CHANGED, ratio); }

bool LMP_Engine::handleEvent(const CTRL_Event* event) {
  uint32_t ref = callbacks.get(CB_EVENT);
  if (!ref || !event || !state) return false;
  int top = lua_gettop(state);
  EventCall call{ref, event};
  if (!runProtected(state, controller, true, eventBody, &call, 1)) return false;
  bool consumed = false;
  if (lua_type(state, -1) == LUA_TBOOLEAN)
    consumed = lua_toboolean(state, -1) != 0;
  else
    LMP_iStopOnError(controller, "Event function must return 1 boolean value.");
  lua_settop(state, top);
  return consumed;
}

bool LMP_Engine::start() {
  if (!state || !controller || !controller->package) return false;
  CTRL_Clock* clock = CTRL_iGetClock();
  int64_t begin = clock->counter();
  controller->stage = STAGE_LOADING;
  int top = lua_gettop(state);
  StartCall call{"init.lua"};
  // The chunk is loaded, then run, then "startup" is called; each failure
  // has already gone to the error stop.
  bool ok = runProtected(state, controller, true, loadBody, &call, 1) && protectedCall(0, 0) &&
            runProtected(state, controller, true, startupBody, nullptr, 0);
  lua_settop(state, top);
  if (!ok) return false;
  controller->dt = 0;
  if (controller->splashImage) {
    delete controller->splashImage;
    controller->splashImage = nullptr;
  }
  controller->stage = STAGE_RUNNING;
  double perCount = controller->inverseFrequency > 0 ? controller->inverseFrequency : 1.0 / double(clock->frequency());
  CTRL_iDebugLog("%s loaded in %fs.", controller->packageName ? controller->packageName : "",
                 double(clock->counter() - begin) * perCount);
  return true;
}

void LMP_Engine::registerModule(const CTRL_ScriptModule* module, void* context) {
  if (!module || !module->name) return;
  ModuleCall call{module, context};
  int top = state ? lua_gettop(state) : 0;
  runProtected(state, controller, false, registerModuleBody, &call, 0);
  if (state) lua_settop(state, top);
}

void LMP_Engine::setGlobal(const char* name, const CTRL_Variant* value) {
  if (!name || !value) return;
  GlobalCall call{name, value, nullptr};
  int top = state ? lua_gettop(state) : 0;
  runProtected(state, controller, false, setGlobalBody, &call, 0);
  if (state) lua_settop(state, top);
}

bool LMP_Engine::getGlobal(const char* name, CTRL_Variant* out) {
  if (!name || !out || !state) return false;
  GlobalCall call{name, nullptr, nullptr};
  int top = lua_gettop(state);
  if (!runProtected(state, controller, false, getGlobalBody, &call, 1)) return false;
  LMP_iPopVariant(state, out);
  lua_settop(state, top);
  return true;
}

bool LMP_Engine::callFunction(const char* name, const CTRL_Array<CTRL_Variant*>* args, CTRL_Variant* result) {
  if (!name || !state || (controller && controller->halted)) return false;
  GlobalCall call{name, nullptr, args};
  int top = lua_gettop(state);
  if (!runProtected(state, controller, true, callFunctionBody, &call, 1)) return false;
  if (result)
    LMP_iPopVariant(state, result);
  lua_settop(state, top);
  return true;
}

void LMP_Engine::collectGarbage() {
  int top = state ? lua_gettop(state) : 0;
  runProtected(state, controller, false, collectBody, nullptr, 0);
  if (state) lua_settop(state, top);
}
