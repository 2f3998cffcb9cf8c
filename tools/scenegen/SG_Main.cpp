// scenegen fixtures FIXTURE_DIR SEED_DIR : test fixtures and fuzz seeds
// scenegen demo FILE                     : the demo's scene file
// scenegen character FILE                : the demo character's scene file
// scenegen physics FILE                  : the demo's physics room
// scenegen corpus DIR                    : the committed seed corpora of the
//                                          picture and scene-file fuzz targets
//                                          (DIR/image, DIR/scene)
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

// A small rig for the script API fuzz target, quick to load: a crate, a
// chain of three bones with limits skinning a box, an animation, a volume,
// a lamp and a camera, and no pictures.
static SG_Scene SG_iSmallRigScene()
{
    SG_Scene s;
    SG_Material crate;
    crate.name = "Crate";
    crate.diffuse = {0.8, 0.6, 0.3};
    s.materials = {crate};
    s.meshes.push_back(SG_iMakeBox("CrateMesh", 0.5, 0.5, 0.5));
    s.groups.push_back({"upper", {0, 1, 2, 3}, {1, 1, 0.5, 0.5}});
    s.groups.push_back({"lower", {4, 5, 6, 7}, {1, 0.5, 1, 0.5}});
    s.animations.push_back({"Spin", {{0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}, {2, {0, 0, 1}, {0, 0, 3.14}, {1, 1, 1}}}});
    const std::string original = "   <original_matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1</original_matrix>\n";
    s.objects.push_back({"Mesh", "Crate", SG_iTranslation(-2, 1, 1), "", "CrateMesh", "Crate", "", "", {}});
    s.objects.push_back({"Mesh", "Small crate", SG_iTranslation(0, 0, 1.5, 0.5), "Crate", "CrateMesh", "Crate", "", "", {}});
    s.objects.push_back({"Bone", "Bone", SG_iTranslation(0, 0, 1), "", "", "", "",
                         original + "   <limit_yrot>-70 70</limit_yrot>\n", {}});
    s.objects.push_back({"Bone", "Elbow", SG_iTranslation(0, 0, 1), "Bone", "", "", "",
                         original + "   <limit_xrot>0 0</limit_xrot>\n   <limit_yrot>-130 130</limit_yrot>\n", {}});
    s.objects.push_back({"Bone", "Wrist", SG_iTranslation(0, 0, 1), "Elbow", "", "", "", original, {}});
    s.objects.push_back({"AnimatedMesh", "Skin", {}, "", "CrateMesh", "Crate", "", "", {{"upper", "Bone"}, {"lower", "Wrist"}}});
    s.objects.push_back({"CollisionVolume", "Volume", {}, "", "", "", "sphere", "", {}});
    s.objects.push_back({"Lamp", "Lamp", SG_iTranslation(2, -4, 6), "", "", "", "",
                         "   <type>Lamp</type>\n   <energy>1</energy>\n   <distance>20</distance>\n", {}});
    s.objects.push_back({"Camera", "Camera", {1, 0, 0, 0, 0, 0.3846, 0.9231, 0, 0, -0.9231, 0.3846, 0, 0, -12, 5, 1},
                         "", "", "", "", "   <angle>45</angle>\n", {}});
    return s;
}

