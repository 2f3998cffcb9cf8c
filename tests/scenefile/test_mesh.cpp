#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"

namespace {

// Mesh data over the given positions and triangles (owned by the record).
// Face normals only where every index names a vertex.
MDL_MeshData* makeData(const std::vector<double>& pos, const std::vector<uint32_t>& tri, bool normals = true)
{
    auto* d = new MDL_MeshData();
    d->vertexCount = int32_t(pos.size() / 3);
    d->positions = static_cast<double*>(std::malloc(sizeof(double) * pos.size()));
    std::copy(pos.begin(), pos.end(), d->positions);  // (an empty mesh has no data to copy from)
    d->triangleCount = uint32_t(tri.size() / 3);
    d->indices = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * tri.size()));
    std::copy(tri.begin(), tri.end(), d->indices);
    d->faces = static_cast<MDL_Face*>(std::calloc(d->triangleCount, sizeof(MDL_Face)));
    for (int k = 0; k < 3; k++) {
        d->boxMin[k] = HUGE_VAL;
        d->boxMax[k] = -HUGE_VAL;
    }
    for (size_t i = 0; i < pos.size(); i++) {
        d->boxMin[i % 3] = std::min(d->boxMin[i % 3], pos[i]);
        d->boxMax[i % 3] = std::max(d->boxMax[i % 3], pos[i]);
    }
    d->buildAdjacency();
    if (normals) d->computeFaceNormals();
    return d;
}

bool samePos(const double* a, const double* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

// The links, exactly: a plain scan written straight from the rule, with no
// numbering of positions and no shortcuts. Triangles in order; for each of
// its corners, every corner of another triangle at the same position, in
// triangle and corner order; each open edge of the first triangle takes the
// first open edge of the other that joins the same two positions. A corner
// whose index is past the vertices or whose position has a NaN matches only
// itself. Links per edge, 3 t + e.
std::vector<uint32_t> plainLinks(const std::vector<double>& pos, const std::vector<uint32_t>& tri)
{
    const uint32_t nv = uint32_t(pos.size() / 3);
    const size_t corners = tri.size();
    auto valid = [&](size_t i) {
        const uint32_t v = tri[i];
        return v < nv && !std::isnan(pos[3 * v]) && !std::isnan(pos[3 * v + 1]) && !std::isnan(pos[3 * v + 2]);
    };
    auto same = [&](size_t i, size_t j) {
        return i == j || (valid(i) && valid(j) && samePos(&pos[3 * tri[i]], &pos[3 * tri[j]]));
    };
    const uint32_t T = uint32_t(corners / 3);
    std::vector<uint32_t> want(corners, MDL_NO_FACE);
    for (uint32_t t = 0; t < T; t++)
        for (int c = 0; c < 3; c++)
            for (size_t j = 0; j < corners; j++) {
                const uint32_t u = uint32_t(j / 3);
                if (u == t || !same(3 * t + c, j)) continue;
                for (int e = 0; e < 3; e++) {
                    if (want[3 * t + e] != MDL_NO_FACE) continue;
                    const size_t a = 3 * t + e, b = 3 * t + (e + 1) % 3;
                    for (int k = 0; k < 3; k++) {
                        if (want[3 * u + k] != MDL_NO_FACE) continue;
                        const size_t ua = 3 * u + k, ub = 3 * u + (k + 1) % 3;
                        if ((same(a, ua) && same(b, ub)) || (same(a, ub) && same(b, ua))) {
                            want[3 * t + e] = u;
                            want[3 * u + k] = t;
                            break;
                        }
                    }
                }
            }
    return want;
}

// A random mesh on a small lattice: shared edges, three and more triangles
// on one edge, repeated and degenerate triangles (two or three corners at one
// position), signed zeros, NaN vertices and bad indices. `big` gives long
// candidate lists per position.
void randomLatticeMesh(std::mt19937& rng, bool big, std::vector<double>& pos, std::vector<uint32_t>& tri)
{
    const int nv = 1 + int(rng() % 16);
    for (int i = 0; i < 3 * nv; i++) {
        const int v = int(rng() % 3) - 1;
        double x = v == 0 && (rng() & 1) ? -0.0 : double(v);
        if (rng() % 40 == 0) x = std::nan("");
        pos.push_back(x);
    }
    const int nt = big ? 150 + int(rng() % 150) : int(rng() % 40);
    for (int i = 0; i < 3 * nt; i++) {
        uint32_t v = rng() % uint32_t(nv);
        if (rng() % 80 == 0) v = uint32_t(nv) + rng() % 3;
        if (rng() % 300 == 0) v = 0xFFFFFFFFu;
        if (i % 3 && rng() % 12 == 0) v = tri.back();  // degenerate corner pair
        tri.push_back(v);
    }
}

// Möller-Trumbore, two-sided; distance in units of d.
bool refRay(const v3& o, const v3& d, const double* a, const double* b, const double* c, double* t)
{
    v3 A{a[0], a[1], a[2]}, B{b[0], b[1], b[2]}, C{c[0], c[1], c[2]};
    v3 e1 = B - A, e2 = C - A, p, q;
    v3::cross(p, d, e2);
    double det = v3::dot(e1, p);
    if (std::fabs(det) < 1e-12) return false;
    v3 s = o - A;
    double u = v3::dot(s, p) / det;
    if (u < 0 || u > 1) return false;
    v3::cross(q, s, e1);
    double v = v3::dot(d, q) / det;
    if (v < 0 || u + v > 1) return false;
    *t = v3::dot(e2, q) / det;
    return *t > 0;
}

}  // namespace

