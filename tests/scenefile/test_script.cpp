// The Texture, ModelsSet and Material classes through the real engine, with
// a test controller whose package holds a scene file and a picture.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lua.hpp>

#include "SG_ImageWrite.h"
#include "SG_SceneWriter.h"
#include "controller/CTRL_Generic.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "package/CTRL_File.h"
#include "script/LMP_Engine.h"
#include "script/LMP_MeshClass.h"

namespace {

class RecordingController : public CTRL_Generic {
public:
    explicit RecordingController(LMP_Engine* e) : CTRL_Generic(e) {}
    void stopOnError(const char* format, ...) override
    {
        char text[4096];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format ? format : "", args);
        va_end(args);
        errors.push_back(text);
    }
    std::vector<std::string> errors;
};

// Stored (uncompressed) package records.
void addRecord(std::vector<uint8_t>& out, const std::string& name, const std::string& data)
{
    auto u16 = [&](uint32_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    u32(0x04034b50);
    u16(20), u16(0), u16(0), u16(0), u16(0);
    u32(0), u32(uint32_t(data.size())), u32(uint32_t(data.size()));
    u16(uint32_t(name.size())), u16(0);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), data.begin(), data.end());
}

struct Rig {
    Rig()
    {
        engine = new LMP_Engine();
        controller = new RecordingController(engine);
        L = engine->luaState();
        SG_Scene s;
        s.meshes.push_back(SG_iMakeBox("Box", 1, 1, 1));
        SG_Material m;
        m.name = "Red";
        m.diffuse = {1, 0, 0};
        s.materials.push_back(m);
        s.objects = {{"Mesh", "Crate", {}, "", "Box", "Red", "", "", {}},
                     {"Mesh", "Lid", {}, "Crate", "Box", "", "", "", {}},
                     {"Lamp", "Lamp", {}, "", "", "", "", "<type>Sun</type>", {}}};
        SG_PngSpec png;
        png.width = 3;
        png.height = 2;
        png.samples.assign(18, 7);
        std::vector<uint8_t> pic = SG_iEncodePng(png);
        std::vector<uint8_t> bytes;
        addRecord(bytes, "scene.xml", SG_iWriteScene(s));
        addRecord(bytes, "pic.png", std::string(pic.begin(), pic.end()));
        addRecord(bytes, "broken.xml", "<objects><object>\n");
        controller->package = new CTRL_Package();
        CTRL_iResizeByteBuffer(controller->package, uint32_t(bytes.size()));
        std::memcpy(controller->package->data, bytes.data(), bytes.size());
    }
    ~Rig() { delete controller; }

    bool run(const std::string& code)
    {
        if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK) {
            controller->errors.push_back(lua_tostring(L, -1));
            lua_pop(L, 1);
            return false;
        }
        return engine->protectedCall(0, 0);
    }
    std::string errors() const
    {
        std::string all;
        for (const auto& e : controller->errors) all += e + "\n";
        return all;
    }

    CTRL_DebugCapture log;
    LMP_Engine* engine;
    RecordingController* controller;
    lua_State* L;
};

}  // namespace

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
