// Ordering of transparent triangles: classification against node planes,
// splitting, and the far-to-near walk.
#include "render/VIEW_BSP.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

v3 crossOf(const v3& a, const v3& b)
{
    v3 r;
    v3::cross(r, a, b);
    return r;
}

double area(const v3& a, const v3& b, const v3& c)
{
    return 0.5 * v3::length(crossOf(b - a, c - a));
}

// A triangle as the transparent pass hands it over: eye at the origin, plane
// normal turned away from the eye. `id` tags the source triangle through its
// material pointer and first uv (both survive splitting unchanged).
VIEW_BspNode tri(v3 a, v3 b, v3 c, int id = 0)
{
    VIEW_BspNode t{};
    t.positions[0] = a;
    t.positions[1] = b;
    t.positions[2] = c;
    v3 n = crossOf(c - a, b - a);
    if (v3::dot(n, a) < 0)
        n = -n;
    v3::normalize(n);
    t.planeNormal = n;
    for (int i = 0; i < 3; i++) {
        t.normals[i] = {0, 0, 1};
        t.uvs[i][0] = id;
        t.uvs[i][1] = 0;
        t.colours[i][3] = -1;
    }
    t.material = reinterpret_cast<const MDL_Material*>(static_cast<uintptr_t>(id + 1) * 16);
    return t;
}

// Flat triangle in the plane z = depth (facing the eye).
VIEW_BspNode flat(double depth, double size = 1, int id = 0)
{
    return tri({-size, -size, depth}, {size, -size, depth}, {0, size, depth}, id);
}

int subtreeSize(const VIEW_Transparency& rec, int32_t n)
{
    if (n < 0)
        return 0;
    int count = 0;
    std::vector<int32_t> stack{n};
    while (!stack.empty()) {
        int32_t i = stack.back();
        stack.pop_back();
        for (int32_t c = i; c >= 0; c = rec.nodes[c].nextCoplanar)
            count++;
        if (rec.nodes[i].nearChild >= 0)
            stack.push_back(rec.nodes[i].nearChild);
        if (rec.nodes[i].farChild >= 0)
            stack.push_back(rec.nodes[i].farChild);
    }
    return count;
}

int chainLength(const VIEW_Transparency& rec, int32_t n)
{
    int count = 0;
    for (int32_t c = rec.nodes[n].nextCoplanar; c >= 0; c = rec.nodes[c].nextCoplanar)
        count++;
    return count;
}

double signedDistance(const VIEW_BspNode& plane, const v3& p)
{
    return v3::dot(p - plane.positions[0], plane.planeNormal);
}

}   // namespace

// A root in the plane z = -5 and one more triangle with the given corner
// depths: where it goes and into how many pieces.
TEST(Bsp, ClassifiesAndSplitsAgainstTheRootPlane)
{
    struct Case {
        const char* what;
        double z[3];
        int nearPieces, farPieces, coplanar;
    };
    const double e = 0.000005;   // half the tolerance
    const Case cases[] = {
        {"nearer the eye", {-4, -4, -4}, 1, 0, 0},
        {"beyond the plane", {-6, -6, -6}, 0, 1, 0},
        {"in the plane", {-5, -5, -5}, 0, 0, 1},
        {"within tolerance of the plane", {-5 + e, -5 - e, -5 + e}, 0, 0, 1},
        {"touching with an edge, nearer", {-5, -5, -4}, 1, 0, 0},
        {"touching with a corner, beyond", {-5, -6, -7}, 0, 1, 0},
        {"one corner in the plane, crossing", {-5, -4, -6}, 1, 1, 0},
        {"two corners nearer, crossing", {-4, -4, -6}, 2, 1, 0},
        {"two corners beyond, crossing", {-4, -6, -6}, 1, 2, 0},
        {"just outside tolerance, crossing", {-5 + 4 * e, -6, -6}, 1, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VIEW_Transparency rec;
        ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5, 10)));
        VIEW_BspNode t = tri({-1, -1, c.z[0]}, {1, -1, c.z[1]}, {0, 1, c.z[2]});
        ASSERT_TRUE(VIEW_iBspInsert(rec, 0, t));
        const VIEW_BspNode& root = rec.nodes[0];
        EXPECT_EQ(subtreeSize(rec, root.nearChild), c.nearPieces);
        EXPECT_EQ(subtreeSize(rec, root.farChild), c.farPieces);
        EXPECT_EQ(chainLength(rec, 0), c.coplanar);

        // Every piece lies on its side, keeps the source's winding and plane
        // normal, and the pieces cover exactly the source's area.
        double total = 0;
        for (int32_t i = 1; i < rec.nodes.count; i++) {
            const VIEW_BspNode& p = rec.nodes[i];
            double lo = 1e30, hi = -1e30;
            for (const v3& v : p.positions) {
                double d = signedDistance(root, v);
                lo = std::min(lo, d);
                hi = std::max(hi, d);
            }
            EXPECT_FALSE(lo < -VIEW_BSP_EPSILON && hi > VIEW_BSP_EPSILON) << "piece " << i << " straddles";
            v3 w = crossOf(p.positions[1] - p.positions[0], p.positions[2] - p.positions[0]);
            v3 w0 = crossOf(t.positions[1] - t.positions[0], t.positions[2] - t.positions[0]);
            EXPECT_GT(v3::dot(w, w0), 0) << "piece " << i << " turned over";
            EXPECT_EQ(p.material, t.material);
            EXPECT_EQ(p.planeNormal.z, t.planeNormal.z);
            total += area(p.positions[0], p.positions[1], p.positions[2]);
        }
        EXPECT_NEAR(total, area(t.positions[0], t.positions[1], t.positions[2]), 1e-12);
    }
}

