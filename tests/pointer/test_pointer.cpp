// Picking, pressing, releasing and dragging through the window's pointer
// messages, with the callbacks a real script receives.
#include <cmath>

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "platform/PLAT_Pointer.h"
#include "pointer_rig.h"

namespace {

using Lines = std::vector<std::string>;

// Objects of the callback cases, each under its own pixel:
//   A (320, 384): watched pillar.
//   B (704, 384): pillar without handlers, child of H, which is watched.
//   C over D (512, 192): C deletes itself in its down handler.
//   G over K (320, 192): G is background.
//   E over F (704, 192): E is not active.
const char* kCallbackScene = R"(
    watch(pillar("A", -3, 0, 0), "A")
    H = newObject(scene)
    watch(H, "H")
    pillar("B", 3, 0, 0):setParent(H)
    watch(pillar("D", 0, 3, 0), "D")
    C = pillar("C", 0, 3, 1)
    C:setCallback(CB_MOUSE_DOWN, function(o) log("down C") o:delete() end)
    watch(pillar("K", -3, 3, 0), "K")
    G = pillar("G", -3, 3, 1)
    watch(G, "G")
    G:enableState(STATE_BACKGROUND)
    watch(pillar("F", 3, 3, 0), "F")
    E = pillar("E", 3, 3, 1)
    watch(E, "E")
    E:disableState(STATE_ACTIVE)
)";

struct Step {
    enum Kind { PRESS, RELEASE, MOVE, WHEEL_UP, RIGHT_PRESS, RIGHT_RELEASE, LOSE_FOCUS, DROP_BUTTONS } kind;
    int x = 0, y = 0;
};

void play(PointerRig& rig, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        switch (s.kind) {
        case Step::PRESS: rig.press(s.x, s.y); break;
        case Step::RELEASE: rig.release(s.x, s.y); break;
        case Step::MOVE: rig.move(s.x, s.y); break;
        case Step::WHEEL_UP: rig.wheel(4); break;
        case Step::RIGHT_PRESS: rig.press(s.x, s.y, 3); break;
        case Step::RIGHT_RELEASE: rig.release(s.x, s.y, 3); break;
        case Step::LOSE_FOCUS: rig.fake.loseFocus(rig.window), rig.fake.pump(); break;
        case Step::DROP_BUTTONS: rig.fake.buttonsHeld = 0; break;
        }
    }
}

}  // namespace

