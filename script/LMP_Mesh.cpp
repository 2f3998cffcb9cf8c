#include <cmath>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "script/LMP_CheckArgs.h"
#include "script/LMP_MeshClass.h"
#include "script/LMP_ObjectClass.h"
#include "script/LMP_TextureClass.h"
#include "script/LMP_Values.h"

static MDL_Object* LMP_iMakeMesh()
{
    return new MDL_Mesh();
}

LMP_Mesh::LMP_Mesh(lua_State* L)
{
    LMP_iConstructObject(this, L, scriptName, &LMP_iMakeMesh);
}

const char* LMP_Mesh::className() const
{
    return scriptName;
}

MDL_Mesh* LMP_Mesh::mesh() const
{
    MDL_Object* o = object();
    if (!o || (o->type != OBJECT_MESH && o->type != OBJECT_ANIMATED_MESH)) return nullptr;
    return static_cast<MDL_Mesh*>(o);
}

static void LMP_iPushColorOf(lua_State* L, const double* c)
{
    std::memcpy(LMP_iPushColor(L), c, 4 * sizeof(double));
}

int LMP_Mesh::setOwnMaterial(lua_State* L)
{
    LMP_iCheckArgs(L, "");  // runs even after a report of extra arguments
    if (MDL_Mesh* m = mesh()) m->setOwnMaterial();
    return 0;
}

int LMP_Mesh::setColor(lua_State* L)
{
    double* c = nullptr;
    if (!LMP_iCheckArgs(L, "C", &c)) return 0;
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    m->setOwnMaterial();
    std::memcpy(m->material->diffuse, c, 4 * sizeof(double));
    return 0;
}

int LMP_Mesh::getColor(lua_State* L)
{
    MDL_Mesh* m = mesh();
    if (!m || !m->material) return 0;
    LMP_iPushColorOf(L, m->material->diffuse);
    return 1;
}

int LMP_Mesh::setTexture(lua_State* L)
{
    int top = lua_gettop(L);
    VIEW_Texture* t = top >= 1 ? LMP_iToTexture(L, top) : nullptr;
    if (!t) {
        LMP_iReportError(L, "Texture argument expected");
        return 0;
    }
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    m->setOwnMaterial();
    MDL_Material* mat = m->material;
    if (mat->layers.count == 0 && !mat->appendLayer(MDL_TextureLayer::makeDefault())) return 0;
    mat->setLayerTexture(mat->layers.count - 1, t);
    return 0;
}

int LMP_Mesh::getTexture(lua_State* L)
{
    MDL_Mesh* m = mesh();
    if (!m || !m->material || m->material->layers.count == 0 || !m->material->layers[0].texture) return 0;
    return LMP_iPushTexture(L, m->material->layers[0].texture);
}

int LMP_Mesh::setCastShadow(lua_State* L)
{
    uint8_t b = 0;
    if (!LMP_iCheckArgs(L, "B", &b)) return 0;
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    m->setOwnMaterial();
    m->material->castShadows = b;
    return 0;
}

int LMP_Mesh::setReceiveShadow(lua_State* L)
{
    uint8_t b = 0;
    if (!LMP_iCheckArgs(L, "B", &b)) return 0;
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    m->setOwnMaterial();
    m->material->shadeless = !b;
    return 0;
}

int LMP_Mesh::getMaterial(lua_State* L)
{
    MDL_Mesh* m = mesh();
    if (!m || !m->material) return 0;
    return LMP_iPushMaterial(L, m->material);
}

int LMP_Mesh::getDisplayMode(lua_State* L)
{
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    lua_pushnumber(L, m->displayMode);
    return 1;
}

int LMP_Mesh::setDisplayMode(lua_State* L)
{
    int32_t mode = 0;
    if (!LMP_iCheckArgs(L, "I", &mode)) return 0;
    if (MDL_Mesh* m = mesh()) m->displayMode = uint32_t(mode);
    return 0;
}

int LMP_Mesh::getNumVertices(lua_State* L)
{
    MDL_Mesh* m = mesh();
    if (!m) return 0;
    lua_pushnumber(L, m->meshData ? m->meshData->vertexCount : 0);
    return 1;
}

int LMP_Mesh::getVertexColor(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i)) return 0;
    MDL_Mesh* m = mesh();
    if (!m || !m->meshData || !m->meshData->colors || i < 1 || i > m->meshData->colorCount) return 0;
    LMP_iPushColorOf(L, m->meshData->colors + 4 * size_t(i - 1));
    return 1;
}

