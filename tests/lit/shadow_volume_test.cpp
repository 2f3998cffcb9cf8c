// Shadow-volume geometry: silhouettes from adjacency, caps, extrusion, and a
// winding that makes both stencil methods count right.
#include "render/VIEW_Shadow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

namespace {

struct Mesh {
    std::vector<double> positions;
    std::vector<uint32_t> indices;
    std::vector<uint32_t> neighbours;

    VIEW_ShadowGeometry geometry() const
    {
        VIEW_ShadowGeometry g;
        g.positions = positions.data();
        g.vertexCount = (int32_t)(positions.size() / 3);
        g.indices = indices.data();
        g.neighbours = neighbours.empty() ? nullptr : neighbours.data();
        g.triangleCount = (uint32_t)(indices.size() / 3);
        return g;
    }
};

// Neighbours by shared corner indices (edge e joins corner e and e + 1).
void link(Mesh& m)
{
    size_t n = m.indices.size() / 3;
    m.neighbours.assign(3 * n, VIEW_NO_NEIGHBOUR);
    for (size_t t = 0; t < n; t++)
        for (int e = 0; e < 3; e++) {
            uint32_t a = m.indices[3 * t + e], b = m.indices[3 * t + (e + 1) % 3];
            for (size_t u = 0; u < n && m.neighbours[3 * t + e] == VIEW_NO_NEIGHBOUR; u++)
                for (int k = 0; k < 3 && u != t; k++) {
                    uint32_t c = m.indices[3 * u + k], d = m.indices[3 * u + (k + 1) % 3];
                    if ((a == d && b == c) || (a == c && b == d)) {
                        m.neighbours[3 * t + e] = (uint32_t)u;
                        break;
                    }
                }
        }
}

// The cube [-1, 1]^3, faces counter-clockwise seen from outside.
Mesh cube()
{
    Mesh m;
    for (int i = 0; i < 8; i++) {
        m.positions.push_back(i & 1 ? 1 : -1);
        m.positions.push_back(i & 2 ? 1 : -1);
        m.positions.push_back(i & 4 ? 1 : -1);
    }
    const uint32_t quads[6][4] = {{4, 5, 7, 6}, {0, 2, 3, 1}, {1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3}, {0, 1, 5, 4}};
    for (const auto& q : quads)
        for (uint32_t i : {q[0], q[1], q[2], q[0], q[2], q[3]})
            m.indices.push_back(i);
    link(m);
    return m;
}

// A single square in the plane z = 0, facing up.
Mesh square()
{
    Mesh m;
    m.positions = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    m.indices = {0, 1, 2, 0, 2, 3};
    link(m);
    return m;
}

// A built volume, with its caps also laid out as whole triangles (their
// corners looked up through the cap indices) for the checks below.
struct Volume {
    CTRL_Array<v3> sides, far, front, back;
    CTRL_Array<uint32_t> capIndices;
    std::vector<uint8_t> scratch;
    bool build(const VIEW_ShadowGeometry& g, const VIEW_ShadowLight& l, bool caps)
    {
        const bool ok = VIEW_iBuildShadowVolume(g, l, caps, {&sides, &capIndices, &far}, scratch);
        front.resize(0);
        back.resize(0);
        if (capIndices.count > 0) {
            EXPECT_EQ(far.count, g.vertexCount);
        }
        for (int32_t i = 0; i < capIndices.count; i++) {
            const uint32_t v = capIndices[i];
            if (v >= (uint32_t)g.vertexCount || v >= (uint32_t)far.count) {
                ADD_FAILURE() << "cap index " << v << " past the vertices";
                continue;
            }
            front.push({g.positions[3 * v], g.positions[3 * v + 1], g.positions[3 * v + 2]});
            back.push(far[(int32_t)v]);
        }
        return ok;
    }
    bool build(const Mesh& m, const VIEW_ShadowLight& l, bool caps) { return build(m.geometry(), l, caps); }
};

VIEW_ShadowLight pointLamp(v3 p, double depth = 30)
{
    VIEW_ShadowLight l;
    l.position = p;
    l.extrusion = depth;
    return l;
}

v3 crossOf(const v3& a, const v3& b)
{
    v3 r;
    v3::cross(r, a, b);
    return r;
}

using Key = std::tuple<double, double, double>;
Key key(const v3& p) { return {p.x, p.y, p.z}; }

// The closed volume: sides, front cap and the back cap turned outwards.
std::vector<v3> closedSurface(const Volume& v)
{
    std::vector<v3> s(v.sides.begin(), v.sides.end());
    s.insert(s.end(), v.front.begin(), v.front.end());
    for (int32_t i = 0; i < v.back.count; i += 3) {
        s.push_back(v.back[i]);
        s.push_back(v.back[i + 2]);
        s.push_back(v.back[i + 1]);
    }
    return s;
}

// Every directed edge has exactly one partner running the other way, and the
// enclosed volume is positive (counter-clockwise seen from outside).
void expectClosedAndOutward(const std::vector<v3>& s)
{
    std::map<std::pair<Key, Key>, int> edges;
    double volume = 0;
    for (size_t i = 0; i < s.size(); i += 3) {
        for (int e = 0; e < 3; e++)
            edges[{key(s[i + e]), key(s[i + (e + 1) % 3])}]++;
        volume += v3::dot(s[i], crossOf(s[i + 1], s[i + 2])) / 6;
    }
    for (const auto& [edge, count] : edges) {
        EXPECT_EQ(count, 1);
        auto back = edges.find({edge.second, edge.first});
        EXPECT_TRUE(back != edges.end() && back->second == 1) << "open edge";
    }
    EXPECT_GT(volume, 0);
}

// Ray from o along d against a triangle; the hit parameter and whether the
// triangle's front (counter-clockwise side) faces the ray's origin.
bool hit(const v3& o, const v3& d, const v3& a, const v3& b, const v3& c, double& t, bool& front)
{
    v3 e1 = b - a, e2 = c - a, h = crossOf(d, e2);
    double det = v3::dot(e1, h);
    if (std::fabs(det) < 1e-12)
        return false;
    v3 s = o - a;
    double u = v3::dot(s, h) / det;
    v3 q = crossOf(s, e1);
    double v = v3::dot(d, q) / det;
    if (u < 0 || v < 0 || u + v > 1)
        return false;
    t = v3::dot(e2, q) / det;
    front = v3::dot(crossOf(e1, e2), d) < 0;
    return true;
}

// The stencil value the two methods leave for the pixel where the camera at
// c sees the surface point p (non-zero: in shadow).
int zPassCount(const Volume& v, const v3& c, const v3& p)
{
    int n = 0;
    for (int32_t i = 0; i < v.sides.count; i += 3) {
        double t;
        bool front;
        if (hit(c, p - c, v.sides[i], v.sides[i + 1], v.sides[i + 2], t, front) && t > 0 && t < 1)
            n += front ? 1 : -1;
    }
    return n;
}

int zFailCount(const Volume& v, const v3& c, const v3& p)
{
    // Behind the surface, back faces count up and front faces down; the back
    // cap is drawn with the front face reversed.
    int n = 0;
    auto count = [&](const CTRL_Array<v3>& a, bool reversed) {
        for (int32_t i = 0; i < a.count; i += 3) {
            double t;
            bool front;
            if (hit(c, p - c, a[i], a[i + 1], a[i + 2], t, front) && t > 1)
                n += (front != reversed) ? -1 : 1;
        }
    };
    count(v.sides, false);
    count(v.front, false);
    count(v.back, true);
    return n;
}

}   // namespace

