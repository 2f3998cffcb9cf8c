#include "base/VIEW_ShadowGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SHADOW_WIDE 1
#endif


namespace {

inline v3 corner(const double* positions, uint32_t index)
{
    const double* p = positions + 3 * (size_t)index;
    return {p[0], p[1], p[2]};
}

// Every vertex from `from` on pushed away from the lamp by the extrusion
// length: far = p + unit(p - lamp) * extrusion, or p where that direction has
// no length; for a sun, p + unit(direction) * extrusion.
void extrudeFrom(const double* positions, uint32_t from, uint32_t vertexCount, const VIEW_ShadowLight& light, v3* far)
{
    if (light.directional) {
        v3 d = light.direction;
        const bool moves = v3::normalize(d);
        const v3 offset = d * light.extrusion;
        for (uint32_t v = from; v < vertexCount; v++) {
            const v3 p = corner(positions, v);
            far[v] = moves ? p + offset : p;
        }
        return;
    }
    for (uint32_t v = from; v < vertexCount; v++) {
        const v3 p = corner(positions, v);
        v3 d = p - light.position;
        far[v] = v3::normalize(d) ? p + d * light.extrusion : p;
    }
}

// The same for every vertex, two at a time on SSE2 with the very same
// operations (IEEE division and square root give the same bits in either
// width).
void extrude(const double* positions, uint32_t vertexCount, const VIEW_ShadowLight& light, v3* far)
{
    uint32_t v = 0;
    if (light.directional) {
        extrudeFrom(positions, 0, vertexCount, light, far);
        return;
    }
#if defined(__SSE2__)
    const __m128d lx = _mm_set1_pd(light.position.x), ly = _mm_set1_pd(light.position.y),
                  lz = _mm_set1_pd(light.position.z), k = _mm_set1_pd(light.extrusion);
    for (; v + 2 <= vertexCount; v += 2) {
        // a = x0 y0, b = z0 x1, c = y1 z1.
        const double* p = positions + 3 * (size_t)v;
        const __m128d a = _mm_loadu_pd(p), b = _mm_loadu_pd(p + 2), c = _mm_loadu_pd(p + 4);
        const __m128d x = _mm_shuffle_pd(a, b, 0b10), y = _mm_shuffle_pd(a, c, 0b01), z = _mm_shuffle_pd(b, c, 0b10);
        __m128d dx = _mm_sub_pd(x, lx), dy = _mm_sub_pd(y, ly), dz = _mm_sub_pd(z, lz);
        const __m128d L = _mm_sqrt_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz)));
        const __m128d moves = _mm_cmpgt_pd(L, _mm_setzero_pd());
        dx = _mm_div_pd(dx, L), dy = _mm_div_pd(dy, L), dz = _mm_div_pd(dz, L);
        const __m128d fx = _mm_or_pd(_mm_and_pd(moves, _mm_add_pd(x, _mm_mul_pd(dx, k))), _mm_andnot_pd(moves, x));
        const __m128d fy = _mm_or_pd(_mm_and_pd(moves, _mm_add_pd(y, _mm_mul_pd(dy, k))), _mm_andnot_pd(moves, y));
        const __m128d fz = _mm_or_pd(_mm_and_pd(moves, _mm_add_pd(z, _mm_mul_pd(dz, k))), _mm_andnot_pd(moves, z));
        double* w = &far[v].x;
        _mm_storeu_pd(w, _mm_unpacklo_pd(fx, fy));
        _mm_storeu_pd(w + 2, _mm_shuffle_pd(fz, fx, 0b10));
        _mm_storeu_pd(w + 4, _mm_unpackhi_pd(fy, fz));
    }
#endif
    extrudeFrom(positions, v, vertexCount, light, far);
}

// Room for k more elements without moving the count; false when the array
// cannot grow.
template <typename T>
bool room(CTRL_Array<T>& a, int32_t k)
{
    if (a.count <= a.capacity - k)
        return true;
    int32_t n = a.count;
    if (n > INT32_MAX - k || !a.grow(n + k))
        return false;
    a.count = n;
    return true;
}

// Every vertex pushed away from the lamp by the extrusion length (a zero
// direction leaves it where it is): worked out once per vertex rather than
// once per corner of every lit face. Kept between calls.
thread_local CTRL_Array<v3> t_extruded;
thread_local CTRL_Array<uint8_t> t_facing;

