#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <tinyxml.h>
#include <cstring>
#include <vector>
#include <cctype>
#include <clocale>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "SG_ImageWrite.h"
#include "SG_SceneWriter.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Scene.h"
#include "base/MDL_XmlValues.h"

namespace {

struct SetPtr {
    MDL_ModelsSet* set;
    explicit SetPtr(const std::string& text) : set(MDL_iLoadModelsSetFromText("test.xml", text.c_str())) {}
    ~SetPtr() { delete set; }
    MDL_ModelsSet* operator->() const { return set; }
};

std::vector<uint8_t> smallPng(int colorType)
{
    SG_PngSpec s;
    s.width = 6;
    s.height = 4;
    s.colorType = colorType;
    int ch = colorType == 2 ? 3 : 4;
    for (uint8_t v : SG_iPattern(6, 4, ch)) s.samples.push_back(v);
    return SG_iEncodePng(s);
}

// A scene with every section: two textures, two materials, a box mesh and
// a grid mesh, a skeleton with two vertex groups, one animation, objects.
SG_Scene sampleScene()
{
    SG_Scene s;
    s.textures.push_back({"Wood", smallPng(6), "mipmap"});
    s.textures.push_back({"stone", SG_iEncodeJpeg(16, 8, 3, SG_iPattern(16, 8, 3)), "MIPMAP"});

    SG_Material wood;
    wood.name = "WoodMat";
    wood.ambient = {0.1, 0.2, 0.3};
    wood.diffuse = {0.4, 0.5, 0.6};
    wood.alpha = {0.25};
    wood.shininess = {12};
    wood.castShadows = 0;
    wood.mirror = 1;
    wood.textures = {"WOOD", "nothing"};
    wood.colors = {{1, 0, 0, 1}, {0.5, 0.5, 0.5, 0.5}};
    s.materials.push_back(wood);
    SG_Material plain;
    plain.name = "Plain";
    plain.specular = {0.7};  // fewer numbers than asked: the rest keep defaults
    s.materials.push_back(plain);

    SG_Mesh box = SG_iMakeBox("Box", 1, 2, 3);
    box.colors.assign(24 * 4, 255);
    box.colors[3] = 0x80;
    box.colors[4] = 0;
    s.meshes.push_back(box);
    SG_Mesh grid = SG_iMakeGrid("Grid", 2, 1, 2.0);
    grid.realSize = 4;
    grid.indexSize = 2;
    s.meshes.push_back(grid);

    s.groups.push_back({"upper", {0, 1, 2}, {1.0, 0.5, 0.5}});
    s.groups.push_back({"lower", {1, 2}, {0.5, 1.5}});
    s.animations.push_back({"Walk", {{0.0, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}}, {1.5, {1, 2, 3}, {0.1, 0.2, 0.3}, {2, 2, 2}}}});

    SG_Object root{"None", "Root", SG_iTranslation(5, 6, 7), "", "", "", "", "", {}};
    SG_Object a{"MESH", "First", SG_iTranslation(1, 0, 0), "Root", "box", "woodmat", "", "", {}};
    SG_Object b{"mesh", "Second", {}, "root", "Grid", "", "", "", {}};
    SG_Object body{"RigidBody", "Body", {}, "", "", "", "", "", {}};
    SG_Object wheel{"wheel", "Plain object", {}, "", "", "", "", "", {}};
    SG_Object vol{"CollisionVolume", "Vol", {}, "", "", "", "Box", "", {}};
    SG_Object cam{"Camera", "Cam", {}, "", "", "", "", "   <angle>90</angle>\n", {}};
    SG_Object bone{"Bone", "Bone1", SG_iTranslation(0, 0, 1), "", "", "", "",
                   "   <original_matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 2 1</original_matrix>\n"
                   "   <limit_xrot>-90 90</limit_xrot>\n", {}};
    SG_Object skin{"AnimatedMesh", "Skin", {}, "", "Box", "", "", "", {{"upper", "Bone1"}, {"lower", "bone1"}}};
    s.objects = {root, a, b, body, wheel, vol, cam, bone, skin};
    return s;
}

// Every way hex decoding can step on this processor, narrowest first.
std::vector<int> hexPaths()
{
    const int was = MDL_iHexSteps(MDL_HEX_AVX512);
    const int best = MDL_iHexSteps(was);
    std::vector<int> p;
    for (int s = MDL_HEX_PLAIN; s <= best; s++) p.push_back(s);
    return p;
}

struct HexStepsScope {
    int was;
    explicit HexStepsScope(int s) : was(MDL_iHexSteps(s)) {}
    ~HexStepsScope() { MDL_iHexSteps(was); }
};

}  // namespace