TEST(PointerCallbacks, SequencesFireTheirCallbacks) {
    using S = Step;
    const std::string a = "A A 0.000 0.000 2.000";
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Lines want;
    } cases[] = {
        {"click on a mesh", {{S::PRESS, 320, 384}, {S::RELEASE, 320, 384}},
         {"down " + a, "up " + a, "click " + a}},
        // The release point is the pointer at the pick depth, in the hit
        // object's own axes: 1 px is 8 * 2 / 1024 units down there.
        {"a move of exactly 10 square pixels keeps the click",
         {{S::PRESS, 320, 384}, {S::MOVE, 321, 387}, {S::RELEASE, 321, 387}},
         {"down " + a, "up A A 0.016 -0.047 2.000", "click A A 0.016 -0.047 2.000"}},
        {"a move of 13 square pixels cancels it",
         {{S::PRESS, 320, 384}, {S::MOVE, 322, 387}, {S::RELEASE, 322, 387}},
         {"down " + a, "up A A 0.031 -0.047 2.000"}},
        // The notch also pushes the held object 120 * 2e-5 deeper: 0.238
        // further along the ray through pixel 320.
        {"a wheel notch during the press cancels it",
         {{S::PRESS, 320, 384}, {S::WHEEL_UP}, {S::RELEASE, 320, 384}},
         {"down " + a, "up A A -0.089 0.000 1.762"}},
        {"a right press cancels the press",
         {{S::PRESS, 320, 384}, {S::RIGHT_PRESS, 320, 384}, {S::RELEASE, 320, 384}, {S::RIGHT_RELEASE, 320, 384}},
         {"down " + a}},
        {"empty space", {{S::PRESS, 900, 100}, {S::RELEASE, 900, 100}}, {}},
        {"a release without a press", {{S::RELEASE, 320, 384}}, {}},
        {"the nearest handler up the parents",
         {{S::PRESS, 704, 384}, {S::RELEASE, 704, 384}},
         {"down H B 0.000 0.000 2.000", "up H B 0.000 0.000 2.000", "click H B 0.000 0.000 2.000"}},
        // Not the object that lies under the pointer once it is gone.
        {"the pressed object deleted by its own handler",
         {{S::PRESS, 512, 192}, {S::RELEASE, 512, 192}}, {"down C"}},
        {"a background object is no hit", {{S::PRESS, 320, 192}, {S::RELEASE, 320, 192}}, {}},
        {"an inactive object does not stop the ray",
         {{S::PRESS, 704, 192}, {S::RELEASE, 704, 192}},
         {"down F F 0.000 0.000 2.000", "up F F 0.000 0.000 2.000", "click F F 0.000 0.000 2.000"}},
        {"focus lost during the press: released, no click",
         {{S::PRESS, 320, 384}, {S::LOSE_FOCUS}, {S::RELEASE, 320, 384}}, {"down " + a, "up " + a}},
        {"released outside the window",
         {{S::PRESS, 320, 384}, {S::MOVE, -40, 899}, {S::RELEASE, -40, 899}},
         {"down " + a, "up A A -5.625 -8.047 2.000"}},
        {"a release the window never saw: the next move lets go",
         {{S::PRESS, 320, 384}, {S::DROP_BUTTONS}, {S::MOVE, 330, 384}, {S::RELEASE, 330, 384}},
         {"down " + a, "up " + a}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PointerRig rig;
        ASSERT_TRUE(rig.run(kCallbackScene));
        play(rig, k.steps);
        EXPECT_EQ(rig.lines(), k.want);
        EXPECT_EQ(rig.c->grabbed, nullptr);
        EXPECT_EQ(rig.c->pressed, nullptr);
        EXPECT_EQ(rig.c->leftDown, 0);
        EXPECT_FALSE(rig.c->halted);
    }
}

// Queued moves are one move only up to the next button message: the
// release happens where the pointer was when the button went up.
TEST(PointerCallbacks, QueuedMovesStopAtTheRelease) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(kCallbackScene));
    rig.press(320, 384);
    rig.fake.pointerMove(rig.window, 325, 384);
    rig.fake.pointerMove(rig.window, 330, 384);
    rig.fake.pointerButton(rig.window, 1, false, 330, 384);
    rig.fake.pointerMove(rig.window, 400, 384);
    rig.fake.pump();
    EXPECT_EQ(rig.lines(), (Lines{"down A A 0.000 0.000 2.000", "up A A 0.156 0.000 2.000"}));
    EXPECT_EQ(rig.c->mouse.x, 400);
}

TEST(PointerCallbacks, HoveredAndPickedObjectsAndCursor) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(kCallbackScene));
    rig.move(320, 384);
    EXPECT_EQ(rig.eval("getHooveredObject():getName()"), "A");
    EXPECT_EQ(rig.eval("(getPickedObject())"), "nil");
    EXPECT_EQ(rig.fake.cursor, PLAT_CURSOR_HAND);
    rig.move(320, 192);  // background: no hand
    EXPECT_EQ(rig.fake.cursor, PLAT_CURSOR_ARROW);
    rig.press(320, 384);
    EXPECT_EQ(rig.eval("getPickedObject():getName()"), "A");
    EXPECT_EQ(rig.eval("getHooveredObject():getName()"), "A");
    rig.release(320, 384);
    EXPECT_EQ(rig.eval("(getPickedObject())"), "nil");
    rig.press(900, 100);
    EXPECT_EQ(rig.fake.cursor, PLAT_CURSOR_SIZEALL);
    rig.release(900, 100);
}

