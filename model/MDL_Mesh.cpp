#include "model/MDL_Mesh.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Texture.h"
#include "model/MDL_Bone.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Objects.h"
#include "base/VIEW_ShadowGeometry.h"

#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

static char* MDL_iCopyName(const char* s)
{
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

// ---------------------------------------------------------------- mesh data

MDL_MeshData::~MDL_MeshData()
{
    std::free(name);
    std::free(positions);
    std::free(normals);
    std::free(uvs);
    std::free(colors);
    std::free(indices);
    std::free(faces);
    std::free(positionsBackup);
    std::free(colorsBackup);
}

int32_t MDL_MeshData::countTranslucentColors() const
{
    int32_t n = 0;
    for (int32_t i = 0; i < colorCount; i++)
        if (colors[4 * i + 3] != 1.0) n++;
    return n;
}

namespace {

// Positions are matched with ==, so the hash must not tell -0.0 from +0.0
// (adding 0.0 turns -0.0 into +0.0). Each coordinate's bits are multiplied
// by an odd constant of its own and turned by an amount of its own; the
// three are combined and mixed once more, so that lattice positions (grids,
// boxes) spread over the whole table.
inline uint32_t MDL_iPositionHash(const double* p)
{
    uint64_t bits[3];
    for (int i = 0; i < 3; i++) {
        const double c = p[i] + 0.0;
        std::memcpy(&bits[i], &c, 8);
    }
    const uint64_t x = bits[0] * 0x9E3779B97F4A7C15ull, y = bits[1] * 0xC2B2AE3D27D4EB4Full,
                   z = bits[2] * 0x165667B19E3779F9ull;
    uint64_t h = x ^ (y >> 17 | y << 47) ^ (z >> 37 | z << 27);
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return uint32_t(h);
}

inline bool MDL_iSamePosition(const double* a, const double* b)
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// What the matching reads of a triangle, kept together: the position
// numbers of its corners and its links so far.
struct MDL_AdjacencyTriangle {
    uint32_t id[3];
    uint32_t link[3];
};

// The rule itself, for the triangles flagged crowded (those with an edge
// whose pair three or more edges share); every other link is already in
// place. The candidates of a corner are the triangles with a corner at the
// same position, in triangle and corner order.
//
// Each triangle links to later triangles only: an earlier triangle u has
// already met t (they share the position at u's corner on the common edge),
// and at that meeting every pair of matching edges of u and t was linked or
// found one side taken; links are never undone, so no such pair can link
// later. Each position's candidates are therefore consumed from the front as
// the triangles pass. Edges of other pairs than the crowded ones find no
// open match: they are linked already, or no other edge has their pair.
void MDL_iMatchCrowded(MDL_AdjacencyTriangle* tri, uint32_t triangles, uint32_t distinct, const uint8_t* crowded)
{
    const size_t corners = size_t(triangles) * 3;
    // Triangles of each position, in the order their corners were met:
    // list[next[p] .. end[p]) are those not yet passed.
    const auto list = std::make_unique_for_overwrite<uint32_t[]>(corners);
    std::vector<uint32_t> next(size_t(distinct) + 1, 0), end;
    for (uint32_t t = 0; t < triangles; t++)
        for (int c = 0; c < 3; c++) next[tri[t].id[c] + 1]++;
    for (uint32_t p = 0; p < distinct; p++) next[p + 1] += next[p];
    end.assign(next.begin(), next.end() - 1);
    for (uint32_t t = 0; t < triangles; t++)
        for (int c = 0; c < 3; c++) list[end[tri[t].id[c]]++] = t;

    for (uint32_t t = 0; t < triangles; t++) {
        if (!crowded[t]) continue;
        MDL_AdjacencyTriangle& ft = tri[t];
        // Only t changes its own links while its candidates are met (they
        // all come after it), so they are kept at hand and stored at the end.
        const uint32_t a0 = ft.id[0], a1 = ft.id[1], a2 = ft.id[2];
        uint32_t link[3] = {ft.link[0], ft.link[1], ft.link[2]};
        for (int c = 0; c < 3; c++) {
            // Nothing left to link: the remaining candidates cannot change t.
            if (link[0] != MDL_NO_FACE && link[1] != MDL_NO_FACE && link[2] != MDL_NO_FACE) break;
            const uint32_t p = ft.id[c], last = end[p];
            uint32_t n = next[p];
            while (n < last && list[n] <= t) n++;
            next[p] = n;
            for (; n < last; n++) {
                const uint32_t u = list[n];
                MDL_AdjacencyTriangle& fu = tri[u];
                const uint32_t b0 = fu.id[0], b1 = fu.id[1], b2 = fu.id[2];
                // An open edge x-y of t takes the first open edge of u that
                // joins the same two positions either way round. A link that
                // is already taken is never overwritten: with three triangles
                // on one edge, the first pair stays linked both ways and the
                // third stays open.
                auto join = [&](int edge, uint32_t x, uint32_t y) {
                    if (link[edge] != MDL_NO_FACE) return;
                    const bool m0 = (x == b0 && y == b1) || (x == b1 && y == b0);
                    const bool m1 = (x == b1 && y == b2) || (x == b2 && y == b1);
                    const bool m2 = (x == b2 && y == b0) || (x == b0 && y == b2);
                    if (!(m0 | m1 | m2)) return;
                    const int k = m0 && fu.link[0] == MDL_NO_FACE   ? 0
                                  : m1 && fu.link[1] == MDL_NO_FACE ? 1
                                  : m2 && fu.link[2] == MDL_NO_FACE ? 2
                                                                    : -1;
                    if (k < 0) return;
                    link[edge] = u;
                    fu.link[k] = t;
                };
                join(0, a0, a1);
                join(1, a1, a2);
                join(2, a2, a0);
            }
        }
        for (int k = 0; k < 3; k++) ft.link[k] = link[k];
    }
}

}  // namespace

// Corners are matched by position, not by index, so seams with duplicated
// vertices are joined. Each distinct position gets a number first (positions
// compare with ==, so a NaN corner matches nothing); edges then compare as
// pairs of numbers, either way round.
//
// The rule: triangles are taken in order, and each open edge of a triangle t
// takes the first open edge with the same pair of the first later triangle
// that has one, later triangles being met position by position, as they
// come at t's corners in turn. A link is never undone.
//
// Edges of different pairs never meet, so each pair is settled on its own.
// Almost every pair belongs to one edge (open) or two: two edges of
// different triangles link, two of one degenerate triangle stay open, which
// is what the rule gives them. These are found by grouping the edges by
// pair, without looking at neighbouring triangles. Only where three or more
// edges share a pair does the order of the rule decide; the triangles with
// such an edge are then matched by the rule itself, below.
namespace {

// The edges whose smaller position number is that of the bucket, as they
// are met: the larger number of each and the edge (t << 2 | k, across
// corners k and k + 1). Eight fill a cache line and hold every edge of a
// position in meshes as content has them; the rest go to a common overflow
// list. Which edges a pair has decides its links, not their order.
struct MDL_EdgeBucket {
    uint32_t hi[8];
    uint32_t edge[8];
};

struct MDL_OverflowEdge {
    uint32_t lo, hi, edge;
};

// Above every position number: the unused lanes of a bucket.
constexpr uint32_t MDL_NO_PAIR = 0xFFFFFFFFu;

// Bit j set where lane j of the eight holds x.
inline uint32_t MDL_iLanesEqual(const uint32_t* lanes, uint32_t x)
{
#if defined(__SSE2__)
    const __m128i v = _mm_set1_epi32(int32_t(x));
    const __m128i a = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)), v);
    const __m128i b = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + 4)), v);
    return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(a))) | uint32_t(_mm_movemask_ps(_mm_castsi128_ps(b))) << 4;
