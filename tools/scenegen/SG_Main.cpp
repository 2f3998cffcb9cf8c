// scenegen fixtures FIXTURE_DIR SEED_DIR : test fixtures and fuzz seeds
// scenegen demo FILE                     : the demo's scene file
// scenegen physics FILE                  : the demo's physics room
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "SG_ImageWrite.h"
#include "SG_SceneWriter.h"

namespace fs = std::filesystem;

static bool SG_iWrite(const fs::path& path, const std::string& bytes)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) std::fprintf(stderr, "scenegen: cannot write %s\n", path.c_str());
    return bool(out);
}

static bool SG_iWrite(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    return SG_iWrite(path, std::string(bytes.begin(), bytes.end()));
}

// A checkerboard in two colours, RGB.
static std::vector<uint8_t> SG_iChecker(uint32_t w, uint32_t h, uint32_t cell, const uint8_t a[3], const uint8_t b[3])
{
    std::vector<uint8_t> p;
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            const uint8_t* c = ((x / cell + y / cell) & 1) ? a : b;
            p.insert(p.end(), c, c + 3);
        }
    return p;
}

static std::vector<uint8_t> SG_iPngRgb(uint32_t w, uint32_t h, const std::vector<uint8_t>& px)
{
    SG_PngSpec s;
    s.width = w;
    s.height = h;
    s.colorType = 2;
    s.samples.assign(px.begin(), px.end());
    return SG_iEncodePng(s);
}

static SG_Scene SG_iDemoScene()
{
    SG_Scene s;
    const uint8_t light[3] = {200, 200, 190}, dark[3] = {90, 100, 110};
    const uint8_t wood[3] = {170, 120, 60}, wood2[3] = {140, 95, 45};
    s.textures.push_back({"floor.png", SG_iPngRgb(64, 64, SG_iChecker(64, 64, 8, light, dark)), "mipmap"});
    s.textures.push_back({"crate.jpg", SG_iEncodeJpeg(64, 64, 3, SG_iChecker(64, 64, 16, wood, wood2), 85), "linear"});

    SG_Material floor;
    floor.name = "Floor";
    floor.diffuse = {0.9, 0.9, 0.9};
    floor.shininess = {10};
    floor.textures = {"floor.png"};
    SG_Material crate;
    crate.name = "Crate";
    crate.specular = {0.3, 0.3, 0.3};
    crate.textures = {"crate.jpg"};
    SG_Material glass;
    glass.name = "Glass";
    glass.diffuse = {0.4, 0.6, 1.0};
    glass.alpha = {0.5};
    glass.castShadows = 0;
    s.materials = {floor, crate, glass};

    SG_Mesh grid = SG_iMakeGrid("FloorMesh", 10, 10, 20.0);
    for (double& uv : grid.uvs) uv *= 4;  // the checker repeats across the floor
    s.meshes.push_back(grid);
    s.meshes.push_back(SG_iMakeBox("CrateMesh", 1, 1, 1));
    s.meshes.push_back(SG_iMakeBox("PillarMesh", 0.4, 0.4, 2));

    s.objects.push_back({"Mesh", "Floor", SG_iTranslation(0, 0, 0), "", "FloorMesh", "Floor", "", "", {}});
    s.objects.push_back({"Mesh", "Crate", SG_iTranslation(-2, 1, 1), "", "CrateMesh", "Crate", "", "", {}});
    s.objects.push_back({"Mesh", "Small crate", SG_iTranslation(0, 0, 1.5, 0.5), "Crate", "CrateMesh", "Crate", "", "", {}});
    s.objects.push_back({"Mesh", "Pillar", SG_iTranslation(3, -1, 2), "", "PillarMesh", "Glass", "", "", {}});
    s.objects.push_back({"Lamp", "Lamp", SG_iTranslation(2, -4, 6), "", "", "", "",
                         "   <type>Lamp</type>\n   <color>1 0.95 0.9</color>\n   <energy>1</energy>\n"
                         "   <distance>40</distance>\n   <shadows>1</shadows>\n",
                         {}});
    s.objects.push_back({"Lamp", "Sun", {0.8, 0, -0.6, 0, 0, 1, 0, 0, 0.6, 0, 0.8, 0, 0, 0, 10, 1}, "", "", "", "",
                         "   <type>Sun</type>\n   <color>0.4 0.4 0.5</color>\n   <energy>0.5</energy>\n", {}});
    // Camera at (0, -12, 5) looking at the origin: its -Z axis points there.
    s.objects.push_back({"Camera", "Camera", {1, 0, 0, 0, 0, 0.3846, 0.9231, 0, 0, -0.9231, 0.3846, 0, 0, -12, 5, 1},
                         "", "", "", "", "   <angle>50</angle>\n   <clip_start>0.1</clip_start>\n   <clip_end>100</clip_end>\n",
                         {}});
    return s;
}

