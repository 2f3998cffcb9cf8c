// The classes newAnimation, newAnimatedMesh, newLocator, newBone and
// newAnimationData through the real engine, with frames run by the
// controller's own closing work.
#include <gtest/gtest.h>

#include <string>

#include "anim_fixture.h"
#include "model/MDL_Animation.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "physics/MDL_Scene.h"
#include "tests/script/script_rig.h"

namespace {

PackageFiles armFiles()
{
    SG_Scene s;
    s.meshes.push_back(SG_iMakeGrid("Strip", 4, 1, 4.0));
    SG_VertexGroup upper{"Upper", {0, 1, 2, 5, 6, 7}, {1, 1, 1, 1, 1, 1}};
    SG_VertexGroup lower{"Lower", {2, 3, 4, 7, 8, 9}, {1, 1, 1, 1, 1, 1}};
    s.groups = {upper, lower};
    s.animations.push_back({"Wave",
                            {{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}},
                             {1, {1, 0, 0}, {0, 0, 0.5}, {1, 1, 1}},
                             {2, {2, 0, 0}, {0, 0, 1}, {1, 1, 1}}}});
    s.animations.push_back({"Still", {{0.75, {0, 0, 3}, {0, 0, 0}, {1, 1, 1}}}});
    s.objects.push_back({"None", "Armature", {}, "", "", "", "", "", {}});
    s.objects.push_back(boneObject("UpperBone", rotZ(0, -2, 0, 0), "Armature"));
    s.objects.push_back(boneObject("LowerBone", rotZ(0, 2, 0, 0), "UpperBone"));
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "Armature", "Strip", "", "", "",
                         {{"Upper", "UpperBone"}, {"Lower", "LowerBone"}}});
    s.objects.push_back({"Locator", "Mark", rotZ(0, 0, 0, 2), "", "", "", "", "", {}});
    return {{"arm.xml", SG_iWriteScene(s)}};
}

// The closing work of a frame is protected in the controller; tests call it
// through a member pointer taken in a derived class.
struct FrameAccess : CTRL_Generic {
    static void close(CTRL_Generic* c, MDL_Scene* s, double dt) { (c->*(&FrameAccess::closeScene))(s, dt); }
};

struct Rig : ScriptRig {
    Rig() : ScriptRig(armFiles(), true) { controller->haltOnError = false; }
    // Runs code that must succeed without any report.
    void ok(const std::string& code)
    {
        EXPECT_TRUE(run(code)) << errors();
        EXPECT_TRUE(controller->errors.empty()) << errors();
        controller->errors.clear();
    }
    // Runs code that must report (or raise) a message containing `text`.
    void fails(const std::string& code, const std::string& text)
    {
        run(code);
        ASSERT_FALSE(controller->errors.empty()) << code;
        EXPECT_NE(controller->errors.front().find(text), std::string::npos) << code << "\n" << errors();
        controller->errors.clear();
    }
    void frames(int n, double dt)
    {
        for (int i = 0; i < n; i++)
            for (int32_t k = 0; k < controller->scenes.count; k++)
                FrameAccess::close(controller, controller->scenes[k], dt);
    }
    std::string errors() const
    {
        std::string all;
        for (const auto& e : controller->errors) all += e + "\n";
        return all;
    }
    double number(const char* expr)
    {
        run(std::string("__n = ") + expr);
        lua_getglobal(L, "__n");
        double v = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return v;
    }
};

const char* kSetUp =
    "set = newModelsSet('arm.xml')\n"
    "scene = newScene('s')\n"
    "arm = newObject(scene, set:get('Armature'))\n"
    "flag = newObject(scene)\n"
    "wave = set:getAnimationData('Wave')\n";