TEST(Bsp, SplitInterpolatesTheVertexAttributes)
{
    VIEW_Transparency rec;
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5, 10)));
    // Crosses the plane halfway along the edges from corner 0.
    VIEW_BspNode t = tri({0, 0, -4}, {2, 0, -6}, {0, 2, -6});
    for (int i = 0; i < 3; i++) {
        t.normals[i] = {0, 0, i == 0 ? 1.0 : -1.0};
        t.uvs[i][0] = i == 0 ? 0 : 1;
        t.uvs[i][1] = i;
        t.colours[i][0] = i == 0 ? 1 : 0;
        t.colours[i][3] = 0.5;
    }
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, t));
    ASSERT_EQ(subtreeSize(rec, rec.nodes[0].nearChild), 1);
    const VIEW_BspNode& lone = rec.nodes[rec.nodes[0].nearChild];
    // The near piece is corner 0 and the two midpoints.
    EXPECT_DOUBLE_EQ(lone.positions[1].x, 1);
    EXPECT_DOUBLE_EQ(lone.positions[1].z, -5);
    EXPECT_DOUBLE_EQ(lone.positions[2].y, 1);
    for (int i = 1; i < 3; i++) {
        EXPECT_DOUBLE_EQ(lone.normals[i].z, 0);
        EXPECT_DOUBLE_EQ(lone.uvs[i][0], 0.5);
        EXPECT_DOUBLE_EQ(lone.colours[i][0], 0.5);
        EXPECT_DOUBLE_EQ(lone.colours[i][3], 0.5);
    }
    EXPECT_DOUBLE_EQ(lone.uvs[1][1], 0.5);
    EXPECT_DOUBLE_EQ(lone.uvs[2][1], 1.0);
}

TEST(Bsp, CoplanarTrianglesComeOutInInsertionOrder)
{
    VIEW_Transparency rec;
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5, 1, 1)));
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5, 2, 2)));
    VIEW_iBspClearOutput(rec);
    VIEW_iBspCollect(rec, 0);
    ASSERT_EQ(rec.materials.count, 2);
    EXPECT_EQ(rec.uvs[0].x, 1);
    EXPECT_EQ(rec.uvs[3].x, 2);
}

// A triangle that is itself one of the tree's nodes can be inserted again,
// also when the node array has to move to take it.
TEST(Bsp, ANodeOfTheTreeCanBeInsertedAgain)
{
    VIEW_Transparency rec;
    for (int i = 0; i < 128; i++)
        ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5, 1, i)));
    ASSERT_EQ(rec.nodes.count, rec.nodes.capacity);
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, rec.nodes[7]));
    // One crossing the root's plane: split, its pieces on either side.
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, tri({-1, 0, -3}, {1, 0, -7}, {0, 1, -7}, 200)));
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, rec.nodes[rec.nodes.count - 1]));
    VIEW_iBspClearOutput(rec);
    VIEW_iBspCollect(rec, 0);
    EXPECT_EQ(chainLength(rec, 0), 128);
    int copiesOf7 = 0;
    for (int32_t i = 0; i < rec.uvs.count; i += 3)
        copiesOf7 += rec.uvs[i].x == 7;
    EXPECT_EQ(copiesOf7, 2);
}

TEST(Bsp, RefusesStartsOutsideTheTree)
{
    VIEW_Transparency rec;
    EXPECT_FALSE(VIEW_iBspInsert(rec, 3, flat(-5)));
    EXPECT_EQ(rec.nodes.count, 0);
    ASSERT_TRUE(VIEW_iBspInsert(rec, 0, flat(-5)));
    EXPECT_FALSE(VIEW_iBspInsert(rec, 1, flat(-6)));
    EXPECT_FALSE(VIEW_iBspInsert(rec, -1, flat(-6)));
    EXPECT_EQ(rec.nodes.count, 1);
    VIEW_iBspCollect(rec, 7);
    EXPECT_EQ(rec.positions.count, 0);
}

