// scenegen fixtures FIXTURE_DIR SEED_DIR : test fixtures and fuzz seeds
// scenegen demo FILE                     : the demo's scene file
// scenegen character FILE                : the demo character's scene file
#include <cmath>
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

// A tube along z from 0 to length: rings of `sides` vertices every `step`,
// with outward normals.
static SG_Mesh SG_iMakeTube(const std::string& name, double radius, double length, int rings, int sides)
{
    SG_Mesh m;
    m.name = name;
    for (int r = 0; r < rings; r++)
        for (int k = 0; k < sides; k++) {
            const double a = 2 * M_PI * k / sides, z = length * r / (rings - 1);
            m.positions.insert(m.positions.end(), {radius * std::cos(a), radius * std::sin(a), z});
            m.normals.insert(m.normals.end(), {std::cos(a), std::sin(a), 0.0});
            m.uvs.insert(m.uvs.end(), {double(k) / sides, double(r) / (rings - 1)});
        }
    for (int r = 0; r + 1 < rings; r++)
        for (int k = 0; k < sides; k++) {
            uint32_t a = uint32_t(r * sides + k), b = uint32_t(r * sides + (k + 1) % sides);
            uint32_t c = a + uint32_t(sides), d = b + uint32_t(sides);
            m.triangles.insert(m.triangles.end(), {a, b, d, a, d, c});
        }
    SG_iFitBox(m);
    return m;
}

// A 4 x 4 column-major matrix from three basis columns and a position.
static std::vector<double> SG_iFrame(const double x[3], const double y[3], const double z[3], const double p[3])
{
    return {x[0], x[1], x[2], 0, y[0], y[1], y[2], 0, z[0], z[1], z[2], 0, p[0], p[1], p[2], 1};
}

