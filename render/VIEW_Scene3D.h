// The parts of drawing a lit 3-D scene that need no GL context: which passes
// a mesh takes part in, what its vertex arrays can safely supply, the light
// parameters in GL's ranges, the mirror's plane and reflected camera, object
// matrices, and the transfer of a mesh's transparent triangles into
// the ordering tree.
#pragma once

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"
#include "math/m44.h"
#include "render/VIEW_BSP.h"

#include <cstdint>

class MDL_Lamp;
class MDL_Material;
class MDL_Mesh;
class MDL_Object;
struct MDL_MeshData;

// Mesh data -> whether its indices are usable, for the length of one
// drawScene. Open addressing over storage that clear() keeps, so a steady
// frame allocates nothing.
class VIEW_IndexCache {
public:
    VIEW_IndexCache() = default;
    VIEW_IndexCache(const VIEW_IndexCache&) = delete;
    VIEW_IndexCache& operator=(const VIEW_IndexCache&) = delete;
    ~VIEW_IndexCache();
    void clear();
    // The stored answer, or null.
    const uint8_t* find(const MDL_MeshData* key) const;
    // Stores an answer (false when the table cannot grow: nothing stored).
    bool insert(const MDL_MeshData* key, uint8_t valid);
    int32_t size() const { return count; }

private:
    struct Slot {
        const MDL_MeshData* key;
        uint8_t valid;
    };
    Slot* slots = nullptr;
    uint32_t mask = 0;   // slot count - 1; 0 before the first insert
    int32_t count = 0;
};

// What the scene drawing keeps in the renderer between its passes.
struct VIEW_SceneState {
    MDL_Lamp* shadowLamp = nullptr;   // this frame's, from the light set-up
    int32_t shadowLight = -1;         // its GL light index
    // Index arrays checked during this drawScene: mesh data -> usable.
    VIEW_IndexCache checkedIndices;
};

// ---- pass membership

// Not a mirror, and an alpha strictly between 0 and 1 in its diffuse colour
// or first layer, or a first-layer texture that blends (transparent and not
// binary-alpha). Null is not translucent.
bool VIEW_iIsTranslucent(const MDL_Material* material);
// Drawn in the opaque pass.
bool VIEW_iDrawsOpaque(const MDL_Mesh& mesh);
// Offered to the transparency tree.
bool VIEW_iDrawsTransparent(const MDL_Mesh& mesh);
// Invisible but hides what lies behind it: material alpha exactly 0.
bool VIEW_iIsOccluder(const MDL_Mesh& mesh);

// ---- vertex arrays

// What a mesh's arrays can supply for every vertex; GL reads the arrays at
// every index, so an array shorter than the vertices is never enabled.
struct VIEW_MeshArrays {
    const double* positions;
    const double* normals;   // null: not for every vertex
    const double* colours;   // null: not for every vertex
    const double* uvs;       // null: not for every vertex
    int32_t vertexCount;
    uint32_t triangleCount;
    const uint32_t* indices;
};
// False when the mesh cannot be drawn at all: not visible, no mesh data,
// no triangles, no positions, or an index outside the vertices. With a
// cache, each mesh data's indices are checked once while the cache lives.
bool VIEW_iMeshArrays(MDL_Mesh& mesh, VIEW_MeshArrays& out,
                      VIEW_IndexCache* cache = nullptr);
// Every index below the vertex count (checked once per cache lifetime when
// a cache is given).
bool VIEW_iIndicesValid(const MDL_MeshData& data);
bool VIEW_iIndicesValid(const MDL_MeshData& data, VIEW_IndexCache* cache);

// ---- lights

struct VIEW_LightParams {
    float position[4];
    float spotDirection[3];
    float spotCutoff;
    float spotExponent;
    float attenuation[3];   // constant, linear, quadratic
    float diffuse[4];
    float specular[4];
    float ambient[4];
};
// GL parameters of a lamp, world coordinates (given while the camera's
// model-view is loaded). Every value is inside GL's accepted range, so none
// is refused and left over from an earlier frame.
void VIEW_iLampParams(MDL_Lamp& lamp, VIEW_LightParams& out);
// GL shininess of a material's shininess value: 1.2 times it, within 0..128.
float VIEW_iShininess(double shininess);

// ---- camera

// Object matrix: camera model-view times the object's global frame; a mesh
// drawn as a sprite keeps its own axes and takes only its eye-space position.
void VIEW_iObjectMatrix(const m44& modelView, MDL_Object& object, m44& out);

// ---- mirror

struct VIEW_MirrorPlane {
    v3 point;
    v3 normal;   // unit
};
// The plane of a mirror mesh: its first vertex and its first normal (the
// first face's normal when it has no normals), in world space. False when
// the mesh offers no usable plane.
bool VIEW_iMirrorPlane(MDL_Mesh& mirror, VIEW_MirrorPlane& out);
// Reflects a frame in the plane: position and each basis axis.
void VIEW_iReflectFrame(const VIEW_MirrorPlane& plane, MDL_Frame& frame);

// ---- transparent triangles

// Index of the triangle offered k-th of `count`: the triangles are taken in
// interleaved quarters (k, 2q - 1 - k, 2q + k, 4q - 1 - k for q = count / 4),
// then the remainder in order, so that the tree's first planes spread over
// the mesh.
uint32_t VIEW_iOfferedTriangle(uint32_t k, uint32_t count);

// Transforms a mesh's triangles into eye space and inserts those that can be
// seen into the tree: triangles wholly behind the eye, back faces of
// single-sided meshes and degenerate triangles are dropped. `eye` maps mesh
// coordinates to eye space, `normalMatrix` the normals. In a mirrored view
// (`mirrored`: the eye matrix turns space inside out) a front face winds the
// other way round on screen.
void VIEW_iCollectTransparentTriangles(VIEW_Transparency& rec, const VIEW_MeshArrays& arrays, bool doubleSided,
                                       const MDL_Material* material, const m44& eye, const m33& normalMatrix,
                                       bool mirrored);
