// A stream's frame texture drawn on an image overlay through a real GL
// context: the expected colours, upright and not mirrored.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstring>
#include <memory>

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "render/VIEW_OpenGL.h"
#include "tests/video/video_rig.h"

namespace {

const int W = 256, H = 192;

struct GLWindow {
    static bool ready()
    {
        static GLWindow w;
        return w.ok;
    }
    GLWindow()
    {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return;
        int attrs[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                       GLX_DEPTH_SIZE, 24, None};
        XVisualInfo* vi = glXChooseVisual(display, DefaultScreen(display), attrs);
        if (!vi) return;
        XSetWindowAttributes swa;
        std::memset(&swa, 0, sizeof swa);
        swa.colormap = XCreateColormap(display, RootWindow(display, vi->screen), vi->visual, AllocNone);
        Window window = XCreateWindow(display, RootWindow(display, vi->screen), 0, 0, W, H, 0, vi->depth,
                                      InputOutput, vi->visual, CWColormap, &swa);
        XMapWindow(display, window);
        XSync(display, False);
        GLXContext context = glXCreateContext(display, vi, nullptr, True);
        XFree(vi);
        ok = context && glXMakeCurrent(display, window, context);
    }
    bool ok = false;
};

struct Rgb {
    int r, g, b;
};

Rgb pixel(int x, int y)
{
    unsigned char p[3];
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, H - 1 - y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}

Rgb expected(uint8_t y, uint8_t cb, uint8_t cr)
{
    uint8_t rgb[3];
    VIEW_iYCbCrToRgb(y, cb, cr, rgb);
    return {rgb[0], rgb[1], rgb[2]};
}

void expectColour(const Rgb& got, const Rgb& want, const char* where)
{
    EXPECT_NEAR(got.r, want.r, 10) << where;
    EXPECT_NEAR(got.g, want.g, 10) << where;
    EXPECT_NEAR(got.b, want.b, 10) << where;
}

class VideoGL : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!GLWindow::ready()) GTEST_SKIP() << "no X display with GLX";
        gl = std::make_unique<VIEW_OpenGL>();
        gl->initExtensions();
    }
    void TearDown() override
    {
        overlays.deleteAll();
        if (gl) gl->releaseImageTextures();
    }
    void draw()
    {
        gl->beginFrame(nullptr, 0);
        const double white[4] = {1, 1, 1, 1};
        gl->clear(white);
        gl->drawOverlays(overlays, {0, 0}, {(double)W, (double)H});
    }
    // An image showing the texture over pixels 64..192 across from 32 down.
    void show(VIEW_Texture* t)
    {
        MDL_Image* img = new MDL_Image();
        img->setOwnMaterial();
        img->material->appendLayer(MDL_TextureLayer::makeDefault(t));
        MDL_Frame& f = img->editGlobalFrame();
        f.position = {0.25, 0.125, 0};
        f.basis.c[0] = {0.5, 0, 0};
        f.basis.c[1] = {0, 0.5, 0};
        f.inverseDirty = 1;
        overlays.append(img);
    }
    std::unique_ptr<VIEW_OpenGL> gl;
    CTRL_Array<MDL_Object*> overlays;
};

TEST_F(VideoGL, ColourBarsUprightAndFramesFollowTheStream)
{
    TG_Options bars = flatVideo(64, 48, 2);
    bars.bars = true;
    std::unique_ptr<VIEW_Stream> s(openVideo(encodeVideo(bars)));
    s->texture->filter = FILTER_NEAREST_POINT;
    show(s->texture);
    draw();
    // Four bars across the top half (red, green, blue, white), black below.
    const char* names[] = {"red bar", "green bar", "blue bar", "white bar"};
    for (int bar = 0; bar < 4; bar++) {
        uint8_t y, cb, cr;
        TG_BarColour(bar, &y, &cb, &cr);
        expectColour(pixel(64 + 16 + 32 * bar, 48), expected(y, cb, cr), names[bar]);
    }
    // The image keeps the picture's 4:3 shape: 96 pixels high.
    expectColour(pixel(128, 112), expected(16, 128, 128), "black lower half");
    expectColour(pixel(20, 20), {255, 255, 255}, "outside");
    overlays.deleteAll();

    // A flat video: the frame shown after a seek, re-uploaded.
    std::unique_ptr<VIEW_Stream> flat(openVideo(encodeVideo(flatVideo(40, 30, 60))));
    show(flat->texture);
    draw();
    uint8_t y, cb, cr;
    TG_FrameColour(0, &y, &cb, &cr);
    expectColour(pixel(128, 96), expected(y, cb, cr), "frame 1");
    flat->seek(2.0);
    ASSERT_EQ(flat->currentFrame, 50);
    EXPECT_TRUE(flat->texture->dirty);
    draw();
    TG_FrameColour(49, &y, &cb, &cr);
    expectColour(pixel(128, 96), expected(y, cb, cr), "frame 50");
    EXPECT_FALSE(flat->texture->dirty);
    overlays.deleteAll();
}

}  // namespace