// The physics room of the demo: a floor, a crate and a ball that the script
// turns into bodies (each mesh carries its collision volume), a pendulum's
// bob, rod and pivot, two lamps and a camera.
static SG_Scene SG_iPhysicsScene()
{
    SG_Scene s;
    const uint8_t light[3] = {215, 215, 205}, dark[3] = {120, 130, 150};
    const uint8_t wood[3] = {190, 140, 70}, wood2[3] = {150, 100, 45};
    s.textures.push_back({"room.png", SG_iPngRgb(64, 64, SG_iChecker(64, 64, 8, light, dark)), "mipmap"});
    s.textures.push_back({"box.png", SG_iPngRgb(32, 32, SG_iChecker(32, 32, 8, wood, wood2)), "linear"});

    SG_Material floor;
    floor.name = "Room floor";
    floor.diffuse = {0.9, 0.9, 0.9};
    floor.textures = {"room.png"};
    SG_Material box;
    box.name = "Box";
    box.specular = {0.2, 0.2, 0.2};
    box.textures = {"box.png"};
    SG_Material ball;
    ball.name = "Ball";
    ball.diffuse = {0.9, 0.25, 0.2};
    ball.specular = {0.8, 0.8, 0.8};
    ball.shininess = {40};
    SG_Material metal;
    metal.name = "Metal";
    metal.diffuse = {0.55, 0.6, 0.7};
    metal.specular = {1, 1, 1};
    metal.shininess = {60};
    s.materials = {floor, box, ball, metal};

    SG_Mesh grid = SG_iMakeGrid("RoomFloorMesh", 8, 8, 10.0);
    for (double& uv : grid.uvs) uv *= 2;
    s.meshes.push_back(grid);
    s.meshes.push_back(SG_iMakeBox("BoxMesh", 1, 1, 1));
    s.meshes.push_back(SG_iMakeSphere("BallMesh", 1, 12, 20));
    s.meshes.push_back(SG_iMakeBox("RodMesh", 0.03, 0.03, 1));

    s.objects.push_back({"Mesh", "Room floor", SG_iTranslation(0, 0, 0), "", "RoomFloorMesh", "Room floor", "", "", {}});
    // A crate of 0.5 m and a ball of 0.3 m in radius; each volume takes its
    // size from the mesh above it.
    s.objects.push_back({"Mesh", "Crate", SG_iTranslation(0, 0, 0, 0.25), "", "BoxMesh", "Box", "", "", {}});
    s.objects.push_back({"CollisionVolume", "Crate volume", {}, "Crate", "", "", "box", "", {}});
    s.objects.push_back({"Mesh", "Ball", SG_iTranslation(0, 0, 0, 0.3), "", "BallMesh", "Ball", "", "", {}});
    s.objects.push_back({"CollisionVolume", "Ball volume", {}, "Ball", "", "", "sphere", "", {}});
    // The pendulum: a bob with its rod along its local z axis, up to the
    // pivot 1.5 m above the bob's centre.
    s.objects.push_back({"Mesh", "Bob", SG_iTranslation(0, 0, 0, 0.35), "", "BallMesh", "Metal", "", "", {}});
    s.objects.push_back({"Mesh", "Rod", {1 / 0.35, 0, 0, 0, 0, 1 / 0.35, 0, 0, 0, 0, 0.75 / 0.35, 0, 0, 0, 0.75 / 0.35, 1},
                         "Bob", "RodMesh", "Metal", "", "", {}});
    s.objects.push_back({"Mesh", "Pivot", SG_iTranslation(0, 0, 0, 0.08), "", "BallMesh", "Metal", "", "", {}});
    s.objects.push_back({"Lamp", "Room lamp", SG_iTranslation(-3, -5, 7), "", "", "", "",
                         "   <type>Lamp</type>\n   <color>1 0.97 0.92</color>\n   <energy>1.2</energy>\n"
                         "   <distance>30</distance>\n",
                         {}});
    s.objects.push_back({"Lamp", "Room sun", {0.8, 0, -0.6, 0, 0, 1, 0, 0, 0.6, 0, 0.8, 0, 0, 0, 10, 1}, "", "", "", "",
                         "   <type>Sun</type>\n   <color>0.45 0.45 0.5</color>\n   <energy>0.6</energy>\n", {}});
    // Camera at (0.3, -7.5, 3.8) looking down at (0.3, 0, 1): its -Z axis points there.
    s.objects.push_back({"Camera", "Room camera",
                         {1, 0, 0, 0, 0, 0.3497, 0.9368, 0, 0, -0.9368, 0.3497, 0, 0.3, -7.5, 3.8, 1}, "", "", "", "",
                         "   <angle>45</angle>\n   <clip_start>0.1</clip_start>\n   <clip_end>60</clip_end>\n", {}});
    return s;
}

