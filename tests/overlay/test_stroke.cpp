#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/VIEW_Triangulate.h"

namespace {

double segDist(v2 p, v2 a, v2 b)
{
    double dx = b.x - a.x, dy = b.y - a.y, L2 = dx * dx + dy * dy;
    double t = L2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / L2 : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

double lineDist(const std::vector<v2>& pts, bool closed, v2 p)
{
    double best = 1e300;
    size_t n = pts.size();
    for (size_t i = 0; i + 1 < n; i++)
        best = std::min(best, segDist(p, pts[i], pts[i + 1]));
    if (closed && n >= 2)
        best = std::min(best, segDist(p, pts[n - 1], pts[0]));
    if (n == 1)
        best = std::hypot(p.x - pts[0].x, p.y - pts[0].y);
    return best;
}

bool inTriangle(v2 p, v2 a, v2 b, v2 c)
{
    auto cr = [](v2 o, v2 u, v2 w) { return (u.x - o.x) * (w.y - o.y) - (u.y - o.y) * (w.x - o.x); };
    double d1 = cr(a, b, p), d2 = cr(b, c, p), d3 = cr(c, a, p);
    const double e = 1e-12;
    return (d1 >= -e && d2 >= -e && d3 >= -e) || (d1 <= e && d2 <= e && d3 <= e);
}

bool covered(const CTRL_Array<v2>& v, v2 p)
{
    for (int32_t i = 0; i + 2 < v.count; i += 3)
        if (inTriangle(p, v[i], v[i + 1], v[i + 2]))
            return true;
    return false;
}

struct Case {
    const char* name;
    std::vector<v2> pts;
    bool closed;
};

}  // namespace

// The band must cover everything within the thickness of the centre line
// (the hit test's rule) and reach nowhere much beyond it.
TEST(Stroke, CoversTheBandAndNothingFarBeyond)
{
    const double t = 0.1;
    const std::vector<Case> cases = {
        {"straight open", {{0, 0}, {1, 0}}, false},
        {"two points closed", {{0, 0}, {1, 0}}, true},
        {"right angle open", {{0, 0}, {1, 0}, {1, 1}}, false},
        {"right turn open", {{0, 0}, {1, 0}, {1, -1}}, false},
        {"square closed", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true},
        {"square closed cw", {{0, 0}, {0, 1}, {1, 1}, {1, 0}}, true},
        {"acute closed", {{0, 0}, {2, 0}, {0, 0.4}}, true},
        {"zigzag short legs", {{0, 0}, {0.05, 0.3}, {0.1, 0}, {0.15, 0.3}}, false},
        {"gentle bend", {{0, 0}, {1, 0}, {2, 0.1}}, false},
        {"repeated point", {{0, 0}, {0, 0}, {1, 0}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTRL_Array<v2> verts, uvs;
        ASSERT_TRUE(VIEW_iBuildStroke(c.pts.data(), (int32_t)c.pts.size(), c.closed, t, 1.0, verts, uvs));
        ASSERT_GT(verts.count, 0);
        EXPECT_EQ(verts.count % 3, 0);
        EXPECT_EQ(uvs.count, verts.count);
        for (int32_t i = 0; i < verts.count; i++)
            EXPECT_LE(lineDist(c.pts, c.closed, verts[i]), t * 1.0001) << "vertex " << i;
        int misses = 0, strays = 0;
        for (double x = -0.3; x <= 2.3; x += 0.01)
            for (double y = -1.3; y <= 1.3; y += 0.01) {
                double d = lineDist(c.pts, c.closed, {x, y});
                bool in = covered(verts, {x, y});
                if (d < 0.9 * t && !in)
                    misses++;
                if (d > 1.01 * t && in)
                    strays++;
            }
        EXPECT_EQ(misses, 0);
        EXPECT_EQ(strays, 0);
    }
}

TEST(Stroke, DegenerateInputGivesNothing)
{
    CTRL_Array<v2> verts, uvs;
    verts.append({5, 5});
    const v2 one[1] = {{0, 0}};
    EXPECT_TRUE(VIEW_iBuildStroke(one, 1, true, 0.1, 1.0, verts, uvs));
    EXPECT_EQ(verts.count, 0);
    EXPECT_TRUE(VIEW_iBuildStroke(nullptr, 0, true, 0.1, 1.0, verts, uvs));
    const v2 same[2] = {{1, 1}, {1, 1}};
    EXPECT_TRUE(VIEW_iBuildStroke(same, 2, false, 0.1, 1.0, verts, uvs));
    EXPECT_EQ(verts.count, 0);
}

TEST(Stroke, UvsRunAlongAndAcross)
{
    const v2 line[2] = {{0, 0}, {2, 0}};
    CTRL_Array<v2> verts, uvs;
    ASSERT_TRUE(VIEW_iBuildStroke(line, 2, false, 0.1, -5.0, verts, uvs));
    double minU = 1e9, maxU = -1e9, minV = 1e9, maxV = -1e9;
    for (int32_t i = 0; i < uvs.count; i++) {
        minU = std::min(minU, uvs[i].x);
        maxU = std::max(maxU, uvs[i].x);
        minV = std::min(minV, uvs[i].y);
        maxV = std::max(maxV, uvs[i].y);
        // The left side (+y here) is v = 1.
        if (std::fabs(verts[i].y - 0.1) < 1e-12) {
            EXPECT_NEAR(uvs[i].y, 1.0, 1e-12);
        }
    }
    EXPECT_DOUBLE_EQ(minU, -10.0);
    EXPECT_DOUBLE_EQ(maxU, 0.0);
    EXPECT_NEAR(minV, 0.0, 1e-12);
    EXPECT_NEAR(maxV, 1.0, 1e-12);
}
