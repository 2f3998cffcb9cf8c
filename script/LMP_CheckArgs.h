// Argument checking and script error reporting.
//
// Every native function of the script API reads its arguments with
// LMP_iCheckArgs and a format of type letters, one per argument (for a
// method, self is not part of it: the binding has removed it). A "|" makes
// the following letters optional. Letters and what they write through the
// next out pointer:
//
//   B  boolean only (nil refused)                  uint8_t*   1 / 0
//   C  a "color" value                              double**   r, g, b, a
//   F  a function, or nil                           uint32_t*  new registry reference, 0 for nil
//   I  a number or numeric string                   int32_t*   rounded half to even, low 32 bits
//   M  an "m33" value                               double**   9 doubles, column by column
//   N  a number or numeric string                   double*
//   R  a "newRigidBody" proxy, or nil               MDL_Object** the body (an MDL_RigidBody;
//                                                              null for nil or a deleted body)
//   S  a string or a number (converted in place)    const char** valid while the argument stays
//   V  a "v3" value                                 double**   x, y, z
//   W  a "v2" value                                 double**   x, y
//
// Misuse is not a script error: the checker reports through LMP_iReportError
// (which halts the player) and returns 0, and the caller then returns no
// results. Only C, M, V, W and R raise Lua errors on a wrong value, and they
// do so even among the optional letters. The caller pre-sets the variables
// of optional letters, since a letter that is not reached or is skipped
// leaves its variable alone.
#pragma once

#include <cstdint>
#include <cstring>

#include <lua.hpp>

struct lua_State;
class CTRL_Generic;
class LMP_Engine;

// The number of arguments taken, or 0 after a report (also for an
// all-optional format called with no arguments).
int LMP_iCheckArgs(lua_State* L, const char* format, ...);
// The same checks for the formats of the busiest functions, without walking
// a format: when the arguments are just what the format asks for they are
// read at once, anything else goes through LMP_iCheckArgs (the same answer,
// the same reports). "I" (LMP_iCheckInt, below) and "V|I".
int LMP_iCheckV3OptInt(lua_State* L, double** v, int32_t* value);

// Halts the player through the controller's stopOnError with the message,
// prefixed "source:line: " when the calling script line is known. Without a
// controller nothing happens. Returns normally; the text of a script is
// never used as the format (pass it as a "%s" argument).
void LMP_iReportError(lua_State* L, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A registry reference to the value at the index (which stays on the
// stack), as luaL_ref makes it; -1 (LUA_REFNIL) for nil.
int LMP_iRefFunction(lua_State* L, int index);

// Rounds a script number to a 32-bit integer: nearest whole number, halves
// to even, keeping the low 32 bits of the result; NaN and infinities give 0.
int32_t LMP_iNumberToIntSlow(double value);  // the values of 2^51 and beyond
inline int32_t LMP_iNumberToInt(double value) {
  if (value < 2251799813685248.0 && value > -2251799813685248.0) {
    // Adding 1.5 * 2^52 rounds to a whole number (halves to even) and leaves
    // it, offset by 2^51, in the low bits of the mantissa.
    double t = value + 6755399441055744.0;
    uint64_t bits;
    std::memcpy(&bits, &t, sizeof bits);
    return int32_t(uint32_t(bits));
  }
  return LMP_iNumberToIntSlow(value);
}

inline int LMP_iCheckInt(lua_State* L, int32_t* value) {
  if (lua_gettop(L) == 1) {
    int isNumber = 0;
    double d = lua_tonumberx(L, 1, &isNumber);
    if (isNumber) {
      *value = LMP_iNumberToInt(d);
      return 1;
    }
  }
  // Through a local of its own, so that callers' values can stay in registers.
  int32_t checked = *value;
  int n = LMP_iCheckArgs(L, "I", &checked);
  *value = checked;
  return n;
}
// The controller and the engine of a Lua state (any coroutine of it); null
// before the controller is attached, and for states not made by LMP_Engine.
CTRL_Generic* LMP_iGetController(lua_State* L);
LMP_Engine* LMP_iGetEngine(lua_State* L);
