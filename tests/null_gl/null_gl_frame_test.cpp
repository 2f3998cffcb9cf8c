// The player's frame on the renderer's real code with no GL behind it: the
// window controller on the fake platform, the script engine, and the null
// GL driver detached (every drawing call returns at once, the queries answer
// as a GL 2.1 driver would), so that a scene built by script is drawn on
// both render paths under the sanitizers.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <fstream>
#include <sstream>
#include <string>

#include <lua.hpp>

#include "bench/null_gl.h"
#include "controller/CTRL_Generic.h"
#include "platform/PLAT_Fake.h"
#include "render/VIEW_OpenGL.h"
#include "script/LMP_Engine.h"
#include "shell/CTRL_Win32.h"
#include "tests/script/script_rig.h"

// The renderer loads its extensions through glewInit; the null driver has
// nothing to load.
extern "C" GLenum GLEWAPIENTRY glewInit(void)
{
    null_gl::detach();
    return GLEW_OK;
}

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A lit scene from the fixture scene file: a plain mesh, the skinned mesh
// and a body, seen by a camera through a viewport, with an overlay text.
const char* kScene = R"(
    set = newModelsSet("scene.xml")
    scene = newScene()
    cam = newCamera(scene)
    cam:setPosition(v3(0, -10, 3))
    cam:rotate(v3(1, 0, 0), 75)
    vp = newViewport(0, 0, 1, 0.75)
    vp:setCamera(cam)
    lamp = newLamp(scene)
    lamp:setPosition(v3(2, -3, 6))
    crate = newMesh(scene, set:get("Crate"))
    skin = newAnimatedMesh(scene, set:get("Skin"))
    body = newRigidBody(scene, set:get("Crate"))
    body:setPosition(v3(0, 0, 3))
    label = newText(cam)
)";

struct Frames {
    PLAT_Fake fake;
    CTRL_ManualClock clock;
    PLAT_Window* window = nullptr;
    CTRL_Win32* c = nullptr;
    LMP_Engine* engine = nullptr;

    explicit Frames(const char* extensions)
    {
        null_gl::detachedExtensions = extensions;
        PLAT_iSet(&fake);
        CTRL_iSetClock(&clock);
        fake.soundAvailable = false;
        fake.registerClass(CTRL_WINDOW_CLASS, CTRL_iWndProc, nullptr);
        window = fake.createWindow(CTRL_WINDOW_CLASS, "", PLAT_WS_OVERLAPPEDWINDOW, 0, 0, 0, 640 + fake.frameWidth,
                                   480 + fake.frameHeight);
        engine = new LMP_Engine();
        c = new CTRL_Win32(engine, window);
        c->package = makePackage({{"scene.xml", readFile(HALVORIN_BINARY_DIR "/fixtures/scenefile/scene.xml")}});
        c->started = 1;
        c->stage = STAGE_RUNNING;
        c->setViewportSize(640, 480);
        c->aspect = 0.75;
    }
    ~Frames()
    {
        fake.destroyWindow(window);  // deletes the controller
        CTRL_iSetClock(nullptr);
        PLAT_iSet(nullptr);
    }
    bool run(const char* code)
    {
        lua_State* L = engine->luaState();
        if (luaL_loadstring(L, code) != LUA_OK) return false;
        return engine->protectedCall(0, 0) && !c->halted;
    }
    void frame()
    {
        clock.advanceSeconds(1.0 / 60);
        fake.post(window, PLAT_WM_TIMER);
        fake.pump();
    }
};

TEST(NullGlFrame, SceneIsDrawnOnBothRenderPaths)
{
    const struct {
        const char* extensions;
        const char* path;
    } cases[] = {
        {"GL_ARB_vertex_buffer_object GL_ARB_multitexture", "VBO"},
        {"GL_ARB_multitexture", nullptr},  // client arrays
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.extensions);
        Frames f(k.extensions);
        auto* gl = dynamic_cast<VIEW_OpenGL*>(f.c->renderer);
        ASSERT_NE(gl, nullptr);
        if (k.path)
            EXPECT_NE(std::string(gl->getRenderPathName()).find(k.path), std::string::npos) << gl->getRenderPathName();
        else
            EXPECT_EQ(std::string(gl->getRenderPathName()).find("VBO"), std::string::npos) << gl->getRenderPathName();
        ASSERT_TRUE(f.run(kScene));
        f.fake.clearCalls();
        for (int i = 0; i < 4; i++) f.frame();
        EXPECT_EQ(f.fake.count("swapBuffers"), 4u);
        EXPECT_FALSE(f.c->halted);
    }
}

}  // namespace