// Random meshes on a coarse lattice with duplicated vertices, signed zeros
// and repeated triangles: every link is symmetric and joins two triangles
// that really share an edge by position, no triangle links to itself, and
// an edge left open has no free partner that a brute-force match finds.
TEST(MeshAdjacency, MatchesBruteForceEdgeSearch)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 30; round++) {
        std::vector<double> pos;
        int nv = 6 + int(rng() % 20);
        for (int i = 0; i < nv; i++)
            for (int k = 0; k < 3; k++) {
                int v = int(rng() % 3) - 1;
                pos.push_back(v == 0 && (rng() & 1) ? -0.0 : double(v));
            }
        std::vector<uint32_t> tri;
        int nt = 4 + int(rng() % 40);
        for (int t = 0; t < nt; t++) {
            uint32_t a = rng() % nv, b = rng() % nv, c = rng() % nv;
            if (samePos(&pos[3 * a], &pos[3 * b]) || samePos(&pos[3 * b], &pos[3 * c]) ||
                samePos(&pos[3 * a], &pos[3 * c]))
                continue;
            tri.insert(tri.end(), {a, b, c});
        }
        MDL_MeshData* d = makeData(pos, tri);
        auto P = [&](uint32_t t, int c) { return &pos[3 * tri[3 * t + c]]; };
        auto shares = [&](uint32_t t, int e, uint32_t u, int k) {
            const double *a = P(t, e), *b = P(t, (e + 1) % 3), *ua = P(u, k), *ub = P(u, (k + 1) % 3);
            return (samePos(a, ua) && samePos(b, ub)) || (samePos(a, ub) && samePos(b, ua));
        };
        for (uint32_t t = 0; t < d->triangleCount; t++)
            for (int e = 0; e < 3; e++) {
                uint32_t u = d->faces[t].neighbours[e];
                if (u == MDL_NO_FACE) {
                    // Open edge: any triangle sharing it has all matching edges taken.
                    for (uint32_t w = 0; w < d->triangleCount; w++) {
                        for (int k = 0; k < 3 && w != t; k++) {
                            if (shares(t, e, w, k)) {
                                ASSERT_NE(d->faces[w].neighbours[k], MDL_NO_FACE) << round;
                            }
                        }
                    }
                    continue;
                }
                ASSERT_LT(u, d->triangleCount);
                ASSERT_NE(u, t);
                int back = 0;
                for (int k = 0; k < 3; k++)
                    if (d->faces[u].neighbours[k] == t && shares(t, e, u, k)) back++;
                ASSERT_GE(back, 1) << "link not returned, round " << round;
            }
        delete d;
    }
}