// A small scene with every section, for tests and as a fuzz seed.
static SG_Scene SG_iFixtureScene()
{
    SG_Scene s = SG_iDemoScene();
    s.groups.push_back({"upper", {0, 1, 2, 3}, {1, 1, 0.5, 0.5}});
    s.animations.push_back({"Spin", {{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}, {2, {0, 0, 1}, {0, 0, 3.14}, {1, 1, 1}}}});
    s.objects.push_back({"Bone", "Bone", SG_iTranslation(0, 0, 1), "", "", "", "",
                         "   <original_matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1</original_matrix>\n", {}});
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "", "CrateMesh", "Crate", "", "", {{"upper", "Bone"}}});
    s.objects.push_back({"CollisionVolume", "Volume", {}, "", "", "", "sphere", "", {}});
    return s;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "demo") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iDemoScene())) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "physics") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iPhysicsScene())) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "fixtures") == 0) {
        fs::path fixtures = argv[2], seeds = argv[3];
        bool ok = SG_iWrite(fixtures / "scene.xml", SG_iWriteScene(SG_iFixtureScene()));
        ok = SG_iWrite(seeds / "scene" / "full.xml", SG_iWriteScene(SG_iFixtureScene())) && ok;
        SG_Scene small;
        small.meshes.push_back(SG_iMakeBox("b", 1, 1, 1));
        small.meshes[0].indexSize = 2;
        small.meshes[0].realSize = 4;
        small.objects.push_back({"mesh", "m", SG_iTranslation(1, 2, 3), "", "b", "", "", "", {}});
        ok = SG_iWrite(seeds / "scene" / "small.xml", SG_iWriteScene(small)) && ok;

        // Pictures over the colour types and depths the decoder handles.
        int n = 0;
        for (int type : {0, 2, 3, 4, 6})
            for (int depth : {1, 2, 4, 8, 16}) {
                bool allowed = type == 0 ? true : type == 3 ? depth <= 8 : depth >= 8;
                if (!allowed) continue;
                SG_PngSpec s;
                s.width = 9;
                s.height = 5;
                s.colorType = type;
                s.bitDepth = depth;
                s.interlace = (n % 2) == 1;
                int ch = type == 0 || type == 3 ? 1 : type == 4 ? 2 : type == 2 ? 3 : 4;
                uint32_t maxv = type == 3 ? (depth == 1 ? 1 : 3) : (1u << depth) - 1;
                for (int i = 0; i < 9 * 5 * ch; i++) s.samples.push_back(uint16_t((i * 37) % (maxv + 1)));
                if (type == 3) {
                    s.palette = {0, 0, 0, 255, 0, 0};
                    if (depth > 1) s.palette.insert(s.palette.end(), {0, 255, 0, 0, 0, 255});
                    s.trnsAlpha = {0, 128};
                }
                if (type == 2 && depth == 8) s.trnsColor = true;
                std::vector<uint8_t> png = SG_iEncodePng(s);
                std::string name = "t" + std::to_string(type) + "d" + std::to_string(depth) + ".png";
                ok = SG_iWrite(fixtures / name, png) && ok;
                ok = SG_iWrite(seeds / "image" / name, png) && ok;
                n++;
            }
        for (int comps : {1, 3}) {
            std::vector<uint8_t> jpg = SG_iEncodeJpeg(24, 16, comps, SG_iPattern(24, 16, comps), 80, comps == 1);
            std::string name = "c" + std::to_string(comps) + ".jpg";
            ok = SG_iWrite(fixtures / name, jpg) && ok;
            ok = SG_iWrite(seeds / "image" / name, jpg) && ok;
        }
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: scenegen fixtures FIXTURE_DIR SEED_DIR | scenegen demo FILE | scenegen physics FILE\n");
    return 2;
}
