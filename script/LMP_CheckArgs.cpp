// The argument checker, the error reporter and the state's extra data.
#include "script/LMP_CheckArgs.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "script/LMP_Binding.h"
#include "script/LMP_Engine.h"
#include "script/LMP_Values.h"

void* LMP_iAlloc(void* ud, void* block, size_t oldSize, size_t newSize) {
  auto* extra = static_cast<LMP_GlobalStateExtra*>(ud);
  size_t old = block ? oldSize : 0;  // without a block, oldSize names a type
  if (newSize == 0) {
    free(block);
    if (extra) extra->heapUsed -= old;
    return nullptr;
  }
  // Only growth can be refused: Lua counts on shrinking to succeed.
  if (extra && extra->heapLimit && newSize > old &&
      (extra->heapUsed >= extra->heapLimit || newSize - old > extra->heapLimit - extra->heapUsed))
    return nullptr;
  void* grown = realloc(block, newSize);
  if (!grown) return nullptr;
  if (extra) extra->heapUsed = extra->heapUsed - old + newSize;
  return grown;
}

size_t LMP_iDefaultHeapLimit() {
  const size_t cap = size_t(1) << 30;
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return cap;
  uint64_t half = uint64_t(pages) * uint64_t(pageSize) / 2;
  return half < cap ? size_t(half) : cap;
}

LMP_GlobalStateExtra* LMP_iGetExtra(lua_State* L) {
  void* extra = nullptr;
  if (lua_getallocf(L, &extra) != &LMP_iAlloc) return nullptr;
  return static_cast<LMP_GlobalStateExtra*>(extra);
}

CTRL_Generic* LMP_iGetController(lua_State* L) {
  LMP_GlobalStateExtra* extra = LMP_iGetExtra(L);
  return extra ? extra->controller : nullptr;
}

LMP_Engine* LMP_iGetEngine(lua_State* L) {
  LMP_GlobalStateExtra* extra = LMP_iGetExtra(L);
  return extra ? extra->engine : nullptr;
}

void LMP_iStopOnError(CTRL_Generic* controller, const char* text) {
  if (controller) controller->stopOnError("%s", text ? text : "");
}

int32_t LMP_iNumberToIntSlow(double value) {
  if (!std::isfinite(value)) return 0;
  // nearbyint rounds halves to even in the default rounding mode; the
  // remainder keeps the low 32 bits of the whole number exactly.
  double m = std::fmod(std::nearbyint(value), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return int32_t(uint32_t(m));
}

int LMP_iRefFunction(lua_State* L, int index) {
  lua_pushvalue(L, index);
  return luaL_ref(L, LUA_REGISTRYINDEX);
}

void LMP_iReportError(lua_State* L, const char* format, ...) {
  CTRL_Generic* controller = LMP_iGetController(L);
  if (!controller) return;
  char prefix[LUA_IDSIZE + 24] = "";
  lua_Debug ar;
  if (lua_getstack(L, 1, &ar) && lua_getinfo(L, "Sl", &ar) && ar.currentline > 0)
    snprintf(prefix, sizeof prefix, "%s:%d: ", ar.short_src, ar.currentline);
  char message[1024];
  va_list args;
  va_start(args, format);
  if (vsnprintf(message, sizeof message, format ? format : "", args) < 0) message[0] = 0;
  va_end(args);
  char text[sizeof prefix + sizeof message];
  snprintf(text, sizeof text, "%s%s", prefix, message);
  LMP_iStopOnError(controller, text);
}

namespace {

const char* valueTypeName(char letter) {
  switch (letter) {
    case 'C': return "color";
    case 'M': return "m33";
    case 'V': return "v3";
    case 'W': return "v2";
  }
  return nullptr;
}

}  // namespace

int LMP_iCheckV3OptInt(lua_State* L, double** v, int32_t* value) {
  if (lua_gettop(L) == 1) {
    if (double* p = LMP_iToV3(L, 1)) {
      *v = p;
      return 1;
    }
  }
  return LMP_iCheckArgs(L, "V|I", v, value);
}

int LMP_iCheckArgs(lua_State* L, const char* format, ...) {
  if (!format) format = "";
  const int n = lua_gettop(L);
  int cursor = 1;
  bool optional = false;
  const char* p = format;
  va_list out;
  va_start(out, format);
  for (; *p; ++p) {
    const char letter = *p;
    if (letter == '|') {
      optional = true;
      continue;
    }
    if (cursor > n) break;
    void* target = va_arg(out, void*);
    bool accepted = false;
    switch (letter) {
      case 'B':
        if (lua_type(L, cursor) == LUA_TBOOLEAN) {
          *static_cast<uint8_t*>(target) = lua_toboolean(L, cursor) ? 1 : 0;
          accepted = true;
        }
        break;
      case 'C':
      case 'M':
      case 'V':
      case 'W':
        // Raises "%s expected, got %s" for any other value, optional or not.
        *static_cast<double**>(target) = static_cast<double*>(luaL_checkudata(L, cursor, valueTypeName(letter)));
        accepted = true;
        break;
      case 'F':
        if (lua_isnil(L, cursor)) {
          *static_cast<uint32_t*>(target) = 0;
          accepted = true;
        } else if (lua_isfunction(L, cursor)) {
          *static_cast<uint32_t*>(target) = uint32_t(LMP_iRefFunction(L, cursor));
          accepted = true;
        }
        break;
      case 'I':
      case 'N': {
        int isNumber = 0;
        double d = lua_tonumberx(L, cursor, &isNumber);
        if (isNumber) {
          if (letter == 'I')
            *static_cast<int32_t*>(target) = LMP_iNumberToInt(d);
          else
            *static_cast<double*>(target) = d;
          accepted = true;
        }
        break;
      }
      case 'R':
        if (lua_isnil(L, cursor)) {
          *static_cast<MDL_Object**>(target) = nullptr;
        } else {
          LMP_Proxy** slot = LMP_iTestProxy(L, cursor, "newRigidBody");
          if (!slot || !*slot) luaL_argerror(L, cursor, "newRigidBody");
          *static_cast<MDL_Object**>(target) = static_cast<MDL_Object*>((*slot)->model);
        }
        accepted = true;
        break;
      case 'S':
        if (lua_isstring(L, cursor)) {  // a string, or a number to convert
          *static_cast<const char**>(target) = lua_tostring(L, cursor);
          accepted = true;
        }
        break;
      default:
        break;  // an unknown letter accepts nothing
    }
    if (accepted) {
      ++cursor;
      continue;
    }
    if (optional) continue;  // this letter's variable keeps its default
    va_end(out);
    LMP_iReportError(L, "Invalid type (%s) for argument #%d, <%s> type argument(s) expected",
                     luaL_typename(L, cursor), cursor, format);
    return 0;
  }
  va_end(out);
  if (cursor <= n) {
    LMP_iReportError(L, "Too much arguments, <%s> argument(s) expected", format);
    return 0;
  }
  if (*p && *p != '|' && !optional) {
    LMP_iReportError(L, "Not enough arguments, <%s> argument(s) expected", format);
    return 0;
  }
  return cursor - 1;
}