TEST(SceneLoad, SampleSceneObjectByObject)
{
    SetPtr set(SG_iWriteScene(sampleScene()));
    ASSERT_NE(set.set, nullptr);
    EXPECT_STREQ(set->name, "test.xml");

    // Textures: bytes, probe, filter attribute compared exactly.
    ASSERT_EQ(set->textures.count, 2);
    VIEW_Texture* wood = set->textures[0];
    EXPECT_STREQ(wood->name, "Wood");
    EXPECT_EQ(wood->dataSize, smallPng(6).size());
    EXPECT_EQ(wood->width, 6u);
    EXPECT_EQ(wood->height, 4u);
    EXPECT_EQ(wood->transparent, 1);
    EXPECT_EQ(wood->filter, uint32_t(FILTER_MIPMAP));
    EXPECT_EQ(set->textures[1]->filter, uint32_t(FILTER_DEFAULT));
    EXPECT_EQ(set->textures[1]->width, 16u);
    EXPECT_NE(wood->instanceId, set->textures[1]->instanceId);

    // Materials.
    ASSERT_EQ(set->materials.count, 2);
    MDL_Material* m = set->materials[0];
    EXPECT_DOUBLE_EQ(m->ambient[2], 0.3);
    EXPECT_DOUBLE_EQ(m->ambient[3], 1.0);
    EXPECT_DOUBLE_EQ(m->diffuse[1], 0.5);
    EXPECT_DOUBLE_EQ(m->diffuse[3], 0.25);
    EXPECT_DOUBLE_EQ(m->shininess, 12);
    EXPECT_EQ(m->castShadows, 0);
    EXPECT_EQ(m->mirror, 1);
    ASSERT_EQ(m->layers.count, 2);
    EXPECT_EQ(m->layers[0].texture, wood);
    EXPECT_EQ(m->layers[1].texture, nullptr);
    EXPECT_DOUBLE_EQ(m->layers[0].color[3], 0.5);  // the last "color" counts
    EXPECT_DOUBLE_EQ(m->layers[1].color[0], 1.0);
    EXPECT_FALSE(MDL_Material::isTransparent(m));   // a mirror never is
    MDL_Material* plain = set->materials[1];
    EXPECT_DOUBLE_EQ(plain->specular[0], 0.7);
    EXPECT_DOUBLE_EQ(plain->specular[1], 1.0);
    EXPECT_EQ(plain->castShadows, 1);

    // Meshes.
    ASSERT_EQ(set->meshData.count, 2);
    MDL_MeshData* box = set->meshData[0];
    EXPECT_EQ(box->vertexCount, 24);
    EXPECT_EQ(box->normalCount, 24);
    EXPECT_EQ(box->uvCount, 24);
    EXPECT_EQ(box->triangleCount, 12u);
    EXPECT_DOUBLE_EQ(box->boxMax[2], 3.0);
    EXPECT_DOUBLE_EQ(box->boxMin[1], -2.0);
    ASSERT_EQ(box->colorCount, 24);
    EXPECT_DOUBLE_EQ(box->colors[3], 128 / 255.0);
    EXPECT_EQ(box->translucentColorCount, 1);
    for (uint32_t t = 0; t < box->triangleCount; t++)
        for (int e = 0; e < 3; e++) EXPECT_NE(box->faces[t].neighbours[e], MDL_NO_FACE);  // closed box
    MDL_MeshData* grid = set->meshData[1];
    EXPECT_EQ(grid->vertexCount, 6);
    EXPECT_DOUBLE_EQ(grid->positions[0], -1.0);  // from 4-byte reals
    EXPECT_EQ(grid->triangleCount, 4u);
    EXPECT_DOUBLE_EQ(grid->faces[0].normal.z, 2.0);  // (P1 - P0) x (P2 - P0) of a 1 x 2 cell, not normalised

    // Objects: RigidBody skipped, unknown type is a plain object.
    ASSERT_EQ(set->objects.count, 8);
    const char* names[] = {"Root", "First", "Second", "Plain object", "Vol", "Cam", "Bone1", "Skin"};
    const int32_t types[] = {OBJECT_NONE, OBJECT_MESH, OBJECT_MESH, OBJECT_NONE, OBJECT_COLLISION_VOLUME,
                             OBJECT_CAMERA, OBJECT_BONE, OBJECT_ANIMATED_MESH};
    for (int i = 0; i < 8; i++) {
        EXPECT_STREQ(set->objects[i]->name, names[i]);
        EXPECT_EQ(set->objects[i]->type, types[i]) << names[i];
    }
    MDL_Object* root = set->objects[0];
    auto* first = static_cast<MDL_Mesh*>(set->objects[1]);
    auto* second = static_cast<MDL_Mesh*>(set->objects[2]);
    EXPECT_EQ(MDL_ModelsSet::getObject(set.set, "sKiN"), set->objects[7]);
    EXPECT_EQ(MDL_ModelsSet::getObject(set.set, "nobody"), nullptr);
    // The later child comes first in the parent's list.
    EXPECT_EQ(root->firstChild, second);
    EXPECT_EQ(second->nextSibling, first);
    EXPECT_EQ(first->parent, root);
    EXPECT_EQ(first->meshData, box);
    EXPECT_EQ(first->material, m);
    EXPECT_EQ(second->meshData, grid);
    EXPECT_EQ(second->material, nullptr);
    // "matrix" is relative to the parent.
    const MDL_Frame& g = first->getGlobalFrame();
    EXPECT_DOUBLE_EQ(g.position.x, 6);
    EXPECT_DOUBLE_EQ(g.position.y, 6);
    EXPECT_DOUBLE_EQ(g.position.z, 7);
    EXPECT_EQ(static_cast<MDL_CollisionVolume*>(set->objects[4])->shape, VOLUME_BOX);
    EXPECT_NEAR(static_cast<MDL_Camera*>(set->objects[5])->angle, M_PI / 2, 1e-12);

    // Skeleton: rest data in the original pose, weights normalised per vertex.
    auto* bone = static_cast<MDL_Bone*>(set->objects[6]);
    EXPECT_DOUBLE_EQ(bone->getLocalFrame().position.z, 1.0);  // back in the pose of "matrix"
    EXPECT_DOUBLE_EQ(bone->restFrame.position.z, 2.0);
    EXPECT_NEAR(bone->limitXRot[1], M_PI / 2, 1e-12);
    auto* skin = static_cast<MDL_AnimatedMesh*>(set->objects[7]);
    ASSERT_EQ(skin->boneCount, 2);
    MDL_VertexGroup* upper = set->vertexGroups[0];
    MDL_VertexGroup* lower = set->vertexGroups[1];
    EXPECT_EQ(skin->vertexGroups[0], upper);
    EXPECT_EQ(skin->boneList[1], bone);
    ASSERT_NE(upper->restPositions, nullptr);
    const double* p0 = box->positions;
    EXPECT_DOUBLE_EQ(upper->restPositions[0].z, p0[2] - 2.0);  // bone at rest sits at z = 2
    EXPECT_DOUBLE_EQ(upper->weights[0], 1.0);
    EXPECT_DOUBLE_EQ(upper->weights[1], 0.5);   // vertex 1: 0.5 + 0.5
    EXPECT_DOUBLE_EQ(lower->weights[0], 0.5);
    EXPECT_DOUBLE_EQ(upper->weights[2], 0.25);  // vertex 2: 0.5 + 1.5
    EXPECT_DOUBLE_EQ(lower->weights[1], 0.75);

    // Animation keys.
    ASSERT_EQ(set->animationData.count, 1);
    MDL_AnimationData* walk = set->animationData[0];
    ASSERT_EQ(walk->keyCount, 2);
    EXPECT_DOUBLE_EQ(walk->times[1], 1.5);
    EXPECT_DOUBLE_EQ(walk->locations[1].z, 3);
    EXPECT_DOUBLE_EQ(walk->scales[1].x, 2);
}

