// The context-free parts of the scene drawing: pass membership, what vertex
// arrays may be enabled, light parameters in GL's ranges, the mirror, the
// shadow lamp, and the transfer of transparent triangles into the tree.
#include "lit_fixtures.h"

#include "media/VIEW_Texture.h"
#include "model/MDL_Objects.h"
#include "render/VIEW_Scene3D.h"
#include "render/VIEW_Shadow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace lit;

TEST(ScenePasses, EachMeshGoesToTheRightPasses)
{
    VIEW_Texture blended, tested;
    blended.transparent = 1;
    tested.transparent = 1;
    tested.binaryAlpha = 1;
    struct Case {
        const char* what;
        void (*setUp)(MDL_Mesh&, MDL_Material*&, VIEW_Texture*, VIEW_Texture*);
        bool opaque, transparent, occluder, casts;
    };
    const Case cases[] = {
        {"no material", [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) { m = nullptr; },
         true, false, false, true},
        {"plain material", [](MDL_Mesh&, MDL_Material*&, VIEW_Texture*, VIEW_Texture*) {}, true, false, false, true},
        {"alpha above 1", [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) { m->diffuse[3] = 1.5; },
         true, false, false, true},
        {"half alpha", [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) { m->diffuse[3] = 0.5; },
         false, true, false, false},
        {"alpha 0", [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) { m->diffuse[3] = 0; },
         false, false, true, true},
        {"half-alpha mirror",
         [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) {
             m->mirror = 1;
             m->diffuse[3] = 0.5;
         },
         false, false, false, true},
        {"half-alpha first layer",
         [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) {
             MDL_TextureLayer l = MDL_TextureLayer::makeDefault();
             l.color[3] = 0.5;
             m->appendLayer(l);
         },
         false, true, false, false},
        {"blended texture",
         [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture* b, VIEW_Texture*) {
             m->appendLayer(MDL_TextureLayer::makeDefault(b));
         },
         false, true, false, false},
        {"alpha-tested texture",
         [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture* t) {
             m->appendLayer(MDL_TextureLayer::makeDefault(t));
         },
         true, false, false, true},
        {"no shadow casting", [](MDL_Mesh&, MDL_Material*& m, VIEW_Texture*, VIEW_Texture*) { m->castShadows = 0; },
         true, false, false, false},
        {"translucent vertex colours",
         [](MDL_Mesh& o, MDL_Material*&, VIEW_Texture*, VIEW_Texture*) { o.meshData->translucentColorCount = 2; },
         false, true, false, true},
        {"invisible", [](MDL_Mesh& o, MDL_Material*&, VIEW_Texture*, VIEW_Texture*) { o.state = 0; }, true, false,
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto data = makeData(quadSpec(1, 1));
        MDL_Material* m = material(1, 1, 1);
        MDL_Material* keep = m;
        MDL_Mesh o;
        o.meshData = data.get();
        c.setUp(o, m, &blended, &tested);
        o.material = m;
        EXPECT_EQ(VIEW_iDrawsOpaque(o), c.opaque);
        EXPECT_EQ(VIEW_iDrawsTransparent(o), c.transparent);
        EXPECT_EQ(VIEW_iIsOccluder(o), c.occluder);
        EXPECT_EQ(VIEW_iCastsShadow(&o), c.casts);
        o.material = nullptr;
        delete keep;
    }
}

// GL reads every array at every index it draws: an array shorter than the
// vertices is never handed over, and an index past the vertices stops the draw.
TEST(SceneArrays, OnlyArraysCoveringEveryVertexAreUsed)
{
    struct Case {
        const char* what;
        void (*spoil)(DataSpec&);
        bool drawable, normals, colours, uvs;
    };
    const Case cases[] = {
        {"complete", [](DataSpec& s) { s.colours.assign(16, 1.0); }, true, true, true, true},
        {"short normals", [](DataSpec& s) { s.normals.resize(9); }, true, false, false, true},
        {"short colours", [](DataSpec& s) { s.colours.assign(12, 1.0); }, true, true, false, true},
        {"short uvs", [](DataSpec& s) { s.uvs.resize(2); }, true, true, false, false},
        {"index past the vertices", [](DataSpec& s) { s.indices[4] = 4; }, false, false, false, false},
        {"no triangles", [](DataSpec& s) { s.indices.clear(); }, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DataSpec s = quadSpec(1, 1);
        c.spoil(s);
        auto data = makeData(s);
        MDL_Mesh o;
        o.meshData = data.get();
        VIEW_MeshArrays a;
        ASSERT_EQ(VIEW_iMeshArrays(o, a), c.drawable);
        if (!c.drawable)
            continue;
        EXPECT_EQ(a.normals != nullptr, c.normals);
        EXPECT_EQ(a.colours != nullptr, c.colours);
        EXPECT_EQ(a.uvs != nullptr, c.uvs);
    }
}

TEST(SceneArrays, IndexCheckIsCachedPerMeshData)
{
    DataSpec s = quadSpec(1, 1);
    auto data = makeData(s);
    VIEW_IndexCache cache;
    EXPECT_TRUE(VIEW_iIndicesValid(*data, &cache));
    data->indices[0] = 77;   // a later change is not seen while the cache lives
    EXPECT_TRUE(VIEW_iIndicesValid(*data, &cache));
    cache.clear();
    EXPECT_FALSE(VIEW_iIndicesValid(*data, &cache));
}

TEST(SceneLights, ParametersStayInsideGLRanges)
{
    struct Case {
        const char* what;
        void (*setUp)(MDL_Lamp&);
        float position[4], direction[3], cutoff, exponent, attenuation[3];
    };
    const Case cases[] = {
        {"point lamp",
         [](MDL_Lamp& l) {
             l.quad1 = 2;
             l.quad2 = 8;
             l.distance = 2;
         },
         {1, 2, 3, 1}, {0, 0, -1}, 180, 0, {1, 1, 2}},
        {"point lamp at distance 0", [](MDL_Lamp& l) { l.distance = 0, l.quad1 = 1; }, {1, 2, 3, 1}, {0, 0, -1}, 180,
         0, {1, 0, 0}},
        {"negative attenuation", [](MDL_Lamp& l) { l.quad1 = -4; }, {1, 2, 3, 1}, {0, 0, -1}, 180, 0, {1, 0, 0}},
        {"spot lamp",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SPOT;
             l.spotSize = 30;
             l.spotExponent = 5;
         },
         {1, 2, 3, 1}, {0, 0, -1}, 30, 5, {1, 0, 0}},
        {"spot wider than GL allows",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SPOT;
             l.spotSize = 140;
             l.spotExponent = 300;
         },
         {1, 2, 3, 1}, {0, 0, -1}, 90, 128, {1, 0, 0}},
        {"spot with negative values",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SPOT;
             l.spotSize = -3;
             l.spotExponent = -1;
         },
         {1, 2, 3, 1}, {0, 0, -1}, 0, 0, {1, 0, 0}},
        {"spot with a zero axis",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SPOT;
             l.editGlobalFrame().basis.c[2] = {0, 0, 0};
         },
         {1, 2, 3, 1}, {0, 0, -1}, 45, 42, {1, 0, 0}},
        {"sun turned over x",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SUN;
             l.editGlobalFrame().basis.c[2] = {0, -2, 0};
         },
         {0, -1, 0, 0}, {0, 0, -1}, 180, 0, {1, 0, 0}},
        {"sun with a zero axis",
         [](MDL_Lamp& l) {
             l.lampType = LAMP_SUN;
             l.editGlobalFrame().basis.c[2] = {0, 0, 0};
         },
         {0, 0, 1, 0}, {0, 0, -1}, 180, 0, {1, 0, 0}},
        {"hemi lamp: colour only", [](MDL_Lamp& l) { l.lampType = LAMP_HEMI; }, {0, 0, 1, 0}, {0, 0, -1}, 180, 0,
         {1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MDL_Lamp lamp;
        lamp.editGlobalFrame().position = {1, 2, 3};
        c.setUp(lamp);
        VIEW_LightParams p;
        VIEW_iLampParams(lamp, p);
        for (int i = 0; i < 4; i++)
            EXPECT_FLOAT_EQ(p.position[i], c.position[i]) << i;
        for (int i = 0; i < 3; i++)
            EXPECT_FLOAT_EQ(p.spotDirection[i], c.direction[i]) << i;
        EXPECT_FLOAT_EQ(p.spotCutoff, c.cutoff);
        EXPECT_FLOAT_EQ(p.spotExponent, c.exponent);
        for (int i = 0; i < 3; i++)
            EXPECT_FLOAT_EQ(p.attenuation[i], c.attenuation[i]) << i;
    }
}

