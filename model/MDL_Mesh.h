// Meshes: shared triangle geometry (MDL_MeshData), materials with texture
// layers (MDL_Material, MDL_TextureLayer), and the mesh objects that place
// them in a scene (MDL_Mesh, and MDL_AnimatedMesh for skinned meshes).
//
// Geometry and materials loaded from a scene file belong to its models set
// and are shared by every copy of a mesh; a mesh that changes its material
// takes its own copy first (setOwnMaterial). A mesh copied from a mesh of a
// scene file keeps that file's models set alive while it exists.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"
#include "model/MDL_Object.h"
#include "base/LMP_ProxyLink.h"

class MDL_Lamp;
class MDL_ModelsSet;
struct MDL_VertexGroup;
class MDL_Bone;
class VIEW_Texture;

constexpr uint32_t MDL_NO_FACE = 0xFFFFFFFFu;

// The flag sits in the padding after the neighbours: 40 bytes a face, which
// skinning rewrites every frame.
struct MDL_Face {
    uint32_t neighbours[3] = {MDL_NO_FACE, MDL_NO_FACE, MDL_NO_FACE};  // across edges 0-1, 1-2, 2-0
    uint8_t facing = 0;   // turned towards the shadow lamp (shadow upkeep)
    v3 normal{0, 0, 0};   // (P1 - P0) x (P2 - P0), not normalised
};

// Every mesh data record takes the next number, so that the renderer never
// takes a later record at a freed record's address for the freed one.
inline uint32_t MDL_iNextMeshDataSerial()
{
    static uint32_t next = 0;
    return ++next;
}

struct MDL_MeshData {
    uint32_t serial = MDL_iNextMeshDataSerial();
    char* name = nullptr;
    int32_t vertexCount = 0;
    double* positions = nullptr;    // vertexCount x 3
    int32_t normalCount = 0;
    double* normals = nullptr;      // normalCount x 3
    int32_t uvCount = 0;
    double* uvs = nullptr;          // uvCount x 2
    int32_t colorCount = 0;
    double* colors = nullptr;       // colorCount x 4, RGBA in [0, 1]
    int32_t translucentColorCount = 0;
    uint32_t triangleCount = 0;
    uint32_t* indices = nullptr;    // triangleCount x 3, each below vertexCount
    MDL_Face* faces = nullptr;      // triangleCount
    uint8_t doubleSided = 0;
    // The face normals were worked out from the positions as they stand
    // (set by computeFaceNormals, cleared by anything that moves a vertex).
    uint8_t faceNormalsCurrent = 0;
    double boxMin[3] = {0, 0, 0};
    double boxMax[3] = {0, 0, 0};
    // Copies made by the first script change of a vertex position or colour.
    double* positionsBackup = nullptr;
    double* colorsBackup = nullptr;

    MDL_MeshData() = default;
    MDL_MeshData(const MDL_MeshData&) = delete;
    MDL_MeshData& operator=(const MDL_MeshData&) = delete;
    ~MDL_MeshData();

    // Links every triangle to its neighbours by matching edge positions (a
    // shared edge links one pair; a third triangle on it stays unlinked).
    void buildAdjacency();
    // Face normals of every triangle from the positions (zero for a
    // triangle naming a vertex that is not there).
    void computeFaceNormals();
    // Both of these in one pass, writing every face whole: the faces need not
    // have been initialised.
    void buildFaces();
    // Number of colours whose alpha is not exactly 1.
    int32_t countTranslucentColors() const;

private:
    void linkFaces(bool whole);
};

struct MDL_TextureLayer {
    VIEW_Texture* texture;  // not owned; null: untextured layer
    double color[4];
    // Texture-coordinate mapping: position is the translation (u, v, w),
    // basis the matrix; inverseDirty doubles as the matrix-changed flag.
    MDL_Frame uvTransform;

    // Texture as given, colour white, identity mapping, matrix changed.
    static MDL_TextureLayer makeDefault(VIEW_Texture* texture = nullptr);
};

class MDL_Material {
public:
    MDL_Proxy proxy = nullptr;
    char* name = nullptr;
    CTRL_Array<MDL_TextureLayer> layers;
    double shininess = 50.0;
    uint8_t shadeless = 0;
    uint8_t castShadows = 1;
    uint8_t mirror = 0;
    double ambient[4] = {0.5, 0.5, 0.5, 1.0};
    double diffuse[4] = {1, 1, 1, 1};   // diffuse[3] is the material's alpha
    double specular[4] = {1, 1, 1, 1};
    // References: the maker of a material holds the first; every mesh that
    // shares it holds one more, so a copy of a mesh keeps the material it
    // shares alive after the mesh that owned it is gone.
    uint32_t refs = 1;

    MDL_Material() = default;
    // No proxy link; name and layers copied (same textures).
    MDL_Material(const MDL_Material& source);
    MDL_Material& operator=(const MDL_Material&) = delete;

