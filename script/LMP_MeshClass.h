// The script classes newMesh (mesh objects) and newMaterial (their
// materials and texture layers).
#pragma once

#include "script/LMP_Binding.h"

class MDL_Mesh;
class MDL_Material;

class LMP_Mesh : public LMP_Object {
public:
    LMP_Mesh() = default;             // a proxy for an existing mesh
    explicit LMP_Mesh(lua_State* L);  // newMesh(scene or parent [, source mesh])
    const char* className() const override;
    MDL_Mesh* mesh() const;

    int setOwnMaterial(lua_State* L);
    int setColor(lua_State* L);
    int getColor(lua_State* L);
    int setTexture(lua_State* L);
    int getTexture(lua_State* L);
    int setCastShadow(lua_State* L);
    int setReceiveShadow(lua_State* L);
    int getMaterial(lua_State* L);
    int getDisplayMode(lua_State* L);
    int setDisplayMode(lua_State* L);
    int getNumVertices(lua_State* L);
    int getVertexColor(lua_State* L);
    int setVertexColor(lua_State* L);
    int resetVertexColor(lua_State* L);
    int getVertexPosition(lua_State* L);
    int setVertexPosition(lua_State* L);
    int resetVertexPosition(lua_State* L);

    static constexpr const char* scriptName = "newMesh";
    static const LMP_MethodEntry<LMP_Mesh> methods[];
};

class LMP_Material : public LMP_Proxy {
public:
    LMP_Material() = default;
    explicit LMP_Material(lua_State*) {}  // newMaterial(): stands for no material
    MDL_Material* material() const { return static_cast<MDL_Material*>(model); }

    int setAmbient(lua_State* L);
    int setDiffuse(lua_State* L);
    int setSpecular(lua_State* L);
    int getAmbient(lua_State* L);
    int getDiffuse(lua_State* L);
    int getSpecular(lua_State* L);
    int setColor(lua_State* L);
    int getColor(lua_State* L);
    int setTexture(lua_State* L);
    int getTexture(lua_State* L);
    int addLayer(lua_State* L);
    int deleteLayer(lua_State* L);
    int rotate(lua_State* L);
    int dilate(lua_State* L);
    int reset(lua_State* L);
    int translate(lua_State* L);

    static constexpr const char* scriptName = "newMaterial";
    static const LMP_MethodEntry<LMP_Material> methods[];
};

// Pushes the material's newMaterial proxy, making and linking it on first
// use; nil for null.
int LMP_iPushMaterial(lua_State* L, MDL_Material* material);
