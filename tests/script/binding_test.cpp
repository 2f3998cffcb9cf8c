// The class binding on a bare Lua state with a small class of the test's
// own: construction, identity of pushes, counts, finalisation, the class
// check, the shared metamethods given foreign values, table accessors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "script/LMP_Binding.h"

namespace {

struct Gadget {
  MDL_Proxy proxy = nullptr;
  double radius = 1.5;
  int32_t count = 3;
  bool on = true;
  double position[3] = {1, 2, 3};
};

struct TestThing : LMP_Proxy {
  static constexpr const char* scriptName = "newThing";
  static const LMP_MethodEntry<TestThing> methods[];
  static int destroyed;
  static int live;  // allocations not yet freed
  static void* operator new(size_t size) {
    ++live;
    return ::operator new(size);
  }
  static void operator delete(void* p) {
    --live;
    ::operator delete(p);
  }

  explicit TestThing(lua_State* L) {
    if (lua_gettop(L) >= 1 && lua_isstring(L, 1) && std::string(lua_tostring(L, 1)) == "boom")
      luaL_error(L, "constructor refused");
    if (lua_gettop(L) >= 1 && lua_toboolean(L, 1)) {
      record = new Gadget();
      records.push_back(record);
      model = record;
      LMP_iAssignProxy(&record->proxy, this);
    }
    arguments = lua_gettop(L);
  }
  ~TestThing() override { ++destroyed; }

  int args(lua_State* L) {
    lua_pushinteger(L, arguments);
    return 1;
  }
  int refs(lua_State* L) {
    lua_pushinteger(L, refCount);
    return 1;
  }
  // Deletes the record as the model side would.
  int drop(lua_State*) {
    if (record) {
      Gadget* g = record;
      record = nullptr;
      forget(g);
      LMP_iReleaseProxy(&g->proxy);
      delete g;
    }
    return 0;
  }
  int exist(lua_State* L) {
    lua_pushboolean(L, model != nullptr);
    return 1;
  }

  static void forget(Gadget* g) { records.erase(std::find(records.begin(), records.end(), g)); }

  Gadget* record = nullptr;
  int arguments = 0;
  static std::vector<Gadget*> records;  // records still alive, freed by the fixture
};
std::vector<Gadget*> TestThing::records;

int TestThing::destroyed = 0;
int TestThing::live = 0;

const LMP_MethodEntry<TestThing> TestThing::methods[] = {
    {"args", &TestThing::args},
    {"refs", &TestThing::refs},
    {"drop", &TestThing::drop},
    {"exist", &TestThing::exist},
    LMP_iGetter<TestThing, &Gadget::radius>("getRadius"),
    LMP_iSetter<TestThing, &Gadget::radius>("setRadius"),
    LMP_iGetter<TestThing, &Gadget::count>("getCount"),
    LMP_iSetter<TestThing, &Gadget::count>("setCount"),
    LMP_iGetter<TestThing, &Gadget::on>("getOn"),
    LMP_iSetter<TestThing, &Gadget::on>("setOn"),
    LMP_iGetter<TestThing, &Gadget::position>("getPosition"),
    {nullptr, nullptr},
};

struct OtherThing : LMP_Proxy {
  static constexpr const char* scriptName = "newOther";
  static const LMP_MethodEntry<OtherThing> methods[];
  explicit OtherThing(lua_State*) {}
};
const LMP_MethodEntry<OtherThing> OtherThing::methods[] = {{nullptr, nullptr}};

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = luaL_newstate();
    luaL_openlibs(L);
    LMP_Binding<TestThing>::registerClass(L);
    LMP_Binding<OtherThing>::registerClass(L);
    TestThing::destroyed = 0;
    TestThing::live = 0;
  }
  void TearDown() override {
    if (L) lua_close(L);
    // The model side goes last: releasing the links frees the proxies.
    for (Gadget* g : TestThing::records) {
      LMP_iReleaseProxy(&g->proxy);
      delete g;
    }
    TestThing::records.clear();
  }
  // Runs a chunk; answers "" or the error text.
  std::string run(const char* code) {
    if (luaL_dostring(L, code) != LUA_OK) {
      std::string e = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
      lua_pop(L, 1);
      return e;
    }
    return "";
  }
  std::string global(const char* name) {
    lua_getglobal(L, name);
    std::string s = luaL_tolstring(L, -1, nullptr);
    lua_pop(L, 2);
    return s;
  }
  lua_State* L = nullptr;
};

