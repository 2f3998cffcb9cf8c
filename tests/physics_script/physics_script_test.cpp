// The body, volume, spring and joint classes, run as small scripts through
// the real engine with a test controller that records every error stop.
// Scripts drive the worlds with simulate(seconds) (fixed steps of 0.002 s,
// then the frame's closing step and purge) and frame() (closing step only).
#include <gtest/gtest.h>

#include <lua.hpp>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "model/MDL_Objects.h"
#include "physics/MDL_RigidBody.h"
#include "physics/MDL_Scene.h"
#include "physics/MDL_Spring.h"
#include "tests/script/script_rig.h"

namespace {

const char* kPrelude = R"lua(
  function near(a, b, what, tolerance)
    local d = a - b
    local n = type(d) == "number" and math.abs(d) or d:norm()
    if not (n <= (tolerance or 1e-9)) then
      error((what or "value") .. ": " .. tostring(a) .. " ~= " .. tostring(b), 2)
    end
  end
  function same(a, b, what)
    if a ~= b then error((what or "value") .. ": " .. tostring(a) .. " ~= " .. tostring(b), 2) end
  end
  function nothing(what, ...)
    if select("#", ...) ~= 0 then error(what .. " answered " .. tostring((...)), 2) end
  end
)lua";

std::string sourceFile(const char* path) {
  std::ifstream in(std::string(HALVORIN_SOURCE_DIR) + "/" + path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class PhysicsScript : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.controller->haltOnError = false;
    rig.controller->stage = 3;
    lua_pushlightuserdata(rig.L, this);
    lua_pushcclosure(rig.L, &simulate, 1);
    lua_setglobal(rig.L, "simulate");
    lua_pushlightuserdata(rig.L, this);
    lua_pushcclosure(rig.L, &frame, 1);
    lua_setglobal(rig.L, "frame");
    ASSERT_TRUE(rig.run(kPrelude)) << errors();
  }

  static PhysicsScript* self(lua_State* L) {
    return static_cast<PhysicsScript*>(lua_touserdata(L, lua_upvalueindex(1)));
  }
  void closeFrame() {
    for (MDL_Scene* s : rig.controller->scenes) {
      s->step(0, rig.engine);
      s->purgeDeleted();
    }
  }
  static int simulate(lua_State* L) {
    PhysicsScript* t = self(L);
    int steps = int(std::lround(luaL_checknumber(L, 1) / 0.002));
    for (int i = 0; i < steps; ++i)
      for (MDL_Scene* s : t->rig.controller->scenes) s->step(0.002, t->rig.engine);
    t->closeFrame();
    return 0;
  }
  static int frame(lua_State* L) {
    self(L)->closeFrame();
    return 0;
  }

  // Runs a chunk that must go through without any report.
  void run(const std::string& code) {
    rig.controller->errors.clear();
    bool ok = rig.run(code);
    EXPECT_TRUE(ok && rig.controller->errors.empty()) << errors() << "\nin:\n" << code;
  }
  // Runs a chunk that must report text (first among the reports).
  void expectReport(const std::string& code, const std::string& text) {
    rig.controller->errors.clear();
    rig.run(code);
    std::string got = errors();
    EXPECT_FALSE(got.empty()) << "no report for: " << code;
    EXPECT_NE(got.find(text), std::string::npos) << "code: " << code << "\ngot: " << got;
    rig.controller->errors.clear();
  }
  std::string errors() const {
    std::string all;
    for (const auto& e : rig.controller->errors) all += e + "\n";
    return all;
  }
  MDL_Scene* scene(int i) { return rig.controller->scenes.data[i]; }

  // The package holds the demo's physics room, for the test that runs it.
  ScriptRig rig{PackageFiles{{"physics.xml", sourceFile("content/demo/physics.xml")}}, true};
};

