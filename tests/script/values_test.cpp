// The value types v3, v2, color and m33 as scripts see them.
#include <gtest/gtest.h>

#include "script_rig.h"

namespace {

struct Case {
  const char* expression;
  const char* expected;  // tostring of the value
};

TEST(Values, Expressions) {
  const Case cases[] = {
      {"v3(1, 2.5, -3)", "v3(1,2.5,-3)"},
      {"v3()", "v3(0,0,0)"},
      {"v2()", "v2(0,0)"},
      {"color()", "color(0,0,0,1)"},
      {"m33()", "m33(v3(1,0,0),v3(0,1,0),v3(0,0,1))"},
      {"v3(v3(1, 2, 3))", "v3(1,2,3)"},
      {"v3('1', 2, 3)", "v3(1,2,3)"},
      // Operators.
      {"v3(1, 0, 0) * v3(0, 1, 0)", "v3(0,0,1)"},
      {"2 * v3(1, 2, 3)", "v3(2,4,6)"},
      {"v3(1, 2, 3) * 2", "v3(2,4,6)"},
      {"'2' * v3(1, 2, 3)", "v3(2,4,6)"},
      {"v2(1, 0) * v2(0, 1)", "1"},
      {"v2(0, 1) * v2(1, 0)", "-1"},
      {"color(1, 2, 3, 4) * 0.5", "color(0.5,1,1.5,2)"},
      {"v3(1, 2, 3) + v3(1, 1, 1)", "v3(2,3,4)"},
      {"v2(1, 2) - v2(1, 1)", "v2(0,1)"},
      {"-color(1, 2, 3, 4)", "color(-1,-2,-3,-4)"},
      {"v3(2, 4, 6) / 2", "v3(1,2,3)"},
      {"v3(1, 2, 3) / 'x'", "nil"},
      {"v3(1, 2, 3) == v3(1, 2, 3)", "true"},
      {"v2(1, 2) == v2(1, 3)", "false"},
      {"m33() == m33()", "true"},
      {"m33(v3(1, 0, 0), v3(0, 2, 0), v3(0, 0, 3)) + m33()", "m33(v3(2,0,0),v3(0,3,0),v3(0,0,4))"},
      {"3 * m33()", "m33(v3(3,0,0),v3(0,3,0),v3(0,0,3))"},
      // m33 product: the second operand applied to the columns of the first.
      {"m33(v3(0, 1, 0), v3(-1, 0, 0), v3(0, 0, 1)) * m33(v3(2, 0, 0), v3(0, 1, 0), v3(0, 0, 1))",
       "m33(v3(0,1,0),v3(-2,0,0),v3(0,0,1))"},
      // Methods.
      {"v3(1, 2, 3):xy()", "v2(1,2)"},
      {"color(0.1, 0.2, 0.3, 0.4):rgb()", "v3(0.1,0.2,0.3)"},
      {"v2(3, 4):norm()", "5"},
      {"color(1, 1, 1, 1):norm()", "2"},
      {"v3(1, 2, 3):dot(v3(4, 5, 6))", "32"},
      {"v3(1, 1, 1):gap(v3(1, 4, 5))", "5"},
      {"m33():getColumn(2)", "v3(0,1,0)"},
      {"m33():getColumn(4)", "nil"},
      {"m33(v3(3, 0, 0), v3(0, 4, 0), v3(0, 0, 0.5)):getScale()", "v3(3,4,0.5)"},
  };
  ScriptRig rig;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    ASSERT_TRUE(rig.run(std::string("r = ") + c.expression)) << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.expected);
  }
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

