#include <cstring>

#include <lua.hpp>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Object.h"
#include "package/CTRL_PackageLoad.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_TextureClass.h"

// ---------------------------------------------------------------- newTexture

LMP_Texture::LMP_Texture(lua_State* L)
{
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller) return;
    const char* name = nullptr;
    int32_t filter = 0;
    if (!LMP_iCheckArgs(L, "S|I", &name, &filter)) return;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    bool owned = CTRL_iReadPackageFile(controller, name, &data, &size, false);
    if (!data) {
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    VIEW_Texture* t = new VIEW_Texture(name, data, size, owned ? 1 : 0);
    t->filter = uint32_t(filter);
    if (!controller->textures.append(t)) {
        delete t;
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    model = t;
    LMP_iAssignProxy(&t->proxy, this);
}

// The render pass frees the texture at its next frame (once no material
// layer uses it); the proxy lets go of it now. Only textures of the
// controller's list are the scripts' to release: a video's picture or a
// scene file's texture belongs to its owner, and it and its proxy (which
// the owner's getters hand out again) stay as they are.
int LMP_Texture::deleteTexture(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller || !texture() || controller->textures.indexOf(texture()) < 0) return 0;
    texture()->releaseRequested = 1;
    model = nullptr;
    return 0;
}

int LMP_Texture::getBinaryAlpha(lua_State* L)
{
    if (!texture()) return 0;
    lua_pushboolean(L, texture()->binaryAlpha != 0);
    return 1;
}

const LMP_MethodEntry<LMP_Texture> LMP_Texture::methods[] = {
    {"delete", &LMP_Texture::deleteTexture},
    {"getBinaryAlpha", &LMP_Texture::getBinaryAlpha},
    LMP_iSetter<LMP_Texture, &VIEW_Texture::binaryAlpha>("setBinaryAlpha"),
    LMP_iGetter<LMP_Texture, &VIEW_Texture::filter>("getFilter"),
    LMP_iSetter<LMP_Texture, &VIEW_Texture::filter>("setFilter"),
    {nullptr, nullptr},
};

int LMP_iPushTexture(lua_State* L, VIEW_Texture* texture)
{
    if (!texture) {
        lua_pushnil(L);
        return 1;
    }
    LMP_Binding<LMP_Texture>::pushRecord(L, texture);
    return 1;
}

VIEW_Texture* LMP_iToTexture(lua_State* L, int index)
{
    if (index == 0 || lua_isnone(L, index)) return nullptr;
    LMP_Proxy** slot = LMP_Binding<LMP_Texture>::test(L, index);
    if (!slot || !*slot) return nullptr;
    return static_cast<VIEW_Texture*>((*slot)->model);
}

// ---------------------------------------------------------------- newModelsSet

LMP_ModelsSet::LMP_ModelsSet(lua_State* L)
{
    CTRL_Generic* controller = LMP_iGetController(L);
    if (!controller) return;
    const char* name = nullptr;
    if (!LMP_iCheckArgs(L, "S", &name)) return;
    MDL_ModelsSet* s = MDL_iLoadModelsSet(controller, name);
    if (!s) {
        LMP_iReportError(L, "File %s not found", name);
        return;
    }
    model = s;
    LMP_iAssignProxy(&s->proxy, this);
}

int LMP_ModelsSet::getNames(lua_State* L)
{
    int32_t kind = 0;
    if (!LMP_iCheckArgs(L, "I", &kind) || !set()) return 0;
    int n = 0;
    for (MDL_Object* o : set()->objects)
        if (o->type == kind && !o->parent) n++;
    if (n == 0) return 0;
    lua_createtable(L, n, 0);
    int i = 0;
    for (MDL_Object* o : set()->objects) {
        if (o->type != kind || o->parent) continue;
        if (o->name) lua_pushstring(L, o->name);
        else lua_pushnil(L);
        lua_rawseti(L, -2, ++i);
    }
    return 1;
}

int LMP_ModelsSet::get(lua_State* L)
{
    const char* name = nullptr;
    if (!LMP_iCheckArgs(L, "S", &name) || !set()) return 0;
    MDL_Object* o = MDL_ModelsSet::getObject(set(), name);
    if (!o) {
        lua_pushnil(L);
        return 1;
    }
    return LMP_iPushProxy(L, o);
}

int LMP_ModelsSet::getAnimationData(lua_State* L)
{
    const char* name = nullptr;
    if (!LMP_iCheckArgs(L, "S", &name) || !set()) return 0;
    for (MDL_AnimationData* a : set()->animationData)
        if (a->name && std::strcmp(a->name, name) == 0) return LMP_iPushAnimationData(L, a);
    return 0;
}

// The set leaves the controller's list at once; its objects go with it,
// while its data stay until no clone or animation uses them.
int LMP_ModelsSet::deleteSet(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    CTRL_Generic* controller = LMP_iGetController(L);
    MDL_ModelsSet* s = set();
    if (!controller || !s) return 0;
    int32_t i = controller->modelsSets.indexOf(s);
    if (i >= 0) {
        controller->modelsSets.removeAt(i);
        MDL_ModelsSet::release(s);
    }
    model = nullptr;
    return 0;
}

const LMP_MethodEntry<LMP_ModelsSet> LMP_ModelsSet::methods[] = {
    {"getNames", &LMP_ModelsSet::getNames},
    {"get", &LMP_ModelsSet::get},
    {"getAnimationData", &LMP_ModelsSet::getAnimationData},
    {"delete", &LMP_ModelsSet::deleteSet},
    {nullptr, nullptr},
};

// ---------------------------------------------------------------- newAnimationData

const LMP_MethodEntry<LMP_AnimationData> LMP_AnimationData::methods[] = {
    {nullptr, nullptr},
};

int LMP_iPushAnimationData(lua_State* L, MDL_AnimationData* data)
{
    if (!data) {
        lua_pushnil(L);
        return 1;
    }
    if (!data->proxy) {
        LMP_AnimationData* p = new LMP_AnimationData();
        p->model = data;
        LMP_iAssignProxy(&data->proxy, p);
    }
    LMP_Binding<LMP_AnimationData>::push(L, static_cast<LMP_AnimationData*>(data->proxy));
    return 1;
}

LMP_BIND_CLASS(Texture, LMP_Texture);
LMP_BIND_CLASS(ModelsSet, LMP_ModelsSet);
LMP_BIND_CLASS(AnimationData, LMP_AnimationData);