#else
    uint32_t m = 0;
    for (int j = 0; j < 8; j++) m |= uint32_t(lanes[j] == x) << j;
    return m;
#endif
}

// (P1 - P0) x (P2 - P0).
inline void MDL_iFaceNormalOf(v3& normal, const double* p0, const double* p1, const double* p2)
{
    v3::cross(normal, v3{p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]}, v3{p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]});
}

// The same for a triangle's corners; zero for a triangle naming a vertex that
// is not there.
inline void MDL_iFaceNormal(v3& normal, const double* positions, const uint32_t* ix, uint32_t vertices)
{
    if (ix[0] >= vertices || ix[1] >= vertices || ix[2] >= vertices) {
        normal = {0, 0, 0};
        return;
    }
    MDL_iFaceNormalOf(normal, positions + 3 * size_t(ix[0]), positions + 3 * size_t(ix[1]),
                      positions + 3 * size_t(ix[2]));
}

}  // namespace

void MDL_MeshData::buildAdjacency()
{
    linkFaces(false);
}

void MDL_MeshData::buildFaces()
{
    if (!faces) return;
    if (!indices || !positions) {
        for (uint32_t t = 0; t < triangleCount; t++) faces[t] = MDL_Face();
        return;
    }
    linkFaces(true);
    faceNormalsCurrent = 1;
}