// Seeds for the picture target: every colour type and depth, pictures with
// one long side, pictures large enough to be shrunk to a texture (a plain
// colour keeps their files small) and files cut short.
static bool SG_iImageCorpus(const fs::path& dir)
{
    bool ok = true;
    auto png = [&](const std::string& name, SG_PngSpec s) { ok = SG_iWrite(dir / (name + ".png"), SG_iEncodePng(s)) && ok; };
    auto plain = [](uint32_t w, uint32_t h, int type, int depth, uint16_t value) {
        SG_PngSpec s;
        s.width = w;
        s.height = h;
        s.colorType = type;
        s.bitDepth = depth;
        int ch = type == 0 || type == 3 ? 1 : type == 4 ? 2 : type == 2 ? 3 : 4;
        s.samples.assign(size_t(w) * h * ch, value);
        if (type == 3) s.palette = {10, 20, 30, 200, 100, 50};
        return s;
    };
    int n = 0;
    for (int type : {0, 2, 3, 4, 6})
        for (int depth : {1, 2, 4, 8, 16}) {
            bool allowed = type == 0 ? true : type == 3 ? depth <= 8 : depth >= 8;
            if (!allowed) continue;
            for (bool interlace : {false, true}) {
                SG_PngSpec s;
                s.width = 7 + n % 5;
                s.height = 3 + n % 4;
                s.colorType = type;
                s.bitDepth = depth;
                s.interlace = interlace;
                int ch = type == 0 || type == 3 ? 1 : type == 4 ? 2 : type == 2 ? 3 : 4;
                uint32_t maxv = type == 3 ? (depth == 1 ? 1 : 3) : (1u << depth) - 1;
                for (uint32_t i = 0; i < s.width * s.height * uint32_t(ch); i++)
                    s.samples.push_back(uint16_t((i * 37 + uint32_t(n)) % (maxv + 1)));
                if (type == 3) {
                    s.palette = {0, 0, 0, 255, 0, 0};
                    if (depth > 1) s.palette.insert(s.palette.end(), {0, 255, 0, 0, 0, 255});
                    s.trnsAlpha = {0, 128};
                }
                if ((type == 2 || type == 0) && depth == 8) s.trnsColor = true;
                png("t" + std::to_string(type) + "d" + std::to_string(depth) + (interlace ? "i" : ""), s);
                n++;
            }
        }
    png("one_pixel", plain(1, 1, 2, 8, 90));
    png("column", plain(1, 300, 0, 8, 7));
    png("row", plain(300, 1, 6, 8, 200));
    png("odd_sides", plain(257, 3, 2, 8, 33));
    png("large_grey", plain(4096, 4096, 0, 1, 1));
    png("large_rgb", plain(2048, 1024, 2, 8, 128));
    png("large_palette", plain(1500, 900, 3, 2, 1));
    png("wide_rgba", plain(4096, 16, 6, 16, 4000));
    png("tall_grey_alpha", plain(8, 3000, 4, 8, 60));
    std::vector<uint8_t> whole = SG_iEncodePng(plain(64, 64, 2, 8, 77));
    ok = SG_iWrite(dir / "no_end_chunk.png", std::vector<uint8_t>(whole.begin(), whole.end() - 12)) && ok;
    ok = SG_iWrite(dir / "half.png", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2)) && ok;
    ok = SG_iWrite(dir / "signature_only.png", std::vector<uint8_t>(whole.begin(), whole.begin() + 8)) && ok;

    struct Jpeg {
        const char* name;
        uint32_t w, h;
        int comps, quality;
        bool progressive;
    } jpegs[] = {
        {"grey", 24, 16, 1, 80, false},       {"grey_progressive", 24, 16, 1, 80, true},
        {"rgb", 33, 17, 3, 90, false},        {"rgb_progressive", 33, 17, 3, 50, true},
        {"cmyk", 16, 16, 4, 85, false},       {"rgb_low_quality", 40, 24, 3, 5, false},
        {"rgb_best", 8, 8, 3, 100, false},    {"one_pixel", 1, 1, 3, 90, false},
        {"wide", 1024, 8, 3, 70, false},      {"tall", 8, 900, 1, 70, true},
        {"large", 1600, 1200, 1, 30, false},
    };
    for (const Jpeg& j : jpegs) {
        std::vector<uint8_t> samples = j.w * j.h > 4096 ? std::vector<uint8_t>(size_t(j.w) * j.h * j.comps, 128)
                                                         : SG_iPattern(j.w, j.h, j.comps, j.w);
        std::vector<uint8_t> jpg = SG_iEncodeJpeg(j.w, j.h, j.comps, samples, j.quality, j.progressive);
        ok = SG_iWrite(dir / (std::string(j.name) + ".jpg"), jpg) && ok;
        if (std::string(j.name) == "rgb")
            ok = SG_iWrite(dir / "rgb_cut.jpg", std::vector<uint8_t>(jpg.begin(), jpg.begin() + jpg.size() * 2 / 3)) && ok;
    }
    return ok;
}

static std::string SG_iNested(const std::string& name, int levels)
{
    std::string s;
    for (int i = 0; i < levels; i++) s += "<" + name + ">";
    for (int i = 0; i < levels; i++) s += "</" + name + ">";
    return s;
}