// The demo character: an arm of three bones (shoulder, elbow, wrist) inside
// a skinned tube, with a keyframe track that waves its elbow, and a door on
// a hinge that a second track swings open and shut; and a ground, a lamp
// and a camera for showing them on their own.
static SG_Scene SG_iCharacterScene()
{
    SG_Scene s;
    SG_Material skin;
    skin.name = "Skin";
    skin.diffuse = {0.95, 0.6, 0.35};
    skin.specular = {0.4, 0.4, 0.4};
    skin.shininess = {30};
    SG_Material wood;
    wood.name = "Wood";
    wood.diffuse = {0.6, 0.38, 0.18};
    wood.specular = {0.2, 0.2, 0.2};
    SG_Material stone;
    stone.name = "Stone";
    stone.diffuse = {0.55, 0.55, 0.6};
    SG_Material ground;
    ground.name = "Ground";
    ground.diffuse = {0.35, 0.45, 0.35};
    ground.shininess = {5};
    s.materials = {skin, wood, stone, ground};

    // The arm: 3.6 long, a bone every 1.2; each ring follows the bones whose
    // middle is near it, so that the skin bends smoothly at the joints.
    const double length = 3.6, segment = 1.2;
    const int rings = 25, sides = 16;
    s.meshes.push_back(SG_iMakeTube("ArmMesh", 0.22, length, rings, sides));
    const char* bones[3] = {"Shoulder", "Elbow", "Wrist"};
    for (int b = 0; b < 3; b++) {
        SG_VertexGroup g{std::string(bones[b]) + "Group", {}, {}};
        const double middle = segment * (b + 0.5);
        for (int r = 0; r < rings; r++) {
            const double z = length * r / (rings - 1);
            double w = 1 - std::fabs(z - middle) / segment;
            if ((b == 0 && z < middle) || (b == 2 && z > middle)) w = 1;  // the ends follow their bone alone
            if (w <= 0) continue;
            for (int k = 0; k < sides; k++) g.vertices.push_back(r * sides + k), g.weights.push_back(w);
        }
        s.groups.push_back(g);
    }
    s.meshes.push_back(SG_iMakeBox("DoorMesh", 0.6, 0.05, 1.0));
    s.meshes.push_back(SG_iMakeBox("PostMesh", 0.07, 0.07, 1.05));
    s.meshes.push_back(SG_iMakeGrid("GroundMesh", 4, 4, 7.0));

    s.animations.push_back({"DoorSwing",
                            {{0.0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}},
                             {1.5, {0, 0, 0}, {0, 0, 1.4}, {1, 1, 1}},
                             {3.0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}}});
    s.animations.push_back({"Wave",
                            {{0.0, {0, 0, segment}, {0, 0, 0}, {1, 1, 1}},
                             {1.0, {0, 0, segment}, {0, 0.9, 0}, {1, 1, 1}},
                             {2.0, {0, 0, segment}, {0, -0.4, 0}, {1, 1, 1}},
                             {3.0, {0, 0, segment}, {0, 0.9, 0}, {1, 1, 1}},
                             {4.0, {0, 0, segment}, {0, 0, 0}, {1, 1, 1}}}});

    s.objects.push_back({"None", "Character", SG_iTranslation(0, 0, 0), "", "", "", "", "", {}});
    s.objects.push_back({"Mesh", "CharacterGround", SG_iTranslation(0, 0, 0), "", "GroundMesh", "Ground", "", "", {}});
    // The elbow and the wrist are hinges about their y axes (they bend in
    // the plane the camera faces).
    const std::string hinge = "   <limit_xrot>0 0</limit_xrot>\n   <limit_zrot>0 0</limit_zrot>\n";
    const std::vector<double> shoulder = SG_iTranslation(-1.3, 0, 0);
    const std::vector<double> next = SG_iTranslation(0, 0, segment);
    auto bone = [](const char* name, const std::vector<double>& m, const char* parent, const std::string& more) {
        std::string original = "   <original_matrix>";
        char buf[32];
        for (double v : m) {
            std::snprintf(buf, sizeof buf, "%.17g ", v);
            original += buf;
        }
        original += "</original_matrix>\n";
        return SG_Object{"Bone", name, m, parent, "", "", "", original + more, {}};
    };
    s.objects.push_back(bone("Shoulder", shoulder, "Character", "   <limit_yrot>-70 70</limit_yrot>\n"));
    s.objects.push_back(bone("Elbow", next, "Shoulder", hinge + "   <limit_yrot>-130 130</limit_yrot>\n"));
    s.objects.push_back(bone("Wrist", next, "Elbow", hinge + "   <limit_yrot>-80 80</limit_yrot>\n"));
    s.objects.push_back({"AnimatedMesh", "Arm", shoulder, "Character", "ArmMesh", "Skin", "", "",
                         {{"ShoulderGroup", "Shoulder"}, {"ElbowGroup", "Elbow"}, {"WristGroup", "Wrist"}}});
    s.objects.push_back({"Mesh", "Post", SG_iTranslation(0.9, 0, 1.05), "Character", "PostMesh", "Stone", "", "", {}});
    s.objects.push_back({"None", "DoorHinge", SG_iTranslation(0.9, 0, 0), "Character", "", "", "", "", {}});
    s.objects.push_back({"Mesh", "Door", SG_iTranslation(0.65, 0, 1.0), "DoorHinge", "DoorMesh", "Wood", "", "", {}});

    s.objects.push_back({"Lamp", "CharacterLamp", SG_iTranslation(2, -5, 6), "", "", "", "",
                         "   <type>Lamp</type>\n   <color>1 0.97 0.92</color>\n   <energy>1.2</energy>\n"
                         "   <distance>30</distance>\n",
                         {}});
    // The camera looks at (0, 0, 1.6) from (0, -7.5, 2.6); its -Z axis points there.
    const double eye[3] = {0, -7.5, 2.6}, at[3] = {0, 0, 1.6};
    double z[3] = {eye[0] - at[0], eye[1] - at[1], eye[2] - at[2]};
    const double n = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (double& c : z) c /= n;
    const double x[3] = {1, 0, 0};
    const double y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    s.objects.push_back({"Camera", "CharacterCamera", SG_iFrame(x, y, z, eye), "", "", "", "",
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
    if (argc == 3 && std::strcmp(argv[1], "character") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iCharacterScene())) ? 0 : 1;
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
    std::fprintf(stderr, "usage: scenegen fixtures FIXTURE_DIR SEED_DIR | scenegen demo FILE | scenegen character FILE\n");
    return 2;
}
