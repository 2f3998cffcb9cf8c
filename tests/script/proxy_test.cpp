// Proxies of scene objects: identity across pushes, survival across
// collections, the record's deletion, callback firing and its refusals,
// object arguments, classes this player registers by name only.
#include <gtest/gtest.h>

#include "model/MDL_Object.h"
#include "script/LMP_Binding.h"
#include "script_rig.h"

namespace {

int movedCalls(ScriptRig& rig) { return std::stoi(rig.global("moved")); }

TEST(Proxies, IdentityCollectionAndDeletion) {
  ScriptRig rig;
  auto* object = new MDL_Object();
  lua_State* L = rig.L;
  ASSERT_EQ(object->proxy, nullptr);  // no proxy until a script meets the object
  ASSERT_EQ(LMP_iPushProxy(L, object), 1);
  ASSERT_EQ(LMP_iPushProxy(L, object), 1);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  LMP_Proxy* proxy = object->proxy;
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->refCount, 2u);  // the link and one userdata
  lua_setglobal(L, "o");
  lua_pop(L, 1);
  ASSERT_TRUE(rig.run("moved = 0 o:setCallback(CB_MOVED, function(self) moved = moved + 1 end)"
                      " o:setUserData('kept') o = nil collectgarbage()"));
  EXPECT_EQ(proxy->refCount, 1u);
  EXPECT_EQ(object->proxy, proxy);

  // The same proxy comes back in a new userdata, with its handler and data.
  LMP_iPushProxy(L, object);
  lua_setglobal(L, "o");
  EXPECT_EQ(proxy->refCount, 2u);
  ASSERT_TRUE(rig.run("data = o:getUserData()"));
  EXPECT_EQ(rig.global("data"), "kept");
  EXPECT_TRUE(LMP_iFireCallback(&object->proxy, rig.engine, CB_MOVED));
  EXPECT_EQ(movedCalls(rig), 1);

  // Marked deleted: no handler runs any more.
  object->deleted = 1;
  EXPECT_FALSE(LMP_iFireCallback(&object->proxy, rig.engine, CB_MOVED));
  object->deleted = 0;

  // The record goes first: the script value stays safe and says so.
  delete object;
  EXPECT_EQ(proxy->model, nullptr);
  EXPECT_EQ(proxy->refCount, 1u);
  ASSERT_TRUE(rig.run("alive = o:exist() o = nil collectgarbage()"));
  EXPECT_EQ(rig.global("alive"), "false");
  EXPECT_EQ(movedCalls(rig), 1);
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

TEST(Proxies, FiringIsRefusedWhenHaltedOrUnlinked) {
  ScriptRig rig;
  auto* object = new MDL_Object();
  EXPECT_FALSE(LMP_iFireCallback(&object->proxy, rig.engine, CB_MOVED));  // no proxy yet
  LMP_iPushProxy(rig.L, object);
  lua_setglobal(rig.L, "o");
  ASSERT_TRUE(rig.run("moved = 0 o:setCallback(CB_MOVED, function() moved = moved + 1 end)"));
  EXPECT_FALSE(LMP_iFireCallback(&object->proxy, nullptr, CB_MOVED));
  rig.controller->halted = 1;
  EXPECT_FALSE(LMP_iFireCallback(&object->proxy, rig.engine, CB_MOVED));
  rig.controller->halted = 0;
  EXPECT_TRUE(LMP_iFireCallback(&object->proxy, rig.engine, CB_MOVED));
  EXPECT_EQ(movedCalls(rig), 1);
  delete object;
}

TEST(Proxies, UnknownTypesArgumentsAndNameOnlyClasses) {
  ScriptRig rig;
  lua_State* L = rig.L;
  MDL_Object odd;
  odd.type = OBJECT_RTF_TEXT;
  int top = lua_gettop(L);
  EXPECT_EQ(LMP_iPushProxy(L, &odd), 0);
  EXPECT_EQ(lua_gettop(L), top);
  ASSERT_EQ(rig.controller->errors.size(), 1u);
  EXPECT_EQ(rig.firstError(), "LMP_iPushProxy -> Unknown object type");

  ScriptRig second;
  L = second.L;
  auto* bone = new MDL_Object();
  bone->type = OBJECT_BONE;
  LMP_iPushProxy(L, bone);
  lua_setglobal(L, "b");
  ASSERT_TRUE(second.run("t = tostring(b):sub(1, 9) kind = b:getType() s = newScene()"));
  EXPECT_EQ(second.global("t"), "newBone (");
  EXPECT_EQ(second.global("kind"), "6");
  lua_getglobal(L, "b");
  lua_pushnumber(L, 1);
  lua_getglobal(L, "s");
  EXPECT_EQ(LMP_iToProxy(L, -3), bone->proxy->asObject());  // bones count as objects
  EXPECT_EQ(LMP_iToProxy(L, -2), nullptr);
  EXPECT_EQ(LMP_iToProxy(L, -1), nullptr);  // a scene is not an object
  lua_pop(L, 3);
  EXPECT_TRUE(second.controller->errors.empty()) << second.firstError();
  delete bone;
}

}  // namespace
