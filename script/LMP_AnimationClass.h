// The script classes of moving characters: newAnimation (keyframe tracks),
// newAnimatedMesh (skinned meshes), newLocator (empty markers) and newBone
// (skeleton bones, which scripts get from the tree but cannot make).
#pragma once

#include "script/LMP_Binding.h"
#include "script/LMP_MeshClass.h"

class MDL_Animation;
class MDL_AnimatedMesh;
class MDL_Bone;

class LMP_Animation : public LMP_Proxy {
public:
    explicit LMP_Animation(lua_State* L);  // newAnimation(data, object)
    MDL_Animation* animation() const { return static_cast<MDL_Animation*>(model); }

    int play(lua_State* L);
    int pause(lua_State* L);
    int isPlaying(lua_State* L);
    int seek(lua_State* L);
    int getTime(lua_State* L);
    int getDuration(lua_State* L);
    int setSpeed(lua_State* L);
    int getSpeed(lua_State* L);

    static constexpr const char* scriptName = "newAnimation";
    static const LMP_MethodEntry<LMP_Animation> methods[];
};

class LMP_AnimatedMesh : public LMP_Mesh {
public:
    LMP_AnimatedMesh() = default;             // a proxy for an existing animated mesh
    explicit LMP_AnimatedMesh(lua_State* L);  // newAnimatedMesh(scene or parent [, source])
    const char* className() const override;
    MDL_AnimatedMesh* animatedMesh() const;

    int setLocked(lua_State* L);
    int update(lua_State* L);

    static constexpr const char* scriptName = "newAnimatedMesh";
    static const LMP_MethodEntry<LMP_AnimatedMesh> methods[];
};

class LMP_Locator : public LMP_Object {
public:
    LMP_Locator() = default;
    explicit LMP_Locator(lua_State* L);  // newLocator(scene or parent [, source])
    const char* className() const override;

    static constexpr const char* scriptName = "newLocator";
    static const LMP_MethodEntry<LMP_Locator> methods[];
};

class LMP_Bone : public LMP_Object {
public:
    LMP_Bone() = default;
    explicit LMP_Bone(lua_State* L);  // newBone(): refused, stands for nothing
    const char* className() const override;
    MDL_Bone* bone() const;

    int reset(lua_State* L);
    int movePoint(lua_State* L);

    static constexpr const char* scriptName = "newBone";
    static const LMP_MethodEntry<LMP_Bone> methods[];
};
