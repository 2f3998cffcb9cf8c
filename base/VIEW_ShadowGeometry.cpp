#include "base/VIEW_ShadowGeometry.h"

#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif


namespace {

// The same arithmetic as v3::normalize, inlined into the loops below.
inline bool unit(v3& v)
{
    double L = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(L > 0))
        return false;
    v.x /= L;
    v.y /= L;
    v.z /= L;
    return true;
}

inline v3 corner(const double* positions, uint32_t index)
{
    const double* p = positions + 3 * (size_t)index;
    return {p[0], p[1], p[2]};
}

// Every vertex pushed away from the lamp by the extrusion length: far =
// p + unit(p - lamp) * extrusion, or p where that direction has no length.
// Two vertices at a time on SSE2 with the very same operations (IEEE
// division and square root give the same bits in either width).
void extrude(const double* positions, uint32_t vertexCount, const VIEW_ShadowLight& light, v3* far)
{
    uint32_t v = 0;
    if (light.directional) {
        v3 d = light.direction;
        const bool moves = unit(d);
        const v3 offset = d * light.extrusion;
        for (; v < vertexCount; v++) {
            const v3 p = corner(positions, v);
            far[v] = moves ? p + offset : p;
        }
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
    for (; v < vertexCount; v++) {
        const v3 p = corner(positions, v);
        v3 d = p - light.position;
        far[v] = unit(d) ? p + d * light.extrusion : p;
    }
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

}   // namespace

bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, std::vector<uint8_t>& facing)
{
    facing.assign(mesh.triangleCount, 0);
    return VIEW_iBuildShadowVolume(mesh, light, caps, out, facing.data(), 1);
}

bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, uint8_t* facingBytes, size_t facingStride)
{
    out.sides->reuse();
    out.frontCap->reuse();
    out.backCap->reuse();
    const uint32_t n = mesh.triangleCount;
    if (!mesh.positions || !mesh.indices || mesh.vertexCount <= 0 || n == 0)
        return true;
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
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        uint8_t f = 0;
        if (ix[0] < vertexCount && ix[1] < vertexCount && ix[2] < vertexCount) {
            const v3 p0 = corner(positions, ix[0]), p1 = corner(positions, ix[1]), p2 = corner(positions, ix[2]);
            const v3 a = p1 - p0, b = p2 - p0;
            const v3 normal = {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
            const v3 towards = light.directional ? light.direction : p0 - light.position;
            f = v3::dot(towards, normal) < 0;
        }
        facing(t) = f;
        lit += f;
        flags[t] = f;
    }
    if (lit == 0)
        return true;

    CTRL_Array<v3>& far = t_extruded;
    bool ok = lit <= (uint32_t)(INT32_MAX / 3) && far.grow(mesh.vertexCount);
    if (ok)
        extrude(positions, vertexCount, light, far.data);
    if (ok && caps)
        ok = room(*out.frontCap, 3 * (int32_t)lit) && room(*out.backCap, 3 * (int32_t)lit);

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
            v3* f = out.frontCap->data + out.frontCap->count;
            v3* k = out.backCap->data + out.backCap->count;
            f[0] = p[0], f[1] = p[1], f[2] = p[2];
            k[0] = q[0], k[1] = q[1], k[2] = q[2];
            out.frontCap->count += 3;
            out.backCap->count += 3;
        }
    }
    if (!ok) {
        out.sides->resize(0);
        out.frontCap->resize(0);
        out.backCap->resize(0);
    }
    return ok;
}
