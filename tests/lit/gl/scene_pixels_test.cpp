// Pixel tests of the 3-D scene drawing on Mesa's software GL: small scenes
// built in code, drawn by the renderer into an off-screen buffer and read
// back.
#include "gl/gl_context.h"
#include "lit_fixtures.h"

#include <GL/glew.h>
#include <png.h>

#include "media/VIEW_Texture.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_Shadow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <vector>

using namespace lit;

namespace {

constexpr int W = GL_TEST_WIDTH, H = GL_TEST_HEIGHT;

struct Rgba {
    int r, g, b, a;
};

struct Picture {
    std::vector<unsigned char> px = std::vector<unsigned char>(4 * W * H);
    // x from the left, y from the top.
    Rgba at(int x, int y) const
    {
        const unsigned char* p = &px[4 * ((H - 1 - y) * W + x)];
        return {p[0], p[1], p[2], p[3]};
    }
    int brightness(int x, int y) const
    {
        Rgba c = at(x, y);
        return c.r + c.g + c.b;
    }
};

::testing::AssertionResult near(const Rgba& c, int r, int g, int b, int tolerance = 3)
{
    if (std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << c.r << ", " << c.g << ", " << c.b << "), expected (" << r
                                         << ", " << g << ", " << b << ")";
}

// A scene seen from (0, 0, 10) straight down, through a 64 by 64 viewport.
struct World {
    std::vector<std::vector<uint8_t>> pngs;            // these outlive the scene
    std::vector<std::unique_ptr<VIEW_Texture>> textures;
    std::vector<std::unique_ptr<MDL_MeshData>> data;
    MDL_Scene scene;
    MDL_Camera* camera;
    MDL_Viewport viewport{0, 0, 1, 1};

    World()
    {
        camera = new MDL_Camera();
        camera->editGlobalFrame().position = {0, 0, 10};
        scene.addObject(camera);
        viewport.camera = camera;
        setBackground(0, 0, 0, 1);
    }
    void setBackground(double r, double g, double b, double a)
    {
        double c[4] = {r, g, b, a};
        std::copy(c, c + 4, viewport.background);
    }
    MDL_Mesh* add(const DataSpec& s, MDL_Material* m, v3 at = {0, 0, 0})
    {
        data.push_back(makeData(s));
        MDL_Mesh* o = mesh(data.back().get(), m, at);
        scene.addObject(o);
        return o;
    }
    // A 4 by 4 checker of two colours, as a PNG texture.
    VIEW_Texture* checker(const uint8_t a[3], const uint8_t b[3])
    {
        std::vector<uint8_t> rgb;
        for (int i = 0; i < 16; i++)
            rgb.insert(rgb.end(), ((i / 4 + i % 4) % 2 ? a : b), ((i / 4 + i % 4) % 2 ? a : b) + 3);
        png_image img{};
        img.version = PNG_IMAGE_VERSION;
        img.width = img.height = 4;
        img.format = PNG_FORMAT_RGB;
        png_alloc_size_t size = 0;
        png_image_write_to_memory(&img, nullptr, &size, 0, rgb.data(), 0, nullptr);
        pngs.emplace_back(size);
        png_image_write_to_memory(&img, pngs.back().data(), &size, 0, rgb.data(), 0, nullptr);
        textures.push_back(std::make_unique<VIEW_Texture>("checker", pngs.back().data(), (uint32_t)size, 0));
        return textures.back().get();
    }
    MDL_Lamp* lamp(v3 at)
    {
        MDL_Lamp* l = new MDL_Lamp();
        l->color[0] = l->color[1] = l->color[2] = 1;
        l->editGlobalFrame().position = at;
        scene.addObject(l);
        return l;
    }

    // Draws one frame as the render driver would: volumes rebuilt for the
    // shadow lamp, then the viewport. path < 0 keeps what the driver offers.
    Picture draw(int path = -1, VIEW_OpenGL* reuse = nullptr, const Rgba* before = nullptr,
                 bool buildVolumes = true)
    {
        std::unique_ptr<VIEW_OpenGL> own;
        VIEW_OpenGL* view = reuse;
        if (!view) {
            own = std::make_unique<VIEW_OpenGL>();
            view = own.get();
            view->initExtensions();
        }
        if (path >= 0)
            view->renderPath = (uint32_t)path;
        MDL_Lamp* l = buildVolumes ? VIEW_iFindShadowLamp(scene.lamps, nullptr) : nullptr;
        if (l) {
            for (MDL_Object* o : scene.meshes)
                if (VIEW_iCastsShadow(o))
                    static_cast<MDL_Mesh*>(o)->updateShadowGeometry(l);
            l->moved = 0;
        }
        view->beginFrame(nullptr, 0);
        if (before) {
            glDisable(GL_SCISSOR_TEST);
            glClearColor(before->r / 255.0f, before->g / 255.0f, before->b / 255.0f, 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        view->drawScene(&viewport, {0, 0}, {W, H});
        glFinish();
        Picture p;
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, p.px.data());
        return p;
    }
};

// Pixel column of a world x on the plane `distance` below the camera.
int column(double x, double distance)
{
    double ndc = 2.187214449820794 * x / distance;
    return (int)((ndc + 1) / 2 * W);
}

#define NEED_GL()                                                                                                  \
    do {                                                                                                           \
        if (!lit::glContextReady())                                                                                 \
            GTEST_SKIP() << "no GL context (run under the virtual X server)";                                      \
    } while (0)

}   // namespace

TEST(ScenePixels, BackgroundWithAlphaZeroLeavesTheBuffer)
{
    NEED_GL();
    const Rgba red{255, 0, 0, 255};
    World w;
    w.setBackground(0, 0, 1, 0);
    EXPECT_TRUE(near(w.draw(-1, nullptr, &red).at(32, 32), 255, 0, 0));
    w.setBackground(0, 0, 1, 1);
    EXPECT_TRUE(near(w.draw(-1, nullptr, &red).at(32, 32), 0, 0, 255));

    // A camera scaled to nothing has no inverse: it sees nothing, and the
    // background is still cleared.
    w.add(quadSpec(20, 20), material(1, 1, 1, 1, true), {0, 0, -5});
    w.camera->editGlobalFrame().basis = {{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};
    EXPECT_TRUE(near(w.draw(-1, nullptr, &red).at(32, 32), 0, 0, 255));
}

TEST(ScenePixels, OccluderHidesWhatLiesBehindIt)
{
    NEED_GL();
    for (bool occluder : {false, true}) {
        SCOPED_TRACE(occluder ? "with occluder" : "without");
        World w;
        w.add(quadSpec(20, 20), material(1, 0, 0, 1, true));
        w.add(quadSpec(20, 20), material(1, 1, 1, 0.5, true), {0, 0, 1});
        if (occluder)
            w.add(quadSpec(2, 2), material(0, 1, 0, 0, true), {0, 0, 2});
        Picture p = w.draw();
        EXPECT_TRUE(near(p.at(4, 4), 255, 128, 128)) << "the pane over the floor";
        if (occluder)
            EXPECT_TRUE(near(p.at(32, 32), 255, 0, 0)) << "the pane is hidden, the floor is not";
        else
            EXPECT_TRUE(near(p.at(32, 32), 255, 128, 128));
    }
}

// Two half-transparent panes crossing along x = 0: on each side the nearer
// one must be blended last, whichever order they were added in.
TEST(ScenePixels, CrossingPanesLookTheSameInBothOrders)
{
    NEED_GL();
    auto pane = [](double slope) {
        DataSpec s = quadSpec(6, 6);
        for (size_t i = 0; i < s.positions.size(); i += 3)
            s.positions[i + 2] = slope * s.positions[i];
        s.doubleSided = true;
        return s;
    };
    Picture pictures[2];
    for (int order = 0; order < 2; order++) {
        World w;
        for (int k = 0; k < 2; k++) {
            bool red = (k == 0) == (order == 0);
            w.add(pane(red ? 0.5 : -0.5), material(red, 0, !red, 0.5, true));
        }
        pictures[order] = w.draw();
        // Right of the crossing the red pane is nearer; left, the blue one.
        EXPECT_TRUE(near(pictures[order].at(44, 32), 128, 0, 64)) << "order " << order;
        EXPECT_TRUE(near(pictures[order].at(20, 32), 64, 0, 128)) << "order " << order;
    }
    int differing = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            Rgba a = pictures[0].at(x, y), b = pictures[1].at(x, y);
            differing += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 6;
        }
    EXPECT_LE(differing, W / 4) << "only pixels along the split may differ";
}

// Meshes that share a material, one with vertex colours and one without,
// are drawn in runs of their own: the second does not take colours from the
// first's array.
TEST(ScenePixels, SharedMaterialWithAndWithoutVertexColours)
{
    NEED_GL();
    World w;
    MDL_Material* shared = material(1, 0, 0, 0.5, true);
    DataSpec coloured = quadSpec(2, 2);
    coloured.colours.assign(16, 0.0);
    for (int v = 0; v < 4; v++)
        coloured.colours[4 * v + 1] = coloured.colours[4 * v + 3] = 1;
    w.add(coloured, shared, {-2, 0, 0});
    MDL_Mesh* plain = w.add(quadSpec(2, 2), shared, {2, 0, 1});
    plain->ownMaterial = 0;
    Picture p = w.draw();
    EXPECT_TRUE(near(p.at(column(-2, 10), 32), 0, 255, 0)) << "vertex colours";
    EXPECT_TRUE(near(p.at(column(2, 9), 32), 128, 0, 0)) << "the material's colour";
}

TEST(ScenePixels, MirrorShowsTheReflectedObject)
{
    NEED_GL();
    struct Case {
        const char* what;
        bool mirror, normals;
    };
    const Case cases[] = {{"mirror", true, true}, {"mirror without normals", true, false}, {"plain floor", false, true}};
    // The object at z = 5 over x in [0.5, 1.5]: its reflection lies 15 below
    // the camera, the object itself only 5.
    const int reflection = column(1.0, 15), direct = column(1.0, 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.setBackground(0, 1, 0, 1);
        DataSpec floor = quadSpec(40, 40);
        if (!c.normals)
            floor.normals.clear();
        MDL_Material* m = material(1, 1, 1, 0, true);
        m->mirror = c.mirror;
        if (!c.mirror)
            m->diffuse[3] = 1, m->diffuse[1] = 1;
        w.add(floor, m);
        DataSpec object = quadSpec(1, 1);
        object.doubleSided = true;
        w.add(object, material(1, 0, 0, 1, true), {1, 0, 5});
        Picture p = w.draw();
        EXPECT_TRUE(near(p.at(direct, 32), 255, 0, 0)) << "the object itself";
        if (c.mirror)
            EXPECT_TRUE(near(p.at(reflection, 32), 255, 0, 0)) << "its reflection";
        else
            EXPECT_TRUE(near(p.at(reflection, 32), 255, 255, 255)) << "the floor";
    }
}

namespace {

// A lit floor, a lamp up and to the left, and a small box between them whose
// shadow falls on the middle of the floor.
struct ShadowWorld : World {
    MDL_Lamp* light;
    MDL_Mesh* caster;
    ShadowWorld(int32_t type, int32_t rendering, MDL_Material* casterMaterial)
    {
        MDL_Material* floor = material(1, 1, 1);
        floor->specular[0] = floor->specular[1] = floor->specular[2] = 0;
        add(quadSpec(30, 30), floor);
        light = lamp({-6, 0, 8});
        light->shadows = 1;
        light->shadowType = type;
        light->shadowCoeff = 0.7;
        caster = add(boxSpec(0.5, 0.5, 0.1), casterMaterial, {-3, 0, 4});
        viewport.shadowRendering = rendering;
    }
};

}   // namespace

TEST(ScenePixels, CastersDarkenTheFloorInBothModes)
{
    NEED_GL();
    struct Case {
        const char* what;
        int32_t type, rendering;
        double casterAlpha;
        bool casts, shaded;
        double coefficient = 0.7;
    };
    const Case cases[] = {
        {"depth pass, dark overlay", SHADOW_ZPASS, SHADOW_2D, 1, true, true},
        {"depth pass, dimmed light", SHADOW_ZPASS, SHADOW_3D, 1, true, true},
        {"depth fail, dark overlay", SHADOW_ZFAIL, SHADOW_2D, 1, true, true},
        {"depth fail, dimmed light", SHADOW_ZFAIL, SHADOW_3D, 1, true, true},
        {"half-transparent caster", SHADOW_ZFAIL, SHADOW_3D, 0.5, true, false},
        {"caster that casts no shadow", SHADOW_ZPASS, SHADOW_2D, 1, false, false},
        {"coefficient 1: black", SHADOW_ZPASS, SHADOW_2D, 1, true, true, 1.0},
    };
    const int lit = column(3.5, 10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MDL_Material* m = material(1, 1, 1, c.casterAlpha);
        m->castShadows = c.casts;
        ShadowWorld w(c.type, c.rendering, m);
        w.light->shadowCoeff = c.coefficient;
        w.light->shadows = 0;
        Picture plain = w.draw();
        w.light->shadows = 1;
        Picture shadowed = w.draw();
        ASSERT_GT(plain.brightness(32, 32), 150) << "the floor is lit";
        if (c.coefficient == 1)
            EXPECT_TRUE(near(shadowed.at(32, 32), 0, 0, 0, 0));
        else if (c.shaded)
            EXPECT_LT(shadowed.brightness(32, 32), plain.brightness(32, 32) * 0.6);
        else
            EXPECT_NEAR(shadowed.brightness(32, 32), plain.brightness(32, 32), 6);
        EXPECT_NEAR(shadowed.brightness(lit, 32), plain.brightness(lit, 32), 6) << "outside the shadow";
    }
}

// Volumes built for some other lamp, or built for depth-pass counting before
// the lamp switched to depth-fail, are not composited as they are.
TEST(ScenePixels, VolumesAlwaysMatchTheLampThatComposites)
{
    NEED_GL();
    for (bool otherLamp : {true, false}) {
        SCOPED_TRACE(otherLamp ? "built for a lamp that is off" : "built without caps");
        ShadowWorld w(otherLamp ? SHADOW_ZFAIL : SHADOW_ZPASS, SHADOW_2D, material(1, 1, 1));
        w.light->shadows = 0;
        Picture plain = w.draw();
        w.light->shadows = 1;
        if (otherLamp) {
            // An earlier lamp with shadows that is off: not the shadow lamp.
            MDL_Lamp* off = w.lamp({6, 0, 8});
            off->on = 0;
            off->shadows = 1;
            std::swap(w.scene.lamps[0], w.scene.lamps[1]);
            w.caster->updateShadowGeometry(off);
        } else {
            // A volume that ends just below the floor: rays into the shadow
            // leave it through its back cap.
            w.light->shadowDepth = 6;
            w.caster->updateShadowGeometry(w.light);
            w.light->moved = 0;
            w.light->shadowType = SHADOW_ZFAIL;
        }
        Picture shadowed = w.draw(-1, nullptr, nullptr, false);
        EXPECT_LT(shadowed.brightness(32, 32), plain.brightness(32, 32) * 0.6);
        EXPECT_EQ(w.caster->shadowLamp, w.light);
    }
}

TEST(ScenePixels, DepthFailStaysRightWithTheCameraInsideTheVolume)
{
    NEED_GL();
    ShadowWorld w(SHADOW_ZFAIL, SHADOW_2D, material(1, 1, 1));
    // Between the box and the floor, in its shadow volume, looking down.
    w.camera->editGlobalFrame().position = {-1.5, 0, 2};
    w.light->shadows = 0;
    Picture plain = w.draw();
    w.light->shadows = 1;
    Picture shadowed = w.draw();
    const int inShadow = column(0.7, 2);   // floor x = -0.8
    EXPECT_NEAR(shadowed.brightness(32, 32), plain.brightness(32, 32), 6) << "straight below: lit";
    EXPECT_LT(shadowed.brightness(inShadow, 32), plain.brightness(inShadow, 32) * 0.6) << "in the shadow";
}

namespace {

// A scene with everything a mesh draw can enable: normals, vertex colours,
// uvs, several passes, a shadow, a pane, and a mesh whose normals do not
// cover its vertices.
void busyScene(World& w)
{
    MDL_Lamp* l = w.lamp({-4, 2, 9});
    l->shadows = 1;
    w.add(quadSpec(30, 30), material(0.8, 0.8, 0.8));
    DataSpec coloured = boxSpec(1, 1, 1);
    for (int v = 0; v < 24; v++)
        coloured.colours.insert(coloured.colours.end(), {v % 2 * 1.0, v % 3 * 0.5, 1.0, 1.0});
    w.add(coloured, material(1, 1, 1), {2, -1, 1});
    DataSpec shortNormals = boxSpec(0.7, 0.7, 0.7);
    shortNormals.normals.resize(9);
    w.add(shortNormals, material(0, 1, 0), {-2, 2, 1});
    w.add(quadSpec(3, 3), material(0, 0, 1, 0.4), {0, -2, 3});
    // Two texture layers: two passes, the uvs read from their place.
    const uint8_t red[3] = {255, 0, 0}, white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
    MDL_Material* layered = material(1, 1, 1);
    layered->appendLayer(MDL_TextureLayer::makeDefault(w.checker(red, white)));
    MDL_TextureLayer second = MDL_TextureLayer::makeDefault(w.checker(black, white));
    second.color[3] = 0.5;
    layered->appendLayer(second);
    DataSpec textured = boxSpec(1.2, 1.2, 0.5);
    textured.colours.assign(4 * 24, 1.0);
    w.add(textured, layered, {-2, -2, 0.5});
}

}   // namespace

TEST(ScenePixels, BothRenderPathsGiveTheSamePicture)
{
    NEED_GL();
    World w;
    busyScene(w);
    VIEW_OpenGL probe;
    probe.initExtensions();
    if (probe.renderPath != RENDER_PATH_VBO)
        GTEST_SKIP() << "the driver has no buffer objects";
    Picture arrays = w.draw(RENDER_PATH_NONE);
    VIEW_OpenGL view;
    view.initExtensions();
    Picture buffers = w.draw(RENDER_PATH_VBO, &view);
    EXPECT_GT(view.bufferObjects.count, 0) << "the buffer path was taken";
    Picture again = w.draw(RENDER_PATH_VBO, &view);
    EXPECT_EQ(arrays.px, buffers.px);
    EXPECT_EQ(buffers.px, again.px);
}

// Buffer pairs belong to one mesh data record: an animated mesh sharing the
// data draws its own skinned vertices, and a new record that happens to get
// a freed record's address does not inherit its buffers.
TEST(ScenePixels, BufferPairsBelongToTheirMeshDataOnly)
{
    NEED_GL();
    VIEW_OpenGL view;
    view.initExtensions();
    if (view.renderPath != RENDER_PATH_VBO)
        GTEST_SKIP() << "the driver has no buffer objects";

    World w;
    MDL_Mesh* still = w.add(quadSpec(2, 2), material(1, 0, 0, 1, true), {-2, 0, 0});
    MDL_AnimatedMesh* skinned = new MDL_AnimatedMesh();
    skinned->meshData = still->meshData;
    skinned->resetSkin();
    for (int v = 0; v < 4; v++)
        skinned->skinnedPositions[v].x += 2;   // bent 2 to the right
    skinned->material = material(0, 1, 0, 1, true);
    skinned->ownMaterial = 1;
    w.scene.addObject(skinned);
    Picture p = w.draw(RENDER_PATH_VBO, &view);
    EXPECT_TRUE(near(p.at(column(-2, 10), 32), 255, 0, 0));
    EXPECT_TRUE(near(p.at(column(2, 10), 32), 0, 255, 0)) << "the skinned copy is where its bones put it";

    // Replace the data by a record at the same address with other geometry.
    MDL_MeshData* d = still->meshData;
    skinned->state = 0;
    d->~MDL_MeshData();
    MDL_MeshData* fresh = new (d) MDL_MeshData();
    DataSpec wide = quadSpec(2, 2);
    for (size_t i = 0; i < wide.positions.size(); i += 3)
        wide.positions[i] += 4;
    auto tmp = makeData(wide);
    std::swap(fresh->positions, tmp->positions);
    std::swap(fresh->indices, tmp->indices);
    std::swap(fresh->normals, tmp->normals);
    std::swap(fresh->faces, tmp->faces);
    fresh->vertexCount = tmp->vertexCount;
    fresh->normalCount = tmp->normalCount;
    fresh->triangleCount = tmp->triangleCount;
    p = w.draw(RENDER_PATH_VBO, &view);
    EXPECT_TRUE(near(p.at(column(-2, 10), 32), 0, 0, 0)) << "the old geometry is gone";
    EXPECT_TRUE(near(p.at(column(2, 10), 32), 255, 0, 0)) << "the new geometry is drawn";
}