    // Frees the name and layers (releasing their textures) and the proxy link.
    ~MDL_Material();
    // Drops one reference; the last one deletes the record.
    static void destroy(MDL_Material* material);
    static void retain(MDL_Material* material);
    static bool isTransparent(const MDL_Material* material);

    // Layer edits that keep the textures' use counts right.
    bool appendLayer(const MDL_TextureLayer& layer);
    void setLayerTexture(int32_t index, VIEW_Texture* texture);
    void deleteLayer(int32_t index);
};

enum { DISPLAY_MODE_NORMAL = 0, DISPLAY_MODE_SPRITE = 1 };

class MDL_Mesh : public MDL_Object {
public:
    MDL_Mesh();
    // Shares the source's mesh data and material (never owns the material).
    MDL_Mesh(const MDL_Mesh& source);
    ~MDL_Mesh() override;

    virtual const double* getVertex(int32_t i);
    virtual const double* getNormal(int32_t i);
    virtual MDL_Face* getFaces();
    virtual const double* getBoundingBoxMin();
    virtual const double* getBoundingBoxMax();

    // Copy on write: gives the mesh a material of its own (a copy of the
    // shared one, or a default material).
    void setOwnMaterial();
    // Ray p0 -> p1 in the coordinates of the vertex positions; distances in
    // units of p1 - p0. *distance is the best so far; true on a nearer hit.
    bool intersectRay(const v3& p0, const v3& p1, double* distance, uint32_t* triangle);
    // Rebuilds the shadow-volume triangles for the lamp when needed.
    void updateShadowGeometry(MDL_Lamp* lamp);

    // Shares a material (holding a reference to it); null clears it.
    void setMaterial(MDL_Material* material);
    // Remembers the scene file whose data this mesh uses; a copy keeps
    // that set alive (the set's own objects do not count).
    void setSourceSet(MDL_ModelsSet* set, bool retain);

    MDL_MeshData* meshData = nullptr;  // not owned
    MDL_Material* material = nullptr;
    uint8_t ownMaterial = 0;
    uint32_t displayMode = DISPLAY_MODE_NORMAL;
    CTRL_Array<v3> shadowSideQuads;   // whole triangles, mesh-local
    // The caps: corner indices of the faces turned towards the lamp, drawn
    // from the mesh's own positions (front) and from the far points, one
    // per vertex pushed away from the lamp (back).
    CTRL_Array<uint32_t> shadowCapIndices;
    CTRL_Array<v3> shadowFarPoints;
    MDL_Lamp* shadowLamp = nullptr;
    uint8_t geometryChanged = 0;

    MDL_ModelsSet* sourceSet = nullptr;
    uint8_t retainsSourceSet = 0;
    MDL_Material* heldMaterial = nullptr;  // the material this mesh holds a reference to
};

// A mesh whose vertices follow bones. It keeps its own skinned copy of the
// geometry; the accessors return it in place of the shared arrays.
class MDL_AnimatedMesh : public MDL_Mesh {
public:
    MDL_AnimatedMesh();
    MDL_AnimatedMesh(const MDL_AnimatedMesh& source);
    ~MDL_AnimatedMesh() override;

    bool load(const TiXmlElement* element) override;
    const double* getVertex(int32_t i) override;
    const double* getNormal(int32_t i) override;
    MDL_Face* getFaces() override;
    const double* getBoundingBoxMin() override;
    const double* getBoundingBoxMax() override;

    // Fills the skinned arrays from the shared rest geometry (after the
    // mesh data is set); the box is fitted to the rest positions.
    void resetSkin();
    // Skinning: every vertex becomes the weighted sum of its bones' rigid
    // transforms of its rest data, in the mesh's own axes; then the box and
    // the face normals follow. Unless forced, only when the mesh is not
    // locked and one of its bones moved since the last frame.
    void update(bool force);
    // The weight of a vertex in the group of binding i (0 when the group
    // does not list it); a vertex listed twice counts twice.
    double vertexWeight(int32_t binding, int32_t vertex) const;
    // Box of the skinned positions.
    void fitBox();
    // Replaces the bone bindings (k entries).
    bool setBindings(int32_t k);

    int32_t boneCount = 0;
    MDL_VertexGroup** vertexGroups = nullptr;
    MDL_Bone** boneList = nullptr;
    v3 boxMin{0, 0, 0}, boxMax{0, 0, 0};
    uint8_t locked = 0;
    v3* skinnedPositions = nullptr;
    v3* skinnedNormals = nullptr;
    MDL_Face* faces = nullptr;
};

// Skinning takes fused multiply-adds in 4-wide registers where the processor
// has them, plain arithmetic elsewhere (the two round differently). Tests
// turn the wide path off to check the plain one; returns whether the wide
// path is now taken.
bool MDL_iSetWideSkinning(bool allow);