// Links every face, and with `whole` writes the rest of it too (unturned,
// its normal), so that the faces need no earlier initialisation.
void MDL_MeshData::linkFaces(bool whole)
{
    if (!faces || !indices || !positions) return;
    if (triangleCount == 0) return;
    const uint32_t triangles = triangleCount;
    const size_t corners = size_t(triangles) * 3;
    const uint32_t vertices = vertexCount > 0 ? uint32_t(vertexCount) : 0;

    // Numbers for the positions, through an open-addressed table whose
    // slots keep the hash beside the vertex, so that positions are compared
    // only when the hashes agree. A vertex with a NaN coordinate, or an
    // index past the vertices, gives its corners no number: no edge through
    // such a corner can match. Every vertex is numbered in order up front
    // when the mesh has no more vertices than corners (the hashes worked out
    // a few vertices ahead, so that their slots are being fetched while
    // earlier ones are placed); otherwise only the vertices that corners
    // name, as they are met.
    constexpr uint32_t UNNUMBERED = 0xFFFFFFFFu, NOWHERE = 0xFFFFFFFEu;
    const uint32_t most = uint32_t(std::min<size_t>(vertices, corners));
    std::vector<uint32_t> vertexId(vertices, UNNUMBERED);
    size_t size = 16;
    while (size < 2 * size_t(most)) size *= 2;
    const size_t mask = size - 1;
    constexpr uint64_t EMPTY = ~uint64_t(0);
    std::vector<uint64_t> slots(size, EMPTY);
    uint32_t distinct = 0;
    const auto place = [&](uint32_t v, uint32_t h) -> uint32_t {
        const double* pv = positions + 3 * size_t(v);
        if (std::isnan(pv[0]) || std::isnan(pv[1]) || std::isnan(pv[2])) return vertexId[v] = NOWHERE;
        for (size_t s = h & mask;; s = (s + 1) & mask) {
            const uint64_t w = slots[s];
            if (w == EMPTY) {
                slots[s] = uint64_t(h) << 32 | v;
                return vertexId[v] = distinct++;
            }
            if (uint32_t(w >> 32) == h && MDL_iSamePosition(positions + 3 * size_t(uint32_t(w)), pv))
                return vertexId[v] = vertexId[uint32_t(w)];
        }
    };
    if (vertices <= corners) {
        constexpr uint32_t AHEAD = 16;
        uint32_t ahead[AHEAD];
        for (uint32_t v = 0; v < vertices && v < AHEAD; v++) ahead[v] = MDL_iPositionHash(positions + 3 * size_t(v));
        for (uint32_t v = 0; v < vertices; v++) {
            const uint32_t h = ahead[v % AHEAD];
            if (v + AHEAD < vertices) {
                const uint32_t later = MDL_iPositionHash(positions + 3 * (size_t(v) + AHEAD));
                ahead[v % AHEAD] = later;
                __builtin_prefetch(&slots[later & mask]);
            }
            place(v, h);
        }
    }

    // Every face starts open; each edge between two numbered corners goes to
    // the bucket of its smaller number.
    const auto open = [&](uint32_t t) {
        MDL_Face& f = faces[t];
        f.neighbours[0] = f.neighbours[1] = f.neighbours[2] = MDL_NO_FACE;
        if (whole) {
            f.facing = 0;
            MDL_iFaceNormal(f.normal, positions, indices + 3 * size_t(t), vertices);
        }
    };
    std::vector<uint8_t> crowded;  // per triangle, only once a pair of three or more edges is met
    if (triangles < (1u << 30)) {
        const auto buckets = std::make_unique_for_overwrite<MDL_EdgeBucket[]>(most);
        std::vector<uint8_t> fill(most, 0);  // edges in the bucket, 9 once it overflowed
        std::vector<MDL_OverflowEdge> overflow;
        const auto spill = [&](uint32_t lo, uint32_t hi, uint32_t e) __attribute__((noinline)) {
            fill[lo] = 9;
            overflow.push_back({lo, hi, e});
        };
        const auto add = [&](uint32_t lo, uint32_t hi, uint32_t e) __attribute__((always_inline)) {
            const uint32_t n = fill[lo];
            if (n == 0) std::fill_n(buckets[lo].hi, 8, MDL_NO_PAIR);
            if (n < 8) {
                buckets[lo].hi[n] = hi;
                buckets[lo].edge[n] = e;
                fill[lo] = uint8_t(n + 1);
            } else {
                spill(lo, hi, e);
            }
        };
        // The pass is written twice: with every vertex numbered up front a
        // corner's number is only read; numbering as met, its vertex may
        // still need one. A triangle whose corners are all there gets its
        // normal from them directly. Edges go into their buckets inline; only
        // an overflowing bucket's edges take a call.
        const auto pass = [&](auto asMet) {
            for (uint32_t t = 0; t < triangles; t++) {
                const uint32_t* ix = indices + 3 * size_t(t);
                const uint32_t v0 = ix[0], v1 = ix[1], v2 = ix[2];
                MDL_Face& f = faces[t];
                f.neighbours[0] = f.neighbours[1] = f.neighbours[2] = MDL_NO_FACE;
                uint32_t id[3];
                const auto number = [&](uint32_t v) {
                    const uint32_t n = vertexId[v];
                    if constexpr (asMet.value)
                        return n != UNNUMBERED ? n : place(v, MDL_iPositionHash(positions + 3 * size_t(v)));
                    return n;
                };
                if (v0 < vertices && v1 < vertices && v2 < vertices) {
                    if (whole) {
                        f.facing = 0;
                        MDL_iFaceNormalOf(f.normal, positions + 3 * size_t(v0), positions + 3 * size_t(v1),
                                          positions + 3 * size_t(v2));
                    }
                    id[0] = number(v0);
                    id[1] = number(v1);
                    id[2] = number(v2);
                } else {
                    if (whole) {
                        f.facing = 0;
                        f.normal = {0, 0, 0};
                    }
                    id[0] = v0 < vertices ? number(v0) : NOWHERE;
                    id[1] = v1 < vertices ? number(v1) : NOWHERE;
                    id[2] = v2 < vertices ? number(v2) : NOWHERE;
                }
                if (id[0] < NOWHERE && id[1] < NOWHERE && id[2] < NOWHERE) {
                    // The two edges at the corner with the smallest number share
                    // its bucket and go in together; the third goes to the bucket
                    // of the smaller of the other two.
                    const int c = id[1] < id[0] ? (id[2] < id[1] ? 2 : 1) : (id[2] < id[0] ? 2 : 0);
                    const int after = c == 2 ? 0 : c + 1, before = c == 0 ? 2 : c - 1;
                    const uint32_t m = id[c], x = id[after], y = id[before];
                    const uint32_t n = fill[m];
                    if (n == 0) std::fill_n(buckets[m].hi, 8, MDL_NO_PAIR);
                    if (n + 2 <= 8) {
                        buckets[m].hi[n] = x;
                        buckets[m].edge[n] = t << 2 | uint32_t(c);
                        buckets[m].hi[n + 1] = y;
                        buckets[m].edge[n + 1] = t << 2 | uint32_t(before);
                        fill[m] = uint8_t(n + 2);
                    } else {
                        add(m, x, t << 2 | uint32_t(c));
                        add(m, y, t << 2 | uint32_t(before));
                    }
                    add(x < y ? x : y, x < y ? y : x, t << 2 | uint32_t(after));
                } else {
                    for (int k = 0; k < 3; k++) {
                        const uint32_t a = id[k], b = id[k == 2 ? 0 : k + 1];
                        if (a == NOWHERE || b == NOWHERE) continue;
                        add(a < b ? a : b, a < b ? b : a, t << 2 | uint32_t(k));
                    }
                }
            }
        };
        if (vertices <= corners) pass(std::false_type());
        else pass(std::true_type());

        const auto link = [&](uint32_t e, uint32_t g) {
            const uint32_t te = e >> 2, tg = g >> 2;
            if (te == tg) return;
            faces[te].neighbours[e & 3] = tg;
            faces[tg].neighbours[g & 3] = te;
        };
        const auto crowd = [&](uint32_t e) {
            if (crowded.empty()) crowded.assign(triangles, 0);
            crowded[e >> 2] = 1;
        };
        // Overflowing buckets are few: their edges are sorted by pair, then
        // edge, together with the overflow list's.
        std::sort(overflow.begin(), overflow.end(), [](const MDL_OverflowEdge& x, const MDL_OverflowEdge& y) {
            return x.lo != y.lo ? x.lo < y.lo : x.edge < y.edge;
        });
        size_t next = 0;
        std::vector<uint64_t> many;
        for (uint32_t lo = 0; lo < distinct; lo++) {
            const uint32_t n = fill[lo];
            if (n < 2) continue;
            const MDL_EdgeBucket& b = buckets[lo];
            if (n <= 8) {
                // For each edge not yet grouped, the later edges of its pair
                // as bits (unused lanes hold a number that is no position's).
                uint32_t grouped = 0;
                for (uint32_t i = 0; i + 1 < n; i++) {
                    if (grouped >> i & 1) continue;
                    const uint32_t hi = b.hi[i];
                    uint32_t same = MDL_iLanesEqual(b.hi, hi) & ~((2u << i) - 1);
                    if (!same) continue;
                    grouped |= same;
                    if (!(same & (same - 1))) {
                        link(b.edge[i], b.edge[__builtin_ctz(same)]);
                    } else {
                        crowd(b.edge[i]);
                        for (; same; same &= same - 1) crowd(b.edge[__builtin_ctz(same)]);
                    }
                }
                continue;
            }
            many.clear();
            for (int i = 0; i < 8; i++) many.push_back(uint64_t(b.hi[i]) << 32 | b.edge[i]);
            for (; next < overflow.size() && overflow[next].lo == lo; next++)
                many.push_back(uint64_t(overflow[next].hi) << 32 | overflow[next].edge);
            std::sort(many.begin(), many.end());
            for (size_t i = 0, j; i < many.size(); i = j) {
                for (j = i + 1; j < many.size() && many[j] >> 32 == many[i] >> 32; j++) {}
                if (j - i == 2) {
                    link(uint32_t(many[i]), uint32_t(many[i + 1]));
                } else if (j - i > 2) {
                    for (size_t k = i; k < j; k++) crowd(uint32_t(many[k]));
                }
            }
        }
    } else {
        // Edge codes would not fit: every triangle goes by the rule itself.
        for (uint32_t t = 0; t < triangles; t++) {
            for (int c = 0; c < 3; c++) {
                const uint32_t v = indices[3 * size_t(t) + c];
                if (v < vertices && vertexId[v] == UNNUMBERED) place(v, MDL_iPositionHash(positions + 3 * size_t(v)));
            }
            open(t);
        }
        crowded.assign(triangles, 1);
    }
    if (crowded.empty()) return;

    // The crowded triangles by the rule: corners without a number get one
    // of their own each, so that they match nothing.
    const auto tri = std::make_unique_for_overwrite<MDL_AdjacencyTriangle[]>(triangles);
    uint32_t numbers = distinct;
    for (uint32_t t = 0; t < triangles; t++)
        for (int c = 0; c < 3; c++) {
            const uint32_t v = indices[3 * size_t(t) + c];
            const uint32_t n = v < vertices ? vertexId[v] : NOWHERE;
            tri[t].id[c] = n != NOWHERE ? n : numbers++;
            tri[t].link[c] = faces[t].neighbours[c];
        }
    MDL_iMatchCrowded(tri.get(), triangles, numbers, crowded.data());
    for (uint32_t t = 0; t < triangles; t++)
        for (int k = 0; k < 3; k++) faces[t].neighbours[k] = tri[t].link[k];
}

void MDL_MeshData::computeFaceNormals()
{
    if (!faces || !indices || !positions) return;
    const uint32_t vertices = vertexCount > 0 ? uint32_t(vertexCount) : 0;
    for (uint32_t t = 0; t < triangleCount; t++) MDL_iFaceNormal(faces[t].normal, positions, indices + 3 * size_t(t), vertices);
    faceNormalsCurrent = 1;
}

// ---------------------------------------------------------------- materials

MDL_TextureLayer MDL_TextureLayer::makeDefault(VIEW_Texture* texture)
{
    MDL_TextureLayer layer;
    layer.texture = texture;
    layer.color[0] = layer.color[1] = layer.color[2] = layer.color[3] = 1.0;
    layer.uvTransform.position = {0, 0, 0};
    layer.uvTransform.basis = m33::identity();
    std::memset(&layer.uvTransform.inverse, 0, sizeof layer.uvTransform.inverse);
    layer.uvTransform.inverseDirty = 1;
    return layer;
}