// Whether face t (of a mesh whose index array holds it) turns towards the
// lamp; a triangle with an index outside the vertices never does.
inline uint8_t facesLamp(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, uint32_t t)
{
    const uint32_t* ix = mesh.indices + 3 * (size_t)t;
    const uint32_t vertexCount = (uint32_t)mesh.vertexCount;
    if (ix[0] >= vertexCount || ix[1] >= vertexCount || ix[2] >= vertexCount)
        return 0;
    const double* positions = mesh.positions;
    const v3 p0 = corner(positions, ix[0]), p1 = corner(positions, ix[1]), p2 = corner(positions, ix[2]);
    const v3 a = p1 - p0, b = p2 - p0;
    const v3 normal = {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    const v3 towards = light.directional ? light.direction : p0 - light.position;
    return v3::dot(towards, normal) < 0;
}

}   // namespace

bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, std::vector<uint8_t>& facing)
{
    facing.assign(mesh.triangleCount, 0);
    return VIEW_iBuildShadowVolume(mesh, light, caps, out, facing.data(), 1);
}

namespace {

// Two triangles and two vertices at a time on SSE2, the rest one at a time.
bool buildPlain(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps, VIEW_ShadowArrays out,
                uint8_t* facingBytes, size_t facingStride)
{
    const uint32_t n = mesh.triangleCount;
    auto facing = [&](uint32_t t) -> uint8_t& { return facingBytes[facingStride * t]; };
    const uint8_t* neighbourBytes = reinterpret_cast<const uint8_t*>(mesh.neighbours);
    const double* positions = mesh.positions;
    const uint32_t vertexCount = (uint32_t)mesh.vertexCount;

    // Which faces turn towards the lamp; unusable triangles never do. The
    // flags are also kept packed here, where the silhouette test below looks
    // up neighbours at random.
    if (n > (uint32_t)INT32_MAX || !t_facing.grow((int32_t)n))
        return false;
    uint8_t* flags = t_facing.data;
    uint32_t lit = 0;
    uint32_t t = 0;
#if defined(__SSE2__)
    // Two triangles at a time (same operations, same bits as below), as long
    // as both have their corners among the vertices.
    const __m128d tx = _mm_set1_pd(light.directional ? light.direction.x : light.position.x),
                  ty = _mm_set1_pd(light.directional ? light.direction.y : light.position.y),
                  tz = _mm_set1_pd(light.directional ? light.direction.z : light.position.z);
    for (; t + 2 <= n; t += 2) {
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        if ((ix[0] >= vertexCount) | (ix[1] >= vertexCount) | (ix[2] >= vertexCount) | (ix[3] >= vertexCount) |
            (ix[4] >= vertexCount) | (ix[5] >= vertexCount))
            break;
        const double *a0 = positions + 3 * (size_t)ix[0], *a1 = positions + 3 * (size_t)ix[1],
                     *a2 = positions + 3 * (size_t)ix[2], *b0 = positions + 3 * (size_t)ix[3],
                     *b1 = positions + 3 * (size_t)ix[4], *b2 = positions + 3 * (size_t)ix[5];
        auto pair = [](const double* x, const double* y) { return _mm_loadh_pd(_mm_load_sd(x), y); };
        const __m128d x0 = pair(a0, b0), y0 = pair(a0 + 1, b0 + 1), z0 = pair(a0 + 2, b0 + 2);
        const __m128d ax = _mm_sub_pd(pair(a1, b1), x0), ay = _mm_sub_pd(pair(a1 + 1, b1 + 1), y0),
                      az = _mm_sub_pd(pair(a1 + 2, b1 + 2), z0);
        const __m128d bx = _mm_sub_pd(pair(a2, b2), x0), by = _mm_sub_pd(pair(a2 + 1, b2 + 1), y0),
                      bz = _mm_sub_pd(pair(a2 + 2, b2 + 2), z0);
        const __m128d nx = _mm_sub_pd(_mm_mul_pd(ay, bz), _mm_mul_pd(az, by)),
                      ny = _mm_sub_pd(_mm_mul_pd(az, bx), _mm_mul_pd(ax, bz)),
                      nz = _mm_sub_pd(_mm_mul_pd(ax, by), _mm_mul_pd(ay, bx));
        __m128d wx = tx, wy = ty, wz = tz;
        if (!light.directional)
            wx = _mm_sub_pd(x0, tx), wy = _mm_sub_pd(y0, ty), wz = _mm_sub_pd(z0, tz);
        const __m128d dot = _mm_add_pd(_mm_add_pd(_mm_mul_pd(wx, nx), _mm_mul_pd(wy, ny)), _mm_mul_pd(wz, nz));
        const int m = _mm_movemask_pd(_mm_cmplt_pd(dot, _mm_setzero_pd()));
        const uint8_t f0 = m & 1, f1 = (m >> 1) & 1;
        facing(t) = f0, facing(t + 1) = f1;
        flags[t] = f0, flags[t + 1] = f1;
        lit += f0 + f1;
    }
#endif
    for (; t < n; t++) {
        const uint8_t f = facesLamp(mesh, light, t);
        facing(t) = f;
        lit += f;
        flags[t] = f;
    }
    if (lit == 0)
        return true;

    // With caps the far points are the back cap's vertices as well.
    CTRL_Array<v3>& far = caps ? *out.far : t_extruded;
    bool ok = lit <= (uint32_t)(INT32_MAX / 3) && far.grow(mesh.vertexCount);
    if (ok)
        extrude(positions, vertexCount, light, far.data);
    if (ok && caps)
        ok = room(*out.capIndices, 3 * (int32_t)lit);

    CTRL_Array<v3>& sides = *out.sides;
    for (uint32_t t = 0; t < n && ok; t++) {
        if (!flags[t])
            continue;
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        const v3 p[3] = {corner(positions, ix[0]), corner(positions, ix[1]), corner(positions, ix[2])};
        const v3 q[3] = {far[(int32_t)ix[0]], far[(int32_t)ix[1]], far[(int32_t)ix[2]]};
        const uint8_t* nb = neighbourBytes ? neighbourBytes + mesh.neighbourStride * t : nullptr;
        if (sides.count > sides.capacity - 18 && !room(sides, 18)) {
            ok = false;
            break;
        }
        for (int e = 0; e < 3; e++) {
            uint32_t other = VIEW_NO_NEIGHBOUR;
            if (nb)
                std::memcpy(&other, nb + sizeof(uint32_t) * (size_t)e, sizeof other);
            if (other < n && flags[other])
                continue;
            // Silhouette edge a -> b of a lit face: the quad b a a' b', wound
            // so that it faces out of the volume.
            const int a = e, b = e == 2 ? 0 : e + 1;
            v3* w = sides.data + sides.count;
            w[0] = p[b], w[1] = p[a], w[2] = q[a];
            w[3] = p[b], w[4] = q[a], w[5] = q[b];
            sides.count += 6;
        }
        if (caps) {
            uint32_t* k = out.capIndices->data + out.capIndices->count;
            k[0] = ix[0], k[1] = ix[1], k[2] = ix[2];
            out.capIndices->count += 3;
        }
    }
    return ok;
}

#if defined(SHADOW_WIDE)

// Four at a time on AVX2, chosen at run time. A corner (a position or a far
// point, three packed doubles) is one masked 32-byte load that never reads
// past its own three values, so the last vertex needs no slack. The facing
// test and the extrusion run four lanes with the very operations of the
// one-at-a-time code (no fused multiply-add), so they give the same bits.
// Output vertices are written as 32-byte stores 24 bytes apart, each one's
// spare lane overwritten by the next; the last one's lands in a slack
// element kept past the count.
bool g_wide = __builtin_cpu_supports("avx2");

#define WIDE __attribute__((target("avx2")))

WIDE inline __m256d loadCorner(const double* p)
{
    return _mm256_maskload_pd(p, _mm256_setr_epi64x(-1, -1, -1, 0));
}

// (x0 x1 x2 x3), (y..), (z..) of four corners (their fourth lanes unread).
WIDE inline void transpose(__m256d r0, __m256d r1, __m256d r2, __m256d r3, __m256d& x, __m256d& y, __m256d& z)
{
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    x = _mm256_permute2f128_pd(t0, t2, 0x20);
    y = _mm256_permute2f128_pd(t1, t3, 0x20);
    z = _mm256_permute2f128_pd(t0, t2, 0x31);
}

// (x..), (y..), (z..) of the four vertices a b c d.
WIDE inline void corners(const double* positions, uint32_t a, uint32_t b, uint32_t c, uint32_t d, __m256d& x,
                         __m256d& y, __m256d& z)
{
    transpose(loadCorner(positions + 3 * (size_t)a), loadCorner(positions + 3 * (size_t)b),
              loadCorner(positions + 3 * (size_t)c), loadCorner(positions + 3 * (size_t)d), x, y, z);
}

// Every vertex pushed away from the lamp, straight into the far points:
// the same results as extrude() above, four vertices at a time.
WIDE void extrudeWide(const double* positions, uint32_t vertexCount, const VIEW_ShadowLight& light, v3* far)
{
    uint32_t v = 0;
    if (!light.directional) {
        const __m256d lx = _mm256_set1_pd(light.position.x), ly = _mm256_set1_pd(light.position.y),
                      lz = _mm256_set1_pd(light.position.z), k = _mm256_set1_pd(light.extrusion);
        for (; v + 4 <= vertexCount; v += 4) {
            // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3: four rows
            // x y z -, then across.
            const double* p = positions + 3 * (size_t)v;
            const __m256d a = _mm256_loadu_pd(p), b = _mm256_loadu_pd(p + 4), c = _mm256_loadu_pd(p + 8);
            const __m256d r1 = _mm256_permute4x64_pd(_mm256_permute2f128_pd(a, b, 0x21), 0b11111001);
            const __m256d r2 = _mm256_permute2f128_pd(b, c, 0x21), r3 = _mm256_permute4x64_pd(c, 0b11111001);
            __m256d x, y, z;
            transpose(a, r1, r2, r3, x, y, z);
            __m256d dx = _mm256_sub_pd(x, lx), dy = _mm256_sub_pd(y, ly), dz = _mm256_sub_pd(z, lz);
            const __m256d L = _mm256_sqrt_pd(
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz)));
            const __m256d moves = _mm256_cmp_pd(L, _mm256_setzero_pd(), _CMP_GT_OQ);
            dx = _mm256_div_pd(dx, L), dy = _mm256_div_pd(dy, L), dz = _mm256_div_pd(dz, L);
            const __m256d fx = _mm256_blendv_pd(x, _mm256_add_pd(x, _mm256_mul_pd(dx, k)), moves);
            const __m256d fy = _mm256_blendv_pd(y, _mm256_add_pd(y, _mm256_mul_pd(dy, k)), moves);
            const __m256d fz = _mm256_blendv_pd(z, _mm256_add_pd(z, _mm256_mul_pd(dz, k)), moves);
            // Four rows x y z 0, each written 24 bytes after the last; the
            // fourth one's spare lane lands on the next vertex (or the slack).
            const __m256d zero = _mm256_setzero_pd();
            const __m256d u0 = _mm256_unpacklo_pd(fx, fy), u1 = _mm256_unpackhi_pd(fx, fy);
            const __m256d u2 = _mm256_unpacklo_pd(fz, zero), u3 = _mm256_unpackhi_pd(fz, zero);
            double* w = &far[v].x;
            _mm256_storeu_pd(w, _mm256_permute2f128_pd(u0, u2, 0x20));
            _mm256_storeu_pd(w + 3, _mm256_permute2f128_pd(u1, u3, 0x20));
            _mm256_storeu_pd(w + 6, _mm256_permute2f128_pd(u0, u2, 0x31));
            _mm256_storeu_pd(w + 9, _mm256_permute2f128_pd(u1, u3, 0x31));
        }
    }
    // The rest one at a time, and every vertex of a sun (one addition each).
    if (v < vertexCount)
        extrudeFrom(positions, v, vertexCount, light, far);
}