TEST(ShadowVolume, CubeUnderALampGivesAClosedOutwardVolume)
{
    struct Case {
        const char* what;
        VIEW_ShadowLight light;
        int litFaces, silhouetteEdges;
    };
    VIEW_ShadowLight sun;
    sun.directional = true;
    sun.direction = {0.3, -0.2, -1};
    sun.extrusion = 12;
    const Case cases[] = {
        {"lamp straight above", pointLamp({0, 0, 10}), 2, 4},
        {"lamp above one edge", pointLamp({0, 5, 10}), 4, 6},
        {"lamp above a corner", pointLamp({4, 5, 10}), 6, 6},
        {"sun at a slant", sun, 6, 6},
    };
    Mesh m = cube();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Volume v;
        ASSERT_TRUE(v.build(m, c.light, true));
        EXPECT_EQ(v.front.count, 3 * c.litFaces);
        EXPECT_EQ(v.back.count, 3 * c.litFaces);
        EXPECT_EQ(v.sides.count, 6 * c.silhouetteEdges);
        expectClosedAndOutward(closedSurface(v));
        // Each back-cap corner is its front-cap corner pushed the extrusion
        // length straight away from the lamp.
        for (int32_t i = 0; i < v.front.count; i++) {
            v3 away = c.light.directional ? c.light.direction : v.front[i] - c.light.position;
            v3::normalize(away);
            v3 push = v.back[i] - v.front[i];
            EXPECT_NEAR(v3::length(push), c.light.extrusion, 1e-9);
            EXPECT_NEAR(v3::dot(push, away), c.light.extrusion, 1e-9);
        }
    }
}