// Overlays are tested before meshes; among overlays the highest z wins and
// the first of equals. The images cover viewport x 0.25..0.35, y 0.5..0.6,
// over the pillar L.
TEST(PointerCallbacks, OverlaysBeforeMeshes) {
    struct Case {
        const char* name;
        const char* setup;
        const char* want;
    } cases[] = {
        {"mesh alone", "", "down L L"},
        {"overlay over the mesh", "image('I', 0.2)", "down I I"},
        {"the one in front", "image('I', 0.2) image('J', 0.6) image('I2', 0.4)", "down J J"},
        {"first of equals", "image('I', 0.6) image('J', 0.6)", "down I I"},
        {"inactive overlay", "image('I', 0.6):disableState(STATE_ACTIVE)", "down L L"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PointerRig rig;
        ASSERT_TRUE(rig.run(R"(
            watch(pillar("L", -3.2, -2.8, 0), "L")
            function image(name, z)
              local i = newImage(scene)
              i:setScale(v3(0.1, 0.1, 1))
              i:setPosition(v3(0.25, 0.5, z))
              i:enableState(STATE_ACTIVE)
              watch(i, name)
              return i
            end
        )"));
        ASSERT_TRUE(rig.run(k.setup));
        rig.press(307, 563);
        Lines got = rig.lines();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0].substr(0, std::string(k.want).size()), k.want);
        rig.release(307, 563);
    }
}

// Meshes with nothing to hit are passed over, never read.
TEST(PointerPick, MeshesWithoutGeometryAreSkipped) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(R"(watch(pillar("A", 0, 0, 0), "A"))"));
    MDL_Scene* scene = rig.c->currentScene();
    ASSERT_NE(scene, nullptr);
    auto* bare = new MDL_Mesh;  // no mesh data
    auto* noTriangles = new MDL_Mesh;
    auto* data = new MDL_MeshData;  // owned by the test: meshes never free their data
    noTriangles->meshData = data;
    auto* unskinned = new MDL_AnimatedMesh;  // geometry but no skinned copy
    unskinned->meshData = static_cast<MDL_Mesh*>(scene->meshes[0])->meshData;
    for (MDL_Mesh* m : {static_cast<MDL_Mesh*>(bare), noTriangles, static_cast<MDL_Mesh*>(unskinned)}) {
        m->state |= STATE_ACTIVE;
        m->editLocalFrame().position = {0, 0, 5};
        scene->addObject(m);
    }
    rig.press(512, 384);
    rig.release(512, 384);
    EXPECT_EQ(rig.lines(), (Lines{"down A A 0.000 0.000 2.000", "up A A 0.000 0.000 2.000",
                                  "click A A 0.000 0.000 2.000"}));
    unskinned->meshData = nullptr;
    scene->purgeDeleted();
    delete data;
}

// A viewport that cannot project and a pointer outside every viewport: no
// callback, no navigation, nothing that is not a number.
TEST(PointerPick, DegenerateViewsPickAndNavigateNothing) {
    struct Case {
        const char* name;
        const char* setup;
        int windowWidth;
        int x;
    } cases[] = {
        {"viewport of no size", "vp:setSize(v2(0, 0))", 1024, 320},
        {"flat viewport", "vp:setSize(v2(1, 0))", 1024, 320},
        {"view angle 0", "cam:setFOV(0)", 1024, 320},
        {"view angle 180", "cam:setFOV(180)", 1024, 320},
        {"pointer beside the picture", "", 1280, 50},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PointerRig rig;
        ASSERT_TRUE(rig.run(R"(watch(pillar("A", -3, 0, 0), "A"))"));
        ASSERT_TRUE(rig.run(k.setup));
        rig.fake.setWindowPos(rig.window, 0, 0, k.windowWidth + rig.fake.frameWidth, 768 + rig.fake.frameHeight,
                              PLAT_SWP_NOMOVE);
        MDL_Camera* cam = rig.c->viewports[0]->camera;
        const MDL_Frame before = cam->getGlobalFrame();
        for (int32_t mode : {NAVIGATION_FREE, NAVIGATION_MIXED}) {
            rig.c->viewports[0]->navigationMode = mode;
            rig.move(k.x, 384);
            rig.press(k.x, 384);
            rig.move(k.x + 40, 400);
            rig.wheel(4);
            rig.release(k.x + 40, 400);
            rig.press(k.x, 384, 3);
            rig.move(k.x + 40, 420);
            rig.release(k.x + 40, 420, 3);
            rig.frame(0.05);
        }
        EXPECT_EQ(rig.lines(), Lines{});
        const MDL_Frame& after = cam->getGlobalFrame();
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ((&after.position.x)[i], (&before.position.x)[i]);
            for (int j = 0; j < 3; j++) EXPECT_EQ(after.basis.at(i, j), before.basis.at(i, j));
        }
        EXPECT_TRUE(std::isfinite(rig.c->mouseInViewport.x) || rig.c->currentViewport == nullptr);
        EXPECT_FALSE(rig.c->halted);
    }
}