TEST_F(BindingTest, ConstructionFormsAndArgumentShift) {
  ASSERT_EQ(run("a = newThing(true, 2):args()"
                " b = newThing:new(true, 2, 3):args()"
                " c = newThing.new(1, 2):args()"
                " d = newThing.new():args()"
                " e = getmetatable(newThing(true)) == newThing"),
            "");
  EXPECT_EQ(global("a"), "2");
  EXPECT_EQ(global("b"), "3");
  EXPECT_EQ(global("c"), "1");  // the dot form drops its first argument
  EXPECT_EQ(global("d"), "0");  // nothing to drop: no arguments at all
  EXPECT_EQ(global("e"), "true");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(BindingTest, ConstructorErrorFreesTheProxy) {
  std::string e = run("newThing('boom')");
  EXPECT_NE(e.find("constructor refused"), std::string::npos) << e;
  EXPECT_EQ(TestThing::live, 0);
}

TEST_F(BindingTest, PushIsIdentityAndCountsUserdataNotPushes) {
  auto* p = new TestThing(L);  // no record
  LMP_Binding<TestThing>::push(L, p);
  LMP_Binding<TestThing>::push(L, p);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  EXPECT_EQ(p->refCount, 1u);
  lua_pop(L, 2);
  lua_gc(L, LUA_GCCOLLECT, 0);
  EXPECT_EQ(TestThing::destroyed, 1);  // the only holder went away
}

TEST_F(BindingTest, RecordLinkKeepsProxyAcrossCollectionsAndReleaseClearsModel) {
  ASSERT_EQ(run("t = newThing(true) n1 = t:refs()"), "");
  EXPECT_EQ(global("n1"), "2");
  lua_getglobal(L, "t");
  auto* p = static_cast<TestThing*>(LMP_Binding<TestThing>::check(L, -1));
  lua_pop(L, 1);
  Gadget* g = p->record;
  ASSERT_EQ(g->proxy, p);
  ASSERT_EQ(run("t = nil collectgarbage()"), "");
  EXPECT_EQ(TestThing::destroyed, 0);
  EXPECT_EQ(p->refCount, 1u);
  // A new userdata for the same proxy.
  LMP_Binding<TestThing>::push(L, p);
  lua_setglobal(L, "t");
  ASSERT_EQ(run("n2 = t:refs() t:drop() gone = not t:exist() r = t:getRadius()"), "");
  EXPECT_EQ(global("n2"), "2");
  EXPECT_EQ(global("gone"), "true");
  EXPECT_EQ(global("r"), "nil");  // getters give nothing without a record
  EXPECT_EQ(TestThing::destroyed, 0);
  ASSERT_EQ(run("t = nil collectgarbage()"), "");
  EXPECT_EQ(TestThing::destroyed, 1);
}

TEST_F(BindingTest, CheckMessages) {
  struct Case {
    const char* code;
    const char* expected;
  } cases[] = {
      {"newThing.args(5)", "bad argument #1 to 'args' (newThing)"},
      {"local o = newOther() newThing.args(o)", "bad argument #1 to 'args' (newThing)"},
      {"local o = newOther() o.args = 1", "attempt to index"},
      {"local o = newOther() o.args = nil", "attempt to index"},
  };
  for (const Case& c : cases) {
    std::string e = run(c.code);
    EXPECT_NE(e.find(c.expected), std::string::npos) << c.code << " -> " << e;
  }
  // Colon syntax on a value of another class names the method.
  ASSERT_EQ(run("newOther.args = newThing.args"), "");
  std::string e = run("local o = newOther() o:args()");
  EXPECT_NE(e.find("calling 'args' on bad self"), std::string::npos) << e;
}

TEST_F(BindingTest, MethodsTableIsSharedAndUnknownNamesAreNil) {
  ASSERT_EQ(run("newThing.extra = 42 local t = newThing() x = t.extra y = t.nothing"), "");
  EXPECT_EQ(global("x"), "42");
  EXPECT_EQ(global("y"), "nil");
}

TEST_F(BindingTest, ToStringAndSharedMetamethodsRefuseForeignValues) {
  ASSERT_EQ(run("local t = newThing() s = tostring(t)"), "");
  std::string s = global("s");
  EXPECT_EQ(s.rfind("newThing (0x", 0), 0u) << s;
  EXPECT_EQ(s.back(), ')');
  // The hidden metamethods reached through the debug library with a file
  // userdata and a table: __gc ignores them, __tostring raises.
  ASSERT_EQ(run("local mt = debug.getmetatable(newThing())"
                " local f = io.tmpfile() mt.__gc(f) mt.__gc({}) mt.__gc(nil)"
                " ok = pcall(mt.__tostring, f) f:close()"),
            "");
  EXPECT_EQ(global("ok"), "false");
  // A slot whose metatable was swapped no longer passes the check.
  std::string e = run("local mt = debug.getmetatable(newThing()) local o = newOther()"
                      " debug.setmetatable(o, mt) o:args()");
  EXPECT_NE(e.find("bad self"), std::string::npos) << e;
}

TEST_F(BindingTest, AfterGcTheSlotIsEmpty) {
  auto* p = new TestThing(L);
  LMP_Binding<TestThing>::push(L, p);
  int ud = lua_gettop(L);
  EXPECT_EQ(LMP_Binding<TestThing>::test(L, ud)[0], p);
  lua_pushcfunction(L, LMP_iBindingGc);
  lua_pushvalue(L, ud);
  lua_call(L, 1, 0);
  EXPECT_EQ(TestThing::destroyed, 1);
  LMP_Proxy** slot = LMP_Binding<TestThing>::test(L, ud);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(*slot, nullptr);
  lua_setglobal(L, "dead");
  std::string e = run("dead:args()");
  EXPECT_NE(e.find("bad self"), std::string::npos) << e;
}

TEST_F(BindingTest, TableAccessors) {
  ASSERT_EQ(run("t = newThing(true)"
                " r = t:getRadius() c = t:getCount() o = t:getOn() p = t:getPosition()"
                " t:setRadius('2.5') t:setCount(2.5) t:setOn(false)"
                " r2 = t:getRadius() c2 = t:getCount() o2 = t:getOn()"),
            "");
  EXPECT_EQ(global("r"), "1.5");
  EXPECT_EQ(global("c"), "3");
  EXPECT_EQ(global("o"), "true");
  EXPECT_EQ(global("r2"), "2.5");
  EXPECT_EQ(global("c2"), "2");
  EXPECT_EQ(global("o2"), "false");
  ASSERT_EQ(run("t:drop()"), "");
}

}  // namespace