MDL_Material::MDL_Material(const MDL_Material& s)
    : name(MDL_iCopyName(s.name)), shininess(s.shininess), shadeless(s.shadeless),
      castShadows(s.castShadows), mirror(s.mirror)
{
    for (int32_t i = 0; i < s.layers.count; i++) appendLayer(s.layers[i]);
    std::memcpy(ambient, s.ambient, sizeof ambient);
    std::memcpy(diffuse, s.diffuse, sizeof diffuse);
    std::memcpy(specular, s.specular, sizeof specular);
}

MDL_Material::~MDL_Material()
{
    for (int32_t i = 0; i < layers.count; i++) VIEW_Texture::release(layers[i].texture);
    layers.resize(0);
    std::free(name);
    name = nullptr;
    LMP_iReleaseProxy(&proxy);
}

void MDL_Material::destroy(MDL_Material* material)
{
    if (material && --material->refs == 0) delete material;
}

void MDL_Material::retain(MDL_Material* material)
{
    if (material) material->refs++;
}

bool MDL_Material::appendLayer(const MDL_TextureLayer& layer)
{
    if (!layers.append(layer)) return false;
    VIEW_Texture::retain(layer.texture);
    return true;
}

void MDL_Material::setLayerTexture(int32_t index, VIEW_Texture* texture)
{
    if (index < 0 || index >= layers.count) return;
    VIEW_Texture::retain(texture);
    VIEW_Texture::release(layers[index].texture);
    layers[index].texture = texture;
}

void MDL_Material::deleteLayer(int32_t index)
{
    if (index < 0 || index >= layers.count) return;
    VIEW_Texture::release(layers[index].texture);
    layers.removeAt(index);
}

bool MDL_Material::isTransparent(const MDL_Material* m)
{
    if (!m || m->mirror) return false;
    if (m->diffuse[3] > 0.0 && m->diffuse[3] < 1.0) return true;
    if (m->layers.count == 0) return false;
    const MDL_TextureLayer& first = m->layers[0];
    if (first.color[3] > 0.0 && first.color[3] < 1.0) return true;
    return first.texture && first.texture->transparent && !first.texture->rawPixels;
}

// ---------------------------------------------------------------- meshes

MDL_Mesh::MDL_Mesh()
{
    type = OBJECT_MESH;
}

MDL_Mesh::MDL_Mesh(const MDL_Mesh& s)
    : MDL_Object(s), meshData(s.meshData), ownMaterial(0), displayMode(s.displayMode)
{
    setMaterial(s.material);
    setSourceSet(s.sourceSet, true);
}

MDL_Mesh::~MDL_Mesh()
{
    if (ownMaterial && material && material != heldMaterial) MDL_Material::destroy(material);
    MDL_Material::destroy(heldMaterial);
    material = heldMaterial = nullptr;
    shadowSideQuads.resize(0);
    shadowCapIndices.resize(0);
    shadowFarPoints.resize(0);
    MDL_ModelsSet* set = sourceSet;
    bool retained = retainsSourceSet;
    sourceSet = nullptr;
    retainsSourceSet = 0;
    if (retained) MDL_ModelsSet::releaseUse(set);
}

void MDL_Mesh::setMaterial(MDL_Material* m)
{
    MDL_Material::retain(m);
    if (ownMaterial && material && material != heldMaterial) MDL_Material::destroy(material);
    MDL_Material::destroy(heldMaterial);
    material = heldMaterial = m;
    ownMaterial = 0;
}

void MDL_Mesh::setSourceSet(MDL_ModelsSet* set, bool retain)
{
    if (retainsSourceSet) MDL_ModelsSet::releaseUse(sourceSet);
    sourceSet = set;
    retainsSourceSet = set && retain;
    if (retainsSourceSet) MDL_ModelsSet::retainUse(set);
}

const double* MDL_Mesh::getVertex(int32_t i)
{
    if (!meshData || !meshData->positions || i < 0 || i >= meshData->vertexCount) return nullptr;
    return meshData->positions + 3 * size_t(i);
}

const double* MDL_Mesh::getNormal(int32_t i)
{
    if (!meshData || !meshData->normals || i < 0 || i >= meshData->normalCount) return nullptr;
    return meshData->normals + 3 * size_t(i);
}

MDL_Face* MDL_Mesh::getFaces()
{
    return meshData ? meshData->faces : nullptr;
}

const double* MDL_Mesh::getBoundingBoxMin()
{
    return meshData ? meshData->boxMin : nullptr;
}

const double* MDL_Mesh::getBoundingBoxMax()
{
    return meshData ? meshData->boxMax : nullptr;
}

void MDL_Mesh::setOwnMaterial()
{
    if (ownMaterial) return;
    MDL_Material* m = material ? new MDL_Material(*material) : new MDL_Material();
    MDL_Material::destroy(heldMaterial);  // the shared one stays with its other users
    material = heldMaterial = m;
    ownMaterial = 1;
}

namespace {

// The triangle test: corners a, b, c; only hits nearer than *best, and at
// t > 0 when positiveOnly. On a hit *best becomes its distance.
bool MDL_iRayTriangle(const v3& o, const v3& d, const v3& A, const v3& B, const v3& C, bool doubleSided,
                      bool positiveOnly, double* best)
{
    v3 e1 = C - B, e2 = A - B, n;
    v3::cross(n, e1, e2);
    double den = v3::dot(n, d);
    if (den == 0.0) return false;
    if (den > 0.0 && !doubleSided) return false;
    double t = (v3::dot(n, B) - v3::dot(n, o)) / den;
    if (!(t < *best)) return false;
    if (positiveOnly && t <= 0.0) return false;
    v3 q = o + d * t - B;
    double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    double qu, qv, e1u, e1v, e2u, e2v, w;
    if (ax > ay && ax > az) {
        qu = q.y; qv = q.z; e1u = e1.y; e1v = e1.z; e2u = e2.y; e2v = e2.z; w = n.x;
    } else if (ay > az) {
        qu = q.z; qv = q.x; e1u = e1.z; e1v = e1.x; e2u = e2.z; e2v = e2.x; w = n.y;
    } else {
        qu = q.x; qv = q.y; e1u = e1.x; e1v = e1.y; e2u = e2.x; e2v = e2.y; w = n.z;
    }
    double a = qu * e2v - qv * e2u;  // weight of edge C - B
    double b = e1u * qv - e1v * qu;  // weight of edge A - B
    bool inside = w > 0 ? (a >= 0 && b >= 0 && a + b <= w) : (a <= 0 && b <= 0 && a + b >= w);
    if (!inside) return false;
    *best = t;
    return true;
}

}  // namespace