TEST(SceneLights, ColoursFollowEnergyAndSwitches)
{
    MDL_Lamp lamp;
    lamp.color[0] = 0.5, lamp.color[1] = 0.25, lamp.color[2] = 1;
    lamp.energy = 2;
    lamp.ambientColor[0] = 0.1;
    lamp.noSpecular = 1;
    VIEW_LightParams p;
    VIEW_iLampParams(lamp, p);
    EXPECT_FLOAT_EQ(p.diffuse[0], 1);
    EXPECT_FLOAT_EQ(p.diffuse[1], 0.5);
    EXPECT_FLOAT_EQ(p.diffuse[2], 2);
    EXPECT_FLOAT_EQ(p.diffuse[3], 1);
    EXPECT_FLOAT_EQ(p.specular[0], 0);
    EXPECT_FLOAT_EQ(p.specular[3], 1);
    EXPECT_FLOAT_EQ(p.ambient[0], 0.1f);
    EXPECT_FLOAT_EQ(p.ambient[3], 1);
}

TEST(SceneLights, ShininessIsScaledAndKeptInRange)
{
    EXPECT_FLOAT_EQ(VIEW_iShininess(50), (float)(50 * (double)1.2f));
    EXPECT_FLOAT_EQ(VIEW_iShininess(500), 128);
    EXPECT_FLOAT_EQ(VIEW_iShininess(-5), 0);
    EXPECT_FLOAT_EQ(VIEW_iShininess(NAN), 0);
}