TEST_F(PhysicsScript, BodyDefaultsAndPlainFields) {
  run(R"lua(
    scene = newScene()
    local b = newRigidBody(scene)
    same(b:getType(), OBJECT_RIGID_BODY)
    same(tostring(b):match("^newRigidBody "), "newRigidBody ")
    -- Defaults: single-precision values widened to double.
    local f = 0.20000000298023223876953125
    for _, c in ipairs({
      {"getMass", 1}, {"getDamping", f}, {"getAngularDamping", f},
      {"getElasticity", 0.60000002384185791015625}, {"getFriction", 0.800000011920928955078125},
      {"getStill", false}, {"getStillDelay", 2}, {"getVerticesGroundCollision", false},
    }) do
      same(b[c[1]](b), c[2], c[1])
    end
    for _, c in ipairs({{"getInertia", v3(0.01, 0.01, 0.01)}, {"getSpeed", v3(0, 0, 0)},
                        {"getForce", v3(0, 0, 0)}, {"getTorque", v3(0, 0, 0)},
                        {"getAngularSpeed", v3(0, 0, 0)}}) do
      near(b[c[1]](b), c[2], c[1])
    end
    near(b:getPosition(), v3(0, 0, 0), "a new body stands at the origin")

    -- Setters and the getter that reads the same field back.
    for _, c in ipairs({
      {"setElasticity", 0.25, "getElasticity"}, {"setFriction", 1.5, "getFriction"},
      {"setDamping", 0, "getDamping"}, {"setAngularDamping", 3, "getAngularDamping"},
      {"setStillDelay", -1, "getStillDelay"}, {"setVerticesGroundCollision", true, "getVerticesGroundCollision"},
      {"setMass", 4, "getMass"}, {"setMass", 0, "getMass", math.huge},
      {"setMass", -2, "getMass"},
    }) do
      b[c[1]](b, c[2])
      local expected = c[4] or c[2]
      same(b[c[3]](b), expected, c[1] .. "(" .. tostring(c[2]) .. ")")
    end
    -- Inertia is kept as reciprocals; a zero axis stays unable to turn.
    b:setInertia(v3(2, 0, 0.5))
    local i = b:getInertia()
    same(i:x(), 2); same(i:y(), math.huge); same(i:z(), 0.5)
    for _, name in ipairs({"setForce", "setTorque"}) do
      b[name](b, v3(1, -2, 3))
    end
    near(b:getForce(), v3(1, -2, 3)); near(b:getTorque(), v3(1, -2, 3))
    -- Values handed out are copies.
    local s = b:getSpeed(); s:setX(9)
    near(b:getSpeed(), v3(0, 0, 0), "getSpeed copy")
  )lua");
}

TEST_F(PhysicsScript, WakingSetters) {
  run(R"lua(
    scene = newScene()
    body = newRigidBody(scene)
  )lua");
  MDL_RigidBody* b = scene(0)->rigidBodies.data[0];
  // Every waking setter clears both the still byte and the still timer;
  // setStill(true) only puts the body to sleep.
  for (const char* call : {"body:setStill(false)", "body:setForce(v3(0, 0, 1))", "body:setTorque(v3(1, 0, 0))",
                           "body:setSpeed(v3(0, 1, 0))"}) {
    b->still = 1;
    b->stillTimer = 1.5;
    run(call);
    EXPECT_EQ(b->still, 0) << call;
    EXPECT_EQ(b->stillTimer, 0) << call;
  }
  b->stillTimer = 0.5;
  run("body:setStill(true); same(body:getStill(), true)");
  EXPECT_EQ(b->stillTimer, 0.5);
  // A failed check changes nothing.
  b->still = 1;
  b->stillTimer = 1.5;
  for (const char* call : {"body:setStill(0)", "body:setForce()", "body:setSpeed()"}) {
    rig.controller->errors.clear();
    rig.run(call);
    EXPECT_FALSE(rig.controller->errors.empty()) << call;
    EXPECT_EQ(b->still, 1) << call;
  }
}

TEST_F(PhysicsScript, SpeedAtAPointAndAngularSpeed) {
  run(R"lua(
    scene = newScene()
    local b = newRigidBody(scene)
    b:setPosition(v3(1, 2, 3))
    b:rotate(v3(0, 0, 1), 90)
    b:setInertia(v3(1, 2, 4))
    -- The angular speed is kept as momentum and read back in world axes.
    b:setAngularSpeed(v3(0.5, -1, 2))
    near(b:getAngularSpeed(), v3(0.5, -1, 2), "angular speed round trip", 1e-12)
    -- setSpeed at a point (body axes) gives that point the velocity.
    local p = v3(0.5, 0, 0)
    for _, t in ipairs({v3(1, 0, 0), v3(0, 0, -3), v3(2, 1, 1)}) do
      b:setSpeed(t, p)
      local arm = b:localToGlobalVector(p)
      near(b:getSpeed() + b:getAngularSpeed() * arm, t, "velocity of the point", 1e-9)
    end
    -- One vector sets the centre's velocity and leaves the turning alone.
    local w = b:getAngularSpeed()
    b:setSpeed(v3(0, 0, 5))
    near(b:getSpeed(), v3(0, 0, 5)); near(b:getAngularSpeed(), w)

    -- An immovable body turns about its centre so the point follows.
    local fixed = newRigidBody(scene)
    fixed:setMass(0)
    fixed:setSpeed(v3(0, 2, 0), v3(1, 0, 0))
    near(fixed:getSpeed(), v3(0, 0, 0), "immovable")
    near(fixed:getAngularSpeed(), v3(0, 0, 2), "turns instead")
  )lua");
}