// The links, exactly, against the plain scan. Random meshes on a small
// lattice give shared edges, three and more triangles on one edge, repeated
// and degenerate triangles (two or three corners at one position), signed
// zeros, NaN vertices and bad indices.
TEST(MeshAdjacency, SameLinksAsPlainScanInOrder)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 400; round++) {
        std::vector<double> pos;
        std::vector<uint32_t> tri;
        randomLatticeMesh(rng, round % 10 == 0, pos, tri);
        MDL_MeshData* d = makeData(pos, tri, false);

        const std::vector<uint32_t> want = plainLinks(pos, tri);
        const uint32_t T = uint32_t(tri.size() / 3);
        ASSERT_EQ(d->triangleCount, T);
        for (uint32_t t = 0; t < T; t++)
            for (int e = 0; e < 3; e++)
                ASSERT_EQ(d->faces[t].neighbours[e], want[3 * t + e])
                    << "round " << round << " triangle " << t << " edge " << e;
        delete d;
    }
}

// Grids as content has them, mostly two triangles an edge and open borders,
// spoilt here and there: seams of duplicated vertices, triangles dropped
// (holes), repeated or flipped (three and four triangles on an edge, some
// with all three positions shared), degenerate, with a NaN corner or a bad
// index. Links that two edges settle and links that the order of many
// settles sit side by side in one mesh and must both be those of the plain
// scan.
TEST(MeshAdjacency, SpoiltGridsSameLinksAsPlainScan)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 12; round++) {
        const int nx = 6 + int(rng() % 10), ny = 4 + int(rng() % 8);
        std::vector<double> pos;
        for (int y = 0; y <= ny; y++)
            for (int x = 0; x <= nx; x++) pos.insert(pos.end(), {double(x), double(y), x == 0 ? -0.0 : 0.0});
        const uint32_t grid = uint32_t(pos.size() / 3);
        // A copy of every vertex for seams, some of them NaN.
        for (uint32_t v = 0; v < grid; v++) {
            pos.insert(pos.end(), {pos[3 * v], pos[3 * v + 1], pos[3 * v + 2] + 0.0});
            if (rng() % 50 == 0) pos[pos.size() - 1] = std::nan("");
        }
        auto pick = [&](uint32_t v) { return rng() % 6 == 0 ? v + grid : v; };
        std::vector<uint32_t> tri;
        for (int y = 0; y < ny; y++)
            for (int x = 0; x < nx; x++) {
                const uint32_t a = uint32_t(y * (nx + 1) + x), b = a + 1, c = a + uint32_t(nx) + 1, d = c + 1;
                const uint32_t quad[2][3] = {{a, b, d}, {a, d, c}};
                for (const auto& q : quad) {
                    const unsigned r = rng() % 40;
                    if (r == 0) continue;  // hole
                    uint32_t t[3] = {pick(q[0]), pick(q[1]), pick(q[2])};
                    if (r == 1) t[2] = t[1];                  // degenerate
                    if (r == 2) t[0] = grid * 2 + rng() % 3;  // past the vertices
                    tri.insert(tri.end(), {t[0], t[1], t[2]});
                    if (r == 3) tri.insert(tri.end(), {t[0], t[1], t[2]});          // repeated
                    if (r == 4) tri.insert(tri.end(), {pick(q[1]), pick(q[0]), pick(q[2])});  // flipped copy
                    if (r == 5) tri.insert(tri.end(), {t[0], pick(q[1]), uint32_t(rng() % grid)});  // fin
                }
            }
        // A few triangles moved to the end, so that partners come in any order.
        for (int i = 0; i < 4 && tri.size() >= 6; i++) {
            const size_t at = 3 * (rng() % (tri.size() / 3));
            const uint32_t t[3] = {tri[at], tri[at + 1], tri[at + 2]};
            tri.erase(tri.begin() + long(at), tri.begin() + long(at) + 3);
            tri.insert(tri.end(), {t[0], t[1], t[2]});
        }
        MDL_MeshData* d = makeData(pos, tri, false);
        const std::vector<uint32_t> want = plainLinks(pos, tri);
        ASSERT_EQ(d->triangleCount, uint32_t(tri.size() / 3));
        for (uint32_t t = 0; t < d->triangleCount; t++)
            for (int e = 0; e < 3; e++)
                ASSERT_EQ(d->faces[t].neighbours[e], want[3 * t + e])
                    << "round " << round << " triangle " << t << " edge " << e;
        delete d;
    }
}