TEST(ShadowVolume, CapsOnlyWhenAskedAndOldContentIsReplaced)
{
    Mesh m = cube();
    Volume v;
    ASSERT_TRUE(v.build(m, pointLamp({0, 0, 10}), true));
    ASSERT_TRUE(v.build(m, pointLamp({0, 0, 10}), false));
    EXPECT_EQ(v.sides.count, 24);
    EXPECT_EQ(v.front.count, 0);
    EXPECT_EQ(v.back.count, 0);
}

TEST(ShadowVolume, OpenSquareShadowsOnlyWhenItFacesTheLamp)
{
    Mesh m = square();
    Volume v;
    ASSERT_TRUE(v.build(m, pointLamp({0, 0, 5}), true));
    EXPECT_EQ(v.sides.count, 4 * 6);   // its rim
    EXPECT_EQ(v.front.count, 6);
    expectClosedAndOutward(closedSurface(v));

    ASSERT_TRUE(v.build(m, pointLamp({0, 0, -5}), true));
    EXPECT_EQ(v.sides.count + v.front.count + v.back.count, 0);
}

// The counts the stencil passes would leave, traced along the camera's rays:
// both methods agree with the camera outside the volume; inside it only the
// depth-fail method stays right.
TEST(ShadowVolume, StencilCountsMarkTheShadowedPoints)
{
    Mesh m = cube();
    Volume v;
    ASSERT_TRUE(v.build(m, pointLamp({0, 0, 10}), true));
    const v3 shaded{0.2, 0.3, -5}, lit{5, 0.1, -5};
    const v3 outside{8, 0.2, 3}, inside{0.1, -0.1, -3};

    EXPECT_NE(zPassCount(v, outside, shaded), 0);
    EXPECT_EQ(zPassCount(v, outside, lit), 0);
    EXPECT_NE(zFailCount(v, outside, shaded), 0);
    EXPECT_EQ(zFailCount(v, outside, lit), 0);

    EXPECT_NE(zFailCount(v, inside, shaded), 0);
    EXPECT_EQ(zFailCount(v, inside, lit), 0);
    EXPECT_EQ(zPassCount(v, inside, shaded), 0) << "depth-pass counting inverts inside a volume";
    EXPECT_NE(zPassCount(v, inside, lit), 0);
}