TEST_F(PhysicsScript, BodyArgumentChecks) {
  run("scene = newScene(); body = newRigidBody(scene)");
  for (const char* call : {"body:setMass('heavy')", "body:setElasticity()", "body:setFriction(true)",
                           "body:setDamping({})", "body:setStillDelay()", "body:setStill(1)",
                           "body:setVerticesGroundCollision(nil)", "body:computeMassAndInertia()",
                           "body:setMass(1, 2)"}) {
    expectReport(call, "argument");
  }
  // Vectors are checked by the value type.
  for (const char* call : {"body:setSpeed(1)", "body:setInertia('x')", "body:setAngularSpeed(2)",
                           "body:setForce({})", "body:setTorque(true)", "body:setSpeed(v3(1, 0, 0), 4)"}) {
    expectReport(call, "v3");
  }
  run("near(body:getMass(), 1); near(body:getSpeed(), v3(0, 0, 0))");
}

TEST_F(PhysicsScript, BodyConstructors) {
  run(R"lua(
    scene = newScene()
    other = newScene()
    -- A body from a source carries the source's place and turn; the copy
    -- under it keeps only the scale.
    local mesh = newMesh(scene)
    mesh:setName("shape")
    newObject(mesh):setName("inner")
    mesh:setPosition(v3(1, 2, 3))
    mesh:rotate(v3(0, 0, 1), 90)
    mesh:scale(v3(2, 3, 0.5))
    local b = newRigidBody(scene, mesh)
    near(b:getPosition(), v3(1, 2, 3), "body position")
    near(b:getAxis(AXIS_X), v3(0, 1, 0), "body turned like the source", 1e-12)
    near(b:getScale(), v3(1, 1, 1), "body basis is orthonormal", 1e-12)
    same(b:getChildrenCount(), 1)
    local copy = b:getChild()
    same(copy:getName(), "shape"); same(rawequal(copy, mesh), false)
    near(copy:getPosition(REF_LOCAL), v3(0, 0, 0), "copy at the body's origin")
    near(copy:getScale(REF_LOCAL), v3(2, 3, 0.5), "copy keeps the scale", 1e-12)
    near(copy:getAxis(AXIS_Y, REF_LOCAL), v3(0, 3, 0), "copy is not turned", 1e-12)
    near(copy:getPosition(), mesh:getPosition(), "copy stands where the source does", 1e-12)
    same(copy:getDescendant("inner") ~= nil, true, "the copy brings the subtree")
    same(mesh:getParent(), nil, "the source stays where it was")

    -- An object names the scene only: the body is a root at the origin.
    local holder = newObject(other)
    holder:setPosition(v3(5, 5, 5))
    local b2 = newRigidBody(holder)
    same(b2:getParent(), nil); same(holder:getChildrenCount(), 0)
    same(rawequal(b2:getScene(), other), true, "body in the object's scene")
    near(b2:getPosition(), v3(0, 0, 0))

    -- A source that is not an object is ignored without a message.
    same(newRigidBody(scene, 42):getChildrenCount(), 0)
    same(newRigidBody(scene, nil):getChildrenCount(), 0)
  )lua");
  EXPECT_EQ(scene(0)->rigidBodies.count, 3);
  EXPECT_EQ(scene(1)->rigidBodies.count, 1);
}