// Which of four faces (first corners x0 y0 z0, normals nx ny nz) turn
// towards the lamp, as bits.
WIDE inline uint32_t facingMask(const VIEW_ShadowLight& light, __m256d tx, __m256d ty, __m256d tz, __m256d x0,
                                __m256d y0, __m256d z0, __m256d nx, __m256d ny, __m256d nz)
{
    __m256d wx = tx, wy = ty, wz = tz;
    if (!light.directional)
        wx = _mm256_sub_pd(x0, tx), wy = _mm256_sub_pd(y0, ty), wz = _mm256_sub_pd(z0, tz);
    const __m256d dot =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(wx, nx), _mm256_mul_pd(wy, ny)), _mm256_mul_pd(wz, nz));
    return (uint32_t)_mm256_movemask_pd(_mm256_cmp_pd(dot, _mm256_setzero_pd(), _CMP_LT_OQ));
}

// Facing flags of every triangle; answers how many face the lamp.
WIDE uint32_t faceWide(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light,
                       uint8_t* flags, uint8_t* facingBytes, size_t facingStride)
{
    const uint32_t n = mesh.triangleCount, vertexCount = (uint32_t)mesh.vertexCount;
    const __m256d tx = _mm256_set1_pd(light.directional ? light.direction.x : light.position.x),
                  ty = _mm256_set1_pd(light.directional ? light.direction.y : light.position.y),
                  tz = _mm256_set1_pd(light.directional ? light.direction.z : light.position.z);
    const __m256i last = _mm256_set1_epi32((int)(vertexCount - 1));
    const uint8_t* normals = reinterpret_cast<const uint8_t*>(mesh.faceNormals);
    const size_t normalStride = mesh.faceNormalStride;
    const double* positions = mesh.positions;
    uint32_t lit = 0, t = 0;
    for (; t + 4 <= n; t += 4) {
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        // All twelve corners among the vertices (unsigned: max(i, last) == last).
        const __m256i i0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ix));
        const __m128i i1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ix + 8));
        const bool inside =
            _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_max_epu32(i0, last), last)) == -1 &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_max_epu32(i1, _mm256_castsi256_si128(last)),
                                              _mm256_castsi256_si128(last))) == 0xFFFF;
        uint32_t m;
        if (inside && normals && t + 4 < n) {
            // The stored normals: the same numbers, without the corners of
            // every face (the fifth face bounds the last 32-byte read).
            __m256d x0, y0, z0, nx, ny, nz;
            corners(positions, ix[0], ix[3], ix[6], ix[9], x0, y0, z0);
            const uint8_t* nt = normals + normalStride * t;
            transpose(_mm256_loadu_pd(reinterpret_cast<const double*>(nt)),
                      _mm256_loadu_pd(reinterpret_cast<const double*>(nt + normalStride)),
                      _mm256_loadu_pd(reinterpret_cast<const double*>(nt + 2 * normalStride)),
                      _mm256_loadu_pd(reinterpret_cast<const double*>(nt + 3 * normalStride)), nx, ny, nz);
            m = facingMask(light, tx, ty, tz, x0, y0, z0, nx, ny, nz);
        } else if (inside) {
            __m256d x0, y0, z0, x1, y1, z1, x2, y2, z2;
            corners(positions, ix[0], ix[3], ix[6], ix[9], x0, y0, z0);
            corners(positions, ix[1], ix[4], ix[7], ix[10], x1, y1, z1);
            corners(positions, ix[2], ix[5], ix[8], ix[11], x2, y2, z2);
            const __m256d ax = _mm256_sub_pd(x1, x0), ay = _mm256_sub_pd(y1, y0), az = _mm256_sub_pd(z1, z0);
            const __m256d bx = _mm256_sub_pd(x2, x0), by = _mm256_sub_pd(y2, y0), bz = _mm256_sub_pd(z2, z0);
            const __m256d nx = _mm256_sub_pd(_mm256_mul_pd(ay, bz), _mm256_mul_pd(az, by)),
                          ny = _mm256_sub_pd(_mm256_mul_pd(az, bx), _mm256_mul_pd(ax, bz)),
                          nz = _mm256_sub_pd(_mm256_mul_pd(ax, by), _mm256_mul_pd(ay, bx));
            m = facingMask(light, tx, ty, tz, x0, y0, z0, nx, ny, nz);
        } else {
            m = 0;
            for (uint32_t k = 0; k < 4; k++)
                m |= (uint32_t)facesLamp(mesh, light, t + k) << k;
        }
        // The four bits spread to the low bit of four bytes (the shifted
        // copies of m do not overlap, so nothing carries).
        const uint32_t spread = (m * 0x00204081u) & 0x01010101u;
        std::memcpy(flags + t, &spread, sizeof spread);
        uint8_t* facing = facingBytes + facingStride * t;
        facing[0] = m & 1;
        facing[facingStride] = (m >> 1) & 1;
        facing[2 * facingStride] = (m >> 2) & 1;
        facing[3 * facingStride] = (m >> 3) & 1;
        lit += (uint32_t)__builtin_popcount(m);
    }
    for (; t < n; t++) {
        const uint8_t f = facesLamp(mesh, light, t);
        facingBytes[facingStride * t] = f;
        flags[t] = f;
        lit += f;
    }
    return lit;
}

