// Steady frames allocate nothing: a lit scene with shadow casters, crossing
// transparent panes, a mirror, a shadow lamp that moves every frame and
// overlay texts, drawn again and again once every array has grown to the
// largest the lamp's path needs.
#include "gl/gl_context.h"
#include "lit_fixtures.h"

#include <GL/glew.h>

#include "media/VIEW_Font.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_Shadow.h"
#include "tests/alloc_count.h"

#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>
#include <memory>
#include <vector>

using namespace lit;

namespace {

struct LitScene {
    std::vector<std::unique_ptr<MDL_MeshData>> data;
    MDL_Scene scene;
    MDL_Viewport viewport{0, 0, 1, 1};
    MDL_Lamp* lamp = nullptr;
    VIEW_Font font{"default", nullptr, 0, 0};
    VIEW_OpenGL view;
    int frame = 0;

    MDL_Mesh* add(const DataSpec& s, MDL_Material* m, v3 at)
    {
        data.push_back(makeData(s));
        MDL_Mesh* o = mesh(data.back().get(), m, at);
        scene.addObject(o);
        return o;
    }

    LitScene(int shadowType, int rendering)
    {
        MDL_Camera* camera = new MDL_Camera();
        camera->editGlobalFrame().position = {0, 0, 10};
        scene.addObject(camera);
        viewport.camera = camera;
        viewport.background[3] = 1;
        viewport.shadowRendering = rendering;

        add(quadSpec(12, 12), material(0.8, 0.8, 0.8), {0, 0, 0});
        for (int i = 0; i < 3; i++)
            add(boxSpec(0.6, 0.6, 0.6), material(0.2, 0.3 * i, 0.9), {-2.0 + 2 * i, 0, 1.5});
        // Two panes crossing each other: the ordering tree splits them.
        MDL_Mesh* a = add(quadSpec(3, 3), material(1, 0, 0, 0.5), {0, -2, 2});
        MDL_Mesh* b = add(quadSpec(3, 3), material(0, 0, 1, 0.5), {0, -2, 2});
        MDL_Frame& fa = a->editGlobalFrame();
        fa.basis = {{{1, 0, 0}, {0, 0.8, 0.6}, {0, -0.6, 0.8}}};
        fa.inverseDirty = 1;
        MDL_Frame& fb = b->editGlobalFrame();
        fb.basis = {{{1, 0, 0}, {0, 0.8, -0.6}, {0, 0.6, 0.8}}};
        fb.inverseDirty = 1;
        MDL_Mesh* mirror = add(quadSpec(2, 2), material(0.5, 0.5, 0.5, 0.5), {3, 3, 0.1});
        mirror->material->mirror = 1;

        lamp = new MDL_Lamp();
        lamp->color[0] = lamp->color[1] = lamp->color[2] = 1;
        lamp->shadows = 1;
        lamp->shadowType = shadowType;
        lamp->shadowCoeff = 0.7;
        scene.addObject(lamp);

        const char* texts[] = {"Steady frames: no allocation", "AVAWAY\tkerned\nsecond line"};
        for (int i = 0; i < 2; i++) {
            MDL_Text* t = new MDL_Text();
            t->font = &font;
            t->size = 0.08 + 0.02 * i;
            t->editGlobalFrame().position = {0.05, 0.1 + 0.4 * i, 0};
            t->backgroundColor[3] = i == 1 ? 0.5 : 0;
            t->setText(texts[i]);
            scene.addObject(t);
        }
        view.initExtensions();
    }

    // One frame as the render driver draws it, the lamp a step further on.
    void draw()
    {
        frame++;
        lamp->editGlobalFrame().position = {2 * std::sin(frame * 0.5), 1 + std::cos(frame * 0.5), 7};
        MDL_Lamp* l = VIEW_iFindShadowLamp(scene.lamps, nullptr);
        for (MDL_Object* o : scene.meshes)
            if (VIEW_iCastsShadow(o))
                static_cast<MDL_Mesh*>(o)->updateShadowGeometry(l);
        if (l)
            l->moved = 0;
        view.beginFrame(nullptr, 0);
        view.drawScene(&viewport, {0, 0}, {GL_TEST_WIDTH, GL_TEST_HEIGHT});
        glFinish();
    }
};

TEST(SteadyFrames, DrawWithoutHeapAllocation)
{
    if (!ALLOC_COUNT_WORKS)
        GTEST_SKIP() << "the sanitizers keep their own allocator";
    if (!glContextReady())
        GTEST_SKIP() << "no GL context";
    struct Case {
        const char* what;
        int shadowType, rendering;
    };
    const Case cases[] = {
        {"depth-fail volumes, lamp dimmed", SHADOW_ZFAIL, SHADOW_3D},
        {"depth-pass volumes, darkened screen", SHADOW_ZPASS, SHADOW_2D},
    };
    for (const Case& c : cases) {
        LitScene s(c.shadowType, c.rendering);
        // Once round the lamp's path: every array reaches its largest.
        for (int i = 0; i < 30; i++)
            s.draw();
        ASSERT_GT(s.view.transparency.materials.count, 2) << c.what << ": the panes were not split";
        uint64_t calls = 0;
        void* from = nullptr;
        {
            alloc_count::Scope count;
            for (int i = 0; i < 12; i++)
                s.draw();
            calls = count.count();
            from = alloc_count::lastCaller;
        }
        Dl_info info{};
        const bool named = from && dladdr(from, &info);
        EXPECT_EQ(calls, 0u) << c.what << ": last from " << from << " ("
                             << (named && info.dli_sname ? info.dli_sname : "?") << ", offset "
                             << (named ? (void*)((char*)from - (char*)info.dli_fbase) : nullptr) << ")";
    }
}

// The counter itself sees an allocation of ours, direct and through the C
// and C++ libraries, and none while it is off.
TEST(SteadyFrames, CounterSeesOurAllocations)
{
    if (!ALLOC_COUNT_WORKS)
        GTEST_SKIP() << "the sanitizers keep their own allocator";
    {
        alloc_count::Scope count;
        void* volatile p = std::malloc(16);
        std::free(p);
        EXPECT_EQ(count.count(), 1u) << "malloc";
    }
    {
        alloc_count::Scope count;
        auto v = std::make_unique<std::vector<int>>(100);
        EXPECT_EQ(count.count(), 2u) << "new and a vector's storage";
    }
    {
        alloc_count::Scope count;
        char* volatile copy = strdup("a string of ours");
        std::free(copy);
        EXPECT_EQ(count.count(), 1u) << "strdup";
    }
    const uint64_t before = alloc_count::calls;
    void* volatile q = std::malloc(16);
    std::free(q);
    EXPECT_EQ(alloc_count::calls, before) << "counted while off";
}

}  // namespace