TEST(AnimationClass, DefaultsSeekAndPlayback)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("a = newAnimation(wave, flag)\n"
           "assert(a:getTime() == 0 and a:getSpeed() == 1 and a:isPlaying() == true)\n"
           "assert(a:getDuration() == 3)\n"
           "a:seek(1.1)\n"
           "assert(a:getTime() == 1.100000023841858)\n"
           "assert(newAnimation(set:getAnimationData('Still'), flag):getDuration() == 0.75)\n");
    // seek posed the flag without advancing: segment 1 (keys at x = 1 and 2,
    // the last key standing in for the one after it).
    v3 expected;
    const double u = double(1.1f) - 1;
    MDL_iCatmullRom(expected, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 0, 0}, u);
    EXPECT_DOUBLE_EQ(rig.number("flag:getPosition():x()"), expected.x);
    rig.ok("a:seek(0); a:setSpeed(2); assert(a:getSpeed() == 2)");
    rig.frames(1, 0.25);
    EXPECT_DOUBLE_EQ(rig.number("a:getTime()"), 0.5);
    rig.ok("a:pause(); assert(a:isPlaying() == false)");
    rig.frames(3, 0.25);
    EXPECT_DOUBLE_EQ(rig.number("a:getTime()"), 0.5);
    rig.ok("a:play()");
    rig.frames(12, 0.25);  // runs past the end and stops there
    rig.ok("assert(a:isPlaying() == false)");
    const double end = rig.number("a:getTime()");
    EXPECT_GT(end, 3.0);
    // play alone does not rewind: the next frame finds the time past the end.
    rig.ok("a:play()");
    rig.frames(1, 0.25);
    rig.ok("assert(a:isPlaying() == false)");
    EXPECT_EQ(rig.number("a:getTime()"), end + 0.5);
    // A paused track is not advanced, and a frame without time advances none.
    rig.ok("a:seek(0.5); a:play()");
    rig.frames(1, 0.0);
    EXPECT_EQ(rig.number("a:getTime()"), 0.5);

    // The target's deletion drops the track at the end of the frame.
    rig.ok("flag:delete()");
    rig.frames(1, 0.1);
    rig.ok("assert(select('#', a:getTime()) == 0 and select('#', a:isPlaying()) == 0)\n"
           "a:play(); a:seek(1); a:setSpeed(3)");
    EXPECT_EQ(rig.controller->scenes[0]->animations.count, 0);  // the Still track went too
}

TEST(AnimationClass, ArgumentsThatMakeNoTrack)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.fails("newAnimation(5, flag)", "newAnimationData");
    rig.fails("newAnimation()", "newAnimationData");
    rig.fails("newAnimation(flag)", "newAnimationData");
    struct Case {
        const char* code;
    } quiet[] = {
        {"t = newAnimation(newAnimationData(), flag)"},     // data that wrap nothing
        {"t = newAnimation(wave, set:get('Armature'))"},    // a target in no world
        {"t = newAnimation(wave, 5)"},                      // no object at all
        {"t = newAnimation(wave, newLocator(scene))"},      // not an object the class accepts
    };
    for (const Case& c : quiet) {
        rig.ok(std::string(c.code) + "\nassert(select('#', t:getTime()) == 0 and select('#', t:getDuration()) == 0)\n"
                                     "t:play(); t:seek(2)");
    }
    EXPECT_EQ(rig.controller->scenes[0]->animations.count, 0);
    rig.fails("newAnimation(wave, flag):seek('x')", "argument");
}

// Deleting the scene file leaves its animation data alive for the tracks
// that play it; they let go when they are dropped.
TEST(AnimationClass, TracksKeepTheirDataAlive)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("a = newAnimation(wave, flag); wave = nil; set:delete(); collectgarbage()");
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
    rig.frames(4, 0.25);
    EXPECT_DOUBLE_EQ(rig.number("a:getTime()"), 1.0);
    v3 expected;  // posed at 0.75 by the fourth frame, then advanced
    MDL_iCatmullRom(expected, {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}, 0.75);
    EXPECT_DOUBLE_EQ(rig.number("flag:getPosition():x()"), expected.x);
    rig.ok("flag:delete()");
    rig.frames(1, 0.25);
    rig.ok("assert(select('#', a:getTime()) == 0)");
}

TEST(AnimatedMeshClass, SkinFollowsBonesUnlessLocked)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("skin = arm:getDescendant('Skin'); lower = arm:getDescendant('LowerBone')\n"
           "assert(getmetatable(skin) == newAnimatedMesh and getmetatable(lower) == newBone)\n"
           "skin:setColor(color(1, 0, 0, 1)); assert(skin:getColor():r() == 1)\n");
    MDL_Scene* scene = rig.controller->scenes[0];
    ASSERT_EQ(scene->bones.count, 2);
    MDL_AnimatedMesh* skin = nullptr;
    for (MDL_Object* o : scene->meshes)
        if (o->type == OBJECT_ANIMATED_MESH) skin = static_cast<MDL_AnimatedMesh*>(o);
    ASSERT_NE(skin, nullptr);
    const v3 rest4 = skin->skinnedPositions[4];  // the far end of the strip, on the lower bone only

    rig.frames(1, 0.1);
    rig.ok("lower:translate(v3(0, 0, 1))");
    rig.frames(1, 0.1);
    EXPECT_LT(dist(skin->skinnedPositions[4], rest4 + v3{0, 0, 1}), 1e-12);

    rig.ok("skin:setLocked(true); lower:translate(v3(0, 0, 1))");
    rig.frames(1, 0.1);
    EXPECT_LT(dist(skin->skinnedPositions[4], rest4 + v3{0, 0, 1}), 1e-12);
    rig.ok("skin:update()");
    EXPECT_LT(dist(skin->skinnedPositions[4], rest4 + v3{0, 0, 2}), 1e-12);

    // reset puts the bone back at its scene-file placement.
    rig.ok("lower:reset(); skin:update()");
    EXPECT_LT(dist(skin->skinnedPositions[4], rest4), 1e-12);
}