int LMP_Mesh::setVertexColor(lua_State* L)
{
    int32_t i = 0;
    double* c = nullptr;
    if (!LMP_iCheckArgs(L, "IC", &i, &c)) return 0;
    MDL_Mesh* m = mesh();
    MDL_MeshData* d = m ? m->meshData : nullptr;
    if (!d || !d->colors || i < 1 || i > d->colorCount) return 0;
    if (!d->colorsBackup) {
        d->colorsBackup = static_cast<double*>(std::malloc(sizeof(double) * 4 * size_t(d->colorCount)));
        if (d->colorsBackup) std::memcpy(d->colorsBackup, d->colors, sizeof(double) * 4 * size_t(d->colorCount));
    }
    double* slot = d->colors + 4 * size_t(i - 1);
    if (c[3] != 1.0 && slot[3] == 1.0) d->translucentColorCount++;
    if (c[3] == 1.0 && slot[3] != 1.0) d->translucentColorCount--;
    std::memcpy(slot, c, 4 * sizeof(double));
    m->geometryChanged = 1;
    return 0;
}

int LMP_Mesh::resetVertexColor(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    MDL_Mesh* m = mesh();
    MDL_MeshData* d = m ? m->meshData : nullptr;
    if (!d || !d->colorsBackup) return 0;
    std::memcpy(d->colors, d->colorsBackup, sizeof(double) * 4 * size_t(d->colorCount));
    d->translucentColorCount = d->countTranslucentColors();
    m->geometryChanged = 1;
    return 0;
}

int LMP_Mesh::getVertexPosition(lua_State* L)
{
    int32_t i = 0;
    if (!LMP_iCheckArgs(L, "I", &i)) return 0;
    MDL_Mesh* m = mesh();
    if (!m || !m->meshData || !m->meshData->positions || i < 1 || i > m->meshData->vertexCount) return 0;
    std::memcpy(LMP_iPushV3(L), m->meshData->positions + 3 * size_t(i - 1), 3 * sizeof(double));
    return 1;
}

int LMP_Mesh::setVertexPosition(lua_State* L)
{
    int32_t i = 0;
    double* v = nullptr;
    if (!LMP_iCheckArgs(L, "IV", &i, &v)) return 0;
    MDL_Mesh* m = mesh();
    MDL_MeshData* d = m ? m->meshData : nullptr;
    if (!d || !d->positions || i < 1 || i > d->vertexCount) return 0;
    if (!d->positionsBackup) {
        d->positionsBackup = static_cast<double*>(std::malloc(sizeof(double) * 3 * size_t(d->vertexCount)));
        if (d->positionsBackup)
            std::memcpy(d->positionsBackup, d->positions, sizeof(double) * 3 * size_t(d->vertexCount));
    }
    std::memcpy(d->positions + 3 * size_t(i - 1), v, 3 * sizeof(double));
    d->faceNormalsCurrent = 0;
    m->geometryChanged = 1;
    return 0;
}

int LMP_Mesh::resetVertexPosition(lua_State* L)
{
    LMP_iCheckArgs(L, "");
    MDL_Mesh* m = mesh();
    MDL_MeshData* d = m ? m->meshData : nullptr;
    if (!d || !d->positionsBackup) return 0;
    std::memcpy(d->positions, d->positionsBackup, sizeof(double) * 3 * size_t(d->vertexCount));
    d->faceNormalsCurrent = 0;
    m->geometryChanged = 1;
    return 0;
}

const LMP_MethodEntry<LMP_Mesh> LMP_Mesh::methods[] = {
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
    {"getNumVertices", &LMP_Mesh::getNumVertices},
    {"getVertexColor", &LMP_Mesh::getVertexColor},
    {"setVertexColor", &LMP_Mesh::setVertexColor},
    {"resetVertexColor", &LMP_Mesh::resetVertexColor},
    {"getVertexPosition", &LMP_Mesh::getVertexPosition},
    {"setVertexPosition", &LMP_Mesh::setVertexPosition},
    {"resetVertexPosition", &LMP_Mesh::resetVertexPosition},
    {nullptr, nullptr},
};

LMP_BIND_CLASS(Mesh, LMP_Mesh);