TEST(SceneLoad, ValueEncodings)
{
    uint32_t idx[2] = {0, 0};
    MDL_iDecodeIndices("ffff 0100", 2, 2, idx);
    EXPECT_EQ(idx[0], 0xFFFFFFFFu);
    EXPECT_EQ(idx[1], 1u);
    size_t n = 9;
    MDL_iDecodeIndices("FFFF", 2, 1, idx, &n);  // upper case is skipped
    EXPECT_EQ(n, 0u);
    double d[3] = {9, 9, 9};
    EXPECT_EQ(MDL_iParseNumbers("1.5,\t-2e1\r\nabc 7", d, 3), 3);
    EXPECT_DOUBLE_EQ(d[0], 1.5);
    EXPECT_DOUBLE_EQ(d[1], -20);
    EXPECT_DOUBLE_EQ(d[2], 0);  // no number
    EXPECT_EQ(MDL_iParseNumbers(nullptr, d, 3), 0);

    // The decimal point does not follow the C locale.
    const char* locales[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE"};
    for (const char* l : locales) {
        if (!std::setlocale(LC_NUMERIC, l)) continue;
        EXPECT_EQ(MDL_iParseNumbers("2.5", d, 1), 1);
        EXPECT_DOUBLE_EQ(d[0], 2.5);
        std::setlocale(LC_NUMERIC, "C");
    }
}

// Long hex arrays decode in blocks: values across block edges, separators
// anywhere (even inside a pair), a value cut short by the end of the text
// (never stored: the text ends three bytes into a value of 4 or 8 bytes and
// one byte into a value of 2), and a count reached before the text ends (the
// text is read no further than the last digit used).
TEST(SceneLoad, HexArraysAcrossBlocks)
{
    std::string text;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 9003; i++) {
        uint8_t b = uint8_t(i * 37 + 11);
        bytes.push_back(b);
        const char* digits = "0123456789abcdef";
        text += digits[b >> 4];
        if (i % 97 == 5) text += " \n";  // a separator inside a pair
        text += digits[b & 15];
        if (i % 64 == 63) text += '\n';
    }
    text += "a";  // half a byte at the end
    auto word = [&](size_t i, int size) {
        uint64_t v = 0;
        for (int k = size - 1; k >= 0; k--) v = v << 8 | bytes[i * size + size_t(k)];
        return v;
    };
    struct Case {
        int size;
        size_t ask;
    };
    const Case cases[] = {{8, 1125}, {8, 1200}, {4, 2250}, {4, 2251}, {4, 10}, {2, 4501}, {2, 4600}};
    for (int steps : hexPaths())
    for (const Case& c : cases) {
        HexStepsScope scope(steps);
        SCOPED_TRACE("steps " + std::to_string(steps));
        const size_t whole = std::min(c.ask, bytes.size() / size_t(c.size));
        size_t got = 0;
        const char* end = nullptr;
        if (c.size == 8) {
            std::vector<double> out(c.ask, -1.0);
            end = MDL_iDecodeDoubles(text.c_str(), 8, c.ask, out.data(), &got);
            ASSERT_EQ(got, whole) << c.size << " " << c.ask;
            for (size_t i = 0; i < whole; i++) {
                uint64_t bits;
                std::memcpy(&bits, &out[i], 8);
                ASSERT_EQ(bits, word(i, 8)) << i;
            }
            for (size_t i = whole; i < c.ask; i++) EXPECT_EQ(out[i], -1.0) << "stored past the values";
        } else {
            std::vector<uint32_t> out(c.ask, 7);
            end = MDL_iDecodeIndices(text.c_str(), c.size, c.ask, out.data(), &got);
            ASSERT_EQ(got, whole) << c.size << " " << c.ask;
            for (size_t i = 0; i < whole; i++) {
                uint64_t v = word(i, c.size);
                ASSERT_EQ(out[i], c.size == 2 && v == 0xFFFF ? 0xFFFFFFFFu : uint32_t(v)) << i;
            }
            for (size_t i = whole; i < c.ask; i++) EXPECT_EQ(out[i], 7u) << "stored past the values";
        }
        // Stopped after the last digit asked for, or at the end of the text.
        if (whole == c.ask) {
            size_t digits = 0;
            for (const char* p = text.c_str(); p < end; p++) digits += std::isxdigit((unsigned char)*p) != 0;
            EXPECT_EQ(digits, 2 * c.ask * size_t(c.size)) << c.size << " " << c.ask;
        } else {
            EXPECT_EQ(*end, '\0');
        }
    }
}

