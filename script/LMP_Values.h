// The script value types v3, v2, color and m33: full userdata holding only
// doubles, with the metatable registered under the type's name. Values are
// mutable; arithmetic always makes a new value; class methods that store a
// value copy its doubles and getters hand out new values.
#pragma once

struct lua_State;
struct v2;
struct v3;
struct m33;

// Push a new zero-filled value and answer its doubles for the caller to fill.
double* LMP_iPushV3(lua_State* L);
double* LMP_iPushV2(lua_State* L);
double* LMP_iPushColor(lua_State* L);  // r, g, b, a
double* LMP_iPushM33(lua_State* L);    // column 1, column 2, column 3

// Push a copy of a math value.
void LMP_iPushV3(lua_State* L, const v3& value);
void LMP_iPushV2(lua_State* L, const v2& value);
void LMP_iPushM33(lua_State* L, const m33& value);

// The doubles of a value argument of that type, or null (no error).
double* LMP_iToV3(lua_State* L, int index);
double* LMP_iToV2(lua_State* L, int index);
double* LMP_iToColor(lua_State* L, int index);
double* LMP_iToM33(lua_State* L, int index);

// Registers the four types and their constructors (engine set-up).
void LMP_iOpenValues(lua_State* L);