bool MDL_Mesh::intersectRay(const v3& p0, const v3& p1, double* distance, uint32_t* triangle)
{
    if (!meshData) return false;
    const double* lo = getBoundingBoxMin();
    const double* hi = getBoundingBoxMax();
    if (!lo || !hi) return false;
    const bool twoSided = meshData->doubleSided != 0;
    const v3 d = p1 - p0;

    // Box faces wound outwards, two triangles each.
    static const int quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                    {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    v3 corner[8];
    for (int i = 0; i < 8; i++)
        corner[i] = {(i & 1) ? hi[0] : lo[0], (i & 2) ? hi[1] : lo[1], (i & 4) ? hi[2] : lo[2]};
    bool boxHit = false;
    for (int f = 0; f < 6 && !boxHit; f++) {
        const int* q = quads[f];
        double best = HUGE_VAL;
        boxHit = MDL_iRayTriangle(p0, d, corner[q[0]], corner[q[1]], corner[q[2]], twoSided, false, &best);
        best = HUGE_VAL;
        if (!boxHit)
            boxHit = MDL_iRayTriangle(p0, d, corner[q[0]], corner[q[2]], corner[q[3]], twoSided, false, &best);
    }
    if (!boxHit) return false;

    bool hit = false;
    const uint32_t* idx = meshData->indices;
    if (!idx) return false;
    for (uint32_t t = 0; t < meshData->triangleCount; t++) {
        const double* a = getVertex(int32_t(idx[3 * size_t(t)]));
        const double* b = getVertex(int32_t(idx[3 * size_t(t) + 1]));
        const double* c = getVertex(int32_t(idx[3 * size_t(t) + 2]));
        if (!a || !b || !c) continue;
        if (MDL_iRayTriangle(p0, d, {a[0], a[1], a[2]}, {b[0], b[1], b[2]}, {c[0], c[1], c[2]}, twoSided, true,
                             distance)) {
            hit = true;
            if (triangle) *triangle = t;
        }
    }
    return hit;
}

void MDL_Mesh::updateShadowGeometry(MDL_Lamp* lamp)
{
    if (!lamp || !material || !material->castShadows) return;
    if (!moved && !lamp->moved && shadowLamp == lamp) return;
    shadowLamp = lamp;
    shadowSideQuads.reuse();
    shadowCapIndices.reuse();
    shadowFarPoints.reuse();
    moved = 0;

    MDL_Face* fs = getFaces();
    if (!meshData || !fs || !meshData->indices) return;
    const MDL_Frame& mesh = getGlobalFrame();
    const MDL_Frame& lampFrame = lamp->getGlobalFrame();
    MDL_Frame::validateInverse(mesh);
    v3 lampPos;
    MDL_Frame::globalToLocalPoint(mesh, lampFrame.position, lampPos);
    v3 lampZ = m33::apply(mesh.inverse, lampFrame.basis.c[2]);

    // A mesh scaled to nothing has no volume to extrude.
    const double scale = v3::length(mesh.basis.c[0]);
    if (!(scale > 0.0) || !std::isfinite(scale)) return;

    const uint32_t n = meshData->triangleCount;
    const double* positions = getVertex(0);
    if (!positions || n == 0) return;
    // Neighbours are read, and facing flags written, in the face records.
    VIEW_ShadowGeometry geometry;
    geometry.positions = positions;
    geometry.vertexCount = meshData->vertexCount;
    geometry.indices = meshData->indices;
    geometry.neighbours = fs[0].neighbours;
    geometry.neighbourStride = sizeof(MDL_Face);
    geometry.triangleCount = n;
    if (fs == meshData->faces && positions == meshData->positions && meshData->faceNormalsCurrent) {
        geometry.faceNormals = &fs[0].normal.x;
        geometry.faceNormalStride = sizeof(MDL_Face);
    }
    VIEW_ShadowLight light;
    light.directional = lamp->lampType == LAMP_SUN;
    light.position = lampPos;
    light.direction = -lampZ;
    light.extrusion = lamp->shadowDepth / scale;
    VIEW_iBuildShadowVolume(geometry, light, lamp->shadowType == SHADOW_ZFAIL,
                            {&shadowSideQuads, &shadowCapIndices, &shadowFarPoints}, &fs[0].facing, sizeof(MDL_Face));
}

// ---------------------------------------------------------------- animated meshes

MDL_AnimatedMesh::MDL_AnimatedMesh()
{
    type = OBJECT_ANIMATED_MESH;
}

MDL_AnimatedMesh::MDL_AnimatedMesh(const MDL_AnimatedMesh& s)
    : MDL_Mesh(s), boxMin(s.boxMin), boxMax(s.boxMax), locked(s.locked)
{
    // The bindings name the source's groups and bones; a world's clone then
    // replaces the bones by their copies. A bone marked deleted is freed at
    // the end of the frame: the copy is not bound to it.
    if (s.vertexGroups && s.boneList && setBindings(s.boneCount)) {
        for (int32_t i = 0; i < boneCount; i++) {
            vertexGroups[i] = s.vertexGroups[i];
            boneList[i] = s.boneList[i] && !s.boneList[i]->deleted ? s.boneList[i] : nullptr;
        }
    }
    // The copy starts from the rest shape. Its box keeps the source's and
    // also covers that shape, so the copy can be picked before it is
    // skinned.
    resetSkin();
    if (s.skinnedPositions && skinnedPositions) {
        for (int k = 0; k < 3; k++) {
            (&boxMin.x)[k] = std::min((&boxMin.x)[k], (&s.boxMin.x)[k]);
            (&boxMax.x)[k] = std::max((&boxMax.x)[k], (&s.boxMax.x)[k]);
        }
    } else if (!skinnedPositions) {
        boxMin = s.boxMin;
        boxMax = s.boxMax;
    }
}

MDL_AnimatedMesh::~MDL_AnimatedMesh()
{
    std::free(vertexGroups);
    std::free(boneList);
    std::free(skinnedPositions);
    std::free(skinnedNormals);
    std::free(faces);
}

bool MDL_AnimatedMesh::load(const TiXmlElement* element)
{
    return MDL_Object::load(element);
}

bool MDL_AnimatedMesh::setBindings(int32_t k)
{
    std::free(vertexGroups);
    std::free(boneList);
    vertexGroups = nullptr;
    boneList = nullptr;
    boneCount = 0;
    if (k <= 0) return true;
    vertexGroups = static_cast<MDL_VertexGroup**>(std::calloc(size_t(k), sizeof(MDL_VertexGroup*)));
    boneList = static_cast<MDL_Bone**>(std::calloc(size_t(k), sizeof(MDL_Bone*)));
    if (!vertexGroups || !boneList) {
        std::free(vertexGroups);
        std::free(boneList);
        vertexGroups = nullptr;
        boneList = nullptr;
        return false;
    }
    boneCount = k;
    return true;
}

void MDL_AnimatedMesh::resetSkin()
{
    std::free(skinnedPositions);
    std::free(skinnedNormals);
    std::free(faces);
    skinnedPositions = skinnedNormals = nullptr;
    faces = nullptr;
    if (!meshData) return;
    if (meshData->vertexCount > 0 && meshData->positions) {
        skinnedPositions = static_cast<v3*>(std::malloc(sizeof(v3) * size_t(meshData->vertexCount)));
        if (skinnedPositions)
            std::memcpy(static_cast<void*>(skinnedPositions), meshData->positions,
                        sizeof(v3) * size_t(meshData->vertexCount));
    }
    if (meshData->normalCount > 0 && meshData->normals) {
        skinnedNormals = static_cast<v3*>(std::malloc(sizeof(v3) * size_t(meshData->normalCount)));
        if (skinnedNormals)
            std::memcpy(static_cast<void*>(skinnedNormals), meshData->normals,
                        sizeof(v3) * size_t(meshData->normalCount));
    }
    if (meshData->triangleCount > 0 && meshData->faces) {
        faces = static_cast<MDL_Face*>(std::malloc(sizeof(MDL_Face) * meshData->triangleCount));
        if (faces)
            std::memcpy(static_cast<void*>(faces), meshData->faces, sizeof(MDL_Face) * meshData->triangleCount);
    }
    boxMin = {meshData->boxMin[0], meshData->boxMin[1], meshData->boxMin[2]};
    boxMax = {meshData->boxMax[0], meshData->boxMax[1], meshData->boxMax[2]};
    if (skinnedPositions) fitBox();
}

// Box of n positions, component by component; a NaN component never wins.
static void MDL_iFitBoxPlain(const v3* p, int32_t n, v3& lo, v3& hi)
{
    for (int32_t i = 0; i < n; i++) {
        lo.x = p[i].x < lo.x ? p[i].x : lo.x;
        lo.y = p[i].y < lo.y ? p[i].y : lo.y;
        lo.z = p[i].z < lo.z ? p[i].z : lo.z;
        hi.x = p[i].x > hi.x ? p[i].x : hi.x;
        hi.y = p[i].y > hi.y ? p[i].y : hi.y;
        hi.z = p[i].z > hi.z ? p[i].z : hi.z;
    }
}

#if defined(__x86_64__)
// Four positions (twelve doubles) at a time in three 4-wide registers, whose
// lanes hold x0 y0 z0 x1 | y1 z1 x2 y2 | z2 x3 y3 z3; the lanes of each
// component are folded at the end.
__attribute__((target("arch=x86-64-v3"))) static void MDL_iFitBoxWide(const v3* p, int32_t n, v3& lo, v3& hi)
{
    typedef double d4 __attribute__((vector_size(32)));
    const int32_t blocks = n / 4;
    d4 mn[3], mx[3];
    for (int k = 0; k < 3; k++) {
        mn[k] = d4{DBL_MAX, DBL_MAX, DBL_MAX, DBL_MAX};
        mx[k] = -mn[k];
    }
    const double* d = &p[0].x;
    for (int32_t b = 0; b < blocks; b++, d += 12)
        for (int k = 0; k < 3; k++) {
            d4 v;
            std::memcpy(&v, d + 4 * k, sizeof v);
            mn[k] = v < mn[k] ? v : mn[k];
            mx[k] = v > mx[k] ? v : mx[k];
        }
    // Lane (register, index) of each component in the pattern above.
    static const int lanes[3][4][2] = {{{0, 0}, {0, 3}, {1, 2}, {2, 1}},
                                       {{0, 1}, {1, 0}, {1, 3}, {2, 2}},
                                       {{0, 2}, {1, 1}, {2, 0}, {2, 3}}};
    for (int c = 0; c < 3; c++)
        for (const auto& l : lanes[c]) {
            const double a = mn[l[0]][l[1]], z = mx[l[0]][l[1]];
            (&lo.x)[c] = a < (&lo.x)[c] ? a : (&lo.x)[c];
            (&hi.x)[c] = z > (&hi.x)[c] ? z : (&hi.x)[c];
        }
    MDL_iFitBoxPlain(p + 4 * blocks, n - 4 * blocks, lo, hi);
}
#endif

void MDL_AnimatedMesh::fitBox()
{
    const int32_t n = meshData ? meshData->vertexCount : 0;
    v3 lo{DBL_MAX, DBL_MAX, DBL_MAX}, hi{-DBL_MAX, -DBL_MAX, -DBL_MAX};
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        MDL_iFitBoxWide(skinnedPositions, n, lo, hi);
    else
#endif
        MDL_iFitBoxPlain(skinnedPositions, n, lo, hi);
    boxMin = lo;
    boxMax = hi;
}

// One bone's share: every entry of its group adds its rest position and
// normal, carried by (R, o) and weighted, to its vertex. The hot loop of
// skinning, written once for plain arithmetic and once for fused
// multiply-adds; the second is used where the processor has them.
#define MDL_SKIN_GROUP_BODY(MADD)                                                                     \
    const double r00 = R.c[0].x, r10 = R.c[0].y, r20 = R.c[0].z;                                      \
    const double r01 = R.c[1].x, r11 = R.c[1].y, r21 = R.c[1].z;                                      \
    const double r02 = R.c[2].x, r12 = R.c[2].y, r22 = R.c[2].z;                                      \
    for (int32_t n = 0; n < count; n++) {                                                             \
        /* Indices that name no vertex of this mesh (the 16-bit "none" index */                       \
        /* included) are dropped. */                                                                  \
        const uint32_t v = uint32_t(vertices[n]);                                                     \
        if (v >= nv) continue;                                                                        \
        const double w = weights[n];                                                                  \
        const v3 p = rp[n];                                                                           \
        v3& out = positions[v];                                                                       \
        out.x = MADD(MADD(r02, p.z, MADD(r01, p.y, MADD(r00, p.x, o.x))), w, out.x);                   \
        out.y = MADD(MADD(r12, p.z, MADD(r11, p.y, MADD(r10, p.x, o.y))), w, out.y);                   \
        out.z = MADD(MADD(r22, p.z, MADD(r21, p.y, MADD(r20, p.x, o.z))), w, out.z);                   \
        if (v < nn) {                                                                                 \
            const v3 q = rn[n];                                                                       \
            v3& nout = normals[v];                                                                    \
            nout.x = MADD(MADD(r02, q.z, MADD(r01, q.y, r00 * q.x)), w, nout.x);                       \
            nout.y = MADD(MADD(r12, q.z, MADD(r11, q.y, r10 * q.x)), w, nout.y);                       \
            nout.z = MADD(MADD(r22, q.z, MADD(r21, q.y, r20 * q.x)), w, nout.z);                       \
        }                                                                                             \
    }

#define MDL_SKIN_GROUP_ARGS                                                                              \
    const m33 &R, const v3 &o, int32_t count, const int32_t *vertices, const double *weights, const v3 *rp, \
        const v3 *rn, v3 *positions, v3 *normals, uint32_t nv, uint32_t nn

static inline double MDL_iMulAdd(double a, double b, double c)
{
    return a * b + c;
}

static void MDL_iSkinGroupPlain(MDL_SKIN_GROUP_ARGS)
{
    MDL_SKIN_GROUP_BODY(MDL_iMulAdd)
}

#if defined(__x86_64__)
// The fused body with one entry a step in 4-wide registers: lanes x, y, z
// and a spare, the columns of R against the entry's broadcast components.
// Lane by lane these are the very multiply-adds of the body above, in the
// same order, so the sums come out bit for bit the same. A sum is read and
// written as its x and y pair and its z alone, so that nothing beyond a
// vertex is touched.
__attribute__((target("arch=x86-64-v3"))) static inline __m256d MDL_iLoadV3(const double* at)
{
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(at)), _mm_load_sd(at + 2), 1);
}