TEST(MeshAdjacency, SeamsAndThreeTrianglesOnOneEdge)
{
    // Two triangles sharing an edge through duplicated vertices, one corner
    // written as -0.0: still neighbours.
    MDL_MeshData* d = makeData({0, 0, 0, 1, 0, 0, 0, 1, 0, /*dup*/ 1, 0, 0, -0.0, 1, 0, 1, 1, 0}, {0, 1, 2, 3, 5, 4});
    EXPECT_EQ(d->faces[0].neighbours[1], 1u);
    EXPECT_EQ(d->faces[1].neighbours[2], 0u);
    EXPECT_DOUBLE_EQ(d->faces[0].normal.z, 1.0);
    delete d;

    // A third triangle on the same edge stays unlinked; the first pair keeps
    // its links both ways.
    d = makeData({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1}, {0, 1, 2, 1, 0, 3, 0, 1, 4});
    EXPECT_EQ(d->faces[0].neighbours[0], 1u);
    EXPECT_EQ(d->faces[1].neighbours[0], 0u);
    EXPECT_EQ(d->faces[2].neighbours[0], MDL_NO_FACE);
    delete d;

    // A corner at a NaN position matches nothing, not even the same vertex
    // in the next triangle: the edge through it stays open; the other edge,
    // through ordinary duplicated vertices, links.
    const double nan = std::nan("");
    d = makeData({nan, 0, 0, 1, 0, 0, 0, 1, 0, 0, -1, 0, 1, 0, 0, 1, 1, 0}, {0, 1, 2, 1, 0, 3, 2, 1, 5, 4, 2, 5});
    EXPECT_EQ(d->faces[0].neighbours[0], MDL_NO_FACE);
    EXPECT_EQ(d->faces[1].neighbours[0], MDL_NO_FACE);
    EXPECT_EQ(d->faces[0].neighbours[1], 2u);
    EXPECT_EQ(d->faces[2].neighbours[0], 0u);
    delete d;
}

TEST(MeshRay, AgreesWithIndependentTriangleTest)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> pos;
    std::vector<uint32_t> tri;
    for (int t = 0; t < 40; t++) {
        for (int k = 0; k < 9; k++) pos.push_back(u(rng));
        tri.insert(tri.end(), {uint32_t(3 * t), uint32_t(3 * t + 1), uint32_t(3 * t + 2)});
    }
    MDL_MeshData* d = makeData(pos, tri);
    d->doubleSided = 1;
    MDL_Mesh mesh;
    mesh.meshData = d;
    int hits = 0;
    for (int r = 0; r < 500; r++) {
        v3 o{u(rng) * 3, u(rng) * 3, u(rng) * 3}, p1{u(rng), u(rng), u(rng)};
        v3 dir = p1 - o;
        double best = HUGE_VAL, want = HUGE_VAL;
        uint32_t tri_hit = 99, want_tri = 99;
        for (uint32_t t = 0; t < d->triangleCount; t++) {
            double tt;
            if (refRay(o, dir, &pos[9 * t], &pos[9 * t + 3], &pos[9 * t + 6], &tt) && tt < want) {
                want = tt;
                want_tri = t;
            }
        }
        bool hit = mesh.intersectRay(o, p1, &best, &tri_hit);
        ASSERT_EQ(hit, want_tri != 99) << r;
        if (hit) {
            hits++;
            EXPECT_NEAR(best, want, 1e-9);
            EXPECT_EQ(tri_hit, want_tri);
        }
    }
    EXPECT_GT(hits, 50);
    mesh.meshData = nullptr;
    delete d;
}