TEST(Values, InPlaceMethods) {
  const Case cases[] = {
      {"local v = v3(0, 0, 0) r = tostring(v:normalize()) .. ' ' .. tostring(v)", "false v3(0,0,0)"},
      {"local v = v3(3, 0, 4) v:normalize() r = v", "v3(0.6,0,0.8)"},
      {"local v = v3(1, 2, 3) v:setX('abc') v:setZ('9') r = v", "v3(0,2,9)"},
      {"local v = v2(1, 2) v:set(5) r = v", "v2(5,0)"},
      {"local c = color(1, 1, 1, 1) c:setRGB(v3(0.1, 0.2, 0.3)) r = c", "color(0.1,0.2,0.3,1)"},
      {"local c = color(1, 1, 1, 1) c:reset() r = c", "color(0,0,0,0)"},
      {"local v = v3(1, 90, 0) v:sphericalToCartesian()"
       " r = string.format('%.12f %.12f %.12f', v:x(), v:y(), v:z())",
       "1.000000000000 0.000000000000 0.000000000000"},
      {"local v = v3(1, 0, 0) v:cartesianToSpherical() r = v", "v3(1,1.5707963267949,0)"},
      {"local v = v3(1, 0, 0) v:rotate(v3(0, 0, 2), 90)"
       " r = string.format('%.12f %.12f', v:x(), v:y())",
       "0.000000000000 1.000000000000"},
      {"local v = v3(1, 0, 0) v:rotate(v3(0, 0, 0), 90) r = v", "v3(1,0,0)"},
      {"local m = m33() m:set(0, 2, 5) r = m", "m33(v3(1,0,5),v3(0,1,0),v3(0,0,1))"},
      {"local m = m33() m:set(0, 3, 5) m:set(-1, 0, 5) r = m", "m33(v3(1,0,0),v3(0,1,0),v3(0,0,1))"},
      {"local m = m33() m:setColumn(3, v3(1, 2, 3)) r = m", "m33(v3(1,0,0),v3(0,1,0),v3(1,2,3))"},
      {"local m = m33() m:scale(v3(2, 3, 4)) r = m", "m33(v3(2,0,0),v3(0,3,0),v3(0,0,4))"},
      {"local m = m33(v3(2, 0, 0), v3(0, 3, 0), v3(0, 0, 4)) m:setScale(v3(1, 1, 1)) r = m",
       "m33(v3(1,0,0),v3(0,1,0),v3(0,0,1))"},
      {"local m = m33(v3(1, 0, 0), v3(1, 1, 0), v3(0, 0, 1)) r = tostring(m:orthonormalize(AXIS_X))"
       " .. ' ' .. tostring(m:getColumn(2))",
       "true v3(0,1,0)"},
      {"local m = m33(v3(0, 0, 0), v3(0, 1, 0), v3(0, 0, 1)) r = m:orthonormalize()", "true"},
      {"local m = m33(v3(1, 0, 0), v3(0, 0, 0), v3(0, 0, 1)) r = m:orthonormalize()", "false"},
      {"local m = m33() m:rotateAxis(AXIS_Z, 90)"
       " local x = m:getColumn(1) r = string.format('%.12f %.12f', x:x(), x:y())",
       "0.000000000000 1.000000000000"},
      {"local m = m33() m:scale(v3(2, 2, 2)) m:reset() r = m", "m33(v3(1,0,0),v3(0,1,0),v3(0,0,1))"},
  };
  ScriptRig rig;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    ASSERT_TRUE(rig.run(c.expression)) << rig.firstError();
    EXPECT_EQ(rig.global("r"), c.expected);
  }
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

TEST(Values, Misuse) {
  const struct {
    const char* code;
    const char* error;  // part of the one error stop
  } cases[] = {
      {"color(1, 0, 0)", "bad argument #4 to 'color' (number expected, got no value)"},
      {"m33(v3(1, 0, 0))", "m33 expected, got userdata"},
      {"m33(v3(), v3())", "Bad arguments count for m33 creation"},
      {"m33(v3(), v3(), v3(), v3())", "Bad arguments count for m33 creation"},
      {"v3({})", "v3 expected, got table"},
      {"local x = v3() + v2()", "v3 expected, got userdata"},
      {"local x = m33() * v3()", "m33 expected, got userdata"},
      {"local x = color() * color()", "Bad parameters for v4 multiplication"},
      {"m33():orthonormalize(4)", "Invalid axis ID"},
      {"m33():orthonormalize('x')", "Invalid axis ID"},
      {"m33():rotateAxis(0, 10)", "Invalid axis ID"},
      {"color():setRGB(v2())", "v3 expected, got userdata"},
      {"v3(1, 2, 3).x(v2())", "v3 expected, got userdata"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ScriptRig rig;
    rig.run(c.code);
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_NE(rig.firstError().find(c.error), std::string::npos) << rig.firstError();
  }
}

TEST(Values, PushedValuesStartZeroedAndOperatorsMakeNewValues) {
  ScriptRig rig;
  ASSERT_TRUE(rig.run("local a = v3(1, 2, 3) local b = a * 1 b:setX(9) r = tostring(a) .. tostring(b)"
                      " local m = m33() local n = m * 1 n:set(0, 0, 7) s = tostring(m:getColumn(1))"));
  EXPECT_EQ(rig.global("r"), "v3(1,2,3)v3(9,2,3)");
  EXPECT_EQ(rig.global("s"), "v3(1,0,0)");
}

}  // namespace
