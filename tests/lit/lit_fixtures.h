// Small meshes and materials built in code for the scene-drawing tests.
#pragma once

#include "model/MDL_Mesh.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace lit {

template <typename T>
T* copyOf(const std::vector<T>& v)
{
    if (v.empty())
        return nullptr;
    T* p = static_cast<T*>(std::malloc(v.size() * sizeof(T)));
    std::memcpy(p, v.data(), v.size() * sizeof(T));
    return p;
}

struct DataSpec {
    std::vector<double> positions;
    std::vector<uint32_t> indices;
    std::vector<double> normals;
    std::vector<double> colours;
    std::vector<double> uvs;
    bool doubleSided = false;
};

// Mesh data with adjacency and face normals, as the scene reader leaves it.
inline std::unique_ptr<MDL_MeshData> makeData(const DataSpec& s)
{
    auto d = std::make_unique<MDL_MeshData>();
    d->vertexCount = (int32_t)(s.positions.size() / 3);
    d->positions = copyOf(s.positions);
    d->normalCount = (int32_t)(s.normals.size() / 3);
    d->normals = copyOf(s.normals);
    d->colorCount = (int32_t)(s.colours.size() / 4);
    d->colors = copyOf(s.colours);
    d->uvCount = (int32_t)(s.uvs.size() / 2);
    d->uvs = copyOf(s.uvs);
    d->triangleCount = (uint32_t)(s.indices.size() / 3);
    d->indices = copyOf(s.indices);
    d->faces = static_cast<MDL_Face*>(std::calloc(d->triangleCount ? d->triangleCount : 1, sizeof(MDL_Face)));
    for (uint32_t t = 0; t < d->triangleCount; t++)
        new (&d->faces[t]) MDL_Face();
    d->doubleSided = s.doubleSided;
    d->translucentColorCount = d->countTranslucentColors();
    // The scene reader refuses indices past the vertices before it links
    // faces; a fixture with such indices has no adjacency.
    bool valid = true;
    for (uint32_t i : s.indices)
        valid = valid && i < (uint32_t)d->vertexCount;
    if (valid) {
        d->buildAdjacency();
        d->computeFaceNormals();
    }
    return d;
}

// A w by h rectangle in the x-y plane, centred on the origin, facing +z.
inline DataSpec quadSpec(double w, double h)
{
    DataSpec s;
    double x = w / 2, y = h / 2;
    s.positions = {-x, -y, 0, x, -y, 0, x, y, 0, -x, y, 0};
    s.indices = {0, 1, 2, 0, 2, 3};
    s.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    s.uvs = {0, 0, 1, 0, 1, 1, 0, 1};
    return s;
}

// A closed box of half sizes hx, hy, hz, four vertices per face.
inline DataSpec boxSpec(double hx, double hy, double hz)
{
    DataSpec s;
    const double n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 6; f++) {
        // Axes u and v = n x u in the face, so that u x v = n.
        double uu[3] = {0, 0, 0}, vv[3];
        uu[n[f][0] != 0 ? 1 : n[f][1] != 0 ? 2 : 0] = 1;
        vv[0] = n[f][1] * uu[2] - n[f][2] * uu[1];
        vv[1] = n[f][2] * uu[0] - n[f][0] * uu[2];
        vv[2] = n[f][0] * uu[1] - n[f][1] * uu[0];
        uint32_t base = (uint32_t)(s.positions.size() / 3);
        const double corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            double p[3];
            for (int k = 0; k < 3; k++)
                p[k] = n[f][k] + c[0] * uu[k] + c[1] * vv[k];
            s.positions.insert(s.positions.end(), {p[0] * hx, p[1] * hy, p[2] * hz});
            s.normals.insert(s.normals.end(), {n[f][0], n[f][1], n[f][2]});
            s.uvs.insert(s.uvs.end(), {(c[0] + 1) / 2, (c[1] + 1) / 2});
        }
        s.indices.insert(s.indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    return s;
}

inline MDL_Material* material(double r, double g, double b, double a = 1, bool shadeless = false)
{
    MDL_Material* m = new MDL_Material();
    m->diffuse[0] = r;
    m->diffuse[1] = g;
    m->diffuse[2] = b;
    m->diffuse[3] = a;
    m->shadeless = shadeless;
    return m;
}

// A mesh over the data, owning its material (which may be null).
inline MDL_Mesh* mesh(MDL_MeshData* data, MDL_Material* m, v3 position = {0, 0, 0})
{
    MDL_Mesh* o = new MDL_Mesh();
    o->meshData = data;
    o->material = m;
    o->ownMaterial = m != nullptr;
    o->editGlobalFrame().position = position;
    return o;
}

}   // namespace lit
