// The Viewport script class, run through the real engine.
#include <gtest/gtest.h>

#include <string>

#include "base/CTRL_Keys.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "tests/overlay/overlay_rig.h"

TEST(ViewportScript, DefaultsAndGetters)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        local vp = newViewport(0, 0, 1, 0.75)
        local s, p, c = vp:getSize(), vp:getPosition(), vp:getCenter()
        assert(s:x() == 1 and s:y() == 0.75)
        assert(p:x() == 0 and p:y() == 0)
        assert(c:x() == 0.5 and c:y() == 0.375 and c:z() == 0)
        assert(vp:getShadowRendering() == 1)
        assert(vp:getNavigationMode() == 0)
        assert(vp:getActive() == true)
        assert(select('#', vp:getCamera()) == 0)
        assert(select('#', vp:getMike()) == 0)
        assert(vp:getWidth() == 1 and vp:getHeight() == 0.75)
        vp:setPosition(v2(0.25, 0.5)); vp:setSize(v2(0.5, 0.25))
        assert(vp:getPosition():y() == 0.5 and vp:getSize():x() == 0.5)
        vp:setActive(false)
        assert(vp:getActive() == false)
        -- Without a camera the projections hand out zeros.
        local q = vp:toScene(v3(0.5, 0.5, 0.5))
        assert(q:x() == 0 and q:y() == 0 and q:z() == 0)
        local dir, origin = vp:getPickRay(v3(0.5, 0.5, 0))
        assert(dir:x() == 0 and origin:z() == 0)
    )");
    ASSERT_EQ(rig.controller->viewports.count, 1);
    MDL_Viewport* vp = rig.controller->viewports[0];
    EXPECT_EQ(rig.controller->currentViewport, vp);
    EXPECT_EQ(vp->originX, 0.25);
    EXPECT_EQ(vp->active, 0);
}

TEST(ViewportScript, OrbitNavigation)
{
    ScriptRig rig;
    MDL_Camera camera;
    expectRuns(rig, "vp = newViewport(0, 0, 1, 0.75)");
    ASSERT_EQ(rig.controller->viewports.count, 1);
    rig.controller->viewports[0]->camera = &camera;
    expectRuns(rig, R"(
        -- Free mode: no orbit values, setters change nothing.
        assert(vp:getNavigationRadius() == nil)
        vp:setNavigationRadius(5)
        vp:setNavigationPosition(v3(4, 5, 6))
        local cp = vp:getNavigationPosition()
        assert(cp:x() == 4 and cp:z() == 6)
        vp:setNavigationMode(NAVIGATION_MIXED)
        assert(vp:getNavigationRadius() == 0)
        vp:setNavigationRadius(5, 1, 3)
        assert(vp:getNavigationRadius() == 3)
        vp:setNavigationRadius(5)
        assert(vp:getNavigationRadius() == 5)
        vp:setNavigationMode(NAVIGATION_GLASSBALL)
        vp:setNavigationAzimuth(90)
        assert(math.abs(vp:getNavigationAzimuth() - 90) < 1e-9)
        vp:setNavigationElevation(30, -10, 10)
        assert(math.abs(vp:getNavigationElevation() - 10) < 1e-9)
        vp:setNavigationPosition(v3(1, 2, 3))
        local np = vp:getNavigationPosition()
        assert(np:x() == 1 and np:y() == 2 and np:z() == 3)
        -- The camera sits on the orbit and looks at its centre.
        local seen = vp:fromScene(v3(1, 2, 3))
        assert(math.abs(seen:x() - 0.5) < 1e-9 and math.abs(seen:y() - 0.375) < 1e-9)
        -- getPickRay: the direction first, then the near point.
        local dir, origin = vp:getPickRay(v3(0.5, 0.375, 7))
        local near = vp:toScene(v3(0.5, 0.375, 0))
        assert(math.abs(origin:x() - near:x()) < 1e-9 and math.abs(origin:z() - near:z()) < 1e-9)
        local far = vp:toScene(v3(0.5, 0.375, 1))
        assert(math.abs(origin:x() + dir:x() - far:x()) < 1e-9)
        vp:setCamera(nil)
        assert(select('#', vp:getCamera()) == 0)
    )");
    // The orbit placed the camera 5 from the centre.
    EXPECT_NEAR(v3::length(camera.getGlobalFrame().position - v3{1, 2, 3}), 5, 1e-9);
    EXPECT_EQ(rig.controller->viewports[0]->camera, nullptr);
}