TEST_F(PhysicsScript, BodyConstructorFailures) {
  run("scene = newScene(); mesh = newMesh(scene); gone = newObject(scene); gone:delete()");
  expectReport("newRigidBody(scene, mesh, 3)", "Too much arguments for newRigidBody");
  EXPECT_EQ(scene(0)->rigidBodies.count, 1) << "construction goes on after too many arguments";
  expectReport("newRigidBody(42)", "newScene");
  expectReport("newRigidBody()", "newScene");
  // A first argument whose object is gone names no scene.
  expectReport("b = newRigidBody(gone)", "Unable to retreive Scene");
  // Sources that cannot be copied, or whose object is gone, build no body.
  for (const char* source : {"newText(scene)", "newMike(scene)", "newImage(scene)", "newPolyline(scene)", "gone"}) {
    expectReport(std::string("b = newRigidBody(scene, ") + source + ")", "Unable to copy the source object");
  }
  EXPECT_EQ(scene(0)->rigidBodies.count, 1);
  // The proxy of a failed construction stands for nothing, safely.
  run(R"lua(
    same(b:exist(), false)
    nothing("getMass", b:getMass())
    nothing("getSpeed", b:getSpeed())
    b:setMass(3); b:setSpeed(v3(1, 0, 0), v3(1, 0, 0)); b:setForce(v3(0, 0, 1))
    b:setInertia(v3(1, 1, 1)); b:computeMassAndInertia(2); b:setStill(false)
  )lua");
}

TEST_F(PhysicsScript, CollisionVolumes) {
  run(R"lua(
    scene = newScene()
    local body = newRigidBody(scene)
    body:setPosition(v3(0, 0, 4))
    local v = newCollisionVolume(body)
    same(v:getType(), OBJECT_COLLISION_VOLUME)
    same(v:getCollisionLayer(), 1); same(v:getCollisionMask(), -1)
    same(rawequal(v:getParent(), body), true)
    near(v:getPosition(), v3(0, 0, 4), "starts at the parent")
    for _, c in ipairs({{"setCollisionLayer", 6, "getCollisionLayer"}, {"setCollisionMask", 2.5, "getCollisionMask", 2},
                        {"setCollisionMask", 0, "getCollisionMask"}}) do
      v[c[1]](v, c[2])
      same(v[c[3]](v), c[4] or c[2], c[1])
    end
    v:setName("ball")
    -- A copy of a volume keeps its layer and mask.
    local copy = newCollisionVolume(scene, v)
    same(copy:getCollisionLayer(), 6); same(copy:getCollisionMask(), 0)
    same(copy:getName(), "ball")
    root = newCollisionVolume(scene)
    same(root:getParent(), nil)
  )lua");
  auto* v = static_cast<MDL_CollisionVolume*>(scene(0)->collisionVolumes.data[0]);
  EXPECT_EQ(v->shape, VOLUME_SPHERE);
  EXPECT_EQ(scene(0)->collisionVolumes.count, 3);
  expectReport("newCollisionVolume(scene, newObject(scene))", "newCollisionVolume");
  expectReport("newCollisionVolume(scene, root, 1)", "Too much arguments for newCollisionVolume");
  expectReport("root:setCollisionLayer('x')", "argument");
  expectReport("local o = newObject(scene); o:delete(); newCollisionVolume(o)", "Unable to retreive Scene");
}

