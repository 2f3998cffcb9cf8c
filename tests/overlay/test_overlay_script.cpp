// The overlay script classes, run through the real engine.
#include <gtest/gtest.h>

#include <string>

#include "base/CTRL_Keys.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "tests/overlay/overlay_rig.h"

TEST(OverlayScript, Polyline)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        local scene = newScene("s")
        local p = newPolyline(scene)
        assert(p:getPointsCount() == 0)
        assert(p:distanceToPoint(v2(0, 0)) > 1e300)
        p:addPoints({v2(0, 0), v2(0, 0), v2(2, 0)})
        assert(p:getPointsCount() == 2)
        assert(p:getPoint(2):x() == 2)
        assert(select('#', p:getPoint(3)) == 0 and select('#', p:getPoint(0)) == 0)
        p:setClosed(false)
        assert(p:getClosed() == false)
        local w = p:getThickness()
        assert(math.abs(p:distanceToPoint(v2(0, 1)) - (1 - w)) < 1e-12)
        p:setFillColor(color(1, 0, 0, 1))
        assert(p:getFillColor():r() == 1)
        p:setFillColor()
        assert(select('#', p:getFillColor()) == 0)
        p:setFillColor(nil)
        p:setColor(nil)
        p:setColor(color(1, 0, 0, 1))
        local c = p:getColor()
        assert(c:r() == 1 and c:g() == 0)
        p:setPoints({v2(5, 5)})
        assert(p:getPointsCount() == 1)
        assert(math.abs(p:distanceToPoint(v2(5, 6)) - (1 - w)) < 1e-12)
        p:clear()
        assert(p:getPointsCount() == 0)
        -- A copy carries the points and colours of its source.
        p:setPoints({v2(0, 0), v2(1, 0), v2(1, 1)})
        local q = newPolyline(scene, p)
        assert(q ~= p and q:getPointsCount() == 3 and q:getColor():r() == 1)
        q:addPoints({v2(0, 1)})
        assert(p:getPointsCount() == 3)
        assert(select('#', p:getMaterial()) == 1)
    )");
    ASSERT_GE(rig.controller->scenes.count, 1);
}

TEST(OverlayScript, TextAndImage)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        local scene = newScene("s")
        local t = newText(scene)
        assert(t:getSize() == 1 and t:getTabSize() == 8)
        t:setText("ab")
        assert(t:getText() == "ab")
        t:setSize(0.1)
        local box = t:getBoundingBox()
        assert(#box == 4 and box[3] > box[1] and box[4] > box[2])
        local c = t:getCenter(REF_SELF)
        assert(math.abs(c:x() - (box[1] + box[3]) / 2) < 1e-12)
        -- The controller's default font, handed out as one proxy.
        local f = t:getFont()
        assert(f ~= nil and t:getFont() == f)
        t:setFont(f)
        assert(t:getBoundingBox()[3] == box[3])
        t:setColor(color(1, 1, 0, 1))
        assert(t:getColor():g() == 1)

        local img = newImage(scene)
        assert(select('#', img:getColor()) == 0)
        assert(select('#', img:getTexture()) == 0)
        assert(select('#', img:getMaterial()) == 0)
        assert(img:getAspectRatio() == 1)
        img:setColor(color(0, 1, 0, 0.5))
        assert(img:getColor():a() == 0.5)
        local ctr = img:getCenter(REF_SELF)
        assert(ctr:x() == 0.5 and ctr:y() == 0.5)
    )");
}

TEST(OverlayScript, MisuseReports)
{
    const ErrorCase cases[] = {
        {"newText(scene, 1)", "Too many arguments creating a newText"},
        {"newImage(scene):getCenter(4)", "Invalid reference ID"},
        {"newImage(scene):setTexture(5)", "Texture argument expected"},
        {"newPolyline(scene):addPoints(5)", "Wrong argument, Table of 2D vector argument expected"},
        {"newPolyline(scene):addPoints({1})", "Wrong element in table, 2D vector element expected"},
        {"newImage(scene, nil, 3)", "Too much arguments for newImage"},
        {"newText(scene):setFont(5)", "newFont"},
    };
    for (const ErrorCase& c : cases)
        expectReports(c, "scene = newScene('s')\n");
    ScriptRig rig;
    rig.run("scene = newScene('s')\nnewText(scene, 1)");
    EXPECT_EQ(rig.controller->scenes[0]->overlays.count, 0);
}

TEST(OverlayScript, PlacedUnderObjectsAndSeenThroughViewports)
{
    ScriptRig rig;
    expectRuns(rig, R"(
        local scene = newScene("s")
        local base = newObject(scene)
        base:setPosition(v3(0.1, 0.2, 0.5))
        local t = newText(base)
        assert(t:getParent() == base)
        local p = t:getPosition()
        assert(p:x() == 0.1 and p:y() == 0.2 and p:z() == 0.5)
        local line = newPolyline(base)
        assert(line:getParent() == base and line:getPosition():z() == 0.5)
        local copy = newPolyline(base, line)
        assert(copy:getParent() == base and copy ~= line)

        local cam = newCamera(scene)
        local mike = newMike(scene)
        local vp = newViewport(0, 0, 1, 0.75)
        vp:setCamera(cam)
        vp:setMike(mike)
        assert(vp:getCamera() == cam and vp:getMike() == mike)
    )");
}