__attribute__((target("arch=x86-64-v3"))) static inline void MDL_iStoreV3(double* at, __m256d v)
{
    _mm_storeu_pd(at, _mm256_castpd256_pd128(v));
    _mm_store_sd(at + 2, _mm256_extractf128_pd(v, 1));
}

// Four entries whose vertices follow each other (v, v + 1, v + 2, v + 3),
// the usual case in a group built ring by ring: their rest data and their
// sums are twelve doubles each in a row, x0 y0 z0 x1 | y1 z1 x2 y2 |
// z2 x3 y3 z3. The rest data is turned into one register per component
// (lanes the four entries), carried by R and o there, turned back and added
// to the sums with whole-register loads and stores.
__attribute__((target("arch=x86-64-v3"))) static inline void MDL_iToComponents(__m256d a, __m256d b, __m256d c,
                                                                               __m256d& x, __m256d& y, __m256d& z)
{
    const __m256d xy = _mm256_blend_pd(a, b, 0b1100);        // x0 y0 x2 y2
    const __m256d yz = _mm256_blend_pd(b, c, 0b1100);        // y1 z1 y3 z3
    const __m256d zx = _mm256_permute2f128_pd(a, c, 0x21);   // z0 x1 z2 x3
    x = _mm256_shuffle_pd(xy, zx, 0b1010);
    y = _mm256_shuffle_pd(xy, yz, 0b0101);
    z = _mm256_shuffle_pd(zx, yz, 0b1010);
}