TEST(ShadowVolume, MalformedGeometryIsSkippedNotRead)
{
    struct Case {
        const char* what;
        void (*spoil)(Mesh&);
        int sides, caps;
    };
    const Case cases[] = {
        {"corner index past the vertices", [](Mesh& m) { m.indices[0] = 99; }, 6 * 3, 3},
        {"neighbour past the triangles", [](Mesh& m) { m.neighbours[2] = 1000; }, 6 * 5, 6},
        {"no adjacency at all", [](Mesh& m) { m.neighbours.clear(); }, 6 * 6, 6},
        {"no vertices", [](Mesh& m) { m.positions.clear(); }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Mesh m = square();
        c.spoil(m);
        Volume v;
        ASSERT_TRUE(v.build(m, pointLamp({0, 0, 5}), true));
        EXPECT_EQ(v.sides.count, c.sides);
        EXPECT_EQ(v.front.count, c.caps);
    }
}

// The facing test and the extrusion work on two triangles and two vertices
// at a time: every lane, the odd ones left at the end, a corner sitting on
// the lamp (it stays put) and a bad index between good triangles must give
// exactly what one triangle or vertex at a time gives.
TEST(ShadowVolume, WideStepsMatchOneAtATime)
{
    // A bumpy 2 x 2 grid of quads (9 vertices, 8 triangles) and a ninth
    // triangle, so that both counts are odd.
    Mesh m;
    for (int j = 0; j <= 2; j++)
        for (int i = 0; i <= 2; i++)
            m.positions.insert(m.positions.end(), {i - 1.0, j - 1.0, 0.1 * ((i * 7 + j * 3) % 5)});
    for (uint32_t j = 0; j < 2; j++)
        for (uint32_t i = 0; i < 2; i++) {
            uint32_t a = 3 * j + i;
            m.indices.insert(m.indices.end(), {a, a + 1, a + 4, a, a + 4, a + 3});
        }
    m.indices.insert(m.indices.end(), {4, 1, 0});   // the first one turned over
    link(m);
    m.positions[3 * 5 + 2] = 3;   // a peak, where one lamp sits (its pair, vertex 4, must still move)
    const v3 onVertex{m.positions[3 * 5], m.positions[3 * 5 + 1], m.positions[3 * 5 + 2]};
    VIEW_ShadowLight sun;
    sun.directional = true;
    sun.direction = {0.3, -0.2, -1};
    struct Case {
        const char* what;
        VIEW_ShadowLight light;
        int badTriangle;   // its first index spoilt; -1: none
    };
    const Case cases[] = {
        {"lamp above", pointLamp({0.3, 0.2, 4}, 7), -1},
        {"lamp below", pointLamp({-0.4, 0.1, -3}, 7), -1},
        {"lamp on a vertex", pointLamp(onVertex, 7), -1},
        {"sun", sun, -1},
        {"bad index among good triangles", pointLamp({0.3, 0.2, 4}, 7), 3},
    };
    for (bool wide : {false, true})
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SCOPED_TRACE(wide ? "four at a time" : "two at a time");
        const bool before = VIEW_iShadowWideSteps(wide);
        Mesh spoilt = m;
        if (c.badTriangle >= 0)
            spoilt.indices[3 * c.badTriangle] = 1000;
        Volume v;
        const bool built = v.build(spoilt, c.light, true);
        VIEW_iShadowWideSteps(before);
        ASSERT_TRUE(built);

        const size_t vertices = spoilt.positions.size() / 3;
        auto at = [&](uint32_t i) {
            return v3{spoilt.positions[3 * i], spoilt.positions[3 * i + 1], spoilt.positions[3 * i + 2]};
        };
        std::vector<v3> front, back;
        for (size_t t = 0; t < spoilt.indices.size() / 3; t++) {
            const uint32_t* ix = &spoilt.indices[3 * t];
            if (ix[0] >= vertices || ix[1] >= vertices || ix[2] >= vertices)
                continue;
            const v3 p0 = at(ix[0]), a = at(ix[1]) - p0, b = at(ix[2]) - p0;
            const v3 normal{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
            const v3 towards = c.light.directional ? c.light.direction : p0 - c.light.position;
            if (!(v3::dot(towards, normal) < 0))
                continue;
            for (int k = 0; k < 3; k++) {
                const v3 p = at(ix[k]);
                v3 d = c.light.directional ? c.light.direction : p - c.light.position;
                const double L = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
                front.push_back(p);
                back.push_back(L > 0 ? v3{p.x + d.x / L * c.light.extrusion, p.y + d.y / L * c.light.extrusion,
                                          p.z + d.z / L * c.light.extrusion}
                                     : p);
            }
        }
        ASSERT_FALSE(front.empty());
        ASSERT_EQ(v.front.count, (int32_t)front.size());
        ASSERT_EQ(v.back.count, (int32_t)back.size());
        for (size_t i = 0; i < front.size(); i++) {
            EXPECT_EQ(std::memcmp(&v.front[(int32_t)i], &front[i], sizeof(v3)), 0) << "front corner " << i;
            EXPECT_EQ(std::memcmp(&v.back[(int32_t)i], &back[i], sizeof(v3)), 0) << "back corner " << i;
        }
    }
}

// The four-at-a-time builder (where the processor has it) and the plain one
// give the same bytes: facing flags, side quads in the same order, both
// caps. A bumpy ball of some hundreds of faces, so that every lane and the
// odd ones left over are used, under lamps inside, outside and at a vertex,
// a sun, with and without caps, without neighbours and with a bad index.
TEST(ShadowVolume, FourAtATimeGivesThePlainBytes)
{
    Mesh ball;
    const int rows = 11, cols = 13;
    for (int r = 0; r <= rows; r++)
        for (int c = 0; c < cols; c++) {
            const double th = M_PI * r / rows, ph = 2 * M_PI * c / cols, k = 1 + 0.15 * ((r * 5 + c * 3) % 4);
            ball.positions.insert(ball.positions.end(),
                                  {k * std::sin(th) * std::cos(ph), k * std::sin(th) * std::sin(ph), k * std::cos(th)});
        }
    for (uint32_t r = 0; r < (uint32_t)rows; r++)
        for (uint32_t c = 0; c < (uint32_t)cols; c++) {
            const uint32_t a = r * cols + c, b = r * cols + (c + 1) % cols;
            ball.indices.insert(ball.indices.end(), {a, a + cols, b + cols, a, b + cols, b});
        }
    ball.indices.insert(ball.indices.end(), {0, 1, 2});   // one more, so the count is odd
    link(ball);
    VIEW_ShadowLight sun;
    sun.directional = true;
    sun.direction = {0.2, 0.5, -1};
    const v3 vertex{ball.positions[3 * 40], ball.positions[3 * 40 + 1], ball.positions[3 * 40 + 2]};
    struct Case {
        const char* what;
        VIEW_ShadowLight light;
        bool caps, neighbours;
        int badTriangle;
        bool normals = false;   // the wide steps read stored face normals
    };
    const Case cases[] = {
        {"lamp outside", pointLamp({3, -2, 4}, 9), true, true, -1},
        {"lamp inside", pointLamp({0.1, 0.2, -0.1}, 9), true, true, -1},
        {"lamp on a vertex", pointLamp(vertex, 9), true, true, -1},
        {"sun", sun, true, true, -1},
        {"no caps", pointLamp({-3, 1, 2}, 9), false, true, -1},
        {"no neighbours", pointLamp({3, -2, 4}, 9), true, false, -1},
        {"bad index", pointLamp({3, -2, 4}, 9), true, true, 57},
        {"stored normals", pointLamp({3, -2, 4}, 9), true, true, -1, true},
        {"stored normals, sun", sun, true, true, -1, true},
        {"stored normals, bad index", pointLamp({-1, 3, 2}, 9), true, true, 57, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Mesh m = ball;
        if (!c.neighbours)
            m.neighbours.clear();
        if (c.badTriangle >= 0)
            m.indices[3 * c.badTriangle + 1] = 5000;
        // Normals in a record of four doubles, the way a face record
        // carries them among other fields.
        std::vector<double> normals;
        for (size_t t = 0; t < m.indices.size() / 3; t++) {
            const uint32_t* ix = &m.indices[3 * t];
            v3 n{0, 0, 0};
            if (ix[0] < m.positions.size() / 3 && ix[1] < m.positions.size() / 3 && ix[2] < m.positions.size() / 3) {
                auto at = [&](uint32_t i) { return v3{m.positions[3 * i], m.positions[3 * i + 1], m.positions[3 * i + 2]}; };
                n = crossOf(at(ix[1]) - at(ix[0]), at(ix[2]) - at(ix[0]));
            }
            normals.insert(normals.end(), {n.x, n.y, n.z, 12345.0});
        }
        VIEW_ShadowGeometry withNormals = m.geometry();
        withNormals.faceNormals = normals.data();
        withNormals.faceNormalStride = 4 * sizeof(double);
        Volume plain, wide;
        const bool before = VIEW_iShadowWideSteps(false);
        const bool builtPlain = plain.build(m, c.light, c.caps);
        VIEW_iShadowWideSteps(true);
        const bool builtWide = c.normals ? wide.build(withNormals, c.light, c.caps) : wide.build(m, c.light, c.caps);
        VIEW_iShadowWideSteps(before);
        ASSERT_TRUE(builtPlain);
        ASSERT_TRUE(builtWide);
        EXPECT_GT(plain.sides.count, 0);
        EXPECT_EQ(plain.scratch, wide.scratch);
        EXPECT_EQ(plain.capIndices.count, wide.capIndices.count);
        if (plain.capIndices.count > 0 && plain.capIndices.count == wide.capIndices.count) {
            EXPECT_EQ(std::memcmp(plain.capIndices.data, wide.capIndices.data,
                                  sizeof(uint32_t) * (size_t)plain.capIndices.count),
                      0);
        }
        for (auto [a, b] : {std::pair{&plain.sides, &wide.sides}, {&plain.front, &wide.front}, {&plain.back, &wide.back}}) {
            ASSERT_EQ(a->count, b->count);
            if (a->count > 0) {
                EXPECT_EQ(std::memcmp(a->data, b->data, sizeof(v3) * (size_t)a->count), 0);
            }
        }
    }
}