TEST_F(PhysicsScript, SpringConstruction) {
  run(R"lua(
    scene = newScene()
    a = newRigidBody(scene)
    a:setPosition(v3(1, 0, 0))
    a:rotate(v3(0, 0, 1), 90)
    b = newRigidBody(scene)
    b:setPosition(v3(0, 0, 5))

    local s = newSpring(nil, v3(1, 2, 3), b, v3(0, 0, 6))
    near(s:getPointA(), v3(1, 2, 3), "fixed end stays in world coordinates")
    near(s:getPointA(REF_LOCAL), v3(1, 2, 3))
    near(s:getPointB(REF_LOCAL), v3(0, 0, 1), "body end in the body's axes")
    near(s:getPointB(), v3(0, 0, 6))
    same(s:getStiffness(), 1); same(s:getDamping(), 0.5); same(s:getRestPosition(), 0)

    -- References of the constructor: local points are stored as given.
    local t = newSpring(a, v3(1, 0, 0), b, v3(0, 0, 6), REF_LOCAL, REF_GLOBAL)
    near(t:getPointA(REF_LOCAL), v3(1, 0, 0))
    near(t:getPointA(), v3(1, 1, 0), "turned body", 1e-12)
    near(t:getPointB(REF_LOCAL), v3(0, 0, 1))

    -- Setters by reference.
    t:setPointA(v3(1, 0, 2))
    near(t:getPointA(REF_LOCAL), v3(0, 0, 2), "global point into the body's axes", 1e-12)
    t:setPointB(v3(3, 3, 3), REF_LOCAL)
    near(t:getPointB(), v3(3, 3, 8))
    for _, c in ipairs({{"setStiffness", 40, "getStiffness"}, {"setDamping", 0, "getDamping"},
                        {"setRestPosition", 1.5, "getRestPosition"}}) do
      t[c[1]](t, c[2])
      same(t[c[3]](t), c[2], c[1])
    end
    spring = t
  )lua");
  ASSERT_EQ(scene(0)->springs.count, 2);
  EXPECT_EQ(scene(0)->springs.data[0]->objectA, nullptr);
  EXPECT_EQ(scene(0)->springs.data[0]->objectB, scene(0)->rigidBodies.data[1]);
  // Bad references report and leave the value alone.
  for (const char* call : {"spring:getPointA(REF_SELF)", "spring:getPointB(7)", "spring:setPointA(v3(9, 9, 9), 1)",
                           "spring:setPointB(v3(9, 9, 9), 0)"}) {
    expectReport(call, "Invalid reference ID");
  }
  run("near(spring:getPointA(REF_LOCAL), v3(0, 0, 2)); near(spring:getPointB(REF_LOCAL), v3(3, 3, 3))");
  expectReport("local s = newSpring(a, v3(1, 0, 0), b, v3(0, 0, 0), 1); near(s:getPointA(REF_LOCAL), v3(0, 0, 0))",
               "Invalid reference ID");
  ASSERT_EQ(scene(0)->springs.count, 3) << "a bad reference does not stop the construction";
  EXPECT_EQ(scene(0)->springs.data[2]->pointA.x, 0);
  for (const char* call : {"spring:setStiffness('x')", "spring:setPointA(1)", "spring:getPointA('x')"})
    expectReport(call, "");
}

TEST_F(PhysicsScript, SpringAndJointConstructorFailures) {
  run(R"lua(
    scene = newScene(); other = newScene()
    a = newRigidBody(scene); b = newRigidBody(other)
    gone = newRigidBody(scene); gone:delete()
    o = v3(0, 0, 0); x = v3(1, 0, 0)
  )lua");
  struct Case {
    const char* code;
    const char* report;
  };
  const Case cases[] = {
      {"s = newSpring(nil, o, nil, o)", "At least one rigid body expected"},
      {"s = newSpring(gone, o, nil, o)", "At least one rigid body expected"},
      {"s = newJoint(0, nil, o, x, nil, o, x)", "At least one rigid body expected"},
      {"s = newJoint(0, gone, o, x, gone, o, x)", "At least one rigid body expected"},
      {"s = newSpring(a, o, newObject(scene), o)", "newRigidBody"},
      {"s = newSpring(a, 1, nil, o)", "v3"},
      {"s = newSpring(a, o)", "Not enough arguments"},
      {"s = newJoint('ball', a, o, x, nil, o, x)", "Invalid type"},
  };
  for (const Case& c : cases) {
    expectReport(c.code, c.report);
    // Whatever the constructor made stands for nothing, and its methods
    // answer nothing and change nothing.
    run(R"lua(
      if getmetatable(s) == newSpring then
        nothing("getPointA", s:getPointA()); nothing("getStiffness", s:getStiffness())
        s:setPointA(v3(1, 1, 1)); s:setStiffness(3); s:setRestPosition(2)
      elseif getmetatable(s) == newJoint then
        nothing("getAxisA", s:getAxisA()); nothing("getPointB", s:getPointB(REF_LOCAL))
        s:setAxisA(v3(0, 1, 0)); s:setPointB(v3(1, 1, 1), REF_LOCAL)
      end
      s = nil
    )lua");
  }
  EXPECT_EQ(scene(0)->springs.count + scene(0)->joints.count, 0);
  EXPECT_EQ(scene(1)->springs.count + scene(1)->joints.count, 0);

  // Bodies of two scenes: reported; the link is made in body A's scene and
  // holds only the body that lives there.
  expectReport("s = newSpring(a, o, b, v3(0, 0, 1))", "Spring rigid bodies must belong to the same scene");
  expectReport("j = newJoint(JOINT_POINT_AXIS, b, o, x, a, o, x)", "Joint rigid bodies must belong to the same scene");
  ASSERT_EQ(scene(0)->springs.count, 1);
  EXPECT_EQ(scene(0)->springs.data[0]->objectA, scene(0)->rigidBodies.data[0]);
  EXPECT_EQ(scene(0)->springs.data[0]->objectB, nullptr);
  ASSERT_EQ(scene(1)->joints.count, 1);
  EXPECT_EQ(scene(1)->joints.data[0]->objectA, scene(1)->rigidBodies.data[0]);
  EXPECT_EQ(scene(1)->joints.data[0]->objectB, nullptr);
  EXPECT_EQ(scene(1)->joints.data[0]->type, uint32_t(JOINT_POINT_AXIS));
  run("near(s:getPointB(), v3(0, 0, 1), 'the dropped side is a fixed point')");
}