TEST(MeshRay, BackFacesAndRaysFromInsideTheBox)
{
    MDL_MeshData* d = makeData({-1, -1, 0, 1, -1, 0, 0, 1, 0, 0, 0, -5, 0, 0, 5}, {0, 1, 2});
    MDL_Mesh mesh;
    mesh.meshData = d;
    double t = HUGE_VAL;
    uint32_t tri;
    EXPECT_TRUE(mesh.intersectRay({0, 0, 2}, {0, 0, 1}, &t, &tri));  // front face, from inside the box
    EXPECT_DOUBLE_EQ(t, 2.0);
    t = HUGE_VAL;
    EXPECT_FALSE(mesh.intersectRay({0, 0, -2}, {0, 0, -1}, &t, &tri));  // back face
    d->doubleSided = 1;
    EXPECT_TRUE(mesh.intersectRay({0, 0, -2}, {0, 0, -1}, &t, &tri));
    t = 1.5;  // a nearer hit already known
    EXPECT_FALSE(mesh.intersectRay({0, 0, 2}, {0, 0, 1}, &t, &tri));
    EXPECT_FALSE(mesh.intersectRay({5, 5, 2}, {5, 5, 1}, &t, &tri));  // misses the box
    MDL_Mesh empty;
    EXPECT_FALSE(empty.intersectRay({0, 0, 2}, {0, 0, 1}, &t, &tri));
    EXPECT_EQ(empty.getVertex(0), nullptr);
    mesh.meshData = nullptr;
    delete d;
}

TEST(MeshMaterial, CopyOnWriteAndTransparency)
{
    MDL_Mesh fresh;
    fresh.setOwnMaterial();
    ASSERT_NE(fresh.material, nullptr);
    EXPECT_DOUBLE_EQ(fresh.material->shininess, 50.0);
    EXPECT_EQ(fresh.material->castShadows, 1);

    uint8_t* bytes = static_cast<uint8_t*>(std::calloc(4, 1));
    VIEW_Texture* tex = new VIEW_Texture("t", bytes, 4, 1);
    tex->transparent = 1;
    fresh.material->appendLayer(MDL_TextureLayer::makeDefault(tex));
    EXPECT_EQ(tex->users, 1u);
    {
        MDL_Mesh copy(fresh);  // shares, does not own
        EXPECT_EQ(copy.material, fresh.material);
        EXPECT_EQ(copy.ownMaterial, 0);
        copy.setOwnMaterial();
        EXPECT_NE(copy.material, fresh.material);
        EXPECT_EQ(tex->users, 2u);
        copy.material->diffuse[0] = 0.1;
        EXPECT_DOUBLE_EQ(fresh.material->diffuse[0], 1.0);
    }
    EXPECT_EQ(tex->users, 1u);

    MDL_Material* m = fresh.material;
    EXPECT_TRUE(MDL_Material::isTransparent(m));  // texture with transparency
    tex->rawPixels = 1;
    EXPECT_FALSE(MDL_Material::isTransparent(m));  // video frames are opaque
    tex->rawPixels = 0;
    for (double a : {0.0, 1.0}) {
        m->diffuse[3] = a;
        m->layers[0].texture = nullptr;
        EXPECT_FALSE(MDL_Material::isTransparent(m)) << a;
    }
    m->diffuse[3] = 0.5;
    EXPECT_TRUE(MDL_Material::isTransparent(m));
    m->layers[0].texture = tex;
    tex->releaseRequested = 1;
    EXPECT_FALSE(tex->canFree());  // a layer still uses it
    m->deleteLayer(0);
    EXPECT_TRUE(tex->canFree());
    delete tex;
}