// Lamps in list order: each that is on takes the next of eight lights, and
// the shadow lamp is the first of those with shadows.
TEST(SceneLights, ShadowLampIsAmongTheFirstEightLampsThatAreOn)
{
    struct Case {
        const char* what;
        std::vector<std::pair<bool, bool>> lamps;   // on, shadows
        int expected, light;
    };
    const Case cases[] = {
        {"first with shadows", {{true, false}, {true, true}, {true, true}}, 1, 1},
        {"one that is off is passed over", {{false, true}, {true, false}, {true, true}}, 2, 1},
        {"none with shadows", {{true, false}, {true, false}}, -1, -1},
        {"ninth lamp that is on", {{true, false}, {true, false}, {true, false}, {true, false}, {true, false},
                                   {true, false}, {true, false}, {true, false}, {true, true}}, -1, -1},
        {"eighth lamp, after lamps that are off",
         {{false, false}, {true, false}, {true, false}, {true, false}, {true, false}, {true, false}, {true, false},
          {true, false}, {false, false}, {true, true}}, 9, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<MDL_Lamp>> owned;
        CTRL_Array<MDL_Object*> lamps;
        for (auto [on, shadows] : c.lamps) {
            owned.push_back(std::make_unique<MDL_Lamp>());
            owned.back()->on = on;
            owned.back()->shadows = shadows;
            lamps.append(owned.back().get());
        }
        int32_t light = 99;
        MDL_Lamp* found = VIEW_iFindShadowLamp(lamps, &light);
        EXPECT_EQ(found, c.expected < 0 ? nullptr : owned[c.expected].get());
        EXPECT_EQ(light, c.light);
    }
}

TEST(SceneMirror, PlaneComesFromTheFirstVertexAndNormal)
{
    for (bool withNormals : {true, false}) {
        SCOPED_TRACE(withNormals ? "normals" : "no normals: first face");
        DataSpec s = quadSpec(2, 2);
        if (!withNormals)
            s.normals.clear();
        auto data = makeData(s);
        MDL_Mesh m;
        m.meshData = data.get();
        MDL_Frame& f = m.editGlobalFrame();
        f.position = {0, 0, 3};
        f.basis = {{{2, 0, 0}, {0, 0, 2}, {0, -2, 0}}};   // turned to face -y, scaled
        f.inverseDirty = 1;
        VIEW_MirrorPlane p;
        ASSERT_TRUE(VIEW_iMirrorPlane(m, p));
        EXPECT_DOUBLE_EQ(p.point.x, -2);
        EXPECT_DOUBLE_EQ(p.point.z, 1);
        EXPECT_NEAR(p.normal.x, 0, 1e-15);
        EXPECT_NEAR(p.normal.y, -1, 1e-15);
        EXPECT_NEAR(p.normal.z, 0, 1e-15);
    }
    MDL_Mesh empty;
    auto none = makeData(DataSpec{});
    empty.meshData = none.get();
    VIEW_MirrorPlane p;
    EXPECT_FALSE(VIEW_iMirrorPlane(empty, p));
}

TEST(SceneMirror, ReflectedCameraMirrorsPositionAndAxes)
{
    VIEW_MirrorPlane plane{{0, 0, 1}, {0, 0, 1}};
    MDL_Frame f = MDL_Frame::identity();
    f.position = {1, 2, 5};
    VIEW_iReflectFrame(plane, f);
    EXPECT_DOUBLE_EQ(f.position.z, -3);
    EXPECT_DOUBLE_EQ(f.position.x, 1);
    EXPECT_DOUBLE_EQ(f.basis.c[2].z, -1);
    EXPECT_DOUBLE_EQ(f.basis.c[0].x, 1);
    EXPECT_LT(m33::determinant(f.basis), 0);
    EXPECT_EQ(f.inverseDirty, 1);
}

TEST(SceneTransparency, OfferedOrderIsAPermutationInterleavingQuarters)
{
    const uint32_t nine[] = {0, 3, 4, 7, 1, 2, 5, 6, 8};
    for (uint32_t k = 0; k < 9; k++)
        EXPECT_EQ(VIEW_iOfferedTriangle(k, 9), nine[k]);
    for (uint32_t count : {0u, 1u, 3u, 4u, 7u, 64u, 1001u}) {
        std::vector<int> seen(count, 0);
        for (uint32_t k = 0; k < count; k++)
            seen[VIEW_iOfferedTriangle(k, count)]++;
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; })) << count;
    }
}