// Hex decoding against a plain reading, one character at a time, over
// random texts: long runs of pairs (read many at a time) broken by line
// breaks and spaces between pairs and inside them, upper case digits and
// bytes from 128 up (skipped like any other character), and counts that end
// inside a run. Each text sits in storage of exactly its length, so a read
// past the terminator shows under the address sanitizer; the decoding is
// checked both measuring the text itself and given its terminator, on every
// path the processor has.
TEST(SceneLoad, HexDecodingAgreesWithPlainReading)
{
    auto plain = [](const char* text, size_t count, std::vector<uint8_t>& out) {
        const char* p = text;
        int high = -1;
        while (out.size() < count && *p) {
            const char c = *p++;
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) continue;
            if (high < 0) {
                high = d;
            } else {
                out.push_back(uint8_t(high << 4 | d));
                high = -1;
            }
        }
        return p;
    };
    const std::vector<int> paths = hexPaths();
    std::mt19937 rng(5);
    const char* digits = "0123456789abcdef";
    const char others[] = {'\n', ' ', ',', 'A', 'F', 'g', 'x', char(0xC3), char(0x80), '\t'};
    for (int round = 0; round < 3000; round++) {
        std::string text;
        const size_t length = rng() % 600;
        const unsigned breakEvery = 1 + rng() % 200;
        if (round % 3 == 1) {
            // As the arrays are written: lines of 64 digits, here and there
            // one character spoilt, a line cut short or a break doubled.
            while (text.size() < length) {
                for (int i = 0; i < 64; i++) text += digits[rng() % 16];
                text += '\n';
                if (rng() % 4 == 0) text[text.size() - 1 - rng() % 65] = others[rng() % sizeof others];
                if (rng() % 8 == 0) text.resize(text.size() - rng() % 64);
                if (rng() % 8 == 0) text += others[rng() % sizeof others];
            }
        }
        while (text.size() < length) {
            if (rng() % breakEvery == 0) {
                text += others[rng() % sizeof others];
            } else {
                text += digits[rng() % 16];
            }
        }
        // Now and then a NUL inside (from a character reference): the text
        // ends there even when the caller hands in the storage's end.
        if (round % 4 == 0 && !text.empty()) text[rng() % text.size()] = '\0';
        std::vector<char> stored(text.begin(), text.end());
        stored.push_back('\0');
        // Every text holds fewer than 400 bytes: a count of 400 reads it all.
        const size_t count = rng() % 2 ? rng() % 400 : 400;
        std::vector<uint8_t> want;
        const char* wantEnd = plain(stored.data(), count, want);
        // Both with the text measured as it goes and with the end of its
        // storage handed in by the caller.
        for (int steps : paths)
        for (const char* known : {static_cast<const char*>(nullptr), static_cast<const char*>(stored.data() + text.size())}) {
            HexStepsScope scope(steps);
            SCOPED_TRACE("steps " + std::to_string(steps));
            std::vector<uint8_t> got(count + 1, 0x5A);
            size_t n = 0;
            const char* end = MDL_iDecodeHex(stored.data(), count, got.data(), &n, known);
            ASSERT_EQ(n, want.size()) << round << (known ? " known end" : "");
            ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << round;
            for (size_t i = n; i < got.size(); i++)
                ASSERT_EQ(got[i], 0x5A) << "written past the bytes, round " << round;
            ASSERT_EQ(end - stored.data(), wantEnd - stored.data()) << round;
        }
    }
}

