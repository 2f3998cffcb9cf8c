// Scene files: one XML file of the content package read into a models set
// that owns its textures, materials, mesh data, vertex groups, animation
// data and objects. Scripts clone the set's objects into physics worlds;
// the clones share the set's data, so the set stays alive (after a script
// deleted it) until the last mesh that uses its data is gone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/CTRL_Array.h"
#include "math/MDL_Frame.h"
#include "base/LMP_ProxyLink.h"

class CTRL_Generic;
class MDL_Object;
class MDL_Material;
class TiXmlDocument;
struct MDL_MeshData;
class VIEW_Texture;
class MDL_ModelsSet;

// The vertices one bone moves, with their weights and the rest data taken
// when the skeleton is bound.
struct MDL_VertexGroup {
    char* name = nullptr;
    int32_t count = 0;
    int32_t* vertices = nullptr;   // indices into the mesh data, each checked at binding
    double* weights = nullptr;
    v3* restPositions = nullptr;   // in the bone's axes at bind time
    v3* restNormals = nullptr;
    uint8_t normalized = 0;        // the weights were divided by the vertex sums once

    MDL_VertexGroup() = default;
    MDL_VertexGroup(const MDL_VertexGroup&) = delete;
    MDL_VertexGroup& operator=(const MDL_VertexGroup&) = delete;
    ~MDL_VertexGroup();
};

// Keyframes of one animation.
struct MDL_AnimationData {
    MDL_Proxy proxy = nullptr;
    char* name = nullptr;
    int32_t keyCount = 0;
    double* times = nullptr;
    v3* locations = nullptr;
    v3* rotations = nullptr;
    v3* scales = nullptr;
    MDL_ModelsSet* owner = nullptr;  // animations retain it while they play this data

    MDL_AnimationData() = default;
    MDL_AnimationData(const MDL_AnimationData&) = delete;
    MDL_AnimationData& operator=(const MDL_AnimationData&) = delete;
    ~MDL_AnimationData();
    void freeKeys();
};

class MDL_ModelsSet {
public:
    MDL_Proxy proxy = nullptr;
    char* name = nullptr;
    CTRL_Array<MDL_Object*> objects;
    CTRL_Array<MDL_Material*> materials;
    CTRL_Array<VIEW_Texture*> textures;
    CTRL_Array<MDL_MeshData*> meshData;
    CTRL_Array<MDL_AnimationData*> animationData;
    CTRL_Array<MDL_VertexGroup*> vertexGroups;

    // The controller that loaded the set (null for sets read from text).
    CTRL_Generic* controller = nullptr;
    // Copies of the set's meshes and animations of its data count here.
    uint32_t users = 0;
    // Set by release(): the owner let go; freed when users reaches 0.
    uint8_t released = 0;

    explicit MDL_ModelsSet(const char* fileName = nullptr);
    MDL_ModelsSet(const MDL_ModelsSet&) = delete;
    MDL_ModelsSet& operator=(const MDL_ModelsSet&) = delete;
    ~MDL_ModelsSet();

    // Frees everything the set owns (the record itself stays).
    static void destroy(MDL_ModelsSet* set);
    // First object whose name matches without regard to ASCII case.
    static MDL_Object* getObject(MDL_ModelsSet* set, const char* name);

    // The owner (controller list or script) gives the set up: it is
    // destroyed and freed now when nothing uses its data, else as soon as
    // the last user lets go. Its proxy link and its objects' links go at
    // once, and no viewport names its objects any more; the objects
    // themselves go at once too, unless a hold is open (below).
    static void release(MDL_ModelsSet* set);
    static void retainUse(MDL_ModelsSet* set);
    static void releaseUse(MDL_ModelsSet* set);

    // The reading steps, in this order.
    void readTextures(const TiXmlDocument& doc);
    void readMaterials(const TiXmlDocument& doc);
    void readMeshes(const TiXmlDocument& doc);
    void readAnimatedMeshes(const TiXmlDocument& doc);
    void readAnimations(const TiXmlDocument& doc);
    void readObjects(const TiXmlDocument& doc);
    void linkObjects(const TiXmlDocument& doc);
    void linkSkeletons(const TiXmlDocument& doc);
};

// While a hold is open, a set that is given up keeps its objects: a call
// that walks them is still running (a bone chain being moved, whose
// handlers may delete the set). Closing the last hold frees what waited.
class MDL_SetHold {
public:
    MDL_SetHold();
    ~MDL_SetHold();
    MDL_SetHold(const MDL_SetHold&) = delete;
    MDL_SetHold& operator=(const MDL_SetHold&) = delete;
};

// Loads a scene file of the controller's package and appends the set to the
// controller's list of scene files; null when the file is missing or is not
// XML that parses.
MDL_ModelsSet* MDL_iLoadModelsSet(CTRL_Generic* controller, const char* fileName);
// Loads from XML text (NUL-terminated) without a controller; the set is not
// registered anywhere. Null on empty text or a parse error.
MDL_ModelsSet* MDL_iLoadModelsSetFromText(const char* fileName, const char* text);