TEST(ViewportScript, RefusedValuesReport)
{
    const ErrorCase cases[] = {
        {"vp:setNavigationMode(4)", "Unsupported navigation type specified."},
        {"vp:setNavigationMode(-1)", "Unsupported navigation type specified."},
        {"vp:setShadowRendering(2)", "Unsupported shadow type specified."},
        {"vp:setCamera(newScene('x'))", "newCamera"},
        {"vp:setBackgroundColor(1)", "color"},
    };
    for (const ErrorCase& c : cases)
        expectReports(c, "vp = newViewport(0, 0, 1, 0.75)\n");
    ScriptRig rig;
    rig.run("vp = newViewport(0, 0, 1, 0.75)\nvp:setNavigationMode(7)");
    EXPECT_EQ(rig.controller->viewports[0]->navigationMode, NAVIGATION_FREE);
}

TEST(ViewportScript, EventCallbackResult)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        seen = {}
        vp = newViewport(0, 0, 1, 0.75)
        vp:setCallback(CB_EVENT, function(v, kind, a, b)
            seen[#seen + 1] = {v == vp, kind, a, b}
            return kind == EVENT_KEY_DOWN
        end)
    )");
    MDL_Viewport* vp = rig.controller->viewports[0];
    CTRL_Event down{};
    down.type = EVENT_KEY_DOWN;
    down.code = 65;
    EXPECT_TRUE(LMP_iFireCallback(&vp->proxy, rig.engine, CB_EVENT, &down));
    CTRL_Event up{};
    up.type = EVENT_KEY_UP;
    up.code = 65;
    EXPECT_FALSE(LMP_iFireCallback(&vp->proxy, rig.engine, CB_EVENT, &up));
    expectRuns(rig, "assert(#seen == 2 and seen[1][1] and seen[1][2] == EVENT_KEY_DOWN and seen[1][3] == 65 and seen[1][4] == 0)");

    expectRuns(rig, "vp:setCallback(CB_EVENT, function() end)");
    EXPECT_FALSE(LMP_iFireCallback(&vp->proxy, rig.engine, CB_EVENT, &down));
    ASSERT_FALSE(rig.controller->errors.empty());
    EXPECT_NE(rig.firstError().find("Event function must return 1 boolean value."), std::string::npos);
}

TEST(ViewportScript, DeleteKeepsTheOthersAndClearsTheCurrent)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        first = newViewport(0, 0, 1, 0.75)
        second = newViewport(0, 0, 0.5, 0.5)
        first:delete()
    )");
    ASSERT_EQ(rig.controller->viewports.count, 1);
    EXPECT_EQ(rig.controller->viewports[0]->width, 0.5);
    expectRuns(rig, "assert(second:getWidth() == 0.5)");
    expectRuns(rig, "second:delete()");
    EXPECT_EQ(rig.controller->viewports.count, 0);
    EXPECT_EQ(rig.controller->currentViewport, nullptr);
    // Methods of a deleted viewport do nothing and hand out nothing.
    rig.run("n = select('#', second:getWidth())");
    EXPECT_EQ(rig.global("n"), "0");
}


// A wheel turn reaches the viewport with the pointer in its own coordinates.
TEST(ViewportScript, ZoomEventCarriesViewportPoint)
{
    ScriptRig rig;
    rig.controller->setViewportSize(1024, 768);
    expectRuns(rig, R"(
        vp = newViewport(0.5, 0, 0.5, 0.375)
        vp:setCallback(CB_EVENT, function(v, kind, a, b)
            got = {kind, a, b:x(), b:y()}
            return true
        end)
    )");
    MDL_Viewport* vp = rig.controller->viewports[0];
    const v2 point = {0.75, 0.1};  // pointer over the window width
    CTRL_Event zoom{};
    zoom.type = EVENT_ZOOM;
    zoom.point = &point;
    zoom.amount = 120;
    EXPECT_TRUE(LMP_iFireCallback(&vp->proxy, rig.engine, CB_EVENT, &zoom));
    expectRuns(rig, R"(
        assert(got[1] == EVENT_ZOOM and got[2] == 120)
        assert(math.abs(got[3] - 0.5) < 1e-12 and math.abs(got[4] - 0.2) < 1e-12)
    )");
}
