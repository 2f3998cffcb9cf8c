// The script value types v3, v2, color and m33.
#include "script/LMP_Values.h"

#include <cstring>

#include <lua.hpp>

#include "math/MDL_Frame.h"
#include "script/LMP_Binding.h"

namespace {

const char* const kV3 = "v3";
const char* const kV2 = "v2";
const char* const kColor = "color";
const char* const kM33 = "m33";

double* pushValue(lua_State* L, const char* type, int count) {
  auto* d = static_cast<double*>(lua_newuserdata(L, sizeof(double) * count));
  std::memset(d, 0, sizeof(double) * count);
  luaL_setmetatable(L, type);
  return d;
}

}  // namespace

double* LMP_iPushV3(lua_State* L) { return pushValue(L, kV3, 3); }
double* LMP_iPushV2(lua_State* L) { return pushValue(L, kV2, 2); }
double* LMP_iPushColor(lua_State* L) { return pushValue(L, kColor, 4); }
double* LMP_iPushM33(lua_State* L) { return pushValue(L, kM33, 9); }

void LMP_iPushV3(lua_State* L, const v3& value) {
  double* d = LMP_iPushV3(L);
  d[0] = value.x;
  d[1] = value.y;
  d[2] = value.z;
}

void LMP_iPushV2(lua_State* L, const v2& value) {
  double* d = LMP_iPushV2(L);
  d[0] = value.x;
  d[1] = value.y;
}

void LMP_iPushM33(lua_State* L, const m33& value) {
  double* d = LMP_iPushM33(L);
  for (int c = 0; c < 3; ++c) {
    d[3 * c] = value.c[c].x;
    d[3 * c + 1] = value.c[c].y;
    d[3 * c + 2] = value.c[c].z;
  }
}

double* LMP_iPushValueOfSize(lua_State* L, int n) {
  switch (n) {
    case 2: return LMP_iPushV2(L);
    case 3: return LMP_iPushV3(L);
    case 4: return LMP_iPushColor(L);
    default: return LMP_iPushM33(L);
  }
}

double* LMP_iToV3(lua_State* L, int index) { return static_cast<double*>(luaL_testudata(L, index, kV3)); }
double* LMP_iToV2(lua_State* L, int index) { return static_cast<double*>(luaL_testudata(L, index, kV2)); }
double* LMP_iToColor(lua_State* L, int index) { return static_cast<double*>(luaL_testudata(L, index, kColor)); }
double* LMP_iToM33(lua_State* L, int index) { return static_cast<double*>(luaL_testudata(L, index, kM33)); }
