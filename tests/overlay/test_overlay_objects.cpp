#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "media/VIEW_Font.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Text.h"

namespace {

void setPoints(MDL_Polyline& p, std::initializer_list<v2> pts)
{
    p.clearPoints();
    for (const v2& q : pts)
        p.addPoint(q);
}

}  // namespace

TEST(TextObject, SetTextLaysOutAtOnce)
{
    VIEW_Font font("default", nullptr, 0, 0);
    MDL_Text t;
    EXPECT_EQ(t.type, OBJECT_TEXT);
    t.font = &font;
    t.size = 0.05;
    t.setText("Hello\nworld");
    EXPECT_EQ(t.layoutDirty, 0);
    double want[4];
    font.measure("Hello\nworld", 8, 0.05, want);
    for (int i = 0; i < 4; i++)
        EXPECT_DOUBLE_EQ(t.bounds[i], want[i]);
    EXPECT_DOUBLE_EQ(t.laidOutWidth, want[2]);

    const double midX = (want[0] + want[2]) / 2, midY = (want[1] + want[3]) / 2;
    EXPECT_TRUE(t.hitTest(midX, midY));
    EXPECT_TRUE(t.hitTest(want[2], want[3]));
    EXPECT_FALSE(t.hitTest(want[2] + 1e-6, midY));
    EXPECT_FALSE(t.hitTest(midX, want[1] - 1e-6));

    // A size change marks the layout stale; the next hit test re-measures.
    t.size = 0.1;
    t.invalidateLayout();
    EXPECT_EQ(t.bounds[2], 0);
    EXPECT_TRUE(t.hitTest(want[2] * 1.5, midY));
    EXPECT_NEAR(t.bounds[2], 2 * want[2], 1e-12);

    MDL_Text copy(t);
    ASSERT_NE(copy.text, t.text);
    EXPECT_STREQ(copy.text, "Hello\nworld");
    EXPECT_EQ(copy.font, &font);
}

TEST(TextObject, WithoutFontOrFaceMeasuresNothing)
{
    MDL_Text t;
    t.setText("abc");
    EXPECT_EQ(t.bounds[2], 0);
    EXPECT_FALSE(t.hitTest(0.01, 0.01));
    static const uint8_t junk[4] = {0, 1, 2, 3};
    VIEW_Font broken("junk", junk, 4, 0);
    t.font = &broken;
    t.invalidateLayout();
    t.layout();
    EXPECT_EQ(t.bounds[2], 0);
    t.setText(nullptr);
    EXPECT_EQ(t.text, nullptr);
}

