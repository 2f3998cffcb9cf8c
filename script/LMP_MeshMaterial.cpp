#include <cmath>
#include <cstring>

#include <lua.hpp>

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_MeshClass.h"
#include "script/LMP_TextureClass.h"
#include "script/LMP_Values.h"

static const double LMP_DEG_TO_RAD = 0.017453292519943295;

static void LMP_iPushColorOf(lua_State* L, const double* c)
{
    std::memcpy(LMP_iPushColor(L), c, 4 * sizeof(double));
}

// ---------------------------------------------------------------- newMaterial

int LMP_iPushMaterial(lua_State* L, MDL_Material* material)
{
    if (!material) {
        lua_pushnil(L);
        return 1;
    }
    if (!material->proxy || !dynamic_cast<LMP_Material*>(material->proxy)) {
        LMP_Material* p = new LMP_Material();
        p->model = material;
        LMP_iAssignProxy(&material->proxy, p);  // releases any other proxy it held
    }
    LMP_Binding<LMP_Material>::push(L, static_cast<LMP_Material*>(material->proxy));
    return 1;
}

// The layer at a script index, or null after reporting a bad index.
static MDL_TextureLayer* LMP_iLayer(lua_State* L, MDL_Material* m, int32_t index)
{
    if (index < 0 || index >= m->layers.count) {
        LMP_iReportError(L, "Material layer %d does not exist", index);
        return nullptr;
    }
    return &m->layers[index];
}

static int LMP_iSetMaterialColor(LMP_Material* self, lua_State* L, double* target)
{
    double* c = nullptr;
    if (!LMP_iCheckArgs(L, "C", &c) || !self->material()) return 0;
    std::memcpy(target, c, 4 * sizeof(double));
    return 0;
}

int LMP_Material::setAmbient(lua_State* L)
{
    return LMP_iSetMaterialColor(this, L, material() ? material()->ambient : nullptr);
}

int LMP_Material::setDiffuse(lua_State* L)
{
    return LMP_iSetMaterialColor(this, L, material() ? material()->diffuse : nullptr);
}

int LMP_Material::setSpecular(lua_State* L)
{
    return LMP_iSetMaterialColor(this, L, material() ? material()->specular : nullptr);
}

int LMP_Material::getAmbient(lua_State* L)
{
    if (!material()) return 0;
    LMP_iPushColorOf(L, material()->ambient);
    return 1;
}

int LMP_Material::getDiffuse(lua_State* L)
{
    if (!material()) return 0;
    LMP_iPushColorOf(L, material()->diffuse);
    return 1;
}

int LMP_Material::getSpecular(lua_State* L)
{
    if (!material()) return 0;
    LMP_iPushColorOf(L, material()->specular);
    return 1;
}

int LMP_Material::setColor(lua_State* L)
{
    int32_t i = 0;
    double* c = nullptr;
    if (!LMP_iCheckArgs(L, "IC", &i, &c) || !material()) return 0;
    if (MDL_TextureLayer* layer = LMP_iLayer(L, material(), i)) std::memcpy(layer->color, c, 4 * sizeof(double));
    return 0;
}

int LMP_Material::getColor(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    LMP_iPushColorOf(L, layer->color);
    return 1;
}

int LMP_Material::setTexture(lua_State* L)
{
    int top = lua_gettop(L);
    if (top < 2) {
        LMP_iReportError(L, "Texture argument expected");
        return 0;
    }
    int32_t i = int32_t(luaL_checkinteger(L, top - 1));
    VIEW_Texture* t = LMP_iToTexture(L, top);
    if (!t) {
        LMP_iReportError(L, "Texture argument expected");
        return 0;
    }
    if (!material() || !LMP_iLayer(L, material(), i)) return 0;
    material()->setLayerTexture(i, t);
    return 0;
}

int LMP_Material::getTexture(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    if (!layer->texture || !layer->texture->proxy) {
        lua_pushnil(L);
        return 1;
    }
    return LMP_iPushTexture(L, layer->texture);
}

int LMP_Material::addLayer(lua_State* L)
{
    if (!material()) return 0;
    int top = lua_gettop(L);
    VIEW_Texture* t = top >= 1 ? LMP_iToTexture(L, top) : nullptr;
    material()->appendLayer(MDL_TextureLayer::makeDefault(t));
    return 0;
}

int LMP_Material::deleteLayer(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i) || !material()) return 0;
    if (LMP_iLayer(L, material(), i)) material()->deleteLayer(i);
    return 0;
}

int LMP_Material::rotate(lua_State* L)
{
    int32_t i = 0;
    double* centre = nullptr;
    double degrees = 0;
    if (!LMP_iCheckArgs(L, "IWN", &i, &centre, &degrees) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    double a = degrees * LMP_DEG_TO_RAD, c = std::cos(a), s = std::sin(a);
    const v3 z{0, 0, 1};
    MDL_Frame& f = layer->uvTransform;
    f.inverseDirty = 1;
    for (v3& col : f.basis.c) v3::rotateByCosSin(col, z, c, s);
    f.position.x -= centre[0];
    f.position.y -= centre[1];
    v3::rotateByCosSin(f.position, z, c, s);
    f.position.x += centre[0];
    f.position.y += centre[1];
    return 0;
}

int LMP_Material::dilate(lua_State* L)
{
    int32_t i = 0;
    double* centre = nullptr;
    double k = 1;
    if (!LMP_iCheckArgs(L, "IWN", &i, &centre, &k) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    MDL_Frame& f = layer->uvTransform;
    f.inverseDirty = 1;
    for (v3& col : f.basis.c) col *= k;
    f.position.x = (f.position.x - centre[0]) * k + centre[0];
    f.position.y = (f.position.y - centre[1]) * k + centre[1];
    f.position.z *= k;
    return 0;
}

int LMP_Material::reset(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    layer->uvTransform.position = {0, 0, 0};
    layer->uvTransform.basis = m33::identity();
    layer->uvTransform.inverseDirty = 1;
    return 0;
}

int LMP_Material::translate(lua_State* L)
{
    int32_t i = 0;
    double* d = nullptr;
    if (!LMP_iCheckArgs(L, "IW", &i, &d) || !material()) return 0;
    MDL_TextureLayer* layer = LMP_iLayer(L, material(), i);
    if (!layer) return 0;
    layer->uvTransform.position.x += d[0];
    layer->uvTransform.position.y += d[1];
    layer->uvTransform.inverseDirty = 1;
    return 0;
}

const LMP_MethodEntry<LMP_Material> LMP_Material::methods[] = {
    {"setAmbient", &LMP_Material::setAmbient},
    {"setDiffuse", &LMP_Material::setDiffuse},
    {"setSpecular", &LMP_Material::setSpecular},
    {"getAmbient", &LMP_Material::getAmbient},
    {"getDiffuse", &LMP_Material::getDiffuse},
    {"getSpecular", &LMP_Material::getSpecular},
    {"setColor", &LMP_Material::setColor},
    {"getColor", &LMP_Material::getColor},
    {"setTexture", &LMP_Material::setTexture},
    {"getTexture", &LMP_Material::getTexture},
    {"addLayer", &LMP_Material::addLayer},
    {"deleteLayer", &LMP_Material::deleteLayer},
    {"rotate", &LMP_Material::rotate},
    {"dilate", &LMP_Material::dilate},
    {"reset", &LMP_Material::reset},
    {"translate", &LMP_Material::translate},
    {nullptr, nullptr},
};

LMP_BIND_CLASS(Material, LMP_Material);
