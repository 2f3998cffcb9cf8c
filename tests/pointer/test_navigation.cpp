// Camera navigation by dragging and by the wheel, in each navigation mode,
// against the closed form of the motion. The drag goes from the middle
// pixel (512, 384) to (576, 416): dx = 64 / 1024, dy = 32 / 1024 in
// viewport units; with a field of view of 90 degrees the turn per unit is
// a = 2 * pi / 2 = pi.
#include <cmath>

#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "pointer_rig.h"

namespace {

const double kPi = 3.141592653589793;
const double kDx = 64.0 / 1024, kDy = 32.0 / 1024;

// Orbit of radius 10 round the origin, elevation 30 degrees, azimuth 0.
const char* kOrbit = R"(
    vp:setNavigationMode(MODE)
    vp:setNavigationPosition(v3(0, 0, 0))
    vp:setNavigationRadius(10)
    vp:setNavigationElevation(ELEVATION)
    vp:setNavigationAzimuth(0)
)";

std::string orbit(const char* mode, const char* elevation = "30") {
    std::string s = kOrbit;
    s.replace(s.find("MODE"), 4, mode);
    s.replace(s.find("ELEVATION"), 9, elevation);
    return s;
}

// Where the orbit puts the camera.
v3 onOrbit(const v3& centre, double radius, double elevation, double azimuth) {
    return centre + v3{-std::cos(elevation) * std::cos(azimuth), -std::cos(elevation) * std::sin(azimuth),
                       std::sin(elevation)} * radius;
}

void expectNear(const v3& got, const v3& want, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_NEAR(got.x, want.x, 1e-9);
    EXPECT_NEAR(got.y, want.y, 1e-9);
    EXPECT_NEAR(got.z, want.z, 1e-9);
}

// Drags with a button (1 left, 3 right) and modifiers.
void drag(PointerRig& rig, int button, uint32_t modifiers) {
    rig.fake.modifiers = modifiers;
    rig.move(512, 384);
    rig.press(512, 384, button);
    rig.move(576, 416);
    rig.release(576, 416, button);
    rig.fake.modifiers = 0;
}

const MDL_Frame& camera(PointerRig& rig) { return rig.c->viewports[0]->camera->getGlobalFrame(); }

}  // namespace

TEST(Navigation, OrbitModesAfterADrag) {
    const double e0 = 30 * 0.017453292519943295;
    struct Case {
        const char* name;
        std::string setup;
        int button;
        uint32_t modifiers;
        double elevation, azimuth;
    } cases[] = {
        {"mixed, right drag", orbit("NAVIGATION_MIXED"), 3, 0, e0 + kPi * kDy, -kPi * kDx},
        {"mixed, left drag on empty space", orbit("NAVIGATION_MIXED"), 1, 0, e0 + kPi * kDy, -kPi * kDx},
        {"glass ball", orbit("NAVIGATION_GLASSBALL"), 3, 0, e0 + kPi * kDy, -kPi * kDx},
        {"glass ball ignores control", orbit("NAVIGATION_GLASSBALL"), 3, PLAT_MK_CONTROL, e0 + kPi * kDy,
         -kPi * kDx},
        // An elevation range holds the orbit.
        {"clamped elevation", orbit("NAVIGATION_MIXED") + "vp:setNavigationElevation(30, -10, 31)", 3, 0,
         31 * 0.017453292519943295, -kPi * kDx},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PointerRig rig;
        ASSERT_TRUE(rig.run(k.setup));
        drag(rig, k.button, k.modifiers);
        const MDL_Frame& f = camera(rig);
        expectNear(f.position, onOrbit({0, 0, 0}, 10, k.elevation, k.azimuth), "position");
        // It looks at the centre: its -z axis points there.
        v3 towards = (v3{0, 0, 0} - f.position) / 10;
        expectNear(-f.basis.c[2], towards, "view axis");
    }
}

// Shift pans the orbit centre in the camera's plane; the camera moves with it.
TEST(Navigation, OrbitPan) {
    for (const char* mode : {"NAVIGATION_MIXED", "NAVIGATION_GLASSBALL"}) {
        SCOPED_TRACE(mode);
        PointerRig rig;
        ASSERT_TRUE(rig.run(orbit(mode)));
        const MDL_Frame before = camera(rig);
        drag(rig, 3, PLAT_MK_SHIFT);
        v3 shift = before.basis.c[0] * (-10 * kDx) + before.basis.c[1] * (10 * kDy);
        expectNear(rig.c->viewports[0]->navPosition, shift, "centre");
        expectNear(camera(rig).position, before.position + shift, "camera");
    }
}

