// The script value types v3, v2, color and m33.
#include "script/LMP_Values.h"

#include <cmath>
#include <cstring>

#include <lua.hpp>

#include "math/MDL_Frame.h"
#include "script/LMP_Binding.h"
#include "script/LMP_CheckArgs.h"

namespace {

const char* const kV3 = "v3";
const char* const kV2 = "v2";
const char* const kColor = "color";
const char* const kM33 = "m33";

// Each type's metatable is also kept in the registry under a light userdata
// key (the address of its name constant), which is found without hashing a
// string: values are made and checked in every other script line.
const void* keyOf(const char* type) {
  if (type == kV3 || !std::strcmp(type, kV3)) return &kV3;
  if (type == kV2 || !std::strcmp(type, kV2)) return &kV2;
  if (type == kColor || !std::strcmp(type, kColor)) return &kColor;
  if (type == kM33 || !std::strcmp(type, kM33)) return &kM33;
  return nullptr;
}

void pushMetatable(lua_State* L, const char* type) {
  if (const void* key = keyOf(type)) {
    lua_rawgetp(L, LUA_REGISTRYINDEX, key);
    if (!lua_isnil(L, -1)) return;
    lua_pop(L, 1);
  }
  luaL_getmetatable(L, type);
}

double* pushValue(lua_State* L, const char* type, int count) {
  auto* d = static_cast<double*>(lua_newuserdata(L, sizeof(double) * count));
  std::memset(d, 0, sizeof(double) * count);
  pushMetatable(L, type);
  lua_setmetatable(L, -2);
  return d;
}

// luaL_testudata through the keyed metatable.
double* testValue(lua_State* L, int index, const char* type) {
  void* p = lua_touserdata(L, index);
  if (!p || !lua_getmetatable(L, index)) return nullptr;
  pushMetatable(L, type);
  bool same = lua_rawequal(L, -1, -2);
  lua_pop(L, 2);
  return same ? static_cast<double*>(p) : nullptr;
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

double* LMP_iToV3(lua_State* L, int index) { return testValue(L, index, kV3); }
double* LMP_iToV2(lua_State* L, int index) { return testValue(L, index, kV2); }
double* LMP_iToColor(lua_State* L, int index) { return testValue(L, index, kColor); }
double* LMP_iToM33(lua_State* L, int index) { return testValue(L, index, kM33); }

// ----- Methods and metamethods -------------------------------------------------

namespace {

constexpr double kDegree = 0.017453292519943295;

double* check(lua_State* L, int index, const char* type) {
  return static_cast<double*>(luaL_checkudata(L, index, type));
}

// A plain number argument: a number or numeric string, anything else 0.
double number(lua_State* L, int index) { return lua_tonumberx(L, index, nullptr); }
int index(lua_State* L, int i) { return LMP_iNumberToInt(number(L, i)); }

double* push(lua_State* L, const char* type, int count) { return pushValue(L, type, count); }

// The three vector-like types share their component-wise methods; the
// upvalue-free functions below are instantiated per type.
template <int N>
struct Vec;
template <>
struct Vec<3> {
  static constexpr const char* name = "v3";
};
template <>
struct Vec<2> {
  static constexpr const char* name = "v2";
};
template <>
struct Vec<4> {
  static constexpr const char* name = "color";
};

template <int N>
int vAdd(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* b = check(L, 2, Vec<N>::name);
  double* r = push(L, Vec<N>::name, N);
  for (int i = 0; i < N; ++i) r[i] = a[i] + b[i];
  return 1;
}

template <int N>
int vSub(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* b = check(L, 2, Vec<N>::name);
  double* r = push(L, Vec<N>::name, N);
  for (int i = 0; i < N; ++i) r[i] = a[i] - b[i];
  return 1;
}

template <int N>
int vUnm(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* r = push(L, Vec<N>::name, N);
  for (int i = 0; i < N; ++i) r[i] = -a[i];
  return 1;
}

template <int N>
int vScaled(lua_State* L, const double* a, double k) {
  double* r = push(L, Vec<N>::name, N);
  for (int i = 0; i < N; ++i) r[i] = a[i] * k;
  return 1;
}

template <int N>
int vMul(lua_State* L) {
  if (lua_isnumber(L, 1)) return vScaled<N>(L, check(L, 2, Vec<N>::name), lua_tonumber(L, 1));
  if (lua_isnumber(L, 2)) return vScaled<N>(L, check(L, 1, Vec<N>::name), lua_tonumber(L, 2));
  if constexpr (N == 4) {
    LMP_iReportError(L, "Bad parameters for v4 multiplication");
    return 0;
  } else {
    double* a = check(L, 1, Vec<N>::name);
    double* b = check(L, 2, Vec<N>::name);
    if constexpr (N == 2) {
      lua_pushnumber(L, a[0] * b[1] - a[1] * b[0]);
    } else {
      double* r = push(L, Vec<N>::name, N);
      double x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
      r[0] = x;
      r[1] = y;
      r[2] = z;
    }
    return 1;
  }
}

template <int N>
int vDiv(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  if (!lua_isnumber(L, 2)) return 0;
  return vScaled<N>(L, a, 1.0 / lua_tonumber(L, 2));
}

template <int N>
int vEq(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* b = check(L, 2, Vec<N>::name);
  bool same = true;
  for (int i = 0; i < N; ++i) same = same && a[i] == b[i];
  lua_pushboolean(L, same);
  return 1;
}

template <int N>
int vToString(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  if constexpr (N == 3)
    lua_pushfstring(L, "v3(%f,%f,%f)", a[0], a[1], a[2]);
  else if constexpr (N == 2)
    lua_pushfstring(L, "v2(%f,%f)", a[0], a[1]);
  else
    lua_pushfstring(L, "color(%f,%f,%f,%f)", a[0], a[1], a[2], a[3]);
  return 1;
}

template <int N, int I>
int vGet(lua_State* L) {
  lua_pushnumber(L, check(L, 1, Vec<N>::name)[I]);
  return 1;
}

template <int N, int I>
int vSetOne(lua_State* L) {
  check(L, 1, Vec<N>::name)[I] = number(L, 2);
  return 0;
}

template <int N>
int vSet(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  for (int i = 0; i < N; ++i) a[i] = number(L, i + 2);
  return 0;
}

template <int N>
double length(const double* a) {
  double s = 0;
  for (int i = 0; i < N; ++i) s += a[i] * a[i];
  return std::sqrt(s);
}

template <int N>
int vNorm(lua_State* L) {
  lua_pushnumber(L, length<N>(check(L, 1, Vec<N>::name)));
  return 1;
}

template <int N>
int vNormalize(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double l = length<N>(a);
  if (l > 0)
    for (int i = 0; i < N; ++i) a[i] /= l;
  lua_pushboolean(L, l > 0);
  return 1;
}

template <int N>
int vReset(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  for (int i = 0; i < N; ++i) a[i] = 0;
  return 0;
}

template <int N>
int vDot(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* b = check(L, 2, Vec<N>::name);
  double s = 0;
  for (int i = 0; i < N; ++i) s += a[i] * b[i];
  lua_pushnumber(L, s);
  return 1;
}

template <int N>
int vGap(lua_State* L) {
  double* a = check(L, 1, Vec<N>::name);
  double* b = check(L, 2, Vec<N>::name);
  double d[N];
  for (int i = 0; i < N; ++i) d[i] = a[i] - b[i];
  lua_pushnumber(L, length<N>(d));
  return 1;
}

int v3Xy(lua_State* L) {
  double* a = check(L, 1, kV3);
  double* r = LMP_iPushV2(L);
  r[0] = a[0];
  r[1] = a[1];
  return 1;
}

int v3Rotate(lua_State* L) {
  double* a = check(L, 1, kV3);
  double* axis = check(L, 2, kV3);
  double angle = number(L, 3) * kDegree;
  v3 p{a[0], a[1], a[2]};
  v3::rotateByCosSin(p, v3{axis[0], axis[1], axis[2]}, std::cos(angle), std::sin(angle));
  a[0] = p.x;
  a[1] = p.y;
  a[2] = p.z;
  return 0;
}

int v3SphericalToCartesian(lua_State* L) {
  double* a = check(L, 1, kV3);
  double r = a[0], theta = a[1] * kDegree, phi = a[2] * kDegree;
  a[0] = r * std::sin(theta) * std::cos(phi);
  a[1] = r * std::sin(theta) * std::sin(phi);
  a[2] = r * std::cos(theta);
  return 0;
}

int v3CartesianToSpherical(lua_State* L) {
  double* a = check(L, 1, kV3);
  double r = length<3>(a);
  // The origin has no direction: its angles are 0.
  double theta = r > 0 ? std::acos(a[2] / r) : 0;
  double phi = std::atan2(a[1], a[0]);
  a[0] = r;
  a[1] = theta;
  a[2] = phi;
  return 0;
}

int colorRgb(lua_State* L) {
  double* a = check(L, 1, kColor);
  double* r = LMP_iPushV3(L);
  r[0] = a[0];
  r[1] = a[1];
  r[2] = a[2];
  return 1;
}

int colorSetRgb(lua_State* L) {
  double* a = check(L, 1, kColor);
  lua_remove(L, 1);
  double* v = nullptr;
  if (!LMP_iCheckArgs(L, "V", &v)) return 0;
  a[0] = v[0];
  a[1] = v[1];
  a[2] = v[2];
  return 0;
}

// ----- Constructors -------------------------------------------------------------

template <int N>
int vNew(lua_State* L) {
  double* r;
  if (lua_gettop(L) == 0) {
    r = push(L, Vec<N>::name, N);
    if constexpr (N == 4) r[3] = 1;  // opaque black
    return 1;
  }
  if (lua_isnumber(L, 1)) {
    double c[N];
    c[0] = lua_tonumber(L, 1);
    for (int i = 1; i < N; ++i) c[i] = luaL_checknumber(L, i + 1);
    r = push(L, Vec<N>::name, N);
    std::memcpy(r, c, sizeof c);
    return 1;
  }
  double* source = check(L, 1, Vec<N>::name);
  r = push(L, Vec<N>::name, N);
  std::memcpy(r, source, sizeof(double) * N);
  return 1;
}

// ----- m33 ------------------------------------------------------------------

m33 toM33(const double* d) {
  m33 m;
  std::memcpy(static_cast<void*>(&m), d, sizeof m);
  return m;
}

void fromM33(double* d, const m33& m) { std::memcpy(d, static_cast<const void*>(&m), sizeof m); }

static_assert(sizeof(m33) == 9 * sizeof(double), "m33 is nine doubles, column by column");

void setIdentity(double* d) { fromM33(d, m33::identity()); }

int mNew(lua_State* L) {
  int n = lua_gettop(L);
  if (n == 0) {
    setIdentity(LMP_iPushM33(L));
    return 1;
  }
  if (n == 1) {
    double* source = check(L, 1, kM33);
    std::memcpy(LMP_iPushM33(L), source, sizeof(double) * 9);
    return 1;
  }
  if (n != 3) {
    LMP_iReportError(L, "Bad arguments count for m33 creation");
    return 0;
  }
  double* c1 = check(L, 1, kV3);
  double* c2 = check(L, 2, kV3);
  double* c3 = check(L, 3, kV3);
  double* r = LMP_iPushM33(L);
  std::memcpy(r, c1, sizeof(double) * 3);
  std::memcpy(r + 3, c2, sizeof(double) * 3);
  std::memcpy(r + 6, c3, sizeof(double) * 3);
  return 1;
}

int mAdd(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* b = check(L, 2, kM33);
  double* r = LMP_iPushM33(L);
  for (int i = 0; i < 9; ++i) r[i] = a[i] + b[i];
  return 1;
}

int mScaled(lua_State* L, const double* a, double k) {
  double* r = LMP_iPushM33(L);
  for (int i = 0; i < 9; ++i) r[i] = a[i] * k;
  return 1;
}

int mMul(lua_State* L) {
  if (lua_isnumber(L, 1)) return mScaled(L, check(L, 2, kM33), lua_tonumber(L, 1));
  if (lua_isnumber(L, 2)) return mScaled(L, check(L, 1, kM33), lua_tonumber(L, 2));
  m33 a = toM33(check(L, 1, kM33));
  m33 b = toM33(check(L, 2, kM33));
  m33::preMultiply(a, b);  // the second operand applied to each column of the first
  fromM33(LMP_iPushM33(L), a);
  return 1;
}

int mEq(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* b = check(L, 2, kM33);
  bool same = true;
  for (int i = 0; i < 9; ++i) same = same && a[i] == b[i];
  lua_pushboolean(L, same);
  return 1;
}

int mToString(lua_State* L) {
  double* a = check(L, 1, kM33);
  lua_pushfstring(L, "m33(v3(%f,%f,%f),v3(%f,%f,%f),v3(%f,%f,%f))", a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7],
                  a[8]);
  return 1;
}

int mSet(lua_State* L) {
  double* a = check(L, 1, kM33);
  int column = index(L, 2), row = index(L, 3);
  if (column >= 0 && column <= 2 && row >= 0 && row <= 2) a[3 * column + row] = number(L, 4);
  return 0;
}

int mSetColumn(lua_State* L) {
  double* a = check(L, 1, kM33);
  int column = index(L, 2);
  double* v = check(L, 3, kV3);
  if (column >= 1 && column <= 3) std::memcpy(a + 3 * (column - 1), v, sizeof(double) * 3);
  return 0;
}

int mGetColumn(lua_State* L) {
  double* a = check(L, 1, kM33);
  int column = index(L, 2);
  if (column < 1 || column > 3) return 0;
  std::memcpy(LMP_iPushV3(L), a + 3 * (column - 1), sizeof(double) * 3);
  return 1;
}

// An axis id 1..3 (AXIS_X..AXIS_Z) as a column index, or -1.
int axisColumn(lua_State* L, int i) {
  if (!lua_isnumber(L, i)) return -1;
  int axis = index(L, i);
  return axis >= 1 && axis <= 3 ? axis - 1 : -1;
}

int mOrthonormalize(lua_State* L) {
  double* a = check(L, 1, kM33);
  int k = lua_gettop(L) >= 2 ? axisColumn(L, 2) : 1;
  if (k < 0) {
    LMP_iReportError(L, "Invalid axis ID");
    return 0;
  }
  m33 m = toM33(a);
  bool ok = m33::orthonormalize(m, k);
  fromM33(a, m);
  lua_pushboolean(L, ok);
  return 1;
}

int mReset(lua_State* L) {
  setIdentity(check(L, 1, kM33));
  return 0;
}

int mRotate(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* axis = check(L, 2, kV3);
  m33 m = toM33(a);
  m33::rotate(m, v3{axis[0], axis[1], axis[2]}, number(L, 3) * kDegree);
  fromM33(a, m);
  return 0;
}

int mRotateAxis(lua_State* L) {
  double* a = check(L, 1, kM33);
  int k = axisColumn(L, 2);
  if (k < 0) {
    LMP_iReportError(L, "Invalid axis ID");
    return 0;
  }
  m33 m = toM33(a);
  m33::rotateAxis(m, k, number(L, 3) * kDegree);
  fromM33(a, m);
  return 0;
}

int mSetScale(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* s = check(L, 2, kV3);
  m33 m = toM33(a);
  m33::setScale(m, v3{s[0], s[1], s[2]});
  fromM33(a, m);
  return 0;
}

int mGetScale(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* r = LMP_iPushV3(L);
  for (int c = 0; c < 3; ++c) r[c] = length<3>(a + 3 * c);
  return 1;
}

int mScale(lua_State* L) {
  double* a = check(L, 1, kM33);
  double* s = check(L, 2, kV3);
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) a[3 * c + r] *= s[c];
  return 0;
}

const luaL_Reg kV3Methods[] = {
    {"__add", vAdd<3>},
    {"__sub", vSub<3>},
    {"__unm", vUnm<3>},
    {"__mul", vMul<3>},
    {"__div", vDiv<3>},
    {"__eq", vEq<3>},
    {"__tostring", vToString<3>},
    {"x", vGet<3, 0>},
    {"y", vGet<3, 1>},
    {"z", vGet<3, 2>},
    {"xy", v3Xy},
    {"set", vSet<3>},
    {"setX", vSetOne<3, 0>},
    {"setY", vSetOne<3, 1>},
    {"setZ", vSetOne<3, 2>},
    {"norm", vNorm<3>},
    {"normalize", vNormalize<3>},
    {"reset", vReset<3>},
    {"dot", vDot<3>},
    {"gap", vGap<3>},
    {"rotate", v3Rotate},
    {"sphericalToCartesian", v3SphericalToCartesian},
    {"cartesianToSpherical", v3CartesianToSpherical},
    {nullptr, nullptr},
};

const luaL_Reg kV2Methods[] = {
    {"__add", vAdd<2>},
    {"__sub", vSub<2>},
    {"__unm", vUnm<2>},
    {"__mul", vMul<2>},
    {"__div", vDiv<2>},
    {"__eq", vEq<2>},
    {"__tostring", vToString<2>},
    {"x", vGet<2, 0>},
    {"y", vGet<2, 1>},
    {"set", vSet<2>},
    {"setX", vSetOne<2, 0>},
    {"setY", vSetOne<2, 1>},
    {"norm", vNorm<2>},
    {"normalize", vNormalize<2>},
    {"reset", vReset<2>},
    {"dot", vDot<2>},
    {"gap", vGap<2>},
    {nullptr, nullptr},
};

const luaL_Reg kColorMethods[] = {
    {"__add", vAdd<4>},
    {"__sub", vSub<4>},
    {"__unm", vUnm<4>},
    {"__mul", vMul<4>},
    {"__eq", vEq<4>},
    {"__tostring", vToString<4>},
    {"r", vGet<4, 0>},
    {"g", vGet<4, 1>},
    {"b", vGet<4, 2>},
    {"a", vGet<4, 3>},
    {"rgb", colorRgb},
    {"set", vSet<4>},
    {"setR", vSetOne<4, 0>},
    {"setG", vSetOne<4, 1>},
    {"setB", vSetOne<4, 2>},
    {"setA", vSetOne<4, 3>},
    {"setRGB", colorSetRgb},
    {"norm", vNorm<4>},
    {"normalize", vNormalize<4>},
    {"reset", vReset<4>},
    {"dot", vDot<4>},
    {"gap", vGap<4>},
    {nullptr, nullptr},
};

const luaL_Reg kM33Methods[] = {
    {"__add", mAdd},
    {"__mul", mMul},
    {"__eq", mEq},
    {"__tostring", mToString},
    {"set", mSet},
    {"setColumn", mSetColumn},
    {"getColumn", mGetColumn},
    {"orthonormalize", mOrthonormalize},
    {"reset", mReset},
    {"rotate", mRotate},
    {"rotateAxis", mRotateAxis},
    {"setScale", mSetScale},
    {"getScale", mGetScale},
    {"scale", mScale},
    {nullptr, nullptr},
};

void openType(lua_State* L, const char* name, const luaL_Reg* methods, lua_CFunction constructor) {
  if (luaL_newmetatable(L, name)) {
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_setfuncs(L, methods, 0);
  }
  if (const void* key = keyOf(name)) {
    lua_pushvalue(L, -1);
    lua_rawsetp(L, LUA_REGISTRYINDEX, key);
  }
  lua_pop(L, 1);
  lua_pushcfunction(L, constructor);
  lua_setglobal(L, name);
}

}  // namespace

void LMP_iOpenValues(lua_State* L) {
  openType(L, kV3, kV3Methods, vNew<3>);
  openType(L, kV2, kV2Methods, vNew<2>);
  openType(L, kColor, kColorMethods, vNew<4>);
  openType(L, kM33, kM33Methods, mNew);
}