TEST_F(PhysicsScript, JointPointsAndAxes) {
  run(R"lua(
    scene = newScene()
    a = newRigidBody(scene)
    a:setPosition(v3(0, 0, 2))
    a:rotate(v3(0, 0, 1), 90)   -- body x axis along world y
    b = newRigidBody(scene)
    b:setPosition(v3(3, 0, 0))

    local j = newJoint(JOINT_POINT_POINT, a, v3(0, 1, 2), v3(0, 1, 0), b, v3(3, 0, 1), v3(0, 0, 1))
    near(j:getPointA(REF_LOCAL), v3(1, 0, 0), "point A in A's axes", 1e-12)
    near(j:getAxisA(REF_LOCAL), v3(1, 0, 0), "axis A in A's axes", 1e-12)
    near(j:getPointB(REF_LOCAL), v3(0, 0, 1))
    near(j:getAxisB(REF_LOCAL), v3(0, 0, 1))
    near(j:getPointA(), v3(0, 1, 2), "", 1e-12); near(j:getAxisA(), v3(0, 1, 0), "", 1e-12)

    -- Each value by its own reference; a bad one keeps its default.
    local k = newJoint(JOINT_AXIS_AXIS, a, v3(1, 0, 0), v3(0, 0, 1), nil, v3(4, 5, 6), v3(0, 1, 0),
                       REF_LOCAL, REF_GLOBAL, REF_LOCAL, REF_LOCAL)
    near(k:getPointA(REF_LOCAL), v3(1, 0, 0)); near(k:getAxisA(REF_LOCAL), v3(0, 0, 1))
    near(k:getPointB(), v3(4, 5, 6), "no body: world values")
    near(k:getAxisB(REF_LOCAL), v3(0, 1, 0))

    -- Axes move with the body's turn, points also with its place.
    j:setAxisB(v3(1, 0, 0), REF_LOCAL)
    b:rotate(v3(0, 1, 0), 90)
    near(j:getAxisB(), v3(0, 0, -1), "axis turns with B", 1e-12)
    j:setAxisA(v3(1, 0, 0))
    near(j:getAxisA(REF_LOCAL), v3(0, -1, 0), "global axis into A's axes", 1e-12)
    j:setPointB(v3(3, 0, 1))
    near(j:getPointB(REF_LOCAL), v3(-1, 0, 0), "", 1e-12)
    j:setPointA(v3(7, 7, 7), REF_LOCAL)
    near(j:getPointA(REF_LOCAL), v3(7, 7, 7))
    joint = j

    -- The type is kept as given, unknown ones included.
    newJoint(9, a, v3(0, 0, 0), v3(1, 0, 0), b, v3(0, 0, 0), v3(1, 0, 0))
  )lua");
  expectReport("k = newJoint(JOINT_POINT_POINT, a, v3(1, 1, 1), v3(0, 1, 0), nil, v3(0, 0, 0), v3(0, 0, 1), 2, 5)",
               "Invalid reference ID");
  run("near(k:getAxisA(REF_LOCAL), v3(1, 0, 0), 'default axis kept'); near(k:getPointA(REF_LOCAL), v3(1, 1, 1))");
  for (const char* call : {"joint:getAxisA(REF_SELF)", "joint:getPointB(4)", "joint:setAxisB(v3(0, 1, 0), 1)",
                           "joint:setPointA(v3(0, 0, 0), 9)"})
    expectReport(call, "Invalid reference ID");
  run("near(joint:getPointA(REF_LOCAL), v3(7, 7, 7)); near(joint:getAxisB(REF_LOCAL), v3(1, 0, 0))");
  ASSERT_EQ(scene(0)->joints.count, 4);
  EXPECT_EQ(scene(0)->joints.data[2]->type, 9u);
}