// Random crossing triangles: along every ray from the eye, the triangles hit
// come out farthest first, and nothing of the input's area is lost.
TEST(Bsp, WalkIsFarToNearAlongEveryRay)
{
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> xy(-3, 3), depth(-10, -2), off(-1.5, 1.5);
    VIEW_Transparency rec;
    double inputArea = 0;
    const int n = 150;
    for (int i = 0; i < n; i++) {
        v3 c{xy(rng), xy(rng), depth(rng)};
        v3 a = c + v3{off(rng), off(rng), off(rng) * 2};
        v3 b = c + v3{off(rng), off(rng), off(rng) * 2};
        v3 d = c + v3{off(rng), off(rng), off(rng) * 2};
        if (area(a, b, d) < 1e-3)
            continue;
        inputArea += area(a, b, d);
        ASSERT_TRUE(VIEW_iBspInsert(rec, 0, tri(a, b, d, i)));
    }
    ASSERT_GT(rec.nodes.count, n + 20) << "the fixture should force splits";
    VIEW_iBspClearOutput(rec);
    VIEW_iBspCollect(rec, 0);
    ASSERT_EQ(rec.positions.count, 3 * rec.nodes.count);
    ASSERT_EQ(rec.materials.count, rec.nodes.count);

    double outputArea = 0;
    for (int32_t t = 0; t < rec.materials.count; t++)
        outputArea += area(rec.positions[3 * t], rec.positions[3 * t + 1], rec.positions[3 * t + 2]);
    EXPECT_NEAR(outputArea, inputArea, 1e-9 * inputArea);

    std::uniform_real_distribution<double> dir(-0.5, 0.5);
    int overlaps = 0;
    for (int r = 0; r < 3000; r++) {
        v3 d{dir(rng), dir(rng), -1};
        double last = INFINITY;
        for (int32_t t = 0; t < rec.materials.count; t++) {
            // Ray from the origin against triangle t (Moller-Trumbore).
            const v3& p0 = rec.positions[3 * t];
            v3 e1 = rec.positions[3 * t + 1] - p0, e2 = rec.positions[3 * t + 2] - p0;
            v3 h = crossOf(d, e2);
            double det = v3::dot(e1, h);
            if (std::fabs(det) < 1e-12)
                continue;
            v3 s = -p0;
            double u = v3::dot(s, h) / det;
            v3 q = crossOf(s, e1);
            double v = v3::dot(d, q) / det;
            if (u < 1e-9 || v < 1e-9 || u + v > 1 - 1e-9)
                continue;
            double dist = v3::dot(e2, q) / det;
            if (dist <= 0)
                continue;
            EXPECT_LE(dist, last + 1e-6) << "ray " << r << ", triangle " << t << " drawn after a nearer one";
            if (last != INFINITY)
                overlaps++;
            last = dist;
        }
    }
    EXPECT_GT(overlaps, 1000) << "the fixture should overlap on screen";
}

// Parallel layers make a tree as deep as it has nodes; insertion and walk
// must not need a stack frame per level. Run on a thread with a small stack.
TEST(Bsp, DeepTreesNeedNoDeepStack)
{
    struct Job {
        bool nearToFar;
        int layers;
        bool sorted = false;
        int32_t count = 0;
    };
    auto run = [](void* p) -> void* {
        Job& job = *static_cast<Job*>(p);
        VIEW_Transparency rec;
        for (int i = 0; i < job.layers; i++) {
            int k = job.nearToFar ? i : job.layers - 1 - i;
            VIEW_iBspInsert(rec, 0, flat(-1 - 0.01 * k, 1, k));
        }
        VIEW_iBspClearOutput(rec);
        VIEW_iBspCollect(rec, 0);
        job.count = rec.materials.count;
        job.sorted = true;
        for (int32_t t = 1; t < rec.materials.count; t++)
            if (!(rec.positions[3 * t].z > rec.positions[3 * (t - 1)].z))
                job.sorted = false;
        return nullptr;
    };
    for (bool nearToFar : {true, false}) {
        Job job{nearToFar, 4000};
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, 256 * 1024);
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, &attr, +run, &job), 0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attr);
        EXPECT_EQ(job.count, job.layers);
        EXPECT_TRUE(job.sorted) << (nearToFar ? "near to far" : "far to near");
    }
}
