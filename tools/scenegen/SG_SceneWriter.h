// Scene-file writer: builds the XML text of a scene file (textures as
// lowercase hex, meshes with hex-encoded arrays, materials, vertex groups,
// animations and objects). Used for test fixtures and the demo content.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SG_Texture {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string filter;  // empty: no attribute
};

struct SG_Material {
    std::string name;
    std::vector<double> ambient, diffuse, specular;  // empty: not written
    std::vector<double> shininess, alpha;
    int shadeless = -1, mirror = -1, castShadows = -1;  // -1: not written
    std::vector<std::string> textures;
    std::vector<std::vector<double>> colors;
};

struct SG_Mesh {
    std::string name;
    std::vector<double> positions, normals, uvs;   // 3, 3, 2 per vertex
    std::vector<uint8_t> colors;                   // 4 bytes per vertex
    std::vector<uint32_t> triangles;               // 3 per triangle
    std::vector<uint32_t> neighbours;              // written when not empty
    double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    bool doubleSided = false;
    int realSize = 8;   // 4 or 8
    int indexSize = 4;  // 2 or 4
};

struct SG_VertexGroup {
    std::string name;
    std::vector<int32_t> vertices;
    std::vector<double> weights;
    int indexSize = 4;  // 2 or 4
};

struct SG_Key {
    double time;
    double location[3], rotation[3], scale[3];
};

struct SG_Animation {
    std::string name;
    std::vector<SG_Key> keys;
};

struct SG_Object {
    std::string type;  // type name as written
    std::string name;
    std::vector<double> matrix;  // 16 numbers when set
    std::string parent, mesh, material;
    std::string volumeType;
    std::string extra;  // raw XML children (lamp, camera and bone elements)
    std::vector<std::pair<std::string, std::string>> bindings;  // (vertex group, bone)
};

struct SG_Scene {
    std::vector<SG_Texture> textures;
    std::vector<SG_Material> materials;
    std::vector<SG_Mesh> meshes;
    std::vector<SG_VertexGroup> groups;
    std::vector<SG_Animation> animations;
    std::vector<SG_Object> objects;
};

std::string SG_iHex(const uint8_t* bytes, size_t n);
std::string SG_iHexReals(const std::vector<double>& values, int size);
std::string SG_iHexIndices(const std::vector<uint32_t>& values, int size);
std::string SG_iWriteScene(const SG_Scene& scene);

// Bounding box from the positions.
void SG_iFitBox(SG_Mesh& mesh);
// A flat nx x ny grid of quads in the x-y plane, centred, side length size.
SG_Mesh SG_iMakeGrid(const std::string& name, int nx, int ny, double size);
// An axis-aligned box of the given half extents, 24 vertices (flat normals).
SG_Mesh SG_iMakeBox(const std::string& name, double hx, double hy, double hz);
// A UV sphere of the given radius: rings from pole to pole, segments round
// the z axis (smooth normals).
SG_Mesh SG_iMakeSphere(const std::string& name, double radius, int rings, int segments);
// A column-major 4x4 matrix: identity basis scaled by s at (x, y, z).
std::vector<double> SG_iTranslation(double x, double y, double z, double s = 1.0);