__attribute__((target("arch=x86-64-v3"))) static inline void MDL_iToEntries(__m256d x, __m256d y, __m256d z,
                                                                            __m256d& a, __m256d& b, __m256d& c)
{
    const __m256d xy = _mm256_shuffle_pd(x, y, 0b0000);      // x0 y0 x2 y2
    const __m256d yz = _mm256_shuffle_pd(y, z, 0b1111);      // y1 z1 y3 z3
    const __m256d zx = _mm256_shuffle_pd(z, x, 0b1010);      // z0 x1 z2 x3
    a = _mm256_permute2f128_pd(xy, zx, 0x20);
    b = _mm256_blend_pd(yz, xy, 0b1100);
    c = _mm256_permute2f128_pd(zx, yz, 0x31);
}

// The carried rest data of four entries (one register per component),
// weighted by the entry weights laid out as the doubles are
// (w0 w0 w0 w1 | ...), added to the twelve doubles at out.
__attribute__((target("arch=x86-64-v3"))) static inline void MDL_iAddRun(double* out, __m256d x, __m256d y,
                                                                         __m256d z, const __m256d w[3])
{
    __m256d e[3];
    MDL_iToEntries(x, y, z, e[0], e[1], e[2]);
    for (int k = 0; k < 3; k++)
        _mm256_storeu_pd(out + 4 * k, _mm256_fmadd_pd(e[k], w[k], _mm256_loadu_pd(out + 4 * k)));
}

// The rest data streams in from memory, four arrays side by side: each is
// asked for this many bytes of rest positions ahead (the other arrays as
// many entries ahead).
#ifndef MDL_SKIN_AHEAD
#define MDL_SKIN_AHEAD 2048
#endif
__attribute__((target("arch=x86-64-v3"))) static void MDL_iSkinGroupFused(MDL_SKIN_GROUP_ARGS)
{
    const __m256d c0 = _mm256_setr_pd(R.c[0].x, R.c[0].y, R.c[0].z, 0.0);
    const __m256d c1 = _mm256_setr_pd(R.c[1].x, R.c[1].y, R.c[1].z, 0.0);
    const __m256d c2 = _mm256_setr_pd(R.c[2].x, R.c[2].y, R.c[2].z, 0.0);
    const __m256d ov = _mm256_setr_pd(o.x, o.y, o.z, 0.0);
    const __m128i step = _mm_setr_epi32(0, 1, 2, 3);
    int32_t n = 0;
    while (n < count) {
        const char* ahead = reinterpret_cast<const char*>(rp + n) + MDL_SKIN_AHEAD;
        _mm_prefetch(ahead, _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(rn + n) + MDL_SKIN_AHEAD, _MM_HINT_T0);
        // Indices that name no vertex of this mesh (the 16-bit "none" index
        // included) are dropped.
        const uint32_t v = uint32_t(vertices[n]);
        if (n + 4 <= count && nn >= 4 && v <= nn - 4 &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(vertices + n)),
                                              _mm_add_epi32(_mm_set1_epi32(int32_t(v)), step))) == 0xFFFF) {
            _mm_prefetch(ahead + 64, _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(rn + n) + MDL_SKIN_AHEAD + 64, _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(weights + n) + MDL_SKIN_AHEAD / 3, _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(vertices + n) + MDL_SKIN_AHEAD / 6, _MM_HINT_T0);
            const __m256d w4 = _mm256_loadu_pd(weights + n);
            const __m256d w[3] = {_mm256_permute4x64_pd(w4, 0x40), _mm256_permute4x64_pd(w4, 0xA5),
                                  _mm256_permute4x64_pd(w4, 0xFE)};
            __m256d x, y, z;
            const double* p = &rp[n].x;
            MDL_iToComponents(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4), _mm256_loadu_pd(p + 8), x, y, z);
            MDL_iAddRun(&positions[v].x,
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].x), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].x), y,
                                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[0].x), x,
                                                                        _mm256_set1_pd(o.x)))),
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].y), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].y), y,
                                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[0].y), x,
                                                                        _mm256_set1_pd(o.y)))),
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].z), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].z), y,
                                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[0].z), x,
                                                                        _mm256_set1_pd(o.z)))),
                        w);
            const double* q = &rn[n].x;
            MDL_iToComponents(_mm256_loadu_pd(q), _mm256_loadu_pd(q + 4), _mm256_loadu_pd(q + 8), x, y, z);
            MDL_iAddRun(&normals[v].x,
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].x), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].x), y,
                                                        _mm256_mul_pd(_mm256_set1_pd(R.c[0].x), x))),
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].y), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].y), y,
                                                        _mm256_mul_pd(_mm256_set1_pd(R.c[0].y), x))),
                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[2].z), z,
                                        _mm256_fmadd_pd(_mm256_set1_pd(R.c[1].z), y,
                                                        _mm256_mul_pd(_mm256_set1_pd(R.c[0].z), x))),
                        w);
            n += 4;
            continue;
        }
        if (v < nv) {
            const __m256d w = _mm256_broadcast_sd(weights + n);
            const double* p = &rp[n].x;
            __m256d t = _mm256_fmadd_pd(c0, _mm256_broadcast_sd(p), ov);
            t = _mm256_fmadd_pd(c1, _mm256_broadcast_sd(p + 1), t);
            t = _mm256_fmadd_pd(c2, _mm256_broadcast_sd(p + 2), t);
            double* out = &positions[v].x;
            MDL_iStoreV3(out, _mm256_fmadd_pd(t, w, MDL_iLoadV3(out)));
            if (v < nn) {
                const double* q = &rn[n].x;
                __m256d u = _mm256_mul_pd(c0, _mm256_broadcast_sd(q));
                u = _mm256_fmadd_pd(c1, _mm256_broadcast_sd(q + 1), u);
                u = _mm256_fmadd_pd(c2, _mm256_broadcast_sd(q + 2), u);
                double* nout = &normals[v].x;
                MDL_iStoreV3(nout, _mm256_fmadd_pd(u, w, MDL_iLoadV3(nout)));
            }
        }
        n++;
    }
}

static bool MDL_gFusedMultiplyAdd = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif

bool MDL_iSetWideSkinning(bool allow)
{
#if defined(__x86_64__)
    MDL_gFusedMultiplyAdd = allow && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return MDL_gFusedMultiplyAdd;
#else
    (void)allow;
    return false;
#endif
}