// Lit faces with an edge on the silhouette, found in a first pass that takes
// no branch on the neighbours' flags (most lit faces have none open, and
// which ones do is hard to foresee). Kept between calls.
thread_local CTRL_Array<uint32_t> t_silhouette;

// Which edges of lit face t border a face that is not lit (or none), as bits;
// a neighbour outside the triangles reads the zero flag past them.
inline uint32_t openEdges(const uint8_t* neighbourBytes, size_t neighbourStride, const uint8_t* flags, uint32_t n,
                          uint32_t t)
{
    // Three plain loads (one wide copy to the stack and back stalls the
    // loads that follow it).
    const uint8_t* nb = neighbourBytes + neighbourStride * t;
    uint32_t o0, o1, o2;
    std::memcpy(&o0, nb, sizeof o0);
    std::memcpy(&o1, nb + 4, sizeof o1);
    std::memcpy(&o2, nb + 8, sizeof o2);
    return (uint32_t)!flags[std::min(o0, n)] | (uint32_t)!flags[std::min(o1, n)] << 1 |
           (uint32_t)!flags[std::min(o2, n)] << 2;
}

// Side quads along the silhouette and, with CAPS, the caps' corner indices
// (their room already made), for every lit face; `silhouette` has room for
// every lit face. Flags are read eight at a time, so that runs of faces
// turned away cost one test; `flags` has eight zero bytes past the triangles.
template <bool CAPS>
WIDE bool emitWide(const VIEW_ShadowGeometry& mesh, const v3* far, const uint8_t* flags, uint32_t* silhouette,
                   VIEW_ShadowArrays out)
{
    const uint32_t n = mesh.triangleCount;
    static const uint32_t none[3] = {VIEW_NO_NEIGHBOUR, VIEW_NO_NEIGHBOUR, VIEW_NO_NEIGHBOUR};
    const uint8_t* neighbourBytes =
        mesh.neighbours ? reinterpret_cast<const uint8_t*>(mesh.neighbours) : reinterpret_cast<const uint8_t*>(none);
    const size_t neighbourStride = mesh.neighbours ? mesh.neighbourStride : 0;
    const uint32_t* const indices = mesh.indices;
    uint32_t* cap = CAPS ? out.capIndices->data : nullptr;
    uint32_t found = 0;
    for (uint32_t group = 0; group < n; group += 8) {
        uint64_t word;
        std::memcpy(&word, flags + group, sizeof word);
        if (word == 0x0101010101010101u) {
            // Eight lit faces in a row (inside a lit region, the common case).
            if (CAPS) {
                std::memcpy(cap, indices + 3 * (size_t)group, 24 * sizeof(uint32_t));
                cap += 24;
            }
            for (uint32_t t = group; t < group + 8; t++) {
                silhouette[found] = t;
                found += openEdges(neighbourBytes, neighbourStride, flags, n, t) != 0;
            }
            continue;
        }
        while (word) {
            const uint32_t t = group + (uint32_t)__builtin_ctzll(word) / 8;
            word &= word - 1;   // each flag byte is 0 or 1
            if (CAPS) {
                std::memcpy(cap, indices + 3 * (size_t)t, 3 * sizeof(uint32_t));
                cap += 3;
            }
            silhouette[found] = t;
            found += openEdges(neighbourBytes, neighbourStride, flags, n, t) != 0;
        }
    }

    CTRL_Array<v3>& sides = *out.sides;
    const double* positions = mesh.positions;
    for (uint32_t k = 0; k < found; k++) {
        const uint32_t t = silhouette[k];
        const uint32_t open = openEdges(neighbourBytes, neighbourStride, flags, n, t);
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        const __m256d p0 = loadCorner(positions + 3 * (size_t)ix[0]), p1 = loadCorner(positions + 3 * (size_t)ix[1]),
                      p2 = loadCorner(positions + 3 * (size_t)ix[2]);
        const __m256d q0 = loadCorner(&far[ix[0]].x), q1 = loadCorner(&far[ix[1]].x), q2 = loadCorner(&far[ix[2]].x);
        // Silhouette edge a -> b of a lit face: the quad b a a' b', wound so
        // that it faces out of the volume.
        auto quad = [&](__m256d pa, __m256d pb, __m256d qa, __m256d qb) WIDE {
            if (sides.count > sides.capacity - 7 && !room(sides, 7))
                return false;
            double* w = &sides.data[sides.count].x;
            _mm256_storeu_pd(w, pb);
            _mm256_storeu_pd(w + 3, pa);
            _mm256_storeu_pd(w + 6, qa);
            _mm256_storeu_pd(w + 9, pb);
            _mm256_storeu_pd(w + 12, qa);
            _mm256_storeu_pd(w + 15, qb);
            sides.count += 6;
            return true;
        };
        if (((open & 1) && !quad(p0, p1, q0, q1)) || ((open & 2) && !quad(p1, p2, q1, q2)) ||
            ((open & 4) && !quad(p2, p0, q2, q0)))
            return false;
    }
    return true;
}

