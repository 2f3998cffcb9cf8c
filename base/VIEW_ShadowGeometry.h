// Stencil shadow-volume geometry: the extruded volume of a mesh (side quads
// along the silhouette, and the two caps that the depth-fail method needs).
// Plain geometry with no GL, shared by the meshes that keep their volumes and
// the renderer that draws them.
//
// Winding: every side-quad triangle is counter-clockwise seen from outside
// the volume. The caps are the faces turned towards the lamp, given as their
// corners' indices: the front cap takes them from the mesh's own positions,
// the back cap from the far points (every vertex pushed away from the lamp).
// Front-cap triangles are counter-clockwise seen from outside; back-cap
// triangles keep the winding of the faces they were extruded from, so they
// are counter-clockwise seen from inside. The stencil passes draw the back
// cap with the opposite front face.
#pragma once

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"

#include <cstdint>
#include <vector>

constexpr uint32_t VIEW_NO_NEIGHBOUR = 0xFFFFFFFFu;

// Mesh geometry in the mesh's own coordinates.
struct VIEW_ShadowGeometry {
    const double* positions = nullptr;   // vertexCount x 3
    int32_t vertexCount = 0;
    const uint32_t* indices = nullptr;   // triangleCount x 3
    const uint32_t* neighbours = nullptr; // triangleCount x 3: across corner e to e + 1, or VIEW_NO_NEIGHBOUR
    uint32_t triangleCount = 0;
    // Bytes from one triangle's three neighbours to the next one's, so that
    // they can be read in place from a larger per-face record.
    size_t neighbourStride = 3 * sizeof(uint32_t);
    // Optional: each face's (P1 - P0) x (P2 - P0), worked out from these very
    // positions and indices, faceNormalStride bytes apart (at least 24). The
    // facing test may read them rather than work them out again.
    const double* faceNormals = nullptr;
    size_t faceNormalStride = 3 * sizeof(double);
};

// The lamp in the mesh's coordinates.
struct VIEW_ShadowLight {
    bool directional = false;   // a sun: parallel light along `direction`
    v3 position{0, 0, 0};       // point and spot lamps
    v3 direction{0, 0, -1};     // sun: the way the light travels (minus its Z axis)
    double extrusion = 30;      // how far corners are pushed away from the lamp
};

struct VIEW_ShadowArrays {
    CTRL_Array<v3>* sides;            // whole triangles
    CTRL_Array<uint32_t>* capIndices; // three corners per face turned towards the lamp
    CTRL_Array<v3>* far;              // one per vertex of the mesh
};

// Rebuilds the three arrays (emptied first). A face turns towards the lamp
// when its normal (P1 - P0) x (P2 - P0) points at it; the edges between a
// facing face and one that is not (or none) become side quads. Caps (their
// indices and the far points) are built only when `caps` is set and some
// face turns towards the lamp. Triangles with an index outside the vertices
// are left out, and a neighbour outside the triangles counts as none.
// `facing` is scratch space kept by the caller between calls. Answers false
// when the arrays could not grow (they are then empty). The arrays keep
// their storage from build to build.
bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, std::vector<uint8_t>& facing);
// The same with the facing flags written where the caller keeps them: one
// byte per triangle, facingStride bytes apart (at least triangleCount of them).
bool VIEW_iBuildShadowVolume(const VIEW_ShadowGeometry& mesh, const VIEW_ShadowLight& light, bool caps,
                             VIEW_ShadowArrays out, uint8_t* facing, size_t facingStride);

// Whether the builder may take its four-at-a-time steps where the processor
// has them (the default); the same results either way. Answers the setting
// it replaces; tests use it to run both ways.
bool VIEW_iShadowWideSteps(bool use);
