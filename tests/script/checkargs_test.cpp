// The argument checker's letters and messages, the error prefix, and the
// rounding of letter I.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "script/LMP_CheckArgs.h"
#include "script_rig.h"

namespace {

// probe(format, ...): checks the remaining arguments against the format and
// returns the count, then what each letter wrote ("-" for untouched).
int probe(lua_State* L) {
  std::string format = luaL_checkstring(L, 1);
  lua_remove(L, 1);
  union Slot {
    uint8_t b;
    int32_t i;
    uint32_t u;
    double d;
    const char* s;
    double* p;
  };
  Slot slots[4];
  const uint64_t untouched = 0x5a5a5a5a5a5a5a5aull;
  for (Slot& s : slots) std::memcpy(&s, &untouched, sizeof s);
  int n = LMP_iCheckArgs(L, format.c_str(), &slots[0], &slots[1], &slots[2], &slots[3]);
  lua_pushinteger(L, n);
  int k = 0;
  for (char letter : format) {
    if (letter == '|') continue;
    if (k == 4) break;
    Slot& s = slots[k++];
    if (std::memcmp(&s, &untouched, sizeof s) == 0) {
      lua_pushliteral(L, "-");
      continue;
    }
    switch (letter) {
      case 'B': lua_pushboolean(L, s.b); break;
      case 'I': lua_pushinteger(L, s.i); break;
      case 'N': lua_pushnumber(L, s.d); break;
      case 'S': lua_pushstring(L, s.s); break;
      case 'F': lua_pushboolean(L, s.u > 0); break;
      default: lua_pushnumber(L, s.p ? s.p[0] : -1); break;
    }
  }
  return 1 + k;
}

struct Case {
  const char* call;      // Lua code evaluated as the values of `r`
  const char* result;    // the values, joined by " "
  const char* report;    // the one report, or null
};

TEST(CheckArgs, LettersAndMessages) {
  const Case cases[] = {
      {"probe('N')", "0 -", "Not enough arguments, <N> argument(s) expected"},
      {"probe('N', 1, 2)", "0 1", "Too much arguments, <N> argument(s) expected"},
      {"probe('', 1)", "0", "Too much arguments, <> argument(s) expected"},
      {"probe('')", "0", nullptr},
      {"probe('|N')", "0 -", nullptr},
      {"probe('S', 12)", "1 12", nullptr},
      {"probe('I', 2.5)", "1 2", nullptr},
      {"probe('I', 3.5)", "1 4", nullptr},
      {"probe('I', -2.5)", "1 -2", nullptr},
      {"probe('I', '7')", "1 7", nullptr},
      {"probe('I', 2^32 + 5)", "1 5", nullptr},
      {"probe('I', 0/0)", "1 0", nullptr},
      {"probe('I', 1/0)", "1 0", nullptr},
      {"probe('N', ' 0x10 ')", "1 16", nullptr},
      {"probe('NS', 1, {})", "0 1 -",
       "Invalid type (table) for argument #2, <NS> type argument(s) expected"},
      {"probe('N|BN', 1, 2)", "2 1 - 2", nullptr},
      {"probe('N|S', 1, {})", "0 1 -", "Too much arguments, <N|S> argument(s) expected"},
      {"probe('B', nil)", "0 -", "Invalid type (nil) for argument #1, <B> type argument(s) expected"},
      {"probe('B|B', false, true)", "2 false true", nullptr},
      {"probe('F', nil)", "1 false", nullptr},
      {"probe('F', print)", "1 true", nullptr},
      {"probe('NX', 1, 2)", "0 1 -", "Invalid type (number) for argument #2, <NX> type argument(s) expected"},
      {"probe('V', v3(4, 5, 6))", "1 4", nullptr},
      {"probe('C|W', color(0.5, 0, 0, 1), v2(7, 8))", "2 0.5 7", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    ScriptRig rig;
    lua_register(rig.L, "probe", probe);
    ASSERT_TRUE(rig.run(std::string("local t = {") + c.call +
                        "} for i = 1, #t do t[i] = tostring(t[i]) end r = table.concat(t, ' ')"))
        << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.result);
    if (c.report) {
      ASSERT_EQ(rig.controller->errors.size(), 1u);
      // Reported from the test chunk's first line.
      EXPECT_EQ(rig.firstError(), std::string("test:1: ") + c.report);
    } else {
      EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
    }
  }
}

TEST(CheckArgs, ValueLettersRaiseEvenWhenOptional) {
  const char* calls[] = {"probe('V', v2(1, 2))", "probe('|V', v2(1, 2))", "probe('N|M', 1, 2)",
                         "probe('R', 5)"};
  const char* expected[] = {"v3 expected, got userdata", "v3 expected, got userdata", "m33 expected, got number",
                            "(newRigidBody)"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(calls[i]);
    ScriptRig rig;
    lua_register(rig.L, "probe", probe);
    EXPECT_FALSE(rig.run(calls[i]));
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_NE(rig.firstError().find(expected[i]), std::string::npos) << rig.firstError();
  }
}

TEST(CheckArgs, ReportPrefixNamesTheScriptLine) {
  // Line 12 of init.lua; and through pcall, a native caller with no line.
  ScriptRig rig({{"init.lua", std::string(11, '\n') + "isKeyPressed() function startup() end"}});
  EXPECT_FALSE(rig.engine->start());  // the report halts: startup is refused
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_EQ(rig.firstError(), "init.lua:12: Not enough arguments, <I> argument(s) expected");

  ScriptRig native;
  ASSERT_TRUE(native.run("pcall(isKeyPressed)"));
  ASSERT_EQ(native.controller->errors.size(), 1u);
  EXPECT_EQ(native.firstError(), "Not enough arguments, <I> argument(s) expected");
}

TEST(CheckArgs, LongMessagesAreCut) {
  ScriptRig rig;
  lua_register(rig.L, "probe", probe);
  std::string format(2000, 'N');
  ASSERT_TRUE(rig.run("probe('" + format + "')"));
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_EQ(rig.firstError().size(), std::strlen("test:1: ") + 1023);
}

TEST(CheckArgs, IntegerRounding) {
  const struct {
    double in;
    int32_t out;
  } cases[] = {
      {0.5, 0},         {1.5, 2},           {-0.5, 0},           {-1.5, -2},         {2.4999, 2},
      {2147483647.0, INT32_MAX}, {2147483648.0, INT32_MIN}, {4294967296.0 + 7, 7}, {-4294967296.0 - 7, -7},
      {1e300, 0},       {-1e300, 0},        {NAN, 0},            {INFINITY, 0},      {-INFINITY, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(LMP_iNumberToInt(c.in), c.out) << c.in;
}

TEST(CheckArgs, NoControllerNoReport) {
  lua_State* L = luaL_newstate();
  lua_pushcfunction(L, probe);
  lua_pushliteral(L, "N");
  ASSERT_EQ(lua_pcall(L, 1, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  EXPECT_EQ(LMP_iGetController(L), nullptr);
  lua_close(L);
}

}  // namespace