TEST(SceneLoad, MatrixAndOnlyObjectsSection)
{
    SetPtr set("<objects><object type=\"Mesh\" name=\"m\"><matrix>1 0 0 0, 0 1 0 0, 0 0 1 0, 5 6 7 1</matrix>"
               "<mesh>none</mesh><material>none</material></object></objects>");
    ASSERT_NE(set.set, nullptr);
    ASSERT_EQ(set->objects.count, 1);
    auto* m = static_cast<MDL_Mesh*>(set->objects[0]);
    EXPECT_EQ(m->meshData, nullptr);
    EXPECT_EQ(m->material, nullptr);
    const MDL_Frame& f = m->getLocalFrame();
    EXPECT_DOUBLE_EQ(f.position.x, 5);
    EXPECT_DOUBLE_EQ(f.position.z, 7);
    EXPECT_DOUBLE_EQ(f.basis.c[1].y, 1);
}

TEST(SceneLoad, EmptyOrBrokenXmlGivesNull)
{
    EXPECT_EQ(MDL_iLoadModelsSetFromText("x", ""), nullptr);
    EXPECT_EQ(MDL_iLoadModelsSetFromText("x", nullptr), nullptr);
    EXPECT_EQ(MDL_iLoadModelsSetFromText("x", "<objects><object></objects>"), nullptr);
}

std::string nested(const std::string& name, int levels)
{
    std::string s;
    for (int i = 0; i < levels; i++) s += "<" + name + ">";
    for (int i = 0; i < levels; i++) s += "</" + name + ">";
    return s;
}

// The nesting pre-scan reads markup as the parser does: what the parser
// skips (comments, CDATA, quoted values) adds no level, and what it reads as
// elements is never skipped.
TEST(XmlDepth, CountsLevelsAsTheParserSeesThem)
{
    struct Case {
        const char* what;
        std::string text;
        bool within;  // at a limit of 3
    } cases[] = {
        {"three levels", nested("a", 3), true},
        {"four levels", nested("a", 4), false},
        {"closed siblings", "<a>" + nested("b", 2) + nested("b", 2) + "<b/><b x='1'/></a>", true},
        {"self-closed fourth level", "<a><a><a><a/></a></a></a>", false},
        {"tags in a comment", "<!-- <a><a><a><a> -->" + nested("a", 3), true},
        {"tags in CDATA", "<a><a><![CDATA[<b><b><b><b>]]></a></a>", true},
        {"processing instruction", "<?pi x?>" + nested("a", 3), true},
        {"end tags in a quoted value", "<a><a x=\"</a></a></a>\"><a><a></a></a></a></a>", false},
        {"'>' and '/>' in quoted values", "<a t='>'><a t=\"/>\"><a></a></a></a>", true},
        {"quoted version in the declaration", "<?xml version=\"1.0>\"?>" + nested("a", 3), true},
        {"other declaration values end at '>'", "<?xml foo=\"><a><a><a><a>\"?>", false},
        {"bytes from 127 start names", nested("\xC3\xA9", 4), false},
        {"unterminated quote", "<a><a x=\"<b><b><b>", true},
        {"end tags before any start", "</a></a></a>" + nested("a", 3), true},
    };
    for (const Case& c : cases) EXPECT_EQ(MDL_iXmlDepthWithin(c.text.c_str(), 3), c.within) << c.what;
}

TEST(XmlDepth, SceneFilesUpToTheLimitLoad)
{
    std::string ok = "<objects>" + nested("x", MDL_XML_DEPTH_LIMIT - 1) + "</objects>";
    std::string deep = "<objects>" + nested("x", MDL_XML_DEPTH_LIMIT) + "</objects>";
    MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("ok.xml", ok.c_str());
    EXPECT_NE(set, nullptr);
    delete set;
    EXPECT_EQ(MDL_iLoadModelsSetFromText("deep.xml", deep.c_str()), nullptr);
}