// Control in the mixed mode turns the centre about the camera: level, the
// camera stays and looks towards the turned centre.
TEST(Navigation, MixedLookAroundKeepsTheCamera) {
    PointerRig rig;
    ASSERT_TRUE(rig.run(orbit("NAVIGATION_MIXED", "0")));
    const v3 before = camera(rig).position;
    rig.fake.modifiers = PLAT_MK_CONTROL;
    rig.move(512, 384);
    rig.press(512, 384, 3);
    rig.move(576, 384);  // sideways only
    rig.release(576, 384, 3);
    const MDL_Viewport* vp = rig.c->viewports[0];
    EXPECT_NEAR(vp->navAzimuth, kPi * kDx, 1e-12);
    expectNear(camera(rig).position, before, "camera");
    expectNear(vp->navPosition, before + v3{std::cos(kPi * kDx), std::sin(kPi * kDx), 0} * 10, "centre");
}

TEST(Navigation, FreeModeLooksAndPans) {
    const double alpha = kPi * kDy, beta = kPi * kDx;
    {
        SCOPED_TRACE("look: about its x axis by a dy, then its y axis by a dx");
        PointerRig rig;
        drag(rig, 3, 0);
        expectNear(camera(rig).position, {0, 0, 10}, "position");
        expectNear(-camera(rig).basis.c[2],
                   {-std::sin(beta), std::sin(alpha) * std::cos(beta), -std::cos(alpha) * std::cos(beta)}, "view");
    }
    {
        SCOPED_TRACE("pan");
        PointerRig rig;
        drag(rig, 1, PLAT_MK_SHIFT);
        expectNear(camera(rig).position, {-15 * kDx, 15 * kDy, 10}, "position");
        expectNear(camera(rig).basis.c[2], {0, 0, 1}, "axis");
    }
}

// A fixed camera stays, while the object callbacks still fire; a press on
// an object drags it, never the camera.
TEST(Navigation, FixedModeAndPressedObjectsLeaveTheCamera) {
    for (const char* setup : {"vp:setNavigationMode(NAVIGATION_FIXED) watch(pillar('A', 0, 0, 0), 'A')",
                              "watch(pillar('A', 0, 0, 0), 'A')"}) {
        SCOPED_TRACE(setup);
        PointerRig rig;
        ASSERT_TRUE(rig.run(setup));
        drag(rig, 1, 0);
        if (rig.c->viewports[0]->navigationMode == NAVIGATION_FIXED) {
            drag(rig, 3, 0);
            rig.wheel(4);
        }
        expectNear(camera(rig).position, {0, 0, 10}, "position");
        expectNear(camera(rig).basis.c[2], {0, 0, 1}, "axis");
        EXPECT_EQ(rig.lines().front(), "down A A 0.000 0.000 2.000");
    }
}

// One notch is 120: the free camera moves 120 * 0.002 along its view, the
// orbit shrinks by as much, shift turns the camera about its view axis by
// 120 * 0.0008. The zoom happens even when the script took the event.
TEST(Navigation, WheelZooms) {
    const double step = 120 * static_cast<double>(0.002f), turn = 120 * static_cast<double>(0.0008f);
    {
        PointerRig rig;
        ASSERT_TRUE(rig.run("vp:setCallback(CB_EVENT, function() log('zoom') return true end)"));
        rig.move(512, 384);
        rig.wheel(4);
        EXPECT_EQ(rig.lines(), std::vector<std::string>{"zoom"});
        expectNear(camera(rig).position, {0, 0, 10 - step}, "forward");
        rig.wheel(5);
        rig.wheel(5);
        expectNear(camera(rig).position, {0, 0, 10 + step}, "back");
        rig.fake.modifiers = PLAT_MK_SHIFT;
        rig.wheel(4);
        expectNear(camera(rig).basis.c[0], {std::cos(turn), std::sin(turn), 0}, "turned");
    }
    for (const char* mode : {"NAVIGATION_MIXED", "NAVIGATION_GLASSBALL"}) {
        SCOPED_TRACE(mode);
        PointerRig rig;
        ASSERT_TRUE(rig.run(orbit(mode)));
        rig.move(512, 384);
        rig.wheel(4);
        EXPECT_NEAR(rig.c->viewports[0]->navRadius, 10 - step, 1e-12);
        expectNear(camera(rig).position, onOrbit({0, 0, 0}, 10 - step, 30 * 0.017453292519943295, 0), "orbit");
    }
}
