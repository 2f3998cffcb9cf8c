// The Mesh class through the engine: clones of a scene file's mesh, copy on
// write of materials, vertex edits on shared data, textures and messages.
#include <gtest/gtest.h>

#include <string>

#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "physics/MDL_Scene.h"
#include "tests/scenefile/script_rig.h"

TEST(ScriptMesh, ClonesShareDataAndCopyMaterialsOnWrite)
{
    Rig rig;
    EXPECT_TRUE(rig.run(R"(
        set = newModelsSet('scene.xml')
        scene = newScene('s')
        a = newMesh(scene, set:get('Crate'))
        b = newMesh(scene, set:get('Crate'))
        assert(a:getNumVertices() == 24)
        a:setColor(color(0, 1, 0, 1))
        assert(a:getColor():g() == 1 and b:getColor():g() == 0)   -- b keeps the file's material
        a:getMaterial():setDiffuse(color(0, 0, 1, 1))
        assert(b:getColor():b() == 0)
        a:setReceiveShadow(false)
        a:setCastShadow(false)
        assert(a:getDisplayMode() == 0); a:setDisplayMode(1); assert(a:getDisplayMode() == 1)
    )")) << rig.errors();
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();
    MDL_ModelsSet* set = rig.controller->modelsSets[0];
    MDL_Mesh* file = static_cast<MDL_Mesh*>(MDL_ModelsSet::getObject(set, "Crate"));
    EXPECT_DOUBLE_EQ(file->material->diffuse[0], 1.0);
    EXPECT_EQ(file->material->shadeless, 0);
    EXPECT_EQ(file->material->castShadows, 1);
}

TEST(ScriptMesh, VertexColoursAndPositions)
{
    Rig rig;
    EXPECT_TRUE(rig.run(R"(
        set = newModelsSet('scene.xml')
        scene = newScene('s')
        a = newMesh(scene, set:get('Crate'))
        b = newMesh(scene, set:get('Crate'))
        assert(select('#', a:getVertexColor(0)) == 0 and select('#', a:getVertexColor(25)) == 0)
        assert(a:getVertexColor(2):a() < 1)
        a:setVertexColor(1, color(1, 1, 1, 0.5))
        a:setVertexColor(30, color(1, 1, 1, 0.5))   -- outside: nothing happens
        a:setVertexPosition(1, v3(9, 8, 7))
        assert(b:getVertexPosition(1):x() == 9)      -- the data are shared
        assert(select('#', a:getVertexPosition(0)) == 0)
    )")) << rig.errors();
    MDL_MeshData* d = rig.controller->modelsSets[0]->meshData[0];
    EXPECT_EQ(d->translucentColorCount, 2);
    EXPECT_TRUE(rig.run("a:setVertexColor(1, color(1, 1, 1, 1))")) << rig.errors();
    EXPECT_EQ(d->translucentColorCount, 1);
    EXPECT_TRUE(rig.run("a:setVertexColor(5, color(0, 0, 0, 0)); a:resetVertexColor(); a:resetVertexPosition()\n"
                        "assert(a:getVertexPosition(1):x() ~= 9)"))
        << rig.errors();
    EXPECT_EQ(d->translucentColorCount, 1);
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();
}

// The shadow builder trusts face normals only while they match the
// positions: a script's vertex edit marks them out of date.
TEST(ScriptMesh, VertexEditsMarkFaceNormalsOutOfDate)
{
    Rig rig;
    ASSERT_TRUE(rig.run("set = newModelsSet('scene.xml') a = newMesh(newScene('s'), set:get('Crate'))")) << rig.errors();
    MDL_MeshData* d = rig.controller->modelsSets[0]->meshData[0];
    EXPECT_EQ(d->faceNormalsCurrent, 1);
    ASSERT_TRUE(rig.run("a:setVertexPosition(1, v3(9, 8, 7))")) << rig.errors();
    EXPECT_EQ(d->faceNormalsCurrent, 0);
    d->computeFaceNormals();
    EXPECT_EQ(d->faceNormalsCurrent, 1);
    ASSERT_TRUE(rig.run("a:resetVertexPosition()")) << rig.errors();
    EXPECT_EQ(d->faceNormalsCurrent, 0);
}

TEST(ScriptMesh, TexturesAndFreshMeshes)
{
    Rig rig;
    EXPECT_TRUE(rig.run(R"(
        scene = newScene('s')
        m = newMesh(scene)
        assert(m:getNumVertices() == 0)
        assert(select('#', m:getColor()) == 0 and select('#', m:getMaterial()) == 0)
        assert(select('#', m:getTexture()) == 0 and select('#', m:getVertexPosition(1)) == 0)
        t1 = newTexture('pic.png'); t2 = newTexture('pic.png')
        m:setTexture(t1)
        assert(m:getTexture() == t1)
        m:getMaterial():addLayer()
        m:setTexture(t2)                              -- the last layer
        assert(m:getTexture() == t1 and m:getMaterial():getTexture(1) == t2)
    )")) << rig.errors();
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();
    for (const char* code : {"m:setTexture('x')", "m:setTexture()"}) {
        rig.controller->errors.clear();
        rig.run(code);
        ASSERT_EQ(rig.controller->errors.size(), 1u) << code;
        EXPECT_NE(rig.controller->errors[0].find("Texture argument expected"), std::string::npos) << rig.errors();
    }
}

// Deleting the models set leaves the clones with their data (the sanitizer
// build reports any use of freed memory).
TEST(ScriptMesh, ClonesOutliveTheirDeletedModelsSet)
{
    Rig rig;
    EXPECT_TRUE(rig.run(R"(
        set = newModelsSet('scene.xml')
        scene = newScene('s')
        a = newMesh(scene, set:get('Crate'))
        set:delete()
        assert(a:getNumVertices() == 24 and a:getColor():r() == 1)
        a:setColor(color(0.5, 0.5, 0.5, 1))
        assert(a:getVertexPosition(3) ~= nil)
    )")) << rig.errors();
    EXPECT_EQ(rig.controller->modelsSets.count, 0);
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();
}

// The demo's scene script on its own scene file: it lists and clones the
// file's objects and leaves the file's material as it was.
TEST(DemoScene, ScriptClonesTheSceneFile)
{
    Rig rig;
    std::string files[2];
    const char* names[2] = {"scene.lua", "scene.xml"};
    for (int i = 0; i < 2; i++) {
        FILE* f = std::fopen((std::string(HALVORIN_SOURCE_DIR "/content/demo/") + names[i]).c_str(), "rb");
        ASSERT_NE(f, nullptr) << names[i];
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) files[i].append(buf, n);
        std::fclose(f);
    }
    // A package of the two demo files only.
    CTRL_iResizeByteBuffer(rig.controller->package, 0);
    delete rig.controller->package;
    rig.controller->package = makePackage({{names[0], files[0]}, {names[1], files[1]}});

    EXPECT_TRUE(rig.run(R"(
        local demo = require("scene")
        assert(demo.camera and demo.objects["Floor"] and demo.objects["Crate"] and demo.objects["Sun"])
        assert(demo.objects["Crate"]:getChildrenCount() == 1)
    )")) << rig.errors();
    EXPECT_TRUE(rig.controller->errors.empty()) << rig.errors();
    EXPECT_NE(rig.log.text().find("scene: meshes: Floor, Crate, Pillar"), std::string::npos) << rig.log.text();
    EXPECT_NE(rig.log.text().find("file colour"), std::string::npos) << rig.log.text();
}
