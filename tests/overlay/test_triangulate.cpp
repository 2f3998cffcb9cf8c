#include <gtest/gtest.h>

#include <vector>

#include "base/VIEW_Triangulate.h"

namespace {

double cross(const v2& a, const v2& b, const v2& c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

double area(const std::vector<v2>& p)
{
    double a = 0;
    for (size_t q = 0, r = p.size() - 1; q < p.size(); r = q++)
        a += p[r].x * p[q].y - p[q].x * p[r].y;
    return 0.5 * a;
}

struct Case {
    const char* name;
    std::vector<v2> points;
    bool ok;
};

}  // namespace

// Every successful fill must cover the polygon exactly: n - 2 triangles, all
// counter-clockwise, indices into the caller's order, areas adding up.
TEST(Triangulate, FillsOrRefuses)
{
    const std::vector<Case> cases = {
        {"square ccw", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true},
        {"square cw", {{0, 0}, {0, 1}, {1, 1}, {1, 0}}, true},
        {"concave L", {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}, true},
        {"concave arrow cw", {{0, 0}, {1, 3}, {2, 0}, {1, 1}}, true},
        {"triangle", {{0, 0}, {1, 0}, {0, 1}}, true},
        {"collinear", {{0, 0}, {1, 0}, {2, 0}}, false},
        {"bow tie", {{0, 0}, {1, 1}, {1, 0}, {0, 1}}, false},
        {"two points", {{0, 0}, {1, 0}}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTRL_Array<int32_t> out;
        bool ok = VIEW_iTriangulate(c.points.data(), (int32_t)c.points.size(), out);
        EXPECT_EQ(ok, c.ok);
        if (!ok)
            continue;
        ASSERT_EQ(out.count, 3 * ((int32_t)c.points.size() - 2));
        double sum = 0;
        for (int32_t t = 0; t < out.count; t += 3) {
            for (int k = 0; k < 3; k++) {
                ASSERT_GE(out[t + k], 0);
                ASSERT_LT(out[t + k], (int32_t)c.points.size());
            }
            double a = 0.5 * cross(c.points[out[t]], c.points[out[t + 1]], c.points[out[t + 2]]);
            EXPECT_GT(a, 0) << "triangle " << t / 3 << " is not counter-clockwise";
            sum += a;
        }
        EXPECT_NEAR(sum, std::abs(area(c.points)), 1e-12);
    }
}

TEST(Triangulate, AppendsToExistingList)
{
    CTRL_Array<int32_t> out;
    out.append(99);
    const v2 tri[3] = {{0, 0}, {1, 0}, {0, 1}};
    ASSERT_TRUE(VIEW_iTriangulate(tri, 3, out));
    ASSERT_EQ(out.count, 4);
    EXPECT_EQ(out[0], 99);
    EXPECT_GE(out.capacity, 128);
}

TEST(Triangulate, SnipRejectsCornerWithPointInside)
{
    // (0,0),(4,0),(0,4) holds (1,1): the ear at (4,0) is refused, while the
    // same corner without the inner point passes.
    const v2 pts[4] = {{0, 0}, {4, 0}, {0, 4}, {1, 1}};
    const int32_t order[4] = {0, 1, 2, 3};
    EXPECT_FALSE(VIEW_iSnip(pts, 0, 1, 2, 4, order));
    EXPECT_TRUE(VIEW_iSnip(pts, 0, 1, 2, 3, order));
    // A clockwise corner is reflex.
    const int32_t reversed[3] = {2, 1, 0};
    EXPECT_FALSE(VIEW_iSnip(pts, 0, 1, 2, 3, reversed));
}