// Seeds for the scene-file target: the demo and fixture scenes, each section
// alone, every object type, scenes cut short or with their values damaged,
// and nesting on both sides of the readers' depth limit.
static bool SG_iSceneCorpus(const fs::path& dir)
{
    bool ok = true;
    auto put = [&](const std::string& name, const std::string& text) { ok = SG_iWrite(dir / (name + ".xml"), text) && ok; };
    SG_Scene full = SG_iFixtureScene();
    std::string fullText = SG_iWriteScene(full);
    put("demo", SG_iWriteScene(SG_iDemoScene()));
    put("fixture", fullText);

    SG_Scene part;
    part.textures = full.textures;
    put("textures_only", SG_iWriteScene(part));
    part = {};
    part.materials = full.materials;
    put("materials_only", SG_iWriteScene(part));
    part = {};
    part.meshes = full.meshes;
    put("meshes_only", SG_iWriteScene(part));
    part = {};
    part.animations = full.animations;
    put("animations_only", SG_iWriteScene(part));
    part = {};
    part.groups = full.groups;
    part.meshes = full.meshes;
    put("groups_and_meshes", SG_iWriteScene(part));
    part = {};
    part.objects = full.objects;
    put("objects_only", SG_iWriteScene(part));

    SG_Scene kinds;
    kinds.meshes.push_back(SG_iMakeBox("b", 1, 1, 1));
    kinds.meshes.push_back(SG_iMakeGrid("g", 3, 2, 1.0));
    kinds.meshes[1].realSize = 4;
    kinds.meshes[1].indexSize = 2;
    const char* types[] = {"Object", "Mesh", "AnimatedMesh", "RigidBody", "Sound", "Text", "Lamp", "Camera",
                           "Mike", "Image", "Polyline", "Bone", "CollisionVolume", "Locator", "nothing", "MESH"};
    for (const char* type : types)
        kinds.objects.push_back({type, std::string("o_") + type, SG_iTranslation(1, 2, 3), "o_Object", "b", "", "box", "", {}});
    put("object_types", SG_iWriteScene(kinds));
    for (const char* volume : {"sphere", "box", "cylinder", "capsule", "plane", "mesh", "bogus"}) {
        SG_Scene v;
        v.meshes.push_back(SG_iMakeBox("b", 1, 2, 3));
        v.objects.push_back({"CollisionVolume", "v", {}, "", "b", "", volume, "", {}});
        put(std::string("volume_") + volume, SG_iWriteScene(v));
    }
    SG_Scene lamp;
    lamp.objects.push_back({"Lamp", "sun", {}, "", "", "", "", "<type>Sun</type><color>1 0.5 0.25</color>", {}});
    lamp.objects.push_back({"Camera", "cam", {}, "sun", "", "", "", "<fov>45</fov><near>0.1</near>", {}});
    put("lamp_camera", SG_iWriteScene(lamp));

    // The fixture cut at several points, and with parts of its text damaged.
    for (int i = 1; i <= 6; i++) put("cut_" + std::to_string(i), fullText.substr(0, fullText.size() * size_t(i) / 7));
    std::string damaged = fullText;
    for (size_t at = damaged.find("size=\""); at != std::string::npos; at = damaged.find("size=\"", at + 1))
        damaged.replace(at, 6, "size=\"9");
    put("sizes_too_large", damaged);
    damaged = fullText;
    for (size_t at = 0; (at = damaged.find("0", at)) != std::string::npos; at += 97) damaged[at] = 'z';
    put("hex_damaged", damaged);
    damaged = fullText;
    for (size_t at = 0; (at = damaged.find(" ", at)) != std::string::npos; at += 53) damaged[at] = ',';
    put("separators", damaged);

    // Markup the pre-scan and the parser must agree on, and deep nesting.
    put("comments_cdata", "<?xml version=\"1.0\"?><!-- <a><a> --><objects><![CDATA[<b><b>]]>"
                          "<object name='a>b' type=\"Mesh\"/><?pi x?></objects>");
    put("depth_at_limit", "<objects>" + SG_iNested("object", 255) + "</objects>");
    put("depth_over_limit", "<objects>" + SG_iNested("object", 300) + "</objects>");
    put("empty", "");
    put("text_only", "no markup at all");
    return ok;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "demo") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iDemoScene())) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "character") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iCharacterScene())) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "physics") == 0)
        return SG_iWrite(argv[2], SG_iWriteScene(SG_iPhysicsScene())) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "fixtures") == 0) {
        fs::path fixtures = argv[2], seeds = argv[3];
        bool ok = SG_iWrite(fixtures / "scene.xml", SG_iWriteScene(SG_iFixtureScene()));
        ok = SG_iWrite(fixtures / "small_rig.xml", SG_iWriteScene(SG_iSmallRigScene())) && ok;
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
    if (argc == 3 && std::strcmp(argv[1], "corpus") == 0) {
        fs::path dir = argv[2];
        bool ok = SG_iImageCorpus(dir / "image");
        return SG_iSceneCorpus(dir / "scene") && ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: scenegen fixtures FIXTURE_DIR SEED_DIR | scenegen demo FILE | scenegen physics FILE | "
                         "scenegen character FILE | scenegen corpus DIR\n");
    return 2;
}