// One malformed variant per fault: each loads (or fails) without a crash,
// leak or read out of bounds, and leaves sound data behind.
TEST(SceneLoad, MalformedVariants)
{
    struct Case {
        const char* what;
        std::string text;
        std::function<void(MDL_ModelsSet*)> check;
    };
    const std::string hex8 = SG_iHexReals({0, 0, 0, 1, 0, 0, 0, 1, 0}, 8);
    std::vector<Case> cases = {
        {"negative counts and sizes",
         "<textures><texture name=\"t\" size=\"-5\">00ff</texture></textures>"
         "<meshes><mesh name=\"m\"><vertices count=\"-3\" size=\"8\">" + hex8 +
             "</vertices><triangles count=\"-1\" size=\"4\">000000000100000002000000</triangles></mesh></meshes>",
         [](MDL_ModelsSet* s) {
             EXPECT_EQ(s->textures[0]->dataSize, 0u);
             EXPECT_EQ(s->meshData[0]->vertexCount, 0);
             EXPECT_EQ(s->meshData[0]->triangleCount, 0u);
         }},
        {"counts larger than the text",
         "<textures><texture name=\"t\" size=\"2000000000\">89504e47</texture></textures>"
         "<meshes><mesh name=\"m\"><vertices count=\"2000000000\" size=\"8\">" + hex8 +
             "</vertices><colors count=\"99999999\">ff000080</colors>"
             "<triangles count=\"1000000000\">000000000100000002000000</triangles></mesh></meshes>",
         [](MDL_ModelsSet* s) {
             EXPECT_EQ(s->textures[0]->dataSize, 4u);
             EXPECT_EQ(s->meshData[0]->vertexCount, 3);
             EXPECT_EQ(s->meshData[0]->colorCount, 1);
             EXPECT_EQ(s->meshData[0]->translucentColorCount, 1);
             // no "size" on triangles: the size of the array before it (8) is no index size
             EXPECT_EQ(s->meshData[0]->triangleCount, 0u);
         }},
        {"a zero byte from a character reference inside the arrays",
         // The document keeps the text whole, zero byte included; reading
         // stops at the zero byte, whatever the counts say.
         "<textures><texture name=\"t\" size=\"4\">0102&#0;0304</texture></textures>"
         "<meshes><mesh name=\"m\"><vertices count=\"3\" size=\"8\">" + hex8.substr(0, 48) + "&#0;" +
             hex8.substr(48) + "</vertices><colors count=\"2\">ff000080&#0;ff0000ff</colors></mesh></meshes>",
         [](MDL_ModelsSet* s) {
             ASSERT_EQ(s->textures[0]->dataSize, 2u);
             EXPECT_EQ(s->textures[0]->data[1], 2);
             EXPECT_EQ(s->meshData[0]->vertexCount, 1);
             EXPECT_EQ(s->meshData[0]->colorCount, 1);
         }},
        {"triangle and neighbour indices out of range",
         "<meshes><mesh name=\"m\"><vertices count=\"3\" size=\"8\">" + hex8 +
             "</vertices><triangles count=\"2\" size=\"4\">000000000100000002000000 000000000100000009000000"
             "</triangles><neighbours>07000000ffffffff00000000</neighbours></mesh></meshes>",
         [](MDL_ModelsSet* s) {
             MDL_MeshData* d = s->meshData[0];
             ASSERT_EQ(d->triangleCount, 1u);  // the triangle naming vertex 9 is dropped
             for (int e = 0; e < 3; e++) EXPECT_EQ(d->faces[0].neighbours[e], MDL_NO_FACE);
         }},
        {"file neighbours out of range",
         "<meshes><mesh name=\"m\"><vertices count=\"3\" size=\"8\">" + hex8 +
             "</vertices><triangles count=\"1\" size=\"2\">000001000200</triangles>"
             "<neighbours size=\"4\">0700000000000000ffffffff</neighbours></mesh></meshes>",
         [](MDL_ModelsSet* s) {
             MDL_MeshData* d = s->meshData[0];
             ASSERT_EQ(d->triangleCount, 1u);
             EXPECT_EQ(d->faces[0].neighbours[0], MDL_NO_FACE);
             EXPECT_EQ(d->faces[0].neighbours[1], 0u);
         }},
        {"mesh link and skeleton on objects of the wrong type",
         "<meshes><mesh name=\"m\"/></meshes><animated_meshes><animated_mesh name=\"g\"><vertices count=\"1\" "
         "size=\"4\">00000000</vertices></animated_mesh></animated_meshes><objects>"
         "<object type=\"Lamp\" name=\"l\"><mesh>m</mesh><animated_meshes><animated_mesh>g<bone>l</bone>"
         "</animated_mesh></animated_meshes></object></objects>",
         [](MDL_ModelsSet* s) {
             EXPECT_EQ(s->objects.count, 1);
             EXPECT_EQ(s->vertexGroups[0]->restPositions, nullptr);
         }},
        {"missing group and bone, bone of the wrong type, vertex index out of range",
         "<meshes><mesh name=\"m\"><vertices count=\"3\" size=\"8\">" + hex8 +
             "</vertices></mesh></meshes><animated_meshes><animated_mesh name=\"g\"><vertices count=\"2\" "
             "size=\"4\">0000000063000000</vertices><weights count=\"2\" size=\"8\">" +
             SG_iHexReals({2, 1}, 8) +
             "</weights></animated_mesh></animated_meshes><objects>"
             "<object type=\"AnimatedMesh\" name=\"a\"><mesh>m</mesh><animated_meshes>"
             "<animated_mesh>nogroup<bone>b</bone></animated_mesh><animated_mesh>g</animated_mesh>"
             "<animated_mesh>g<bone>a</bone></animated_mesh><animated_mesh>g<bone>b</bone></animated_mesh>"
             "</animated_meshes></object><object type=\"bone\" name=\"b\"/></objects>",
         [](MDL_ModelsSet* s) {
             auto* a = static_cast<MDL_AnimatedMesh*>(s->objects[0]);
             ASSERT_EQ(a->boneCount, 4);
             EXPECT_EQ(a->vertexGroups[0], nullptr);
             EXPECT_EQ(a->boneList[1], nullptr);
             EXPECT_EQ(a->boneList[2], nullptr);  // a mesh is no bone
             EXPECT_EQ(a->boneList[3], s->objects[1]);
             MDL_VertexGroup* g = s->vertexGroups[0];
             ASSERT_NE(g->restPositions, nullptr);
             EXPECT_DOUBLE_EQ(g->weights[0], 1.0);  // 2 / 2; vertex 99 ignored
             EXPECT_DOUBLE_EQ(g->weights[1], 1.0);
         }},
        {"a group bound twice is normalised once",
         "<meshes><mesh name=\"m\"><vertices count=\"3\" size=\"8\">" + hex8 +
             "</vertices></mesh></meshes><animated_meshes><animated_mesh name=\"g\"><vertices count=\"1\" "
             "size=\"4\">01000000</vertices><weights count=\"1\" size=\"8\">" + SG_iHexReals({4}, 8) +
             "</weights></animated_mesh></animated_meshes><objects><object type=\"bone\" name=\"b\"/>"
             "<object type=\"AnimatedMesh\" name=\"a\"><mesh>m</mesh><animated_meshes>"
             "<animated_mesh>g<bone>b</bone></animated_mesh><animated_mesh>g<bone>b</bone></animated_mesh>"
             "</animated_meshes></object></objects>",
         [](MDL_ModelsSet* s) { EXPECT_DOUBLE_EQ(s->vertexGroups[0]->weights[0], 1.0); }},
        {"group arrays cut to what their texts hold",
         "<animated_meshes><animated_mesh name=\"g\"><vertices count=\"5\" size=\"2\">0100\n02 00 0"
         "</vertices><weights count=\"9\" size=\"4\">" + SG_iHexReals({0.5}, 4) +
             "</weights></animated_mesh></animated_meshes>",
         [](MDL_ModelsSet* s) {
             MDL_VertexGroup* g = s->vertexGroups[0];
             ASSERT_EQ(g->count, 2);  // the lone digit makes no index
             EXPECT_EQ(g->vertices[0], 1);
             EXPECT_EQ(g->vertices[1], 2);
             EXPECT_DOUBLE_EQ(g->weights[0], 0.5);
             EXPECT_DOUBLE_EQ(g->weights[1], 0.0);  // no weight in the text
         }},
        {"self and cyclic parents",
         "<objects><object name=\"a\"><parent>A</parent></object><object name=\"b\"><parent>c</parent></object>"
         "<object name=\"c\"><parent>b</parent></object></objects>",
         [](MDL_ModelsSet* s) {
             EXPECT_EQ(s->objects[0]->parent, nullptr);
             EXPECT_EQ(s->objects[1]->parent, s->objects[2]);
             EXPECT_EQ(s->objects[2]->parent, nullptr);
             s->objects[1]->getGlobalFrame();  // terminates
         }},
        {"a bad volume type skips only its object",
         "<objects><object name=\"a\"/><object type=\"CollisionVolume\" name=\"v\"><volume_type>cone"
         "</volume_type></object><object type=\"collisionvolume\" name=\"w\"/><object type=\"Mesh\" name=\"c\">"
         "<parent>a</parent></object></objects>",
         [](MDL_ModelsSet* s) {
             ASSERT_EQ(s->objects.count, 2);
             EXPECT_STREQ(s->objects[1]->name, "c");
             EXPECT_EQ(s->objects[1]->parent, s->objects[0]);
         }},
        {"huge key count",
         "<animations><animation name=\"a\"><keys count=\"2000000000\"><key time=\"1\"/><key/></keys>"
         "</animation><animation name=\"b\"><keys count=\"1\"><key time=\"1\"/><key time=\"2\"/></keys>"
         "</animation></animations>",
         [](MDL_ModelsSet* s) {
             EXPECT_EQ(s->animationData[0]->keyCount, 2);
             EXPECT_DOUBLE_EQ(s->animationData[0]->times[1], 1.0);  // no time: the one before
             EXPECT_EQ(s->animationData[1]->keyCount, 1);
         }},
        {"rigid body element keeps the links of the next element",
         "<objects><object name=\"p\"/><object type=\"RigidBody\" name=\"r\"><parent>p</parent></object>"
         "<object name=\"q\"><parent>p</parent></object></objects>",
         [](MDL_ModelsSet* s) {
             ASSERT_EQ(s->objects.count, 2);
             EXPECT_EQ(s->objects[1]->parent, s->objects[0]);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetPtr set(c.text);
        ASSERT_NE(set.set, nullptr);
        c.check(set.set);
    }
}

// Parent links over repeated names (in any letter case), names that match
// nothing, loops and parents given before or after their children: each
// object gets the first object of the name in file order as parent unless
// that would close a loop, children are listed latest first, and frames
// compose along the links. The expected tree is built by a plain linear
// resolution beside the loader.
TEST(SceneLoad, ParentLinksResolveAsALinearSearchDoes)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE(round);
        const int n = 60;
        std::vector<std::string> names(n), parents(n);
        std::string text = "<objects>";
        for (int i = 0; i < n; i++) {
            std::string name = "n" + std::to_string(rng() % 15);
            if (rng() % 2) name[0] = 'N';
            names[i] = name;
            if (rng() % 5) parents[i] = (rng() % 2 ? "N" : "n") + std::to_string(rng() % 18);
            text += "<object name=\"" + name + "\">";
            if (!parents[i].empty()) text += "<parent>" + parents[i] + "</parent>";
            text += "<matrix>1 0 0 0 0 1 0 0 0 0 1 0 " + std::to_string(i + 1) + " 0 0 1</matrix></object>";
        }
        text += "</objects>";
        SetPtr set(text);
        ASSERT_NE(set.set, nullptr);
        ASSERT_EQ(set->objects.count, n);

        std::vector<int> up(n, -1);
        std::vector<std::vector<int>> kids(n);
        auto same = [](const std::string& a, const std::string& b) {
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                       return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
                   });
        };
        for (int i = 0; i < n; i++) {
            int p = -1;
            for (int k = 0; k < n && p < 0 && !parents[i].empty(); k++)
                if (same(names[k], parents[i])) p = k;
            bool loop = false;
            for (int a = p; a >= 0 && !loop; a = up[a]) loop = a == i;
            if (p < 0 || loop) continue;
            up[i] = p;
            kids[p].insert(kids[p].begin(), i);
        }
        for (int i = 0; i < n; i++) {
            MDL_Object* o = set->objects[i];
            EXPECT_EQ(o->parent, up[i] < 0 ? nullptr : set->objects[up[i]]) << i;
            MDL_Object* c = o->firstChild;
            for (int k : kids[i]) {
                ASSERT_EQ(c, set->objects[k]) << i;
                c = c->nextSibling;
            }
            EXPECT_EQ(c, nullptr);
            double x = 0;
            for (int a = i; a >= 0; a = up[a]) x += a + 1;
            EXPECT_DOUBLE_EQ(o->getGlobalFrame().position.x, x) << i;
        }
    }
}

