// The flat part of the script API: numeric constants and the global
// functions that reach the controller.
#include <cfloat>
#include <cmath>
#include <cstring>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "base/CTRL_Keys.h"
#include "model/MDL_Object.h"
#include "model/MDL_Viewport.h"
#include "render/VIEW_Generic.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_Engine.h"
#include "script/LMP_Library.h"
#include "script/LMP_Values.h"

namespace {

struct Constant {
  const char* name;
  uint8_t value;
};

// Installed after the KEY_ rows, in this order.
const Constant kConstants[] = {
    {"CB_UPDATE", 1}, {"CB_EVENT", 2}, {"CB_MOUSE_DOWN", 3}, {"CB_MOUSE_UP", 4}, {"CB_MOUSE_CLICK", 5},
    {"CB_MOVED", 6}, {"CB_MECHA", 7}, {"CB_POST_INTEGRATION", 8}, {"CB_PRE_COLLISION", 9},
    {"CB_POST_COLLISION", 10}, {"CB_ASPECT_RATIO_CHANGED", 11}, {"CB_MAX", 11},
    {"ENV_WINDOWS", 1}, {"ENV_MACOSX", 2}, {"ENV_LINUX", 3}, {"ENV_IOS", 4}, {"ENV_ANDROID", 5}, {"ENV_WEB", 6},
    {"EVENT_KEY_DOWN", 1}, {"EVENT_KEY_UP", 2}, {"EVENT_MOUSE_MOVE", 3}, {"EVENT_MOUSE_DOWN", 4},
    {"EVENT_MOUSE_UP", 5}, {"EVENT_ZOOM", 6}, {"EVENT_DEVICE", 7}, {"EVENT_CLOSE", 8},
    {"REF_SELF", 1}, {"REF_LOCAL", 2}, {"REF_GLOBAL", 3},
    {"SCOPE_OBJECT", 1}, {"SCOPE_RECURSE", 2},
    {"AXIS_X", 1}, {"AXIS_Y", 2}, {"AXIS_Z", 3},
    {"STATE_ACTIVE", 1}, {"STATE_MOVABLE", 2}, {"STATE_VISIBLE", 4}, {"STATE_CONSTRAIN_MOUSE", 8},
    {"STATE_BACKGROUND", 16}, {"STATE_ALL", 31},
    {"INTERPOL_LINEAR", 0}, {"INTERPOL_SIN", 1}, {"INTERPOL_BEGSIN", 2}, {"INTERPOL_ENDSIN", 3},
    {"FILTER_DEFAULT", 0}, {"FILTER_NEAREST_POINT", 1}, {"FILTER_LINEAR", 2}, {"FILTER_MIPMAP", 3},
    {"DISPLAY_MODE_NORMAL", 0}, {"DISPLAY_MODE_SPRITE", 1},
    {"NAVIGATION_FREE", 0}, {"NAVIGATION_FIXED", 1}, {"NAVIGATION_MIXED", 2}, {"NAVIGATION_GLASSBALL", 3},
    {"JOINT_POINT_POINT", 0}, {"JOINT_AXIS_AXIS", 1}, {"JOINT_POINT_AXIS", 2}, {"JOINT_POINT_ABOVE_PLANE", 3},
    {"JOINT_POINT_ON_PLANE", 4},
    {"SHADOW_ZPASS", 0}, {"SHADOW_ZFAIL", 1}, {"SHADOW_2D", 0}, {"SHADOW_3D", 1},
};

const Constant kObjectConstants[] = {
    {"OBJECT_NONE", OBJECT_NONE}, {"OBJECT_LAMP", OBJECT_LAMP}, {"OBJECT_CAMERA", OBJECT_CAMERA},
    {"OBJECT_MESH", OBJECT_MESH}, {"OBJECT_RIGID_BODY", OBJECT_RIGID_BODY}, {"OBJECT_SOUND", OBJECT_SOUND},
    {"OBJECT_BONE", OBJECT_BONE}, {"OBJECT_ANIMATED_MESH", OBJECT_ANIMATED_MESH}, {"OBJECT_TEXT", OBJECT_TEXT},
    {"OBJECT_IMAGE", OBJECT_IMAGE}, {"OBJECT_MIKE", OBJECT_MIKE}, {"OBJECT_POLYLINE", OBJECT_POLYLINE},
    {"OBJECT_COLLISION_VOLUME", OBJECT_COLLISION_VOLUME}, {"OBJECT_LOCATOR", OBJECT_LOCATOR},
};

void setNumber(lua_State* L, const char* name, lua_Number value) {
  lua_pushnumber(L, value);
  lua_setglobal(L, name);
}

// Every global function but trace needs the controller; without one it
// does nothing and returns nothing.
#define NEED_CONTROLLER(c)                        \
  CTRL_Generic* c = LMP_iGetController(L);        \
  if (!c) return 0

int trace(lua_State*) { return 0; }

int tracePoint(lua_State* L) {
  NEED_CONTROLLER(c);
  double* v = nullptr;
  LMP_iCheckArgs(L, "V", &v);
  return 0;
}

// The key tables (1 = down) are read at the low 8 bits of the code.
enum KeyTest { KEY_DOWN_NOW, KEY_PRESSED_NOW, KEY_RELEASED_NOW };

template <KeyTest test>
int keyFunction(lua_State* L) {
  // Scripts ask this many times a frame: the controller lookup is inlined.
  void* extra = nullptr;
  CTRL_Generic* c = lua_getallocf(L, &extra) == &LMP_iAlloc && extra
                        ? static_cast<LMP_GlobalStateExtra*>(extra)->controller
                        : nullptr;
  if (!c) return 0;
  int32_t key = 0;
  if (!LMP_iCheckInt(L, &key)) return 0;
  const bool now = c->currentKeys && c->currentKeys[key & 0xFF] == 1;
  bool answer = now;
  if constexpr (test != KEY_DOWN_NOW) {
    const bool before = c->previousKeys && c->previousKeys[key & 0xFF] == 1;
    answer = test == KEY_PRESSED_NOW ? now && !before : !now && before;
  }
  lua_pushboolean(L, answer);
  return 1;
}

int isKeyPressed(lua_State* L) { return keyFunction<KEY_DOWN_NOW>(L); }
int isKeyJustPressed(lua_State* L) { return keyFunction<KEY_PRESSED_NOW>(L); }
int isKeyJustReleased(lua_State* L) { return keyFunction<KEY_RELEASED_NOW>(L); }

int setCallback(lua_State* L) {
  NEED_CONTROLLER(c);
  int32_t id = 0;
  uint32_t ref = 0;
  if (!LMP_iCheckArgs(L, "IF", &id, &ref)) return 0;
  LMP_Engine* engine = LMP_iGetEngine(L);
  if (engine)
    LMP_iSetCallback(L, &engine->callbacks, id, ref);
  else if (ref)
    luaL_unref(L, LUA_REGISTRYINDEX, int(ref));
  return 0;
}

int registerDevice(lua_State* L) {
  NEED_CONTROLLER(c);
  int32_t vendor = 0, product = 0, index = 0;
  if (!LMP_iCheckArgs(L, "III", &vendor, &product, &index)) return 0;
  lua_pushnumber(L, c->registerDevice(vendor, product, index));
  return 1;
}

int sendToDevice(lua_State* L) {
  NEED_CONTROLLER(c);
  int32_t device = 0;
  const char* bytes = nullptr;
  if (!LMP_iCheckArgs(L, "IS", &device, &bytes)) return 0;
  size_t length = 0;
  bytes = lua_tolstring(L, 2, &length);  // the full length, zeros included
  if (length > size_t(INT32_MAX)) length = size_t(INT32_MAX);
  lua_pushnumber(L, c->sendToDevice(device, reinterpret_cast<const uint8_t*>(bytes), int32_t(length)));
  return 1;
}

int openURL(lua_State* L) {
  NEED_CONTROLLER(c);
  const char* text = nullptr;
  if (!LMP_iCheckArgs(L, "S", &text)) return 0;
  c->openURL(text);
  return 0;
}

int setAspectRatio(lua_State* L) {
  NEED_CONTROLLER(c);
  double ratio = 0;
  if (!LMP_iCheckArgs(L, "N", &ratio)) return 0;
  // The picture is laid out by dividing by the aspect: keep it usable.
  if (std::isfinite(ratio) && ratio > 0) c->aspect = ratio;
  return 0;
}

int getAspectRatio(lua_State* L) {
  NEED_CONTROLLER(c);
  lua_pushnumber(L, c->aspect);
  return 1;
}

int getViewAspectRatio(lua_State* L) {
  NEED_CONTROLLER(c);
  lua_pushnumber(L, c->height / c->width);
  return 1;
}

int getResolution(lua_State* L) {
  NEED_CONTROLLER(c);
  double* v = LMP_iPushV2(L);
  v[0] = c->width;
  v[1] = c->height;
  return 1;
}

int getHiDPI(lua_State* L) {
  NEED_CONTROLLER(c);
  lua_pushboolean(L, c->hiDPI != 0);
  return 1;
}

int setBackgroundColor(lua_State* L) {
  NEED_CONTROLLER(c);
  double* colour = nullptr;
  if (!LMP_iCheckArgs(L, "C", &colour)) return 0;
  std::memcpy(c->windowColour, colour, sizeof c->windowColour);
  return 0;
}

int getAcceleration(lua_State* L) {
  NEED_CONTROLLER(c);
  LMP_iPushV3(L, c->acceleration);
  return 1;
}

int getLanguage(lua_State* L) {
  NEED_CONTROLLER(c);
  char language[16] = {};
  c->getLanguage(language);
  language[sizeof language - 1] = 0;
  lua_pushstring(L, language);
  return 1;
}

int getPlatform(lua_State* L) {
  NEED_CONTROLLER(c);
  lua_pushnumber(L, c->platform);
  return 1;
}

int pushObject(lua_State* L, MDL_Object* object) {
  if (!object) return 0;
  return LMP_iPushProxy(L, object);
}

int getHooveredObject(lua_State* L) {
  NEED_CONTROLLER(c);
  return pushObject(L, c->hovered);
}

int getPickedObject(lua_State* L) {
  NEED_CONTROLLER(c);
  return pushObject(L, c->grabbed);
}

int setPickPosition(lua_State* L) {
  NEED_CONTROLLER(c);
  double* v = nullptr;
  if (!LMP_iCheckArgs(L, "V", &v)) return 0;
  c->grabOffset = v3{v[0], v[1], v[2]};
  return 0;
}

int getViewportMouse(lua_State* L) {
  NEED_CONTROLLER(c);
  LMP_iPushV3(L, c->mouseInViewport);
  return 1;
}

int getSceneMouse(lua_State* L) {
  NEED_CONTROLLER(c);
  double* out = LMP_iPushV3(L);
  v3 p{};
  if (LMP_iSceneMouse(c, p)) {
    out[0] = p.x;
    out[1] = p.y;
    out[2] = p.z;
  }
  return 1;
}

// The renderer functions do nothing without a renderer.
int rendererCall(lua_State* L, void (VIEW_Generic::*call)()) {
  NEED_CONTROLLER(c);
  if (c->renderer) (c->renderer->*call)();
  return 0;
}

int resetTextureCache(lua_State* L) { return rendererCall(L, &VIEW_Generic::resetTextureCache); }
int resetGlyphTextureCache(lua_State* L) { return rendererCall(L, &VIEW_Generic::resetGlyphTextureCache); }
int resetRenderingOpti(lua_State* L) { return rendererCall(L, &VIEW_Generic::resetRenderingOpti); }

int setDefaultTextureFilter(lua_State* L) {
  NEED_CONTROLLER(c);
  int32_t filter = 0;
  if (!LMP_iCheckArgs(L, "I", &filter)) return 0;
  if (c->renderer) c->renderer->setDefaultTextureFilter(uint32_t(filter));
  return 0;
}

#undef NEED_CONTROLLER

const luaL_Reg kFunctions[] = {
    {"trace", trace},
    {"tracePoint", tracePoint},
    {"isKeyPressed", isKeyPressed},
    {"isKeyJustPressed", isKeyJustPressed},
    {"isKeyJustReleased", isKeyJustReleased},
    {"setCallback", setCallback},
    {"registerDevice", registerDevice},
    {"sendToDevice", sendToDevice},
    {"openURL", openURL},
    {"setAspectRatio", setAspectRatio},
    {"getAspectRatio", getAspectRatio},
    {"getViewAspectRatio", getViewAspectRatio},
    {"getResolution", getResolution},
    {"getHiDPI", getHiDPI},
    {"setBackgroundColor", setBackgroundColor},
    {"getAcceleration", getAcceleration},
    {"getLanguage", getLanguage},
    {"getPlatform", getPlatform},
    {"getHooveredObject", getHooveredObject},
    {"getPickedObject", getPickedObject},
    {"setPickPosition", setPickPosition},
    {"getViewportMouse", getViewportMouse},
    {"getSceneMouse", getSceneMouse},
    {"resetTextureCache", resetTextureCache},
    {"resetGlyphTextureCache", resetGlyphTextureCache},
    {"setDefaultTextureFilter", setDefaultTextureFilter},
    {"resetRenderingOpti", resetRenderingOpti},
    {nullptr, nullptr},
};

}  // namespace

void LMP_iOpenGlobals(lua_State* L) {
  for (int32_t i = 0; i < CTRL_keyNameCount; ++i) setNumber(L, CTRL_keyNames[i].name, CTRL_keyNames[i].code);
  for (const Constant& k : kConstants) setNumber(L, k.name, k.value);
  setNumber(L, "INFINITE_PLUS", DBL_MAX);
  setNumber(L, "INFINITE_MINUS", -DBL_MAX);
  for (const luaL_Reg* f = kFunctions; f->name; ++f) {
    lua_pushcfunction(L, f->func);
    lua_setglobal(L, f->name);
  }
  for (const Constant& k : kObjectConstants) setNumber(L, k.name, k.value);
}

bool LMP_iSceneMouse(CTRL_Generic* controller, v3& out) {
  MDL_Viewport* viewport = controller ? controller->currentViewport : nullptr;
  if (!viewport) return false;
  viewport->toScene(controller->mouseInViewport, out);  // leaves out alone without a camera
  return true;
}