TEST(PolylineObject, SegmentDistance)
{
    struct Case {
        v2 p, a, b;
        double want;
    } cases[] = {
        {{5, 0}, {0, 0}, {0, 0}, 5},
        {{0, 1}, {0, 0}, {2, 0}, 1},
        {{3, 0}, {0, 0}, {2, 0}, 1},
        {{-3, 4}, {0, 0}, {2, 0}, 5},
        {{1, -2}, {2, 0}, {0, 0}, 2},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(MDL_iPointSegmentDistance(c.p, c.a, c.b), c.want);
}

TEST(PolylineObject, EmptyClosedPolylineIsSafe)
{
    MDL_Polyline p;
    EXPECT_EQ(p.type, OBJECT_POLYLINE);
    EXPECT_EQ(p.closed, 1);
    EXPECT_EQ(p.thickness, (double)0.01f);
    p.fillOn = 1;
    p.fillRebuild = 1;
    p.outlineRebuild = 1;
    EXPECT_FALSE(p.hitTest(0, 0));
    p.rebuild();
    EXPECT_EQ(p.outlineVertices.count, 0);
    EXPECT_EQ(p.getTriangulation().count, 0);
    EXPECT_EQ(p.distanceToPoint({1, 1}), DBL_MAX);
}

TEST(PolylineObject, OutlineHitsFollowTheClosedFlag)
{
    MDL_Polyline p;
    p.thickness = 0.1;
    setPoints(p, {{0, 0}, {2, 0}, {2, 2}});
    // (1, 1) lies on the closing segment (2, 2)-(0, 0) only.
    p.closed = 0;
    EXPECT_FALSE(p.hitTest(1, 1));
    EXPECT_TRUE(p.hitTest(1, 0.05));
    EXPECT_FALSE(p.hitTest(1, 0.1));  // the band stops just short of the thickness
    p.closed = 1;
    EXPECT_TRUE(p.hitTest(1, 1));
    p.outlineOn = 0;
    EXPECT_FALSE(p.hitTest(1, 0.05));
}

TEST(PolylineObject, FillHitsIncludeTheEdges)
{
    MDL_Polyline p;
    p.outlineOn = 0;
    p.fillOn = 1;
    setPoints(p, {{0, 0}, {0, 1}, {1, 1}, {1, 0}});  // clockwise
    EXPECT_TRUE(p.hitTest(0.5, 0.5));
    EXPECT_TRUE(p.hitTest(1, 0.5));
    EXPECT_TRUE(p.hitTest(0.5, 0.5 + 0.5));
    EXPECT_FALSE(p.hitTest(1.01, 0.5));
    EXPECT_EQ(p.getTriangulation().count, 6);
    // New points make the fill stale; a crossing outline gives no fill.
    setPoints(p, {{0, 0}, {1, 1}, {1, 0}, {0, 1}});
    EXPECT_EQ(p.getTriangulation().count, 0);
    EXPECT_FALSE(p.hitTest(0.5, 0.2));
}

TEST(PolylineObject, DistanceToPoint)
{
    MDL_Polyline p;
    p.thickness = 0.25;
    p.closed = 0;
    setPoints(p, {{0, 0}, {2, 0}});
    EXPECT_DOUBLE_EQ(p.distanceToPoint({0, 1}), 0.75);
    EXPECT_DOUBLE_EQ(p.distanceToPoint({1, 0.1}), 0.1 - 0.25);
    setPoints(p, {{3, 4}});
    EXPECT_DOUBLE_EQ(p.distanceToPoint({0, 0}), 4.75);
    p.closed = 1;
    setPoints(p, {{0, 0}, {2, 0}, {2, 2}});
    EXPECT_NEAR(p.distanceToPoint({1, 1}), -0.25, 1e-12);
}

TEST(PolylineObject, AddPointSkipsRepeatsAndMarksRebuilds)
{
    MDL_Polyline p;
    EXPECT_TRUE(p.addPoint({0, 0}));
    EXPECT_FALSE(p.addPoint({0, 0}));
    EXPECT_TRUE(p.addPoint({1, 0}));
    EXPECT_TRUE(p.addPoint({0, 0}));
    EXPECT_EQ(p.points.count, 3);
    EXPECT_EQ(p.fillRebuild, 1);
    EXPECT_EQ(p.outlineRebuild, 1);
    p.rebuild();
    EXPECT_EQ(p.outlineRebuild, 0);
    EXPECT_GT(p.outlineVertices.count, 0);
    EXPECT_EQ(p.outlineUvs.count, p.outlineVertices.count);
    p.clearPoints();
    EXPECT_EQ(p.points.count, 0);
    EXPECT_EQ(p.points.data, nullptr);
}

TEST(PolylineObject, CopyOwnsItsPointsAndMaterial)
{
    MDL_Polyline p;
    setPoints(p, {{0, 0}, {1, 0}, {1, 1}});
    p.setOwnMaterial();
    p.material->diffuse[0] = 0.25;
    p.fillOn = 1;
    p.fillColor[3] = 0.5;
    p.thickness = 0.2;
    MDL_Polyline copy(p);
    ASSERT_EQ(copy.points.count, 3);
    EXPECT_NE(copy.points.data, p.points.data);
    EXPECT_EQ(copy.points[2].y, 1);
    ASSERT_NE(copy.material, nullptr);
    EXPECT_NE(copy.material, p.material);
    EXPECT_EQ(copy.material->diffuse[0], 0.25);
    EXPECT_EQ(copy.ownMaterial, 1);
    EXPECT_EQ(copy.fillColor[3], 0.5);
    EXPECT_EQ(copy.thickness, 0.2);
    EXPECT_EQ(copy.getTriangulation().count, 3);
    // A shared material stays shared.
    MDL_Material shared;
    MDL_Polyline q;
    q.material = &shared;
    MDL_Polyline qc(q);
    EXPECT_EQ(qc.material, &shared);
    EXPECT_EQ(qc.ownMaterial, 0);

    MDL_Object* clone = MDL_iCloneOverlay(&p);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->type, OBJECT_POLYLINE);
    delete clone;
    MDL_Object plain;
    EXPECT_EQ(MDL_iCloneOverlay(&plain), nullptr);
}