namespace {

// Eye matrix of a camera at (0, 0, 10) looking down -z (identity basis).
m44 eyeFromAbove()
{
    m44 e = m44::identity();
    e.at(2, 3) = -10;
    return e;
}

int32_t collected(const DataSpec& s, bool doubleSided, bool mirrored, const m44& eye, VIEW_Transparency& rec)
{
    auto data = makeData(s);
    MDL_Mesh m;
    m.meshData = data.get();
    VIEW_MeshArrays a;
    EXPECT_TRUE(VIEW_iMeshArrays(m, a));
    VIEW_iBspClear(rec);
    VIEW_iCollectTransparentTriangles(rec, a, doubleSided, nullptr, eye, m33::identity(), mirrored);
    VIEW_iBspClearOutput(rec);
    VIEW_iBspCollect(rec, 0);
    return rec.materials.count;
}

}   // namespace

TEST(SceneTransparency, DropsWhatCannotBeSeen)
{
    struct Case {
        const char* what;
        double z;
        bool flip, doubleSided, mirrored, degenerate;
        int32_t kept;
    };
    const Case cases[] = {
        {"front faces", 0, false, false, false, false, 2},
        {"back faces of a single-sided mesh", 0, true, false, false, false, 0},
        {"back faces of a double-sided mesh", 0, true, true, false, false, 2},
        {"back faces in a mirrored view", 0, true, false, true, false, 2},
        {"front faces in a mirrored view", 0, false, false, true, false, 0},
        {"behind the eye", 11, false, false, false, false, 0},
        {"astride the eye", 10, false, false, false, false, 2},
        {"no area", 0, false, true, false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DataSpec s = quadSpec(2, 2);
        for (size_t i = 2; i < s.positions.size(); i += 3)
            s.positions[i] = c.z;
        if (c.z == 10)
            s.positions[2] = 9;   // one corner in front of the eye
        if (c.flip)
            std::swap(s.indices[1], s.indices[2]), std::swap(s.indices[4], s.indices[5]);
        if (c.degenerate)
            for (size_t i = 0; i < s.positions.size(); i += 3)
                s.positions[i] = 0;
        VIEW_Transparency rec;
        EXPECT_EQ(collected(s, c.doubleSided, c.mirrored, eyeFromAbove(), rec), c.kept);
    }
}

TEST(SceneTransparency, VerticesCarryEyeSpaceAttributes)
{
    DataSpec s = quadSpec(2, 2);
    s.normals = {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0};
    VIEW_Transparency rec;
    ASSERT_EQ(collected(s, false, false, eyeFromAbove(), rec), 2);
    for (int32_t v = 0; v < rec.positions.count; v++) {
        EXPECT_DOUBLE_EQ(rec.positions[v].z, -10);
        EXPECT_DOUBLE_EQ(rec.normals[v].x, 1);
        EXPECT_EQ(rec.colours[v].a, -1) << "no vertex colours";
    }
    // Plane normal away from the eye.
    EXPECT_DOUBLE_EQ(rec.nodes[0].planeNormal.z, -1);

    s.colours.assign(16, 0.5);
    s.uvs.clear();
    s.normals.clear();
    ASSERT_EQ(collected(s, false, false, eyeFromAbove(), rec), 2);
    EXPECT_EQ(rec.colours[0].a, 0.5);
    EXPECT_EQ(rec.uvs[0].x, 0);
    EXPECT_DOUBLE_EQ(rec.normals[0].z, 1) << "without normals: facing the eye";
}

TEST(SceneMatrices, SpriteKeepsItsAxesAndTakesItsEyePosition)
{
    auto data = makeData(quadSpec(1, 1));
    MDL_Mesh m;
    m.meshData = data.get();
    MDL_Frame& f = m.editGlobalFrame();
    f.position = {1, 2, 3};
    f.basis = {{{0, 2, 0}, {-2, 0, 0}, {0, 0, 2}}};
    f.inverseDirty = 1;
    // A camera turned a quarter round z, at (0, 0, 10).
    m44 view = m44::identity();
    view.at(0, 0) = 0, view.at(0, 1) = 1, view.at(1, 0) = -1, view.at(1, 1) = 0;
    view.at(2, 3) = -10;

    m44 normal, sprite;
    VIEW_iObjectMatrix(view, m, normal);
    m.displayMode = DISPLAY_MODE_SPRITE;
    VIEW_iObjectMatrix(view, m, sprite);
    // Same place in eye space either way.
    for (int r = 0; r < 3; r++)
        EXPECT_DOUBLE_EQ(sprite.at(r, 3), normal.at(r, 3));
    // The sprite's axes are its own, unturned by the camera.
    EXPECT_DOUBLE_EQ(sprite.at(1, 0), 2);
    EXPECT_DOUBLE_EQ(sprite.at(0, 1), -2);
    EXPECT_DOUBLE_EQ(normal.at(0, 0), 2);
}
