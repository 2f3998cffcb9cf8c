#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "model/MDL_Animation.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Scene.h"
#include "script/LMP_AnimationClass.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_TextureClass.h"

// ---------------------------------------------------------------- newAnimation

// The target is the last argument and the data the one before it. The
// track joins the target's world; a target that is not an object, is gone,
// or stands in no world (an object of a scene file), and data that wrap
// nothing, give a proxy without a track.
LMP_Animation::LMP_Animation(lua_State* L)
{
    const int top = lua_gettop(L);
    LMP_Object* target = top >= 1 ? LMP_iToProxy(L, top) : nullptr;
    const int dataIndex = top >= 2 ? top - 1 : 1;
    MDL_AnimationData* data = LMP_Binding<LMP_AnimationData>::check(L, dataIndex)->data();
    MDL_Object* object = target ? target->object() : nullptr;
    if (!object || object->deleted || !object->scene || !data) return;
    MDL_Animation* animation = new MDL_Animation(object, data);
    if (!object->scene->animations.append(animation)) {
        delete animation;
        return;
    }
    model = animation;
    LMP_iAssignProxy(&animation->proxy, this);
}

int LMP_Animation::play(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    if (MDL_Animation* a = animation()) a->playing = 1;
    return 0;
}

int LMP_Animation::pause(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    if (MDL_Animation* a = animation()) a->playing = 0;
    return 0;
}

int LMP_Animation::isPlaying(lua_State* L)
{
    MDL_Animation* a = animation();
    if (!a) return 0;
    lua_pushboolean(L, a->playing);
    return 1;
}

// The time is kept at single precision, then the target is posed there
// without advancing.
int LMP_Animation::seek(lua_State* L)
{
    double t = 0;
    if (!LMP_iCheckArgs(L, "N", &t)) return 0;
    MDL_Animation* a = animation();
    if (!a) return 0;
    a->time = double(float(t));
    a->update(0.0);
    return 0;
}

int LMP_Animation::getTime(lua_State* L)
{
    MDL_Animation* a = animation();
    if (!a) return 0;
    lua_pushnumber(L, a->time);
    return 1;
}

int LMP_Animation::getDuration(lua_State* L)
{
    MDL_Animation* a = animation();
    if (!a) return 0;
    lua_pushnumber(L, a->endTime);
    return 1;
}

int LMP_Animation::setSpeed(lua_State* L)
{
    double s = 0;
    if (!LMP_iCheckArgs(L, "N", &s)) return 0;
    if (MDL_Animation* a = animation()) a->speed = s;
    return 0;
}

int LMP_Animation::getSpeed(lua_State* L)
{
    MDL_Animation* a = animation();
    if (!a) return 0;
    lua_pushnumber(L, a->speed);
    return 1;
}

const LMP_MethodEntry<LMP_Animation> LMP_Animation::methods[] = {
    {"play", &LMP_Animation::play},
    {"pause", &LMP_Animation::pause},
    {"isPlaying", &LMP_Animation::isPlaying},
    {"seek", &LMP_Animation::seek},
    {"getTime", &LMP_Animation::getTime},
    {"getDuration", &LMP_Animation::getDuration},
    {"setSpeed", &LMP_Animation::setSpeed},
    {"getSpeed", &LMP_Animation::getSpeed},
    {nullptr, nullptr},
};

// ---------------------------------------------------------------- newAnimatedMesh

static MDL_Object* LMP_iMakeAnimatedMesh()
{
    return new MDL_AnimatedMesh();
}

LMP_AnimatedMesh::LMP_AnimatedMesh(lua_State* L)
{
    LMP_iConstructObject(this, L, scriptName, &LMP_iMakeAnimatedMesh);
}

const char* LMP_AnimatedMesh::className() const
{
    return scriptName;
}

MDL_AnimatedMesh* LMP_AnimatedMesh::animatedMesh() const
{
    MDL_Object* o = object();
    return o && o->type == OBJECT_ANIMATED_MESH ? static_cast<MDL_AnimatedMesh*>(o) : nullptr;
}

int LMP_AnimatedMesh::setLocked(lua_State* L)
{
    uint8_t b = 0;
    if (!LMP_iCheckArgs(L, "B", &b)) return 0;
    if (MDL_AnimatedMesh* m = animatedMesh()) m->locked = b;
    return 0;
}

int LMP_AnimatedMesh::update(lua_State*)
{
    if (MDL_AnimatedMesh* m = animatedMesh()) m->update(true);
    return 0;
}

const LMP_MethodEntry<LMP_AnimatedMesh> LMP_AnimatedMesh::methods[] = {
    {"setOwnMaterial", &LMP_Mesh::setOwnMaterial},
    {"setColor", &LMP_Mesh::setColor},
    {"getColor", &LMP_Mesh::getColor},
    {"setTexture", &LMP_Mesh::setTexture},
    {"getTexture", &LMP_Mesh::getTexture},
    {"setCastShadow", &LMP_Mesh::setCastShadow},
    {"setReceiveShadow", &LMP_Mesh::setReceiveShadow},
    {"getMaterial", &LMP_Mesh::getMaterial},
    {"getDisplayMode", &LMP_Mesh::getDisplayMode},
    {"setDisplayMode", &LMP_Mesh::setDisplayMode},
    {"setLocked", &LMP_AnimatedMesh::setLocked},
    {"update", &LMP_AnimatedMesh::update},
    {nullptr, nullptr},
};

// ---------------------------------------------------------------- newLocator

static MDL_Object* LMP_iMakeLocator()
{
    return new MDL_Locator();
}

LMP_Locator::LMP_Locator(lua_State* L)
{
    LMP_iConstructObject(this, L, scriptName, &LMP_iMakeLocator);
}

const char* LMP_Locator::className() const
{
    return scriptName;
}

const LMP_MethodEntry<LMP_Locator> LMP_Locator::methods[] = {
    {nullptr, nullptr},
};

// ---------------------------------------------------------------- newBone

LMP_Bone::LMP_Bone(lua_State* L)
{
    LMP_iReportError(L, "Unsupported usage of a Lua constructor LMP_Bone");
}

const char* LMP_Bone::className() const
{
    return scriptName;
}

MDL_Bone* LMP_Bone::bone() const
{
    MDL_Object* o = object();
    return o && o->type == OBJECT_BONE ? static_cast<MDL_Bone*>(o) : nullptr;
}

int LMP_Bone::reset(lua_State*)
{
    if (MDL_Bone* b = bone()) b->reset();
    return 0;
}

int LMP_Bone::movePoint(lua_State* L)
{
    double* point = nullptr;
    double* target = nullptr;
    if (!LMP_iCheckArgs(L, "VV", &point, &target)) return 0;
    CTRL_Generic* controller = LMP_iGetController(L);
    MDL_Bone* b = bone();
    if (!controller || !b) return 0;
    const v3 p{point[0], point[1], point[2]}, t{target[0], target[1], target[2]};
    // The chain may be a scene file's, and a CB_MOVED handler may delete that
    // file: its bones stay until the move is over.
    MDL_SetHold hold;
    b->movePoint(p, t, controller->engine);
    return 0;
}

const LMP_MethodEntry<LMP_Bone> LMP_Bone::methods[] = {
    {"reset", &LMP_Bone::reset},
    {"movePoint", &LMP_Bone::movePoint},
    {nullptr, nullptr},
};

LMP_BIND_CLASS(AnimatedMesh, LMP_AnimatedMesh);
LMP_BIND_CLASS(Bone, LMP_Bone);
LMP_BIND_CLASS(Animation, LMP_Animation);
LMP_BIND_CLASS(Locator, LMP_Locator);
