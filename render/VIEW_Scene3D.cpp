#include "render/VIEW_Scene3D.h"

#include <cstdint>

#include <cstring>

#include <cstdlib>

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"

#include <cmath>

namespace {

bool between01(double a)
{
    return a > 0 && a < 1;
}

const MDL_TextureLayer* firstLayer(const MDL_Material* m)
{
    return m && m->layers.count > 0 ? &m->layers[0] : nullptr;
}

// A texture whose pixels are blended rather than alpha-tested.
bool blends(const VIEW_Texture* t)
{
    return t && t->transparent && !t->binaryAlpha;
}

float clampf(double v, double lo, double hi, double fallback)
{
    if (!std::isfinite(v))
        return (float)fallback;
    return (float)(v < lo ? lo : v > hi ? hi : v);
}

}   // namespace

bool VIEW_iIsTranslucent(const MDL_Material* m)
{
    if (!m || m->mirror)
        return false;
    if (between01(m->diffuse[3]))
        return true;
    const MDL_TextureLayer* l = firstLayer(m);
    return l && (between01(l->color[3]) || blends(l->texture));
}

bool VIEW_iDrawsOpaque(const MDL_Mesh& mesh)
{
    if (!mesh.meshData || mesh.meshData->translucentColorCount > 0)
        return false;
    const MDL_Material* m = mesh.material;
    if (!m)
        return true;
    if (m->mirror || !(m->diffuse[3] >= 1))
        return false;
    const MDL_TextureLayer* l = firstLayer(m);
    return !l || (l->color[3] >= 1 && !blends(l->texture));
}

bool VIEW_iDrawsTransparent(const MDL_Mesh& mesh)
{
    if (!mesh.meshData)
        return false;
    return mesh.meshData->translucentColorCount > 0 || VIEW_iIsTranslucent(mesh.material);
}

bool VIEW_iIsOccluder(const MDL_Mesh& mesh)
{
    const MDL_Material* m = mesh.material;
    return mesh.meshData && m && !m->mirror && m->diffuse[3] == 0;
}

bool VIEW_iIndicesValid(const MDL_MeshData& d)
{
    if (d.triangleCount == 0)
        return true;
    if (!d.indices || d.vertexCount <= 0)
        return false;
    const uint32_t n = (uint32_t)d.vertexCount;
    const uint32_t* ix = d.indices;
    const size_t total = 3 * (size_t)d.triangleCount;
    // Four running maxima, so that the comparisons do not wait on each other.
    uint32_t w0 = 0, w1 = 0, w2 = 0, w3 = 0;
    size_t i = 0;
    for (; i + 4 <= total; i += 4) {
        w0 = ix[i] > w0 ? ix[i] : w0;
        w1 = ix[i + 1] > w1 ? ix[i + 1] : w1;
        w2 = ix[i + 2] > w2 ? ix[i + 2] : w2;
        w3 = ix[i + 3] > w3 ? ix[i + 3] : w3;
    }
    for (; i < total; i++)
        w0 = ix[i] > w0 ? ix[i] : w0;
    return w0 < n && w1 < n && w2 < n && w3 < n;
}

VIEW_IndexCache::~VIEW_IndexCache()
{
    std::free(slots);
}

void VIEW_IndexCache::clear()
{
    if (slots && count > 0)
        std::memset(static_cast<void*>(slots), 0, sizeof(Slot) * ((size_t)mask + 1));
    count = 0;
}

const uint8_t* VIEW_IndexCache::find(const MDL_MeshData* key) const
{
    if (!slots || !key)
        return nullptr;
    // Pointer bits above the allocation alignment spread well enough.
    for (uint32_t i = (uint32_t)((uintptr_t)key >> 4) & mask;; i = (i + 1) & mask) {
        if (slots[i].key == key)
            return &slots[i].valid;
        if (!slots[i].key)
            return nullptr;
    }
}

bool VIEW_IndexCache::insert(const MDL_MeshData* key, uint8_t valid)
{
    if (!key)
        return false;
    // At most half full, so that a probe always meets an empty slot.
    if (!slots || (uint32_t)(count + 1) * 2 > mask + 1) {
        uint32_t n = slots ? 2 * (mask + 1) : 64;
        Slot* bigger = static_cast<Slot*>(std::calloc(n, sizeof(Slot)));
        if (!bigger)
            return false;
        Slot* old = slots;
        uint32_t oldSlots = slots ? mask + 1 : 0;
        slots = bigger;
        mask = n - 1;
        count = 0;
        for (uint32_t i = 0; i < oldSlots; i++)
            if (old[i].key)
                insert(old[i].key, old[i].valid);
        std::free(old);
    }
    uint32_t i = (uint32_t)((uintptr_t)key >> 4) & mask;
    while (slots[i].key && slots[i].key != key)
        i = (i + 1) & mask;
    if (!slots[i].key)
        count++;
    slots[i] = {key, valid};
    return true;
}

