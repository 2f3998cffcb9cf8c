// Records that go while something still names them: objects marked deleted
// (freed by the frame's purge), scene files deleted with their objects, and
// resources that a script deletes through a proxy it did not create. Each
// case runs as a script through the real engine, then through whole frames
// whose consumers read what the viewports name: the drawing pass, the mixer
// and picking. The sanitizer build reports any read of freed memory.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/anim/anim_fixture.h"
#include "media/VIEW_Stream.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "physics/MDL_Spring.h"
#include "platform/PLAT_Fake.h"
#include "render/VIEW_Generic.h"
#include "sound/VIEW_SoundWin32.h"
#include "tests/script/script_rig.h"
#include "tests/video/video_rig.h"

namespace {

// A scene file with a camera, a two-bone skeleton that skins a strip, and
// an animation.
std::string armFile()
{
    SG_Scene s;
    s.meshes.push_back(SG_iMakeGrid("Strip", 4, 1, 4.0));
    s.groups = {{"Upper", {0, 1, 2, 5, 6, 7}, {1, 1, 1, 1, 1, 1}}, {"Lower", {2, 3, 4, 7, 8, 9}, {1, 1, 1, 1, 1, 1}}};
    s.animations.push_back({"Wave", {{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}, {1, {1, 0, 0}, {0, 0, 0.5}, {1, 1, 1}}}});
    s.objects.push_back({"Camera", "Cam", rotZ(0, 0, 0, 10), "", "", "", "", "<angle>90</angle>\n", {}});
    s.objects.push_back({"None", "Armature", {}, "", "", "", "", "", {}});
    s.objects.push_back(boneObject("UpperBone", rotZ(0, -2, 0, 0), "Armature"));
    s.objects.push_back(boneObject("LowerBone", rotZ(0, 2, 0, 0), "UpperBone"));
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "Armature", "Strip", "", "", "",
                         {{"Upper", "UpperBone"}, {"Lower", "LowerBone"}}});
    return SG_iWriteScene(s);
}

// Reads what the scene drawing reads of a viewport's camera before it
// draws: its placement, projection and world.
struct ReadingView : VIEW_Generic {
    void drawScene(MDL_Viewport* vp, const v2&, const v2&) override
    {
        MDL_Camera* camera = vp->camera;
        const MDL_Frame& f = camera->getGlobalFrame();
        sink += f.position.z + camera->projectionFactor + camera->clipStart + camera->clipEnd;
        if (MDL_Scene* s = camera->scene) sink += s->meshes.count + s->lamps.count;
        drawn++;
    }
    double sink = 0;
    int drawn = 0;
};

// The closing work of a frame is protected in the controller.
struct FrameAccess : CTRL_Generic {
    static void close(CTRL_Generic* c, MDL_Scene* s, double dt) { (c->*(&FrameAccess::closeScene))(s, dt); }
};

const char* kPrelude = R"lua(
    set = newModelsSet('arm.xml')
    scene = newScene('s')
    vp = newViewport(0, 0, 1, 0.75)
    -- holder:delete() marks inner deleted too; inner's proxy still names it.
    holder = newObject(scene)
    inner = newObject(holder)
    -- A camera and a listener that stay valid, so that the frames draw, mix
    -- and pick through the viewport unless a case changes them.
    keptCam = newCamera(scene)
    keptCam:setPosition(v3(0, 0, 10))
    vp:setCamera(keptCam)
    vp:setMike(newMike(scene))
    newSound(scene)
)lua";

struct Rig : ScriptRig {
    Rig() : ScriptRig({{"arm.xml", armFile()}, {"clip.ogv", encodeVideo(flatVideo(16, 16, 10, true))}}, true)
    {
        PLAT_iSet(&fake);
        mixer = std::make_unique<VIEW_SoundWin32>(nullptr);
        controller->haltOnError = false;
        controller->stage = STAGE_RUNNING;
        controller->setViewportSize(1024, 768);
        controller->started = 1;
        controller->aspect = 0.75;
    }
    ~Rig()
    {
        mixer.reset();
        PLAT_iSet(nullptr);
    }

    // Runs code; the reports it made, one per line.
    std::string reports(const std::string& code)
    {
        controller->errors.clear();
        if (!run(code)) controller->errors.push_back("(the chunk failed)");
        std::string all;
        for (const std::string& e : controller->errors) all += e + "\n";
        controller->errors.clear();
        controller->halted = 0;
        return all;
    }

    // Whole frames: the closing step and purge of every world, then the
    // drawing pass, the mixer over the viewports' listeners, and a pointer
    // move that picks through the current viewport's camera.
    void frames(int n)
    {
        for (int i = 0; i < n; i++) {
            for (int32_t k = 0; k < controller->scenes.count; k++)
                FrameAccess::close(controller, controller->scenes[k], 0.02);
            controller->render(nullptr, &view);
            std::vector<int16_t> pcm(2 * 64);
            mixer->mix(&controller->viewports, 64, 0, pcm.data(), pcm.data() + 1);
            controller->onMouseMove(512 + i, 384, false, false);
        }
    }

