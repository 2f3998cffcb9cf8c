// The resource classes newTexture and newModelsSet, and newAnimationData
// (keyframe data of a models set, handed to the animation class).
#pragma once

#include "script/LMP_Binding.h"

class VIEW_Texture;
class MDL_ModelsSet;
struct MDL_AnimationData;

class LMP_Texture : public LMP_Proxy {
public:
    LMP_Texture() = default;             // a proxy for an existing texture
    explicit LMP_Texture(lua_State* L);  // newTexture(file name [, filter])
    VIEW_Texture* texture() const { return static_cast<VIEW_Texture*>(model); }

    int deleteTexture(lua_State* L);
    int getBinaryAlpha(lua_State* L);

    static constexpr const char* scriptName = "newTexture";
    static const LMP_MethodEntry<LMP_Texture> methods[];
};

class LMP_ModelsSet : public LMP_Proxy {
public:
    LMP_ModelsSet() = default;             // a proxy for an existing set
    explicit LMP_ModelsSet(lua_State* L);  // newModelsSet(file name)
    MDL_ModelsSet* set() const { return static_cast<MDL_ModelsSet*>(model); }

    int getNames(lua_State* L);
    int get(lua_State* L);
    int getAnimationData(lua_State* L);
    int deleteSet(lua_State* L);

    static constexpr const char* scriptName = "newModelsSet";
    static const LMP_MethodEntry<LMP_ModelsSet> methods[];
};

class LMP_AnimationData : public LMP_Proxy {
public:
    LMP_AnimationData() = default;
    explicit LMP_AnimationData(lua_State*) {}  // stands for nothing
    MDL_AnimationData* data() const { return static_cast<MDL_AnimationData*>(model); }

    static constexpr const char* scriptName = "newAnimationData";
    static const LMP_MethodEntry<LMP_AnimationData> methods[];
};

// Push the record's proxy, making and linking it on first use; nil for null.
int LMP_iPushTexture(lua_State* L, VIEW_Texture* texture);
int LMP_iPushAnimationData(lua_State* L, MDL_AnimationData* data);
// The texture of a newTexture argument, or null (no error) when the value is
// no texture or its texture is gone.
VIEW_Texture* LMP_iToTexture(lua_State* L, int index);