// Behaviour through the step, driven from scripts: the setters reach the
// records the world steps.

TEST_F(PhysicsScript, BallBouncesWithTheMeanElasticityAndFallsAsleep) {
  run(R"lua(
    scene = newScene()
    -- A body at a non-finite place takes no part and harms no one.
    local lost = newRigidBody(scene)
    lost:setPosition(v3(0/0, 0, 1))
    newCollisionVolume(lost)
    balls = {}
    for i, e in ipairs({0.6, 0.2, 1.0}) do
      local ball = newRigidBody(scene)
      ball:setPosition(v3(3 * i, 0, 3))
      ball:setDamping(0)
      ball:setElasticity(e)
      newCollisionVolume(ball):setScale(v3(0.5, 0.5, 0.5))
      balls[i] = { body = ball, e = (e + scene:getElasticity()) / 2, impact = 0, rebound = 0 }
    end
    scene:setCallback(CB_MECHA, function(dt)
      for _, b in ipairs(balls) do
        local vz = b.body:getSpeed():z()
        if b.rebound == 0 and vz < b.impact then b.impact = vz end
        if vz > b.rebound and b.impact < -1 then b.rebound = vz end
      end
    end)
  )lua");
  run(R"lua(
    simulate(1.2)
    for i, b in ipairs(balls) do
      local fall = math.sqrt(2 * 9.81 * 2.5)
      near(b.impact, -fall, "impact speed " .. i, 0.05)
      near(b.rebound / -b.impact, b.e, "rebound over impact " .. i, 0.01)
    end
  )lua");
  run(R"lua(
    balls[3] = nil  -- the perfectly elastic one keeps bouncing
    simulate(8)
    for i, b in ipairs(balls) do
      same(b.body:getStill(), true, "asleep " .. i)
      near(b.body:getPosition():z(), 0.5, "resting on the floor " .. i, 0.02)
    end
    balls[1].body:setForce(v3(0, 0, 0))
    same(balls[1].body:getStill(), false, "setForce wakes")
  )lua");
}

TEST_F(PhysicsScript, LayersAndMasksChooseWhatTouches) {
  run(R"lua(
    scene = newScene()
    -- A static platform whose top is z = 1.
    local platform = newCollisionVolume(scene)
    platform:setCollisionMask(1)
    falling = {}
    for i, c in ipairs({{1, -1, true}, {2, 2, false}, {2, 3, true}}) do
      local ball = newRigidBody(scene)
      ball:setPosition(v3(i - 2, 0, 3))
      local v = newCollisionVolume(ball)
      v:setScale(v3(0.25, 0.25, 0.25))
      v:setCollisionLayer(c[1]); v:setCollisionMask(c[2])
      falling[i] = { body = ball, stops = c[3] }
    end
  )lua");
  // Scripts make spheres only (box volumes come from scene files): turn the
  // platform into a flat box here.
  auto* platform = static_cast<MDL_CollisionVolume*>(scene(0)->collisionVolumes.data[0]);
  platform->shape = VOLUME_BOX;
  MDL_Frame& f = platform->editGlobalFrame();
  f.position = {0, 0, 0.5};
  f.basis = m33::identity();
  f.basis.c[0].x = 3;
  f.basis.c[1].y = 3;
  f.basis.c[2].z = 0.5;
  f.inverseDirty = 1;
  run(R"lua(
    simulate(5)
    for i, b in ipairs(falling) do
      local z = b.body:getPosition():z()
      if b.stops then near(z, 1.25, "ball " .. i .. " rests on the platform", 0.03)
      else same(z < 0, true, "ball " .. i .. " passes through (" .. z .. ")") end
    end
  )lua");
}