WIDE bool buildWide(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps, VIEW_ShadowArrays out,
                    uint8_t* facingBytes, size_t facingStride)
{
    const uint32_t n = mesh.triangleCount, vertexCount = (uint32_t)mesh.vertexCount;
    if (n > (uint32_t)INT32_MAX - 8 || !t_facing.grow((int32_t)n + 8))
        return buildPlain(mesh, light, caps, out, facingBytes, facingStride);
    uint8_t* flags = t_facing.data;
    std::memset(flags + n, 0, 8);
    const uint32_t lit = faceWide(mesh, light, flags, facingBytes, facingStride);
    if (lit == 0)
        return true;
    // With caps the far points are the back cap's vertices as well; one
    // element of slack past them, for the spare lane of the last store.
    CTRL_Array<v3>& far = caps ? *out.far : t_extruded;
    if (lit > (uint32_t)(INT32_MAX / 3) - 1 || vertexCount > (uint32_t)INT32_MAX - 1 ||
        !far.grow((int32_t)vertexCount + 1))
        return false;
    far.count = (int32_t)vertexCount;
    extrudeWide(mesh.positions, vertexCount, light, far.data);
    if (caps && !room(*out.capIndices, 3 * (int32_t)lit))
        return false;

    if (!t_silhouette.grow((int32_t)lit))
        return false;
    uint32_t* silhouette = t_silhouette.data;
    const bool ok = caps ? emitWide<true>(mesh, far.data, flags, silhouette, out)
                         : emitWide<false>(mesh, far.data, flags, silhouette, out);
    if (ok && caps)
        out.capIndices->count = 3 * (int32_t)lit;
    return ok;
}

#undef WIDE
#endif

}   // namespace

bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, uint8_t* facingBytes, size_t facingStride)
{
    out.sides->reuse();
    out.capIndices->reuse();
    out.far->reuse();
    if (!mesh.positions || !mesh.indices || mesh.vertexCount <= 0 || mesh.triangleCount == 0)
        return true;
    bool ok;
#if defined(SHADOW_WIDE)
    if (g_wide)
        ok = buildWide(mesh, light, caps, out, facingBytes, facingStride);
    else
#endif
        ok = buildPlain(mesh, light, caps, out, facingBytes, facingStride);
    if (!ok) {
        out.sides->resize(0);
        out.capIndices->resize(0);
        out.far->resize(0);
    }
    return ok;
}

bool VIEW_iShadowWideSteps(bool use)
{
#if defined(SHADOW_WIDE)
    const bool was = g_wide;
    g_wide = use && __builtin_cpu_supports("avx2");
    return was;
#else
    (void)use;
    return false;
#endif
}