// A dragged object follows the pointer at its grab depth within one frame:
// pressed at the top centre of M (depth 8 below the camera), the pointer
// moved 64 px right, the grab point goes to x = 64 / 512 * 8 = 1.
TEST(PointerDrag, ObjectsFollowThePointer) {
    struct Case {
        const char* name;
        const char* setup;
        const char* mover;  // the object that moves
        v3 want;
        bool movedFired;
    } cases[] = {
        {"movable mesh", "M:enableState(STATE_MOVABLE)", "M", {1, 0, 0}, true},
        {"its movable parent", "P = newObject(scene) P:enableState(STATE_MOVABLE, SCOPE_OBJECT) M:setParent(P)", "P",
         {1, 0, 0}, true},
        {"nothing movable", "", "M", {0, 0, 0}, false},
        // Bounds x <= 0.5: the target slides back along the pick ray, from
        // x = 1 at z = 2 to x = 0.5, which the ray meets at z = 6.
        {"kept inside the bounds", "M:enableState(STATE_MOVABLE) scene:setBounds({-10, 0.5, -10, 10, -10, 10})", "M",
         {0.5, 0, 4}, true},
        // 25 sub-steps of at most 0.001.
        {"capped by its largest move", "M:enableState(STATE_MOVABLE) M:setMaxMouseMove(0.001)", "M", {0.025, 0, 0},
         true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PointerRig rig;
        ASSERT_TRUE(rig.run(R"(
            M = pillar("M", 0, 0, 0)
            moves = 0
        )"));
        ASSERT_TRUE(rig.run(k.setup));
        ASSERT_TRUE(rig.run(std::string(k.mover) + ":setCallback(CB_MOVED, function() moves = moves + 1 end)"));
        rig.frame(0);  // the first frame after the timer starts has no time
        rig.press(512, 384);
        rig.move(576, 384);
        rig.frame(0.05);
        v3 p = rig.position(k.mover);
        // (The largest move is kept in single precision.)
        EXPECT_NEAR(p.x, k.want.x, 1e-7);
        EXPECT_NEAR(p.y, k.want.y, 1e-7);
        EXPECT_NEAR(p.z, k.want.z, 1e-7);
        EXPECT_EQ(rig.eval("moves") != "0", k.movedFired);
        rig.release(576, 384);
        EXPECT_EQ(rig.c->grabbed, nullptr);
    }
}

// A movable rigid body is not moved by hand: the grab point gets the
// pointer's velocity through the body's speed, and the body wakes.
TEST(PointerDrag, RigidBodiesTakeThePointersVelocity) {
    for (bool movable : {true, false}) {
        SCOPED_TRACE(movable ? "movable" : "not movable");
        PointerRig rig;
        ASSERT_TRUE(rig.run(R"(
            scene:setGravity(v3(0, 0, 0))
            M = pillar("M", 0, 0, 0)
            B = newRigidBody(scene, M)
            M:delete()
            B:setStill(true)
            moves = 0
            B:setCallback(CB_MOVED, function() moves = moves + 1 end)
        )"));
        if (movable) {
            ASSERT_TRUE(rig.run("B:enableState(STATE_MOVABLE, SCOPE_OBJECT)"));
        }
        rig.frame(0);
        rig.press(512, 384);
        ASSERT_NE(rig.c->grabbed, nullptr);
        rig.move(576, 384);
        rig.frame(0.05);
        ASSERT_TRUE(rig.run("local s = B:getSpeed() sx, sy = s:x(), s:y() awake = not B:getStill()"));
        if (movable) {
            EXPECT_GT(std::stod(rig.eval("sx")), 0.1);  // pulled towards +x, as the pointer went
            EXPECT_NEAR(std::stod(rig.eval("sy")), 0, 1e-9);
            EXPECT_EQ(rig.eval("awake"), "true");
            EXPECT_NE(rig.eval("moves"), "0");
        } else {
            EXPECT_EQ(std::stod(rig.eval("sx")), 0);
            EXPECT_EQ(rig.eval("moves"), "0");
        }
        rig.release(576, 384);
    }
}

// The pointer is warped back onto the grab point of an object that holds it.
TEST(PointerDrag, ConstrainedObjectHoldsThePointer) {
    PointerRig rig;
    ASSERT_TRUE(rig.run("M = pillar('M', 0, 0, 0) M:enableState(STATE_CONSTRAIN_MOUSE)"));
    rig.frame(0);
    rig.press(512, 384);
    rig.move(576, 384);  // M is not movable: it stays, and so does the pointer
    rig.fake.clearCalls();
    rig.frame(0.05);
    EXPECT_NEAR(rig.c->mouse.x, 512, 1e-6);
    EXPECT_NEAR(rig.c->mouse.y, 384, 1e-6);
    int32_t sx = 512, sy = 384;
    rig.fake.clientToScreen(rig.window, &sx, &sy);
    EXPECT_TRUE(rig.fake.called("setCursorPos " + std::to_string(sx) + " " + std::to_string(sy)))
        << ::testing::PrintToString(rig.fake.calls);
    rig.release(512, 384);
}

TEST(PointerPlatform, XButtonsBecomeWindowMessages) {
    struct Case {
        int32_t button;
        bool down;
        bool heard;
        uint32_t message;
        int32_t wheel;
    } cases[] = {
        {1, true, true, PLAT_WM_LBUTTONDOWN, 0}, {1, false, true, PLAT_WM_LBUTTONUP, 0},
        {3, true, true, PLAT_WM_RBUTTONDOWN, 0}, {3, false, true, PLAT_WM_RBUTTONUP, 0},
        {4, true, true, PLAT_WM_MOUSEWHEEL, 120}, {5, true, true, PLAT_WM_MOUSEWHEEL, -120},
        {4, false, false, 0, 0},                 {2, true, false, 0, 0},
        {6, true, false, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.button);
        uint32_t message = 0;
        int32_t wheel = 0;
        EXPECT_EQ(PLAT_iButtonMessage(k.button, k.down, &message, &wheel), k.heard);
        if (k.heard) {
            EXPECT_EQ(message, k.message);
        }
        EXPECT_EQ(wheel, k.wheel);
    }
    // Toolkit rotations in any unit per notch become 120 a notch.
    EXPECT_EQ(PLAT_iWheelDelta(120, 120), 120);
    EXPECT_EQ(PLAT_iWheelDelta(-1, 1), -120);
    EXPECT_EQ(PLAT_iWheelDelta(60, 120), 60);
    EXPECT_EQ(PLAT_iWheelDelta(5000, 1), 32767);
    EXPECT_EQ(PLAT_iWheelDelta(240, 0), 240);
}

// The wheel's notches reach the scripts as zoom events of +120 and -120.
TEST(PointerPlatform, WheelNotchesReachTheScripts) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(R"(
        vp:setNavigationMode(NAVIGATION_FIXED)
        vp:setCallback(CB_EVENT, function(v, kind, amount, at)
          log(string.format("%d %d %.3f %.3f", kind, amount, at:x(), at:y()))
          return true
        end)
    )"));
    rig.move(256, 192);
    rig.wheel(4);
    rig.wheel(5);
    rig.fake.pointerButton(rig.window, 4, false, 256, 192);
    rig.fake.pump();
    EXPECT_EQ(rig.lines(), (Lines{"6 120 0.250 0.188", "6 -120 0.250 0.188"}));
}

// Hovering from one viewport into another maps the pointer through the
// viewport it has entered: the pillar straight under the camera lies at
// the middle of both halves of the window.
TEST(PointerPick, HoverMapsThroughTheViewportEntered) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(R"(
        watch(pillar("P", 0, 0, 0), "P")
        vp:setSize(v2(0.5, 0.375))
        right = newViewport(0.5, 0, 0.5, 0.375)
        right:setCamera(cam)
    )"));
    rig.move(256, 192);
    EXPECT_EQ(rig.c->currentViewport, rig.c->viewports[0]);
    EXPECT_EQ(rig.eval("getHooveredObject() and getHooveredObject():getName()"), "P");
    rig.move(768, 192);
    EXPECT_EQ(rig.c->currentViewport, rig.c->viewports[1]);
    EXPECT_EQ(rig.eval("getHooveredObject() and getHooveredObject():getName()"), "P");
    rig.press(768, 192);
    rig.release(768, 192);
    EXPECT_EQ(rig.lines(), (Lines{"down P P 0.000 0.000 2.000", "up P P 0.000 0.000 2.000",
                                  "click P P 0.000 0.000 2.000"}));
}

// The demo's skinned arm: pressing on its skin picks the bone whose vertex
// group covers the hit, and dragging moves the chain by inverse kinematics
// so that the grab point follows the pointer.
TEST(PointerBones, SkinPicksItsBoneAndTheDragBendsTheChain) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(R"(
        cs = newModelsSet("character.xml")
        root = newObject(scene, cs:get("Character"))
        arm = root:getDescendant("Arm")
        arm:enableState(STATE_ACTIVE)
        for _, name in ipairs({"Shoulder", "Elbow", "Wrist"}) do
            root:getDescendant(name):setName(name)
        end
        moved = {}
        for _, name in ipairs({"Shoulder", "Elbow", "Wrist"}) do
            root:getDescendant(name):setCallback(CB_MOVED, function() moved[name] = true end)
        end
        -- Aim at the middle of the lower arm, seen from the camera.
        local a = root:getDescendant("Elbow"):getPosition()
        local b = root:getDescendant("Wrist"):getPosition()
        local q = vp:fromScene(v3((a:x() + b:x()) / 2, (a:y() + b:y()) / 2, (a:z() + b:z()) / 2))
        px, py = math.floor(q:x() * 1024 + 0.5), math.floor(q:y() * 1024 + 0.5)
    )"));
    const int px = std::stoi(rig.eval("px")), py = std::stoi(rig.eval("py"));
    ASSERT_TRUE(px > 0 && px < 1024 && py > 0 && py < 768) << px << " " << py;
    rig.frame(0);
    rig.press(px, py);
    ASSERT_NE(rig.c->grabbed, nullptr);
    ASSERT_EQ(rig.c->grabbed->type, OBJECT_BONE);
    v3 before;
    rig.c->grabPoint(before);

    // Pull the grab point sideways and let a few frames of the drag run.
    rig.move(px + 60, py);
    v3 target = {0, 0, 0};
    rig.c->currentViewport->toScene(rig.c->mouseInViewport, target);
    const double gap = v3::length(target - before);
    for (int i = 0; i < 5; i++) rig.frame(0.05);
    v3 after;
    rig.c->grabPoint(after);
    EXPECT_LT(v3::length(target - after), 0.5 * gap);
    EXPECT_EQ(rig.eval("moved['Elbow'] or moved['Wrist'] or moved['Shoulder'] or false"), "true");
    rig.release(px + 60, py);
    EXPECT_EQ(rig.c->grabbed, nullptr);
}