TEST_F(PhysicsScript, SpringKeepsItsPeriodAndPendulumItsLength) {
  run(R"lua(
    scene = newScene()
    scene:setGravity(v3(0, 0, 0))
    -- A mass of 1 on a spring of stiffness 40 from a fixed point: period
    -- 2 pi / sqrt(40).
    mass = newRigidBody(scene)
    mass:setPosition(v3(1.5, 0, 5))
    mass:setDamping(0)
    local spring = newSpring(nil, v3(0, 0, 5), mass, v3(1.5, 0, 5))
    spring:setStiffness(40); spring:setDamping(0); spring:setRestPosition(1)
    turns = {}
    local t, last = 0, 0
    scene:setCallback(CB_MECHA, function(dt)
      t = t + dt
      local vx = mass:getSpeed():x()
      if last > 0 and vx <= 0 then turns[#turns + 1] = t end
      last = vx
    end)
  )lua");
  run(R"lua(
    simulate(3.5)
    same(#turns >= 3, true, "oscillates")
    near((turns[#turns] - turns[1]) / (#turns - 1), 2 * math.pi / math.sqrt(40), "period", 0.01)
  )lua");

  run(R"lua(
    world = newScene()
    pivot = v3(0, 0, 5)
    bob = newRigidBody(world)
    bob:setPosition(v3(1, 0, 5))
    bob:setDamping(0)
    bob:setInertia(v3(0.1, 0.1, 0.1))
    joint = newJoint(JOINT_POINT_POINT, nil, pivot, v3(1, 0, 0), bob, pivot, v3(1, 0, 0))
    near(joint:getPointB(REF_LOCAL), v3(-1, 0, 0))
    gap, lowest, crossed = 0, 5, false
    world:setCallback(CB_MECHA, function(dt)
      local p = bob:getPosition()
      gap = math.max(gap, (joint:getPointB() - pivot):norm())
      lowest = math.min(lowest, p:z())
      crossed = crossed or p:x() < -0.5
    end)
  )lua");
  run(R"lua(
    simulate(2.5)
    near(gap, 0, "anchor held on the pivot", 5e-3)
    near(lowest, 4, "swings down to the length of its arm", 0.02)
    same(crossed, true, "swings across")
  )lua");
}

TEST_F(PhysicsScript, LinksLetGoOfDeletedBodies) {
  run(R"lua(
    scene = newScene()
    a = newRigidBody(scene)
    a:setPosition(v3(1, 2, 3))
    a:rotate(v3(0, 0, 1), 90)
    b = newRigidBody(scene)
    b:setPosition(v3(0, 0, 8))
    spring = newSpring(a, v3(1, 0, 0), b, v3(0, 0, 0), REF_LOCAL, REF_LOCAL)
    -- Parallel axes: the frame's closing step leaves the body where it is.
    joint = newJoint(JOINT_AXIS_AXIS, a, v3(0, 1, 0), v3(1, 0, 0), b, v3(0, 0, 9), v3(0, 1, 0),
                     REF_LOCAL, REF_LOCAL)
    anchor, axis = spring:getPointA(), joint:getAxisA()
    near(anchor, v3(1, 3, 3), "", 1e-12); near(axis, v3(0, 1, 0), "", 1e-12)
    a:delete()
  )lua");
  run(R"lua(
    frame()
    -- The deleted side became a fixed point at the body's last pose.
    near(spring:getPointA(REF_LOCAL), anchor, "spring anchor in world coordinates", 1e-12)
    near(spring:getPointA(), anchor, "", 1e-12)
    near(joint:getAxisA(REF_LOCAL), axis, "joint axis in world coordinates", 1e-12)
    near(joint:getPointA(REF_LOCAL), v3(0, 2, 3), "", 1e-12)
    -- The other side still moves, and the links go on without the body.
    simulate(0.2)
    same(b:getPosition():z() < 8, true)
    b:delete()
    frame()
    simulate(0.1)
    near(spring:getPointB(), spring:getPointB(REF_LOCAL), "both sides fixed")
  )lua");
}

TEST_F(PhysicsScript, DemoRoomSettles) {
  std::string room = sourceFile("content/demo/physics.lua");
  ASSERT_FALSE(room.empty());
  run("room = (function() " + room + "\nend)()");
  run("same(#room.bodies, 13, 'bodies'); simulate(18)");
  EXPECT_NE(rig.log.text().find("physics: all 13 bodies asleep"), std::string::npos) << rig.log.text();
  run(R"lua(
    for i, body in ipairs(room.bodies) do
      same(body:getPosition():z() > 0.2, true, "body " .. i .. " above the floor")
    end
    near((room.joint:getPointB() - room.joint:getPointA()):norm(), 0, "the pendulum hangs on", 0.03)
    same(room.bob:getStill(), false, "the pendulum never sleeps")
  )lua");
}
}  // namespace