// Face normals (P1 - P0) x (P2 - P0) of the skinned positions; triangles
// with an index outside the vertices keep theirs.
#define MDL_FACE_NORMALS_BODY(MADD)                                                                   \
    for (uint32_t t = 0; t < triangles; t++) {                                                        \
        const uint32_t i0 = idx[3 * size_t(t)], i1 = idx[3 * size_t(t) + 1], i2 = idx[3 * size_t(t) + 2]; \
        if (i0 >= nv || i1 >= nv || i2 >= nv) continue;                                               \
        const v3 p0 = positions[i0];                                                                  \
        const v3 a = positions[i1] - p0, c = positions[i2] - p0;                                      \
        faces[t].normal = {MADD(a.y, c.z, -(a.z * c.y)), MADD(a.z, c.x, -(a.x * c.z)),                \
                           MADD(a.x, c.y, -(a.y * c.x))};                                             \
    }

#define MDL_FACE_NORMALS_ARGS \
    const v3 *positions, const uint32_t *idx, MDL_Face *faces, uint32_t triangles, uint32_t nv

static void MDL_iFaceNormalsPlain(MDL_FACE_NORMALS_ARGS)
{
    MDL_FACE_NORMALS_BODY(MDL_iMulAdd)
}

#if defined(__x86_64__)
__attribute__((target("arch=x86-64-v3"))) static void MDL_iFaceNormalsScalarFused(MDL_FACE_NORMALS_ARGS)
{
    MDL_FACE_NORMALS_BODY(__builtin_fma)
}

// One triangle a step in 4-wide registers: a corner is read as four doubles
// (its x y z and the next vertex's x, unused), so a triangle naming the
// last vertex takes the body above. a (yzx) - (yzx) c gives the cross
// product's z x y, each by the multiply-add of the body above.
__attribute__((target("arch=x86-64-v3"))) static void MDL_iFaceNormalsFused(MDL_FACE_NORMALS_ARGS)
{
    const double* p = &positions[0].x;
    for (uint32_t t = 0; t < triangles; t++) {
        const uint32_t* ix = idx + 3 * size_t(t);
        const uint32_t top = std::max(std::max(ix[0], ix[1]), ix[2]);
        if (top >= nv) continue;
        if (top + 1 == nv) {
            MDL_iFaceNormalsScalarFused(positions, ix, faces + t, 1, nv);
            continue;
        }
        const __m256d p0 = _mm256_loadu_pd(p + 3 * size_t(ix[0]));
        const __m256d a = _mm256_sub_pd(_mm256_loadu_pd(p + 3 * size_t(ix[1])), p0);
        const __m256d c = _mm256_sub_pd(_mm256_loadu_pd(p + 3 * size_t(ix[2])), p0);
        const __m256d zxy =
            _mm256_fmsub_pd(a, _mm256_permute4x64_pd(c, 0xC9), _mm256_mul_pd(_mm256_permute4x64_pd(a, 0xC9), c));
        MDL_iStoreV3(&faces[t].normal.x, _mm256_permute4x64_pd(zxy, 0xC9));
    }
}
#endif

static void MDL_iFaceNormals(MDL_FACE_NORMALS_ARGS)
{
#if defined(__x86_64__)
    if (MDL_gFusedMultiplyAdd) {
        MDL_iFaceNormalsFused(positions, idx, faces, triangles, nv);
        return;
    }
#endif
    MDL_iFaceNormalsPlain(positions, idx, faces, triangles, nv);
}

static void MDL_iSkinGroup(MDL_SKIN_GROUP_ARGS)
{
#if defined(__x86_64__)
    if (MDL_gFusedMultiplyAdd) {
        MDL_iSkinGroupFused(R, o, count, vertices, weights, rp, rn, positions, normals, nv, nn);
        return;
    }
#endif
    MDL_iSkinGroupPlain(R, o, count, vertices, weights, rp, rn, positions, normals, nv, nn);
}

void MDL_AnimatedMesh::update(bool force)
{
    if (!force) {
        if (locked || boneCount < 1 || !boneList) return;
        bool any = false;
        for (int32_t i = 0; i < boneCount && !any; i++) any = boneList[i] && boneList[i]->moved;
        if (!any) return;
    }
    // A mesh without geometry (made by a script, or whose mesh name matched
    // nothing) has nothing to skin.
    if (!meshData || !skinnedPositions) return;
    moved = 1;
    const int32_t vertexCount = meshData->vertexCount;
    // Normals exist only as far as the mesh data has them.
    const int32_t normalCount =
        skinnedNormals ? (meshData->normalCount < vertexCount ? meshData->normalCount : vertexCount) : 0;
    std::memset(static_cast<void*>(skinnedPositions), 0, sizeof(v3) * size_t(vertexCount));
    if (normalCount > 0) std::memset(static_cast<void*>(skinnedNormals), 0, sizeof(v3) * size_t(normalCount));

    // Locals for the arrays: stores through them cannot then be taken to
    // change the members, which the loops would otherwise reload.
    v3* const positions = skinnedPositions;
    v3* const normals = skinnedNormals;
    const uint32_t nv = uint32_t(vertexCount), nn = uint32_t(normalCount);
    const MDL_Frame& mesh = getGlobalFrame();
    MDL_Frame::validateInverse(mesh);
    for (int32_t b = 0; b < boneCount && vertexGroups && boneList; b++) {
        const MDL_VertexGroup* g = vertexGroups[b];
        MDL_Bone* bone = boneList[b];
        if (!g || !bone || !g->restPositions || !g->restNormals || !g->vertices || !g->weights) continue;
        const MDL_Frame& bf = bone->getGlobalFrame();
        const v3 o = m33::apply(mesh.inverse, bf.position - mesh.position);
        m33 R;
        m33::multiply(R, mesh.inverse, bf.basis);
        MDL_iSkinGroup(R, o, g->count, g->vertices, g->weights, g->restPositions, g->restNormals, positions,
                       normals, nv, nn);
    }

    fitBox();

    if (faces && meshData->indices)
        MDL_iFaceNormals(positions, meshData->indices, faces, meshData->triangleCount, nv);
}

double MDL_AnimatedMesh::vertexWeight(int32_t binding, int32_t vertex) const
{
    if (binding < 0 || binding >= boneCount || !vertexGroups) return 0.0;
    const MDL_VertexGroup* g = vertexGroups[binding];
    if (!g || !g->vertices || !g->weights) return 0.0;
    double w = 0.0;
    for (int32_t n = 0; n < g->count; n++)
        if (g->vertices[n] == vertex) w += g->weights[n];
    return w;
}

const double* MDL_AnimatedMesh::getVertex(int32_t i)
{
    if (!skinnedPositions || !meshData || i < 0 || i >= meshData->vertexCount) return nullptr;
    return &skinnedPositions[i].x;
}

const double* MDL_AnimatedMesh::getNormal(int32_t i)
{
    if (!skinnedNormals || !meshData || i < 0 || i >= meshData->normalCount) return nullptr;
    return &skinnedNormals[i].x;
}

MDL_Face* MDL_AnimatedMesh::getFaces()
{
    return faces;
}

const double* MDL_AnimatedMesh::getBoundingBoxMin()
{
    return &boxMin.x;
}

const double* MDL_AnimatedMesh::getBoundingBoxMax()
{
    return &boxMax.x;
}