    MDL_Scene* world() { return controller->scenes[0]; }

    PLAT_Fake fake;
    std::unique_ptr<VIEW_SoundWin32> mixer;
    ReadingView view;
};

// "Delete X, then use Y": the deletion, then the call that would keep a
// reference to it, then frames, then a script that reads back what stayed.
struct Case {
    const char* what;
    const char* deleteThenUse;
    const char* report;  // a report the first script must make, or null
    const char* after;   // run after the frames; must pass without a report
    std::function<void(Rig&)> check;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

const Case kOrders[] = {
    {"camera under a deleted parent", "cam = newCamera(holder); holder:delete(); vp:setCamera(cam)", nullptr,
     "assert(select('#', vp:getCamera()) == 0)", nullptr},
    {"camera of a cleared scene", "cam = newCamera(scene); scene:clear(); vp:setCamera(cam)", nullptr,
     "assert(select('#', vp:getCamera()) == 0)", nullptr},
    {"camera set first, then its parent deleted", "cam = newCamera(holder); vp:setCamera(cam); holder:delete()",
     nullptr, "assert(select('#', vp:getCamera()) == 0)", nullptr},
    {"listener under a deleted parent", "mike = newMike(holder); holder:delete(); vp:setMike(mike)", nullptr,
     "assert(select('#', vp:getMike()) == 0)", nullptr},
    {"listener of a cleared scene", "mike = newMike(scene); scene:clear(); vp:setMike(mike)", nullptr,
     "assert(select('#', vp:getMike()) == 0)", nullptr},
    {"camera of a deleted scene file", "vp:setCamera(set:get('Cam')); set:delete()", nullptr,
     "assert(select('#', vp:getCamera()) == 0)", nullptr},
    {"camera of a scene file in a second viewport",
     "vp2 = newViewport(0, 0, 0.5, 0.5); vp2:setCamera(set:get('Cam')); vp:setCamera(set:get('Cam')); set:delete()",
     nullptr, "assert(select('#', vp2:getCamera()) == 0 and select('#', vp:getCamera()) == 0)", nullptr},
    {"object under an object of another scene file, that file deleted",
     "other = newModelsSet('arm.xml'); set:get('Cam'):setParent(other:get('Armature')); other:delete()", nullptr,
     "assert(set:get('Cam'):getParent() == nil and rawequal(set:get('UpperBone'):getParent(), set:get('Armature')))", nullptr},
    {"spring to a body of a cleared scene",
     "b = newRigidBody(scene); scene:clear(); a = newRigidBody(scene); sp = newSpring(a, v3(0, 0, 0), b, v3(0, 0, 1))",
     nullptr, "assert(sp:getPointA() ~= nil)",
     [](Rig& r) {
         ASSERT_EQ(r.world()->springs.count, 1);
         EXPECT_EQ(r.world()->springs[0]->objectB, nullptr);
     }},
    {"joint of a cleared scene's body only",
     "b = newRigidBody(scene); scene:clear()\n"
     "newJoint(JOINT_POINT_POINT, b, v3(0, 0, 0), v3(1, 0, 0), nil, v3(0, 0, 0), v3(1, 0, 0))",
     "At least one rigid body expected", nullptr, [](Rig& r) { EXPECT_EQ(r.world()->joints.count, 0); }},
    {"animation of a deleted target", "holder:delete(); anim = newAnimation(set:getAnimationData('Wave'), inner)",
     nullptr, "assert(select('#', anim:getTime()) == 0)", [](Rig& r) { EXPECT_EQ(r.world()->animations.count, 0); }},
    {"sound under a deleted parent", "holder:delete(); snd = newSound(inner)", "Unable to retreive Scene",
     "assert(snd:getParent() == nil)", nullptr},
    {"text under a deleted parent", "holder:delete(); txt = newText(inner)", "Unable to retreive Scene",
     "assert(txt:getParent() == nil)", nullptr},
    {"image under a deleted parent", "holder:delete(); img = newImage(inner)", "Unable to retreive Scene",
     "assert(img:getParent() == nil)", nullptr},
    {"polyline under a deleted parent", "holder:delete(); line = newPolyline(inner)", "Unable to retreive Scene",
     "assert(line:getParent() == nil)", nullptr},
    {"body carrying a deleted source", "holder:delete(); body = newRigidBody(scene, inner)",
     "Unable to copy the source object", nullptr, [](Rig& r) { EXPECT_EQ(r.world()->rigidBodies.count, 0); }},
    {"body named by a deleted object", "holder:delete(); body = newRigidBody(inner)", "Unable to retreive Scene",
     nullptr, [](Rig& r) { EXPECT_EQ(r.world()->rigidBodies.count, 0); }},
    {"copy of a deleted source", "holder:delete(); copy = newObject(scene, inner)", "newObject", nullptr, nullptr},
    {"skin copied after its bones were deleted",
     "arm = newObject(scene, set:get('Armature')); arm:getDescendant('UpperBone'):delete()\n"
     "skin = newAnimatedMesh(scene, arm:getDescendant('Skin'))",
     nullptr, "skin:update()",
     [](Rig& r) {
         // The deleted bones are purged and no copy of them is made.
         EXPECT_EQ(r.world()->bones.count, 0);
     }},
    {"skin copied from a scene file that is then deleted",
     "skin = newAnimatedMesh(scene, set:get('Skin')); set:delete()", nullptr, "skin:update()",
     [](Rig& r) { EXPECT_EQ(r.world()->bones.count, 2); }},
};

// Each order in a rig of its own: a read of freed memory in one of them
// stops the sanitizer build at that case.
class DeleteThenUse : public ::testing::TestWithParam<Case> {};

TEST_P(DeleteThenUse, NothingKeepsTheDeletedRecord)
{
    const Case& c = GetParam();
    Rig rig;
    ASSERT_EQ(rig.reports(kPrelude), "");
    std::string got = rig.reports(c.deleteThenUse);
    if (c.report) {
        EXPECT_NE(got.find(c.report), std::string::npos) << got;
    } else {
        EXPECT_EQ(got, "");
    }
    rig.frames(3);
    if (c.after) {
        EXPECT_EQ(rig.reports(c.after), "");
    }
    if (c.check) c.check(rig);
    // The viewport still draws through a camera it is given afterwards.
    EXPECT_EQ(rig.reports("local cam = newCamera(scene); cam:setPosition(v3(0, 0, 10)); vp:setCamera(cam)"), "");
    rig.view.drawn = 0;
    rig.frames(1);
    EXPECT_EQ(rig.view.drawn, 1);
}

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    std::string name;
    bool upper = true;
    for (const char* p = info.param.what; *p; p++) {
        if (!std::isalnum(static_cast<unsigned char>(*p))) {
            upper = true;
            continue;
        }
        name += upper ? char(std::toupper(static_cast<unsigned char>(*p))) : *p;
        upper = false;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Lifetime, DeleteThenUse, ::testing::ValuesIn(kOrders), caseName);

// A handler of the bone being moved deletes the bone's scene file: the
// bones stay until the move returns, and fire nothing once their file is
// gone.
TEST(Lifetime, SceneFileDeletedWhileItsBoneMoves)
{
    Rig rig;
    ASSERT_EQ(rig.reports(R"lua(
        file = newModelsSet('arm.xml')
        lower = file:get('LowerBone')
        fired = 0
        lower:setCallback(CB_MOVED, function()
          fired = fired + 1
          if file then file:delete(); file = nil end
          collectgarbage()
        end)
        file:get('UpperBone'):setCallback(CB_MOVED, function() fired = fired + 100 end)
        lower:movePoint(v3(4, 0, 0), v3(0, 4, 0))
        assert(fired == 1, fired)
        assert(not lower:exist())
    )lua"),
              "");
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
    rig.frames(1);
}

// Resources that a script gets from another record (a stream's sample and
// texture, the default font) are not the script's to delete: delete leaves
// them and their proxies as they were.
TEST(Lifetime, ResourcesOfOtherRecordsSurviveTheirDelete)
{
    Rig rig;
    ASSERT_EQ(rig.reports(kPrelude), "");
    EXPECT_EQ(rig.reports(R"lua(
        clip = newStream('clip.ogv')
        local sample = clip:getSample()
        sample:delete()
        assert(rawequal(clip:getSample(), sample))
        snd = newSound(scene, clip:getSample())
        local picture = clip:getTexture()
        picture:delete()
        assert(rawequal(clip:getTexture(), picture))
        assert(picture:getBinaryAlpha() ~= nil)
        txt = newText(scene)
        local font = txt:getFont()
        font:delete()
        assert(rawequal(txt:getFont(), font))
        txt:setFont(txt:getFont())
    )lua"),
              "");
    ASSERT_EQ(rig.controller->videos.count, 1);
    VIEW_Stream* clip = rig.controller->videos[0];
    MDL_Scene* w = rig.world();
    ASSERT_EQ(w->sounds.count, 2);
    EXPECT_EQ(static_cast<MDL_Sound*>(w->sounds[1])->sample, &clip->sample);
    EXPECT_NE(clip->texture, nullptr);
    EXPECT_EQ(clip->texture->releaseRequested, 0);
    ASSERT_EQ(w->overlays.count, 1);
    EXPECT_EQ(static_cast<MDL_Text*>(w->overlays[0])->font, rig.controller->defaultFont);
    rig.frames(2);
}

// delete removes the viewport whatever its argument check says.
TEST(Lifetime, ViewportDeleteWithArgumentsStillDeletes)
{
    Rig rig;
    ASSERT_EQ(rig.reports(kPrelude), "");
    ASSERT_EQ(rig.controller->viewports.count, 1);
    EXPECT_NE(rig.reports("vp:delete(1)").find("Too much arguments"), std::string::npos);
    EXPECT_EQ(rig.controller->viewports.count, 0);
    EXPECT_EQ(rig.controller->currentViewport, nullptr);
    EXPECT_EQ(rig.reports("assert(select('#', vp:getWidth()) == 0)"), "");
    rig.frames(1);
}

}  // namespace
