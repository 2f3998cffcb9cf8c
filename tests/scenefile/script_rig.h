// The script rig of the engine's own tests with a package holding a scene
// file, a picture and a broken file.
#pragma once

#include <string>
#include <vector>

#include "SG_ImageWrite.h"
#include "SG_SceneWriter.h"
#include "tests/script/script_rig.h"

inline PackageFiles sceneRigFiles()
{
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
    return {{"scene.xml", SG_iWriteScene(s)},
            {"pic.png", std::string(pic.begin(), pic.end())},
            {"broken.xml", "<objects><object>\n"}};
}

struct Rig : ScriptRig {
    Rig() : ScriptRig(sceneRigFiles(), true) { controller->haltOnError = false; }
    std::string errors() const
    {
        std::string all;
        for (const auto& e : controller->errors) all += e + "\n";
        return all;
    }
};