// A long parent chain, given root first or leaf first, loads and clones in
// time linear in its length.
TEST(SceneLoad, LongParentChainsLoadAndCloneInLinearTime)
{
    const int n = 100000;
    for (bool leafFirst : {false, true}) {
        SCOPED_TRACE(leafFirst ? "leaf first" : "root first");
        std::string text = "<objects>";
        for (int k = 0; k < n; k++) {
            int i = leafFirst ? n - 1 - k : k;
            text += "<object name=\"o" + std::to_string(i) + "\">";
            if (i > 0) text += "<parent>O" + std::to_string(i - 1) + "</parent>";
            text += "<matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1</matrix></object>";
        }
        text += "</objects>";
        // CPU time of this thread: the machine may be shared.
        auto now = [] {
            timespec t;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
        };
        const double start = now();
        {
            TiXmlDocument doc;
            doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);  // as the loader parses
        }
        const double parsed = now();
        SetPtr set(text);
        ASSERT_NE(set.set, nullptr);
        MDL_Object* root = MDL_ModelsSet::getObject(set.set, "o0");
        ASSERT_NE(root, nullptr);
        MDL_Scene world(nullptr);
        MDL_Object* copy = world.clone(root);
        const double seconds = now() - parsed;
        const double parseSeconds = parsed - start;
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(world.objects.count, n);
        MDL_Object* leaf = copy;
        int depth = 0;
        while (leaf->firstChild) leaf = leaf->firstChild, depth++;
        EXPECT_EQ(depth, n - 1);
        EXPECT_STREQ(leaf->name, ("o" + std::to_string(n - 1)).c_str());
        EXPECT_DOUBLE_EQ(leaf->getGlobalFrame().position.z, double(n));
#if !defined(__SANITIZE_ADDRESS__)
        // Under a second; on a machine so busy that parsing the text alone
        // takes more than a tenth of that, within ten times the parse (a
        // search per object would take hundreds of times longer). The
        // sanitizer build is far slower per object: it runs the work only.
        EXPECT_LT(seconds, std::max(1.0, 10 * parseSeconds)) << "parse alone " << parseSeconds << " s";
#else
        (void)seconds;
        (void)parseSeconds;
#endif
    }
}

// A set given up while clones use its data stays until the last clone goes.
TEST(SceneLoad, ReleasedSetOutlivesItsClones)
{
    MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("s", SG_iWriteScene(sampleScene()).c_str());
    ASSERT_NE(set, nullptr);
    auto* source = static_cast<MDL_Mesh*>(MDL_ModelsSet::getObject(set, "First"));
    auto* clone = new MDL_Mesh(*source);
    auto* clone2 = new MDL_Mesh(*clone);
    EXPECT_EQ(set->users, 2u);
    MDL_ModelsSet::release(set);  // objects go now, data stays
    EXPECT_EQ(clone->meshData->vertexCount, 24);
    clone->setOwnMaterial();
    EXPECT_EQ(clone->material->layers[0].texture->width, 6u);
    delete clone;
    EXPECT_EQ(clone2->material->layers.count, 2);
    delete clone2;  // the set is freed here (ASan reports a leak otherwise)
}
