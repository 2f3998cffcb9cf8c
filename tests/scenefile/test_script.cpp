// The Texture, ModelsSet and Material classes through the real engine, with
// a test controller whose package holds a scene file and a picture.
#include <gtest/gtest.h>

#include <string>

#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "script/LMP_MeshClass.h"
#include "tests/scenefile/script_rig.h"


TEST(ScriptTexture, LoadFlagsAndDelete)
{
    Rig rig;
    EXPECT_TRUE(rig.run("tex = newTexture('pic.png', 2)\n"
                        "assert(tex:getFilter() == 2 and tex:getBinaryAlpha() == false)\n"))
        << rig.errors();
    ASSERT_EQ(rig.controller->textures.count, 1);
    VIEW_Texture* t = rig.controller->textures[0];
    EXPECT_EQ(t->width, 3u);
    EXPECT_EQ(t->filter, 2u);
    EXPECT_TRUE(rig.run("tex:delete(); assert(select('#', tex:getFilter()) == 0)")) << rig.errors();
    EXPECT_EQ(t->releaseRequested, 1);
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();

    EXPECT_TRUE(rig.run("missing = newTexture('nothing.png'); assert(select('#', missing:getFilter()) == 0)"));
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_NE(rig.controller->errors[0].find("File nothing.png not found"), std::string::npos) << rig.errors();
}

TEST(ScriptModelsSet, NamesGetAndDelete)
{
    Rig rig;
    EXPECT_TRUE(rig.run("set = newModelsSet('scene.xml')\n"
                        "local meshes = set:getNames(OBJECT_MESH)\n"
                        "assert(#meshes == 1 and meshes[1] == 'Crate')\n"
                        "assert(select('#', set:getNames(OBJECT_CAMERA)) == 0)\n"
                        "assert(set:get('nobody') == nil and select('#', set:get('nobody')) == 1)\n"
                        "assert(select('#', set:getAnimationData('x')) == 0)\n"))
        << rig.errors();
    ASSERT_EQ(rig.controller->modelsSets.count, 1);
    EXPECT_TRUE(rig.run("set:delete(); assert(select('#', set:getNames(OBJECT_MESH)) == 0); set:delete()"))
        << rig.errors();
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();

    for (const char* name : {"missing.xml", "broken.xml"}) {
        rig.controller->errors.clear();
        rig.run(std::string("newModelsSet('") + name + "')");
        ASSERT_EQ(rig.controller->errors.size(), 1u) << name;
        EXPECT_NE(rig.controller->errors[0].find(std::string("File ") + name + " not found"), std::string::npos)
            << rig.errors();
    }
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
}

TEST(ScriptMaterial, LayerMessages)
{
    Rig rig;
    MDL_Material* m = new MDL_Material();
    m->appendLayer(MDL_TextureLayer::makeDefault());
    LMP_iPushMaterial(rig.L, m);
    lua_setglobal(rig.L, "mat");
    struct Case {
        const char* code;
        const char* message;
    } cases[] = {
        {"mat:getColor(1)", "Material layer 1 does not exist"},
        {"mat:deleteLayer(-1)", "Material layer -1 does not exist"},
        {"mat:setTexture(0, 5)", "Texture argument expected"},
        {"mat:setTexture()", "Texture argument expected"},
    };
    for (const Case& c : cases) {
        rig.controller->errors.clear();
        rig.run(c.code);
        ASSERT_EQ(rig.controller->errors.size(), 1u) << c.code;
        EXPECT_NE(rig.controller->errors[0].find(c.message), std::string::npos) << rig.errors();
    }
    rig.controller->errors.clear();
    EXPECT_TRUE(rig.run("mat:deleteLayer(0)")) << rig.errors();
    rig.run("mat:getColor(0)");
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_NE(rig.controller->errors[0].find("Material layer 0 does not exist"), std::string::npos);
    MDL_Material::destroy(m);
}

// A texture of a deleted set that a material outside the set still uses
// moves to the controller's list and waits there until no layer uses it.
TEST(ScriptModelsSet, TextureUsedOutsideOutlivesTheSet)
{
    Rig rig;
    MDL_ModelsSet* set = MDL_iLoadModelsSet(rig.controller, "scene.xml");
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->textures.count, 1);
    VIEW_Texture* pic = set->textures[0];
    MDL_Mesh fresh;
    fresh.setOwnMaterial();
    fresh.material->appendLayer(MDL_TextureLayer::makeDefault(pic));
    rig.controller->modelsSets.removeAt(rig.controller->modelsSets.indexOf(set));
    MDL_ModelsSet::release(set);
    ASSERT_EQ(rig.controller->textures.count, 1);
    EXPECT_EQ(rig.controller->textures[0], pic);
    EXPECT_FALSE(pic->canFree());
    EXPECT_EQ(pic->width, 3u);
    fresh.material->deleteLayer(0);
    EXPECT_TRUE(pic->canFree());
}

// A scene file nested far deeper than the parser's stack allows fails as an
// unreadable file does, and leaves nothing behind.
TEST(ScriptModelsSet, DeeplyNestedFileFailsAsUnreadable)
{
    const int levels = 100000;
    std::string deep = "<objects>";
    for (int i = 0; i < levels; i++) deep += "<object>";
    for (int i = 0; i < levels; i++) deep += "</object>";
    deep += "</objects>\n";
    PackageFiles files = sceneRigFiles();
    files.push_back({"deep.xml", deep});
    ScriptRig rig(files, true);
    rig.controller->haltOnError = false;
    rig.run("newModelsSet('deep.xml')");
    ASSERT_EQ(rig.controller->errors.size(), 1u);
    EXPECT_NE(rig.controller->errors[0].find("File deep.xml not found"), std::string::npos) << rig.controller->errors[0];
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
    // The same rig still reads an ordinary scene file.
    rig.controller->errors.clear();
    EXPECT_TRUE(rig.run("assert(newModelsSet('scene.xml'))"));
    EXPECT_EQ(rig.controller->modelsSets.count, 1);
}
