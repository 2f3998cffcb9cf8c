// The GL view and its window context on a real (virtual) X server with
// software GL: frame state, clears, read-backs and the deferred cache resets.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include "media/VIEW_Image.h"
#include "media/VIEW_Texture.h"
#include "platform/PLAT.h"
#include "render/VIEW_OpenGL.h"

namespace {

intptr_t proc(PLAT_Window *w, uint32_t m, uintptr_t wp, intptr_t lp) {
    return PLAT_iGet()->defWindowProc(w, m, wp, lp);
}

struct GL : ::testing::Test {
    static PLAT_System *plat;
    PLAT_Window *w = nullptr;
    VIEW_OpenGLWin32 *view = nullptr;

    static void SetUpTestSuite() {
        static char name[] = "test_gl_context";
        static char *argv[] = {name, nullptr};
        plat = PLAT_iCreateReal(1, argv);
        ASSERT_NE(plat, nullptr);
        PLAT_iSet(plat);
        plat->registerClass("gltest", proc, nullptr);
    }
    void SetUp() override {
        w = plat->createWindow("gltest", "gl", PLAT_WS_OVERLAPPEDWINDOW, 0, 0, 0, 320, 240);
        ASSERT_NE(w, nullptr);
        // Made while the window is hidden: the set-up waits for the first frame.
        view = new VIEW_OpenGLWin32(w, false);
        plat->showWindow(w, PLAT_SW_SHOW);
        plat->setTimer(w, 1, 20);
        PLAT_Msg m;
        for (int ticks = 0; ticks < 10 && plat->getMessage(&m);)
            if (m.message == PLAT_WM_TIMER) ticks++;
        plat->killTimer(w, 1);
    }
    void TearDown() override {
        delete view;
        plat->destroyWindow(w);
    }
    void pixel(int x, int y, uint8_t rgb[3]) {
        VIEW_Image image;
        ASSERT_TRUE(view->readPixels(w, x, y, 1, 1, &image));
        memcpy(rgb, image.pixels, 3);
    }
};
PLAT_System *GL::plat = nullptr;

TEST_F(GL, FrameReadsTheDriverAndChoosesTheRenderPath) {
    ASSERT_NE(view->context, nullptr);
    EXPECT_EQ(view->getVersionString(), nullptr);
    view->beginFrame(w, 0);
    ASSERT_NE(view->getVersionString(), nullptr);
    EXPECT_NE(view->getRendererString(), nullptr);
    EXPECT_NE(view->getVendorString(), nullptr);
    EXPECT_EQ(view->version, VIEW_OpenGL::versionNumber(view->getVersionString()));
    EXPECT_GE(view->version, 12u);
    EXPECT_GT(view->maxTextureSize, 0);
    const char *ext = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    bool vbo = VIEW_OpenGL::hasExtension(ext, "GL_ARB_vertex_buffer_object");
    EXPECT_STREQ(view->getRenderPathName(), vbo ? "VBO" : "NONE");
    GLint stencil = 0, depth = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencil);
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    EXPECT_EQ(stencil, 8);
    EXPECT_GE(depth, 24);
    GLint control = 0;
    glGetIntegerv(GL_LIGHT_MODEL_COLOR_CONTROL, &control);
    EXPECT_EQ(control, GL_SEPARATE_SPECULAR_COLOR);
    view->endFrame(w);

    view->beginFrame(w, 1);
    GLint modes[2] = {0, 0};
    glGetIntegerv(GL_POLYGON_MODE, modes);
    EXPECT_EQ(modes[0], GL_LINE);
    view->endFrame(w);
}

TEST_F(GL, ClearPaintsOnlyWithAVisibleColour) {
    view->beginFrame(w, 0);
    const double blue[4] = {0.25, 0.5, 1.0, 1.0}, hidden[4] = {1, 0, 0, 0};
    view->clear(blue);
    view->clear(hidden);  // alpha 0: the buffer stays as it is
    uint8_t rgb[3];
    view->makeCurrent(w);
    pixel(10, 10, rgb);
    EXPECT_NEAR(rgb[0], 64, 1);
    EXPECT_NEAR(rgb[1], 128, 1);
    EXPECT_EQ(rgb[2], 255);
    view->endFrame(w);
}

TEST_F(GL, ReadBacksScaleStencilAndDepth) {
    VIEW_Image image;
    EXPECT_FALSE(view->readPixels(w, 0, 0, 0, 4, &image));
    EXPECT_FALSE(view->readStencil(w, 0, 0, 4, -1, &image));

    view->beginFrame(w, 0);
    glClearStencil(3);
    glClearDepth(0.5);
    glClear(GL_STENCIL_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // A constant stencil is left as read.
    ASSERT_TRUE(view->readStencil(w, 0, 0, 4, 2, &image));
    ASSERT_EQ(image.channels, 1u);
    for (int i = 0; i < 8; i++) EXPECT_EQ(image.pixels[i], 3);
    // Two values spread to 0 and 255; rows come bottom first.
    view->makeCurrent(w);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 1, 4, 1);
    glClearStencil(7);
    glClear(GL_STENCIL_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    ASSERT_TRUE(view->readStencil(w, 0, 0, 4, 2, &image));
    EXPECT_EQ(image.pixels[0], 0);
    EXPECT_EQ(image.pixels[7], 255);
    // A constant depth gives zeros.
    ASSERT_TRUE(view->readDepth(w, 0, 0, 3, 3, &image));
    for (int i = 0; i < 9; i++) EXPECT_EQ(image.pixels[i], 0);
    view->endFrame(w);
}

TEST_F(GL, CacheResetsWaitForTheNextFrame) {
    view->beginFrame(w, 0);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    VIEW_Texture texture;
    VIEW_ImageTexture *entry = view->imageTextures.insert(texture.instanceId);
    entry->glName = name;
    view->endFrame(w);

    VIEW_Texture neverDrawn;
    view->beginFrame(w, 0);
    view->releaseImageTexture(&neverDrawn);  // not cached: nothing happens
    EXPECT_EQ(view->imageTextures.count, 1);
    view->endFrame(w);

    view->setDefaultTextureFilter(1);  // asks for the image reset
    EXPECT_EQ(view->defaultFilter, 1u);
    EXPECT_EQ(view->imageTextures.count, 1);
    view->beginFrame(w, 0);
    EXPECT_EQ(view->imageTextures.count, 0);
    EXPECT_FALSE(glIsTexture(name));
    view->endFrame(w);
}

}  // namespace
