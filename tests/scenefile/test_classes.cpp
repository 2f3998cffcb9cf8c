// The Texture, ModelsSet and Material classes on a bare Lua state: records
// made here are handed to scripts through the classes' own push paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <lua.hpp>

#include "SG_SceneWriter.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "script/LMP_MeshClass.h"
#include "script/LMP_TextureClass.h"
#include "script/LMP_Values.h"

namespace {

class ClassTest : public ::testing::Test {
protected:
    lua_State* L = nullptr;
    void SetUp() override
    {
        L = luaL_newstate();
        luaL_openlibs(L);
        LMP_iOpenValues(L);
        LMP_Binding<LMP_Texture>::registerClass(L);
        LMP_Binding<LMP_ModelsSet>::registerClass(L);
        LMP_Binding<LMP_AnimationData>::registerClass(L);
        LMP_Binding<LMP_Material>::registerClass(L);
    }
    void TearDown() override { lua_close(L); }
    // Runs a chunk; the test fails with the script's message on an error.
    void run(const char* code)
    {
        if (luaL_dostring(L, code)) {
            ADD_FAILURE() << lua_tostring(L, -1);
            lua_pop(L, 1);
        }
    }
};

}  // namespace

TEST_F(ClassTest, TextureFlagsAndDelete)
{
    VIEW_Texture* t = new VIEW_Texture("t.png", static_cast<uint8_t*>(std::calloc(1, 1)), 1, 1);
    LMP_iPushTexture(L, t);
    lua_setglobal(L, "tex");
    LMP_iPushTexture(L, t);
    lua_setglobal(L, "same");
    run("assert(tex == same)\n"
        "assert(tex:getBinaryAlpha() == false and tex:getFilter() == 0)\n"
        "tex:setBinaryAlpha(true); tex:setFilter(7)\n"
        "assert(tex:getBinaryAlpha() == true and tex:getFilter() == 7)\n");
    EXPECT_EQ(t->binaryAlpha, 1);
    // Without a controller delete does nothing.
    run("tex:delete()");
    EXPECT_EQ(t->releaseRequested, 0);
    delete t;  // the proxy loses its record; the script value stays safe
    run("assert(tex:getFilter() == nil)");
}

TEST_F(ClassTest, ModelsSetNamesAndAnimationData)
{
    SG_Scene s;
    s.animations.push_back({"Walk", {{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}}});
    s.objects = {{"Lamp", "L1", {}, "", "", "", "", "<type>Lamp</type>", {}},
                 {"Lamp", "L2", {}, "", "", "", "", "<type>Sun</type>", {}},
                 {"Lamp", "child", {}, "L1", "", "", "", "<type>Lamp</type>", {}},
                 {"Mesh", "M", {}, "", "", "", "", "", {}}};
    MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("s.xml", SG_iWriteScene(s).c_str());
    ASSERT_NE(set, nullptr);
    auto* p = new LMP_ModelsSet();
    p->model = set;
    LMP_iAssignProxy(&set->proxy, p);
    LMP_Binding<LMP_ModelsSet>::push(L, p);
    lua_setglobal(L, "set");
    run("local lamps = set:getNames(OBJECT_LAMP or 1)\n"
        "assert(#lamps == 2 and lamps[1] == 'L1' and lamps[2] == 'L2')  -- children are not listed\n"
        "assert(select('#', set:getNames(OBJECT_TEXT or 8)) == 0)        -- no value, not an empty table\n"
        "assert(set:get('nobody') == nil and select('#', set:get('nobody')) == 1)\n"
        "local walk = set:getAnimationData('Walk')\n"
        "assert(walk ~= nil and walk == set:getAnimationData('Walk'))\n"
        "assert(select('#', set:getAnimationData('walk')) == 0)          -- exact name\n");
    delete set;
    run("assert(select('#', set:getNames(1)) == 0)");
}

TEST_F(ClassTest, MaterialLayers)
{
    MDL_Material* m = new MDL_Material();
    VIEW_Texture* t = new VIEW_Texture("t.png", nullptr, 0, 0);
    LMP_iPushMaterial(L, m);
    lua_setglobal(L, "mat");
    LMP_iPushTexture(L, t);
    lua_setglobal(L, "tex");
    run("mat:addLayer(tex); mat:addLayer()\n"
        "assert(mat:getTexture(0) == tex and mat:getTexture(1) == nil)\n"
        "mat:setColor(1, color(0.1, 0.2, 0.3, 0.4))\n"
        "local c = mat:getColor(1); assert(c:a() == 0.4 and c:r() == 0.1)\n"
        "assert(select('#', mat:getColor(2)) == 0 and select('#', mat:getColor(-1)) == 0)\n"
        "mat:setDiffuse(color(1, 0, 0, 0.5)); assert(mat:getDiffuse():a() == 0.5)\n"
        "mat:translate(0, v2(1, 0)); mat:dilate(0, v2(0, 0), 2)\n"
        "mat:setTexture(1, tex); assert(mat:getTexture(1) == tex)\n"
        "mat:setTexture(1, 'no texture')\n"
        "mat:deleteLayer(0)\n");
    ASSERT_EQ(m->layers.count, 1);
    EXPECT_EQ(m->layers[0].texture, t);
    EXPECT_EQ(t->users, 1u);
    EXPECT_DOUBLE_EQ(m->layers[0].color[2], 0.3);
    // dilate doubles the distance of the translation from the centre
    run("mat:addLayer(); mat:translate(1, v2(1, 1)); mat:dilate(1, v2(0.5, 0.5), 2)\n"
        "mat:rotate(1, v2(0, 0), 90)\n");
    ASSERT_EQ(m->layers.count, 2);
    const MDL_Frame& f = m->layers[1].uvTransform;
    EXPECT_NEAR(f.position.x, -1.5, 1e-12);  // (1.5, 1.5) turned by 90 degrees
    EXPECT_NEAR(f.position.y, 1.5, 1e-12);
    EXPECT_NEAR(f.basis.c[0].y, 2.0, 1e-12);
    EXPECT_EQ(f.inverseDirty, 1);
    run("mat:reset(1); mat:deleteLayer(0); mat:deleteLayer(0)");
    EXPECT_EQ(m->layers.count, 0);
    EXPECT_EQ(t->users, 0u);
    run("assert(select('#', mat:getColor(0)) == 0)");

    // A material proxy without material does nothing.
    run("local empty = newMaterial(); empty:addLayer(tex); empty:setAmbient(color(1,1,1,1))\n"
        "assert(select('#', empty:getAmbient()) == 0)");
    MDL_Material::destroy(m);
    delete t;
}