// A polyline carrying an animated mesh is copied into another world, and
// the first world then lets go of everything it holds: the copy skins
// through bones of its own world.
TEST(AnimatedMeshClass, CopyIntoAnotherWorldSkinsThroughItsOwnBones)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("line = newPolyline(scene)\n"
           "skin = newAnimatedMesh(line, set:get('Skin'))\n"
           "other = newScene('t')\n"
           "copy = newPolyline(other, line)\n"
           "copySkin = copy:getChild()\n"
           "assert(getmetatable(copySkin) == newAnimatedMesh)\n"
           "scene:clear()\n");
    rig.frames(2, 0.1);
    ASSERT_EQ(rig.controller->scenes.count, 2);
    MDL_Scene* other = rig.controller->scenes[1];
    ASSERT_EQ(other->meshes.count, 1);
    auto* mesh = static_cast<MDL_AnimatedMesh*>(other->meshes[0]);
    ASSERT_EQ(mesh->boneCount, 2);
    EXPECT_EQ(other->bones.count, 2);
    for (int32_t b = 0; b < mesh->boneCount; b++) {
        ASSERT_NE(mesh->boneList[b], nullptr);
        EXPECT_EQ(static_cast<MDL_Object*>(mesh->boneList[b])->scene, other);
    }
    const v3 rest4 = mesh->skinnedPositions[4];  // on the lower bone only
    MDL_Frame& f = mesh->boneList[1]->editGlobalFrame();
    f.position = f.position + v3{0, 0, 1};
    rig.frames(1, 0.1);
    rig.ok("copySkin:update()");
    EXPECT_LT(dist(mesh->skinnedPositions[4], rest4 + v3{0, 0, 1}), 1e-9);
}

TEST(BoneClass, MovePointFiresMovedOnEveryTurnedBone)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("lower = arm:getDescendant('LowerBone'); upper = lower:getParent()\n"
           "moved = {}\n"
           "local function count(b) moved[b:getName()] = (moved[b:getName()] or 0) + 1 end\n"
           "lower:setCallback(CB_MOVED, count); upper:setCallback(CB_MOVED, count)\n"
           "tip = lower:localToGlobalPoint(v3(1, 0, 0))\n"
           "lower:movePoint(tip, tip)\n"
           "assert(next(moved) == nil)\n"
           "goal = v3(1, 2, 0.5)\n"
           "before = (tip - goal):norm()\n"
           "lower:movePoint(tip, goal)\n"
           "assert(moved.LowerBone > 0 and moved.UpperBone > 0)\n"
           "after = (lower:localToGlobalPoint(v3(1, 0, 0)) - goal):norm()\n"
           "assert(after < before, after .. ' ' .. before)\n");
    rig.fails("arm:getDescendant('LowerBone'):movePoint(v3(0, 0, 0))", "argument");
    rig.fails("b = newBone(); assert(b:exist() == false); b:reset(); b:movePoint(v3(0,0,0), v3(1,1,1))",
              "Unsupported usage of a Lua constructor LMP_Bone");
}

TEST(AnimatedMeshAndLocatorClasses, Constructors)
{
    Rig rig;
    rig.ok(kSetUp);
    rig.ok("empty = newAnimatedMesh(scene); empty:update(); empty:setLocked(false)\n"
           "sub = newAnimatedMesh(flag); assert(sub:getParent() == flag)\n"
           "copy = newAnimatedMesh(scene, set:get('Skin')); copy:update()\n"
           "mark = newLocator(scene, set:get('Mark')); assert(mark:getPosition():z() == 2)\n"
           "again = newLocator(flag, mark); assert(again:getParent() == flag and again:getName() == 'Mark')\n"
           "plain = newLocator(scene); assert(plain:getType() == OBJECT_LOCATOR)\n");
    MDL_Scene* scene = rig.controller->scenes[0];
    // The copied mesh brought its two bones (the armature's clone has two more).
    EXPECT_EQ(scene->bones.count, 4);
    rig.fails("newAnimatedMesh(scene, flag)", "newAnimatedMesh");
    rig.fails("newLocator(scene, 5)", "newLocator");
    rig.fails("newLocator(mark)", "newScene");
    rig.fails("newAnimatedMesh(copy)", "newScene");
    rig.fails("newLocator(scene, mark, 3)", "Too much arguments for newLocator");
    rig.fails("newAnimatedMesh(scene, copy, 3)", "Too much arguments for newAnimatedMesh");
    rig.ok("gone = newObject(scene); gone:delete()");
    rig.fails("newLocator(gone)", "Unable to retreive Scene");
}

}  // namespace