// A copy shares the material its source owns; the material outlives the
// source (ASan reports a use after free otherwise).
TEST(MeshMaterial, CopyKeepsSharedOwnMaterialAlive)
{
    auto* source = new MDL_Mesh();
    source->setOwnMaterial();
    source->material->diffuse[0] = 0.25;
    auto* copy = new MDL_Mesh(*source);
    EXPECT_EQ(copy->material, source->material);
    EXPECT_EQ(copy->ownMaterial, 0);
    delete source;
    EXPECT_DOUBLE_EQ(copy->material->diffuse[0], 0.25);
    copy->setOwnMaterial();  // drops the last reference to the shared one
    EXPECT_DOUBLE_EQ(copy->material->diffuse[0], 0.25);
    delete copy;
}

TEST(MeshShadow, SilhouetteOfAQuadAndZeroScale)
{
    MDL_MeshData* d = makeData({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 3});
    MDL_Mesh mesh;
    mesh.meshData = d;
    mesh.setOwnMaterial();
    MDL_Lamp lamp;
    lamp.editGlobalFrame().position = {0.5, 0.5, 10};
    lamp.shadowType = SHADOW_ZFAIL;
    mesh.updateShadowGeometry(&lamp);
    EXPECT_EQ(mesh.shadowSideQuads.count, 4 * 6);  // four outline edges
    EXPECT_EQ(mesh.shadowCapIndices.count, 6);
    EXPECT_EQ(mesh.shadowFarPoints.count, 4);
    EXPECT_EQ(d->faces[0].facing, 1);

    MDL_Frame& f = mesh.editGlobalFrame();
    f.basis.c[0] = {0, 0, 0};
    f.inverseDirty = 1;
    mesh.updateShadowGeometry(&lamp);
    EXPECT_EQ(mesh.shadowSideQuads.count, 0);
    mesh.meshData = nullptr;
    delete d;
}

// Building the faces in one pass over storage full of junk gives every face
// exactly what the two passes give over cleared storage: links, the facing
// flag and the normal, bit for bit, on the plain-scan test's meshes.
TEST(MeshAdjacency, FacesBuiltInOnePassEqualTheTwoPasses)
{
    std::mt19937 rng(31);
    for (int round = 0; round < 200; round++) {
        std::vector<double> pos;
        std::vector<uint32_t> tri;
        randomLatticeMesh(rng, round % 10 == 0, pos, tri);
        MDL_MeshData* want = makeData(pos, tri);  // cleared storage, both passes
        MDL_MeshData* got = makeData(pos, tri, false);
        std::memset(static_cast<void*>(got->faces), 0xA5, sizeof(MDL_Face) * got->triangleCount);
        got->faceNormalsCurrent = 0;
        got->buildFaces();
        EXPECT_EQ(got->faceNormalsCurrent, want->faceNormalsCurrent);
        for (uint32_t t = 0; t < want->triangleCount; t++) {
            const MDL_Face &a = got->faces[t], &b = want->faces[t];
            for (int e = 0; e < 3; e++) ASSERT_EQ(a.neighbours[e], b.neighbours[e]) << round << " " << t;
            ASSERT_EQ(a.facing, 0) << round << " " << t;
            ASSERT_EQ(std::memcmp(&a.normal, &b.normal, sizeof(v3)), 0) << round << " " << t;
        }
        delete want;
        delete got;
    }
}