bool VIEW_iIndicesValid(const MDL_MeshData& d, VIEW_IndexCache* cache)
{
    if (!cache)
        return VIEW_iIndicesValid(d);
    if (const uint8_t* known = cache->find(&d))
        return *known;
    bool valid = VIEW_iIndicesValid(d);
    cache->insert(&d, valid);
    return valid;
}

bool VIEW_iMeshArrays(MDL_Mesh& mesh, VIEW_MeshArrays& out, VIEW_IndexCache* cache)
{
    const MDL_MeshData* d = mesh.meshData;
    if (!(mesh.state & STATE_VISIBLE) || !d || d->triangleCount == 0 || d->vertexCount <= 0)
        return false;
    out.positions = mesh.getVertex(0);
    if (!out.positions)
        return false;
    if (!VIEW_iIndicesValid(*d, cache))
        return false;
    out.vertexCount = d->vertexCount;
    out.triangleCount = d->triangleCount;
    out.indices = d->indices;
    out.normals = d->normalCount >= d->vertexCount ? mesh.getNormal(0) : nullptr;
    out.colours = d->colorCount >= d->vertexCount ? d->colors : nullptr;
    out.uvs = d->uvCount >= d->vertexCount ? d->uvs : nullptr;
    return true;
}

void VIEW_iLampParams(MDL_Lamp& lamp, VIEW_LightParams& out)
{
    const MDL_Frame& f = lamp.getGlobalFrame();
    v3 z = f.basis.c[2];
    bool zUsable = v3::normalize(z);

    // GL's defaults, so that a lamp that sets less leaves nothing behind
    // from whichever lamp used this light before.
    out.position[0] = 0;
    out.position[1] = 0;
    out.position[2] = 1;
    out.position[3] = 0;
    out.spotDirection[0] = 0;
    out.spotDirection[1] = 0;
    out.spotDirection[2] = -1;
    out.spotCutoff = 180;
    out.spotExponent = 0;
    out.attenuation[0] = 1;
    out.attenuation[1] = 0;
    out.attenuation[2] = 0;

    switch (lamp.lampType) {
    case LAMP_POINT:
    case LAMP_SPOT:
        out.position[0] = (float)f.position.x;
        out.position[1] = (float)f.position.y;
        out.position[2] = (float)f.position.z;
        out.position[3] = 1;
        if (lamp.lampType == LAMP_SPOT) {
            if (zUsable) {
                out.spotDirection[0] = (float)-z.x;
                out.spotDirection[1] = (float)-z.y;
                out.spotDirection[2] = (float)-z.z;
            }
            out.spotCutoff = clampf(lamp.spotSize, 0, 90, 90);
            out.spotExponent = clampf(lamp.spotExponent, 0, 128, 0);
        }
        if (lamp.distance > 0 && std::isfinite(lamp.distance)) {
            out.attenuation[1] = clampf(lamp.quad1 / lamp.distance, 0, HUGE_VAL, 0);
            out.attenuation[2] = clampf(lamp.quad2 / (lamp.distance * lamp.distance), 0, HUGE_VAL, 0);
        }
        break;
    case LAMP_SUN:
        if (zUsable) {
            out.position[0] = (float)z.x;
            out.position[1] = (float)z.y;
            out.position[2] = (float)z.z;
        }
        break;
    default:
        break;
    }

    for (int i = 0; i < 3; i++) {
        float c = (float)(lamp.energy * lamp.color[i]);
        out.diffuse[i] = lamp.noDiffuse ? 0.0f : c;
        out.specular[i] = lamp.noSpecular ? 0.0f : c;
    }
    out.diffuse[3] = out.specular[3] = 1;
    for (int i = 0; i < 4; i++)
        out.ambient[i] = (float)lamp.ambientColor[i];
}

float VIEW_iShininess(double shininess)
{
    return clampf(shininess * (double)1.2f, 0, 128, 0);
}

void VIEW_iObjectMatrix(const m44& modelView, MDL_Object& object, m44& out)
{
    const MDL_Frame& f = object.getGlobalFrame();
    m44 frame;
    m44::fromFrame(frame, f);
    bool sprite = object.type == OBJECT_MESH
                  && static_cast<const MDL_Mesh&>(object).displayMode == DISPLAY_MODE_SPRITE;
    if (!sprite) {
        m44::multiply(out, modelView, frame);
        return;
    }
    v3 eye;
    m44::transformPoint(modelView, f.position, eye);
    out = frame;
    out.at(0, 3) = eye.x;
    out.at(1, 3) = eye.y;
    out.at(2, 3) = eye.z;
}

