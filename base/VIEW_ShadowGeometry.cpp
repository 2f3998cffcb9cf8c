#include "base/VIEW_ShadowGeometry.h"

namespace {

v3 corner(const VIEW_ShadowGeometry& m, uint32_t index)
{
    const double* p = m.positions + 3 * (size_t)index;
    return {p[0], p[1], p[2]};
}

// P pushed away from the lamp by the extrusion length; a zero direction
// leaves it where it is.
v3 extrude(const VIEW_ShadowLight& l, const v3& p)
{
    v3 d = l.directional ? l.direction : p - l.position;
    if (!v3::normalize(d))
        return p;
    return p + d * l.extrusion;
}

bool push3(CTRL_Array<v3>& a, const v3& p0, const v3& p1, const v3& p2)
{
    int32_t n = a.count;
    if (n > INT32_MAX - 3 || !a.resize(n + 3))
        return false;
    a[n] = p0;
    a[n + 1] = p1;
    a[n + 2] = p2;
    return true;
}

}   // namespace

bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, std::vector<uint8_t>& facing)
{
    out.sides->resize(0);
    out.frontCap->resize(0);
    out.backCap->resize(0);
    uint32_t n = mesh.triangleCount;
    if (!mesh.positions || !mesh.indices || mesh.vertexCount <= 0 || n == 0)
        return true;

    // Which faces turn towards the lamp; unusable triangles never do.
    facing.assign(n, 0);
    for (uint32_t t = 0; t < n; t++) {
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        if (ix[0] >= (uint32_t)mesh.vertexCount || ix[1] >= (uint32_t)mesh.vertexCount
            || ix[2] >= (uint32_t)mesh.vertexCount)
            continue;
        v3 p0 = corner(mesh, ix[0]), p1 = corner(mesh, ix[1]), p2 = corner(mesh, ix[2]);
        v3 normal;
        v3::cross(normal, p1 - p0, p2 - p0);
        v3 towards = light.directional ? light.direction : p0 - light.position;
        facing[t] = v3::dot(towards, normal) < 0;
    }

    bool ok = true;
    for (uint32_t t = 0; t < n && ok; t++) {
        if (!facing[t])
            continue;
        const uint32_t* ix = mesh.indices + 3 * (size_t)t;
        v3 p[3] = {corner(mesh, ix[0]), corner(mesh, ix[1]), corner(mesh, ix[2])};
        v3 q[3] = {extrude(light, p[0]), extrude(light, p[1]), extrude(light, p[2])};
        for (int e = 0; e < 3 && ok; e++) {
            uint32_t other = mesh.neighbours ? mesh.neighbours[3 * (size_t)t + e] : VIEW_NO_NEIGHBOUR;
            if (other < n && facing[other])
                continue;
            // Silhouette edge a -> b of a lit face: the quad b a a' b', wound
            // so that it faces out of the volume.
            int a = e, b = (e + 1) % 3;
            ok = push3(*out.sides, p[b], p[a], q[a]) && push3(*out.sides, p[b], q[a], q[b]);
        }
        if (caps && ok)
            ok = push3(*out.frontCap, p[0], p[1], p[2]) && push3(*out.backCap, q[0], q[1], q[2]);
    }
    if (!ok) {
        out.sides->resize(0);
        out.frontCap->resize(0);
        out.backCap->resize(0);
    }
    return ok;
}
