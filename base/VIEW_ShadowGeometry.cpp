#include "base/VIEW_ShadowGeometry.h"

#include <cmath>
#include <cstring>


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

    // Which faces turn towards the lamp; unusable triangles never do.
    uint32_t lit = 0;
    for (uint32_t t = 0; t < n; t++) {
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
    }
    if (lit == 0)
        return true;

    CTRL_Array<v3>& far = t_extruded;
    bool ok = lit <= (uint32_t)(INT32_MAX / 3) && far.grow(mesh.vertexCount);
    for (uint32_t v = 0; v < vertexCount && ok; v++) {
        const v3 p = corner(positions, v);
        v3 d = light.directional ? light.direction : p - light.position;
        far[(int32_t)v] = unit(d) ? p + d * light.extrusion : p;
    }
    if (ok && caps)
        ok = room(*out.frontCap, 3 * (int32_t)lit) && room(*out.backCap, 3 * (int32_t)lit);

    CTRL_Array<v3>& sides = *out.sides;
    for (uint32_t t = 0; t < n && ok; t++) {
        if (!facing(t))
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
            if (other < n && facing(other))
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
