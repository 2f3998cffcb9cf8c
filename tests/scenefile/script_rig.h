// A real script engine with a test controller that records its error
// stops, and a package holding a scene file, a picture and a broken file.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lua.hpp>

#include "SG_ImageWrite.h"
#include "SG_SceneWriter.h"
#include "controller/CTRL_Generic.h"
#include "package/CTRL_File.h"
#include "script/LMP_Engine.h"



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
inline void addRecord(std::vector<uint8_t>& out, const std::string& name, const std::string& data)
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
        s.meshes[0].colors.assign(24 * 4, 255);
        s.meshes[0].colors[7] = 0x40;  // vertex 2 is translucent
        SG_PngSpec png;
        png.width = 3;
        png.height = 2;
        png.samples.assign(18, 7);
        std::vector<uint8_t> pic = SG_iEncodePng(png);
        s.textures.push_back({"Pic", pic, ""});
        SG_Material m;
        m.name = "Red";
        m.diffuse = {1, 0, 0};
        m.textures = {"Pic"};
        s.materials.push_back(m);
        s.objects = {{"Mesh", "Crate", {}, "", "Box", "Red", "", "", {}},
                     {"Mesh", "Lid", {}, "Crate", "Box", "", "", "", {}},
                     {"Lamp", "Lamp", {}, "", "", "", "", "<type>Sun</type>", {}}};
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