bool VIEW_iMirrorPlane(MDL_Mesh& mirror, VIEW_MirrorPlane& out)
{
    const MDL_MeshData* d = mirror.meshData;
    if (!d || d->vertexCount <= 0)
        return false;
    const double* p = mirror.getVertex(0);
    if (!p)
        return false;
    const MDL_Frame& f = mirror.getGlobalFrame();
    v3 local{p[0], p[1], p[2]};
    MDL_Frame::localToGlobalPoint(f, local, out.point);

    v3 n{0, 0, 0};
    const double* nn = d->normalCount > 0 ? mirror.getNormal(0) : nullptr;
    if (nn) {
        n = {nn[0], nn[1], nn[2]};
    } else if (d->triangleCount > 0 && VIEW_iIndicesValid(*d)) {
        // No normals: the first face's own normal.
        const double* a = mirror.getVertex((int32_t)d->indices[0]);
        const double* b = mirror.getVertex((int32_t)d->indices[1]);
        const double* c = mirror.getVertex((int32_t)d->indices[2]);
        if (a && b && c)
            v3::cross(n, v3{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v3{c[0] - a[0], c[1] - a[1], c[2] - a[2]});
    }
    out.normal = m33::apply(f.basis, n);
    return v3::normalize(out.normal) && std::isfinite(out.normal.x + out.normal.y + out.normal.z);
}

void VIEW_iReflectFrame(const VIEW_MirrorPlane& pl, MDL_Frame& f)
{
    const v3& n = pl.normal;
    f.position = f.position - n * (2 * v3::dot(f.position - pl.point, n));
    for (v3& r : f.basis.c)
        r = r - n * (2 * v3::dot(r, n));
    f.inverseDirty = 1;
}

uint32_t VIEW_iOfferedTriangle(uint32_t k, uint32_t count)
{
    uint32_t q = count / 4;
    if (k >= 4 * q)
        return k;
    uint32_t i = k / 4, r = k % 4;
    switch (r) {
    case 0:
        return i;
    case 1:
        return 2 * q - 1 - i;
    case 2:
        return 2 * q + i;
    default:
        return 4 * q - 1 - i;
    }
}

namespace {

v3 affine(const m44& m, const double* p)
{
    return {m.m[0] * p[0] + m.m[4] * p[1] + m.m[8] * p[2] + m.m[12],
            m.m[1] * p[0] + m.m[5] * p[1] + m.m[9] * p[2] + m.m[13],
            m.m[2] * p[0] + m.m[6] * p[1] + m.m[10] * p[2] + m.m[14]};
}

}   // namespace

void VIEW_iCollectTransparentTriangles(VIEW_Transparency& rec, const VIEW_MeshArrays& a, bool doubleSided,
                                       const MDL_Material* material, const m44& eye, const m33& normalMatrix,
                                       bool mirrored)
{
    VIEW_BspNode t;
    t.material = material;
    t.nearChild = t.farChild = t.nextCoplanar = -1;
    for (uint32_t k = 0; k < a.triangleCount; k++) {
        const uint32_t* ix = a.indices + 3 * (size_t)VIEW_iOfferedTriangle(k, a.triangleCount);
        for (int i = 0; i < 3; i++)
            t.positions[i] = affine(eye, a.positions + 3 * (size_t)ix[i]);
        const v3 &p0 = t.positions[0], &p1 = t.positions[1], &p2 = t.positions[2];
        if (p0.z >= 0 && p1.z >= 0 && p2.z >= 0)
            continue;   // behind the eye

        // Seen from the eye (at the origin), a triangle that winds
        // counter-clockwise has a negative triple product. That is a front
        // face, unless the view is mirrored.
        v3 bc;
        v3::cross(bc, p1, p2);
        bool ccw = v3::dot(p0, bc) < 0;
        if (ccw == mirrored && !doubleSided)
            continue;
        // Plane normal pointing away from the eye.
        v3 n;
        if (ccw)
            v3::cross(n, p2 - p0, p1 - p0);
        else
            v3::cross(n, p1 - p0, p2 - p0);
        if (!v3::normalize(n))
            continue;   // no area: nothing to draw, and no plane to split by
        t.planeNormal = n;

        for (int i = 0; i < 3; i++) {
            size_t v = ix[i];
            if (a.normals) {
                const double* nn = a.normals + 3 * v;
                t.normals[i] = m33::apply(normalMatrix, v3{nn[0], nn[1], nn[2]});
            } else {
                t.normals[i] = -n;   // facing the eye
            }
            t.uvs[i][0] = a.uvs ? a.uvs[2 * v] : 0;
            t.uvs[i][1] = a.uvs ? a.uvs[2 * v + 1] : 0;
            for (int c = 0; c < 4; c++)
                t.colours[i][c] = a.colours ? a.colours[4 * v + c] : (c == 3 ? -1 : 0);
        }
        VIEW_iBspInsert(rec, 0, t);
    }
}
