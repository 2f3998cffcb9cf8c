// Overlay drawing checked on the pixels of a real GL context.
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <png.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "SG_ImageWrite.h"
#include "media/VIEW_Budget.h"
#include "media/VIEW_Font.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Text.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_OpenGL2D.h"
#include "render/VIEW_TexturePlan.h"
#include "render/VIEW_Splash.h"
#include "model/MDL_Viewport.h"
#include "package/CTRL_File.h"
#include "package/CTRL_PackageLoad.h"
#include "tests/overlay/overlay_rig.h"

#include <fstream>
#include <iterator>

namespace {

const int W = 256, H = 192;

struct Rgb {
    int r, g, b;
};

// One window with a current GLX context for the whole program.
class GLWindow {
 public:
    static GLWindow* get()
    {
        static GLWindow w;
        return w.ok ? &w : nullptr;
    }

 private:
    GLWindow()
    {
        display = XOpenDisplay(nullptr);
        if (!display)
            return;
        int attrs[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                       GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8, None};
        XVisualInfo* vi = glXChooseVisual(display, DefaultScreen(display), attrs);
        if (!vi)
            return;
        XSetWindowAttributes swa;
        std::memset(&swa, 0, sizeof swa);
        swa.colormap = XCreateColormap(display, RootWindow(display, vi->screen), vi->visual, AllocNone);
        window = XCreateWindow(display, RootWindow(display, vi->screen), 0, 0, W, H, 0, vi->depth, InputOutput,
                               vi->visual, CWColormap, &swa);
        XMapWindow(display, window);
        XSync(display, False);
        context = glXCreateContext(display, vi, nullptr, True);
        XFree(vi);
        if (!context || !glXMakeCurrent(display, window, context))
            return;
        ok = true;
    }
    Display* display = nullptr;
    Window window = 0;
    GLXContext context = nullptr;
    bool ok = false;
};

// A PNG of w x h RGBA pixels, encoded in memory.
std::vector<uint8_t> encodePng(int w, int h, const std::vector<uint8_t>& rgba)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = (png_uint_32)w;
    img.height = (png_uint_32)h;
    img.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&img, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::vector<uint8_t> out(size);
    png_image_write_to_memory(&img, out.data(), &size, 0, rgba.data(), 0, nullptr);
    out.resize(size);
    return out;
}

class OverlayGL : public ::testing::Test {
 protected:
    void SetUp() override
    {
        if (!GLWindow::get())
            GTEST_SKIP() << "no X display with GLX";
        gl = std::make_unique<VIEW_OpenGL>();
        gl->initExtensions();
        gl->beginFrame(nullptr, 0);
        const double white[4] = {1, 1, 1, 1};
        gl->clear(white);
    }
    void TearDown() override
    {
        overlays.deleteAll();
        if (gl) {
            gl->releaseGlyphTextures();
            gl->releaseImageTextures();
        }
    }

    // Screen pixel at (x, y) from the top left.
    Rgb pixel(int x, int y)
    {
        unsigned char p[3];
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, H - 1 - y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }
    std::vector<uint8_t> screen()
    {
        std::vector<uint8_t> px((size_t)W * H * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, W, H, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;  // bottom row first
    }

    // A cleared overlay in the state drawText sets, for drawing a text's
    // glyphs one by one as a reference.
    void startGlyphByGlyph(const MDL_Text& t, const double* background)
    {
        gl->clear(background);
        gl->begin2D({0, 0}, {(double)W, (double)H});
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glDisable(GL_LIGHTING);
        glEnable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glColor4dv(t.color);
    }

    // An image of the scene showing the texture, top left corner at (x, y)
    // overlay units, scaled by s.
    MDL_Image* addImage(VIEW_Texture* t, double x, double y, double z, double s)
    {
        MDL_Image* img = new MDL_Image();
        img->setOwnMaterial();
        if (t)
            img->material->appendLayer(MDL_TextureLayer::makeDefault(t));
        MDL_Frame& f = img->editGlobalFrame();
        f.position = {x, y, z};
        f.basis.c[0] = {s, 0, 0};
        f.basis.c[1] = {0, s, 0};
        f.inverseDirty = 1;
        overlays.append(img);
        return img;
    }

    // A texture over PNG bytes that lives until the overlays are gone.
    VIEW_Texture* texture(const std::vector<uint8_t>& png, uint32_t filter)
    {
        pngs.push_back(png);
        textures.push_back(std::make_unique<VIEW_Texture>("t", pngs.back().data(), (uint32_t)png.size(), 0));
        textures.back()->filter = filter;
        return textures.back().get();
    }

    void drawOverlays() { gl->drawOverlays(overlays, {0, 0}, {(double)W, (double)H}); }

    std::unique_ptr<VIEW_OpenGL> gl;
    std::vector<std::vector<uint8_t>> pngs;
    std::vector<std::unique_ptr<VIEW_Texture>> textures;
    CTRL_Array<MDL_Object*> overlays;
};

// 2 x 2 picture: red top left, green top right, blue bottom left, white
// bottom right.
std::vector<uint8_t> quadrantPng()
{
    return encodePng(2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
}

void expectColour(const Rgb& got, const Rgb& want, const char* where)
{
    EXPECT_NEAR(got.r, want.r, 8) << where;
    EXPECT_NEAR(got.g, want.g, 8) << where;
    EXPECT_NEAR(got.b, want.b, 8) << where;
}

}  // namespace

TEST_F(OverlayGL, ImageShowsPictureUpright)
{
    addImage(texture(quadrantPng(), FILTER_NEAREST_POINT), 0.25, 0.125, 0, 0.5);  // pixels 64..192 across, 32..160 down
    drawOverlays();
    expectColour(pixel(80, 48), {255, 0, 0}, "top left");
    expectColour(pixel(176, 48), {0, 255, 0}, "top right");
    expectColour(pixel(80, 144), {0, 0, 255}, "bottom left");
    expectColour(pixel(176, 144), {255, 255, 255}, "bottom right");
    expectColour(pixel(10, 10), {255, 255, 255}, "outside");
}

// A video frame: raw RGB rows stored bottom row first, re-uploaded when
// marked dirty.
TEST_F(OverlayGL, VideoFrameUprightAndRefreshed)
{
    // Bottom row blue, white; top row red, green.
    uint8_t frame[12] = {0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0};
    VIEW_Texture tex("frame", frame, sizeof frame, 0);
    tex.rawPixels = 1;
    tex.width = tex.height = 2;
    tex.dirty = 1;
    tex.filter = FILTER_NEAREST_POINT;
    MDL_Image* img = addImage(&tex, 0.25, 0.125, 0, 0.5);
    (void)img;
    drawOverlays();
    expectColour(pixel(80, 48), {255, 0, 0}, "top left");
    expectColour(pixel(176, 144), {255, 255, 255}, "bottom right");
    EXPECT_EQ(tex.dirty, 0);
    // A new frame in the same block shows at the next draw.
    frame[0] = 255;
    frame[2] = 0;  // bottom left turns red
    tex.dirty = 1;
    drawOverlays();
    expectColour(pixel(80, 144), {255, 0, 0}, "bottom left after refresh");
    // A frame too small for its size is not uploaded.
    VIEW_Texture bad("bad", frame, 6, 0);
    bad.rawPixels = 1;
    bad.width = bad.height = 2;
    EXPECT_EQ(gl->bindTexture(&bad), nullptr);
    overlays.deleteAll();  // before the texture goes
}

// A textured quad with ordinary uvs ((0, 0) bottom left) seen through a
// camera shows the picture the same way up.
TEST_F(OverlayGL, MeshUvsShowPictureUpright)
{
    std::vector<uint8_t> png = quadrantPng();
    VIEW_Texture tex("q", png.data(), (uint32_t)png.size(), 0);
    tex.filter = FILTER_NEAREST_POINT;
    MDL_Material m;
    m.shadeless = 1;
    m.appendLayer(MDL_TextureLayer::makeDefault(&tex));
    MDL_Camera cam;
    cam.editGlobalFrame().position = {0, 0, 5};
    gl->setupCamera(&cam, {0, 0}, {(double)W, (double)H});
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    ASSERT_TRUE(gl->applyMaterial(&m, 0, false, false));
    const double pos[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const double uv[] = {0, 0, 1, 0, 1, 1, 0, 1};
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_DOUBLE, 0, pos);
    glTexCoordPointer(2, GL_DOUBLE, 0, uv);
    glDrawArrays(GL_QUADS, 0, 4);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    const int cx = W / 2, cy = H / 2, d = 10;
    expectColour(pixel(cx - d, cy - d), {255, 0, 0}, "top left");
    expectColour(pixel(cx + d, cy - d), {0, 255, 0}, "top right");
    expectColour(pixel(cx - d, cy + d), {0, 0, 255}, "bottom left");
    expectColour(pixel(cx + d, cy + d), {255, 255, 255}, "bottom right");
}

TEST_F(OverlayGL, HigherZLiesOnTop)
{
    // Listed top first: the drawing order must come from z, not the list.
    MDL_Image* top = addImage(nullptr, 0.3, 0.2, 1, 0.3);
    top->material->diffuse[0] = 1;
    top->material->diffuse[1] = 0;
    top->material->diffuse[2] = 0;
    MDL_Image* below = addImage(nullptr, 0.2, 0.1, 0, 0.3);
    below->material->diffuse[0] = 0;
    below->material->diffuse[1] = 0;
    below->material->diffuse[2] = 1;
    drawOverlays();
    expectColour(pixel(100, 70), {255, 0, 0}, "overlap");
    expectColour(pixel(60, 35), {0, 0, 255}, "lower only");
    // Turning the order round swaps the overlap.
    top->editGlobalFrame().position.z = -1;
    drawOverlays();
    expectColour(pixel(100, 70), {0, 0, 255}, "overlap after swap");
}

TEST_F(OverlayGL, MipmapsAverageWhenShrunk)
{
    // A 1-pixel black and white checkerboard drawn 16 times smaller.
    std::vector<uint8_t> rgba(64 * 64 * 4);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            uint8_t v = ((x + y) & 1) ? 255 : 0;
            uint8_t* p = &rgba[(size_t)(y * 64 + x) * 4];
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    VIEW_Texture* tex = texture(encodePng(64, 64, rgba), FILTER_MIPMAP);
    addImage(tex, 0.25, 0.25, 0, 4.0 / W);
    drawOverlays();
    Rgb c = pixel(65, 65);
    EXPECT_NEAR(c.r, 127, 12);
    EXPECT_NEAR(c.g, 127, 12);
    VIEW_ImageTexture* e = gl->imageTextures.find(tex->instanceId);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->s1, 1.0);
    EXPECT_EQ(e->byteSize, (uint64_t)(64 * 64 + 32 * 32 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2 + 1) * 4);
}

TEST_F(OverlayGL, GlyphsStayInsideTheTextBounds)
{
    VIEW_Font font("default", nullptr, 0, 0);
    MDL_Text* t = new MDL_Text();
    t->font = &font;
    t->size = 0.08;
    t->editGlobalFrame().position = {0.1, 0.2, 0};
    t->setText("Ag\n\tjy");
    overlays.append(t);
    drawOverlays();
    const double* b = t->bounds;
    const double x0 = (0.1 + b[0]) * W - 1, x1 = (0.1 + b[2]) * W + 1;
    const double y0 = (0.2 + b[1]) * W - 1, y1 = (0.2 + b[3]) * W + 1;
    std::vector<uint8_t> px = screen();
    int inked = 0, outside = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            const uint8_t* p = &px[(size_t)((H - 1 - y) * W + x) * 3];
            if (p[0] > 200)
                continue;
            inked++;
            if (x < x0 || x > x1 || y < y0 || y > y1)
                outside++;
        }
    EXPECT_GT(inked, 50);
    EXPECT_EQ(outside, 0);
    // The same character at another size is another glyph texture.
    int before = gl->glyphTextures.count;
    t->size = 0.04;
    t->invalidateLayout();
    drawOverlays();
    EXPECT_GT(gl->glyphTextures.count, before);
    // A space has no texture but an advance.
    VIEW_GlyphTexture* space = gl->getGlyphTexture(&font, ' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->glName, 0u);
    EXPECT_GT(space->advance, 0);
}

// What a text draws, against each glyph drawn on its own: a texture of its
// own per glyph, one quad per draw call, double-precision arrays. Shared
// atlas pages and batched runs must leave every pixel as it was: positions,
// kerning, rotation, sizes, colours, filtering.
namespace {

struct GlyphByGlyph {
    VIEW_OpenGL* gl;
    VIEW_Font* font;
    std::vector<GLuint> names;
};

const VIEW_GlyphTexture* referenceLookup(void* context, uint32_t code)
{
    auto* r = static_cast<GlyphByGlyph*>(context);
    return r->gl->findGlyph(r->font, code);
}

void referencePlace(void* context, const VIEW_PlacedGlyph& q)
{
    auto* r = static_cast<GlyphByGlyph*>(context);
    FT_Face face = r->font->face;
    if (FT_Load_Glyph(face, q.glyph->glyphIndex, FT_LOAD_RENDER) != 0)
        return;
    const FT_Bitmap& b = face->glyph->bitmap;
    VIEW_Image pixels;
    uint32_t usedW = 0, usedH = 0;
    if (!VIEW_iGlyphTexturePixels(b.buffer, b.pitch, (int32_t)b.width, (int32_t)b.rows, r->gl->maxTextureSize,
                                  &pixels, &usedW, &usedH))
        return;
    GLuint name = 0;
    glGenTextures(1, &name);
    r->names.push_back(name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, (GLsizei)pixels.width, (GLsizei)pixels.height, 0, GL_ALPHA,
                 GL_UNSIGNED_BYTE, pixels.pixels);
    const double s = (double)usedW / pixels.width, t = (double)usedH / pixels.height;
    const v2* c = q.corner;
    const v2 quad[6] = {c[0], c[1], c[2], c[0], c[2], c[3]};
    const v2 uv[6] = {{0, 0}, {s, 0}, {s, t}, {0, 0}, {s, t}, {0, t}};
    glVertexPointer(2, GL_DOUBLE, 0, quad);
    glTexCoordPointer(2, GL_DOUBLE, 0, uv);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

}  // namespace

TEST_F(OverlayGL, TextDrawsAsGlyphByGlyph)
{
    VIEW_Font font("default", nullptr, 0, 0);
    struct Case {
        const char* what;
        const char* text;
        double size, angle, colour[4];
    };
    const Case cases[] = {
        {"plain", "Hamburgefonstiv 0123", 0.05, 0, {0, 0, 0, 1}},
        {"kerning pairs", "AVAWAY To Yo LT", 0.08, 0, {0.2, 0.1, 0.9, 1}},
        {"translucent, lines and tabs", "ab\tcd\nefg\thij", 0.06, 0, {0.8, 0.1, 0.1, 0.5}},
        {"rotated", "Rotated text, WAVY", 0.05, 0.5, {0, 0.5, 0, 1}},
        {"large glyphs", "Mg", 0.5, 0, {0, 0, 0, 1}},
    };
    const double white[4] = {1, 1, 1, 1};
    for (const Case& c : cases) {
        MDL_Text t;
        t.font = &font;
        t.size = c.size;
        for (int i = 0; i < 4; i++)
            t.color[i] = c.colour[i];
        MDL_Frame& f = t.editGlobalFrame();
        f.position = {0.07, 0.1, 0};
        f.basis.c[0] = {std::cos(c.angle), std::sin(c.angle), 0};
        f.basis.c[1] = {-std::sin(c.angle), std::cos(c.angle), 0};
        f.inverseDirty = 1;
        t.setText(c.text);

        gl->clear(white);
        gl->begin2D({0, 0}, {(double)W, (double)H});
        gl->drawText(&t);
        const std::vector<uint8_t> batched = screen();

        // The same walk, glyph by glyph, in the state drawText sets.
        startGlyphByGlyph(t, white);
        const MDL_Frame& g = t.getGlobalFrame();
        const double w = gl->viewportWidth;
        font.setScreenSize(w * t.size * std::hypot(g.basis.c[0].x, g.basis.c[0].y));
        GlyphByGlyph ref{gl.get(), &font, {}};
        VIEW_TextWalk walk;
        walk.origin = {g.position.x * w, g.position.y * w};
        walk.X = {g.basis.c[0].x, g.basis.c[0].y};
        walk.Y = {g.basis.c[1].x, g.basis.c[1].y};
        walk.viewportWidth = w;
        walk.size = t.size;
        walk.tabSize = t.tabSize;
        walk.face = font.face;
        walk.lookup = &referenceLookup;
        walk.place = &referencePlace;
        walk.context = &ref;
        VIEW_iWalkText(walk, t.text);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        const std::vector<uint8_t> single = screen();
        glDeleteTextures((GLsizei)ref.names.size(), ref.names.data());

        EXPECT_FALSE(ref.names.empty()) << c.what;
        size_t differ = 0, inked = 0;
        for (size_t i = 0; i < single.size(); i += 3) {
            differ += std::memcmp(&single[i], &batched[i], 3) != 0;
            inked += single[i] != 255 || single[i + 1] != 255 || single[i + 2] != 255;
        }
        EXPECT_GT(inked, 20u) << c.what;
        EXPECT_EQ(differ, 0u) << c.what;
    }
}

TEST_F(OverlayGL, TextBackgroundAndZeroTabSize)
{
    VIEW_Font font("default", nullptr, 0, 0);
    MDL_Text* t = new MDL_Text();
    t->font = &font;
    t->size = 0.06;
    t->tabSize = 0;  // tabs then do nothing, in layout and in drawing
    t->backgroundColor[1] = 1;
    t->backgroundColor[3] = 1;
    t->editGlobalFrame().position = {0.1, 0.3, 0};
    t->setText("a\tb");
    overlays.append(t);
    drawOverlays();
    const double* b = t->bounds;
    // The box's inside is green where no glyph is.
    expectColour(pixel((int)((0.1 + b[0]) * W) + 1, (int)((0.3 + b[1]) * W) + 1), {0, 255, 0}, "box corner");
}

TEST_F(OverlayGL, PolylineFillAndOutline)
{
    MDL_Polyline* p = new MDL_Polyline();
    for (v2 q : {v2{0.2, 0.1}, v2{0.6, 0.1}, v2{0.6, 0.5}, v2{0.2, 0.5}})
        p->addPoint(q);
    p->thickness = 0.02;
    p->fillOn = 1;
    p->fillColor[0] = 1;
    p->fillColor[3] = 1;
    p->setOwnMaterial();
    p->material->diffuse[0] = 0;
    p->material->diffuse[1] = 0;
    p->material->diffuse[2] = 1;
    overlays.append(p);
    drawOverlays();
    expectColour(pixel((int)(0.4 * W), (int)(0.3 * W)), {255, 0, 0}, "fill");
    expectColour(pixel((int)(0.4 * W), (int)(0.1 * W)), {0, 0, 255}, "outline");
    expectColour(pixel((int)(0.1 * W), (int)(0.3 * W)), {255, 255, 255}, "outside");
}

TEST_F(OverlayGL, LoadingAndStatusScreens)
{
    VIEW_Font font("default", nullptr, 0, 0);
    VIEW_Texture tex("Kolma", const_cast<uint8_t*>(VIEW_iSplashPngData()), VIEW_iSplashPngSize(), 0);
    MDL_Image splash;
    splash.setOwnMaterial();
    splash.material->appendLayer(MDL_TextureLayer::makeDefault(&tex));
    MDL_Frame& f = splash.editGlobalFrame();
    f.basis.c[0] = {0.25, 0, 0};
    f.basis.c[1] = {0, 0.25, 0};
    f.position = {0.5 - 0.125, 0.2 - 0.125 * splash.getAspectRatio(), 1};
    f.inverseDirty = 1;
    gl->drawLoadingScreen({0, 0}, {(double)W, (double)H}, "Loading  .  .", &font, &splash);
    std::vector<uint8_t> px = screen();
    auto greenIn = [&](int xa, int xb, int ya, int yb) {
        int n = 0;
        for (int y = ya; y < yb; y++)
            for (int x = xa; x < xb; x++) {
                const uint8_t* p = &px[(size_t)((H - 1 - y) * W + x) * 3];
                if (p[1] > p[0] + 30 && p[1] > p[2] + 30)
                    n++;
            }
        return n;
    };
    EXPECT_GT(greenIn(96, 160, 20, 84), 30) << "splash picture";
    EXPECT_GT(greenIn(100, 180, 50, 72), 5) << "loading text";
    EXPECT_EQ(greenIn(0, 90, 100, H), 0);

    const double white[4] = {1, 1, 1, 1};
    gl->clear(white);
    gl->drawStatusText({0, 0}, {(double)W, (double)H}, "Error", &font);
    px = screen();
    int dark = 0;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 60; x++)
            if (px[(size_t)((H - 1 - y) * W + x) * 3] < 100)
                dark++;
    EXPECT_GT(dark, 10);
}

// The demo package started as the player starts it and its viewports drawn:
// the picture in the top right corner, its white frame, and the title band
// darkening the bottom left.
TEST_F(OverlayGL, DemoShowsItsOverlays)
{
    std::ifstream in(HALVORIN_BINARY_DIR "/content/demo.pkg", std::ios::binary);
    ASSERT_TRUE(in);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ScriptRig rig;
    auto* package = new CTRL_Package();
    ASSERT_TRUE(CTRL_iResizeByteBuffer(package, uint32_t(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), package->data);
    ASSERT_TRUE(CTRL_iLoadPackage(rig.controller, package));
    ASSERT_TRUE(rig.engine->start()) << rig.firstError();
    for (MDL_Viewport* vp : rig.controller->viewports) {
        if (!vp->camera)
            continue;
        const v2 pos = {vp->originX * W, H - (vp->originY + vp->height) * W};
        gl->drawScene(vp, pos, {vp->width * W, vp->height * W});
    }
    std::vector<uint8_t> px = screen();
    {
        // Kept for a look at the picture: build/tests/overlay_gl/demo.png.
        std::vector<uint8_t> rgba((size_t)W * H * 4);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                for (int k = 0; k < 4; k++)
                    rgba[(size_t)(y * W + x) * 4 + k] = k < 3 ? px[(size_t)((H - 1 - y) * W + x) * 3 + k] : 255;
        std::vector<uint8_t> png = encodePng(W, H, rgba);
        std::ofstream(HALVORIN_BINARY_DIR "/tests/overlay_gl/demo.png", std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), (std::streamsize)png.size());
    }
    auto at = [&](double ox, double oy) {
        int x = (int)(ox * W), y = (int)(oy * W);
        const uint8_t* p = &px[(size_t)((H - 1 - y) * W + x) * 3];
        return Rgb{p[0], p[1], p[2]};
    };
    Rgb picture = at(0.89, 0.12), view = at(0.5, 0.3);
    EXPECT_GT(std::abs(picture.r - view.r) + std::abs(picture.g - view.g) + std::abs(picture.b - view.b), 60)
        << "picture";
    Rgb frame = at(0.89, 0.03);
    EXPECT_GT(frame.r, 200);
    EXPECT_GT(frame.b, 200);
    // Mean brightness of a strip: the band (with its white letters) is
    // darker than the open sky above the scene (the captions of other parts of
    // the demo sit just over the band).
    auto mean = [&](double x0, double x1, double y0, double y1) {
        double sum = 0;
        int n = 0;
        for (int y = (int)(y0 * W); y < (int)(y1 * W); y++)
            for (int x = (int)(x0 * W); x < (int)(x1 * W); x++, n++)
                for (int k = 0; k < 3; k++)
                    sum += px[(size_t)((H - 1 - y) * W + x) * 3 + k];
        return n ? sum / n : 0;
    };
    EXPECT_LT(mean(0.04, 0.5, 0.705, 0.73), mean(0.04, 0.45, 0.1, 0.125) - 60) << "title band";
}

// A picture that fails to decode (a PNG cut before its end chunk) is decoded
// once, logged once and drawn untextured on every later frame; new data is
// decoded afresh.
TEST_F(OverlayGL, BrokenPictureIsDecodedOnceUntilItsDataChanges)
{
    std::vector<uint8_t> whole = encodePng(64, 64, std::vector<uint8_t>(64 * 64 * 4, 200));
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 12);  // no IEND chunk
    VIEW_Texture tex("broken.png", cut.data(), (uint32_t)cut.size(), 0);
    tex.filter = FILTER_NEAREST_POINT;
    addImage(&tex, 0.25, 0.125, 0, 0.5);
    CTRL_DebugCapture log;
    drawOverlays();
    EXPECT_EQ(tex.decodeCount, 1u);
    const std::string firstFrame = log.text();
    EXPECT_NE(firstFrame.find("Texture broken.png could not be decoded"), std::string::npos) << firstFrame;
    for (int frame = 0; frame < 5; frame++)
        drawOverlays();
    EXPECT_EQ(tex.decodeCount, 1u);
    EXPECT_EQ(log.text(), firstFrame);  // no line per frame

    std::vector<uint8_t> good = quadrantPng();
    tex.data = good.data();
    tex.dataSize = (uint32_t)good.size();
    drawOverlays();
    EXPECT_EQ(tex.decodeCount, 2u);
    expectColour(pixel(80, 48), {255, 0, 0}, "top left of the new picture");
    overlays.deleteAll();  // before the texture goes
}

// Twelve pictures of zeros, 8,192 pixels a side, past a small budget: each
// is refused before it is decoded, drawn untextured and named once in the
// log, while the picture already loaded keeps its texture.
TEST_F(OverlayGL, PicturesOverTheBudgetDrawUntexturedAndTheRestStays)
{
    const uint64_t base = VIEW_iBudgetUsed();
    VIEW_iSetBudgetLimit(base + (8u << 20));
    addImage(texture(quadrantPng(), FILTER_NEAREST_POINT), 0.25, 0.125, 0, 0.5);
    drawOverlays();
    ASSERT_EQ(gl->imageTextures.count, 1);
    const std::vector<uint8_t> zeros = SG_iEncodeBlankPng(8192, 8192, 0);
    ASSERT_LT(zeros.size(), 100000u);
    std::vector<std::unique_ptr<VIEW_Texture>> bombs;
    char name[32];
    for (int i = 0; i < 12; i++) {
        std::snprintf(name, sizeof name, "zeros%02d.png", i);
        bombs.push_back(std::make_unique<VIEW_Texture>(name, const_cast<uint8_t*>(zeros.data()), (uint32_t)zeros.size(), 0));
        addImage(bombs.back().get(), 0.02 * i, 0.6, 0, 0.02);
    }
    CTRL_DebugCapture log;
    drawOverlays();
    drawOverlays();
    EXPECT_EQ(gl->imageTextures.count, 1);
    for (int i = 0; i < 12; i++) {
        std::snprintf(name, sizeof name, "zeros%02d.png", i);
        const std::string& text = log.text();
        size_t at = text.find(name);
        EXPECT_NE(at, std::string::npos) << name;
        EXPECT_EQ(at, text.rfind(name)) << name << " logged once";
        EXPECT_EQ(bombs[(size_t)i]->decodeCount, 1u);
    }
    EXPECT_LE(VIEW_iBudgetUsed(), base + (8u << 20));
    expectColour(pixel(80, 48), {255, 0, 0}, "top left of the loaded picture");
    expectColour(pixel(176, 144), {255, 255, 255}, "bottom right of the loaded picture");
    overlays.deleteAll();
    gl->releaseImageTextures();
    EXPECT_EQ(VIEW_iBudgetUsed(), base);
    VIEW_iSetBudgetLimit(0);
}

// A text far larger than the view rasterises its glyphs at most at the
// view's size and draws them scaled: what shows is what full-size glyphs
// show, but for the edges of scaled texels.
TEST_F(OverlayGL, HugeTextRasterisesAtTheViewSize)
{
    VIEW_Font font("default", nullptr, 0, 0);
    MDL_Text t;
    t.font = &font;
    t.size = 20;  // an em of 4,551 pixels in this 256-pixel view
    t.setText("Ag");
    t.editGlobalFrame().position = {-1.0, 4.0, 0};
    gl->begin2D({0, 0}, {(double)W, (double)H});
    gl->drawText(&t);
    int glyphs = 0;
    gl->glyphTextures.forEach([&](const VIEW_GlyphKey&, const VIEW_GlyphTexture& g) {
        glyphs++;
        EXPECT_LE(g.width, 2 * W);
        EXPECT_LE(g.rows, 2 * W);
    });
    EXPECT_EQ(glyphs, 2);

    // Against full-size glyphs drawn one by one, at a size where those are
    // still cheap: an em of 364 pixels, rasterised at 256.
    const double white[4] = {1, 1, 1, 1};
    t.size = 1.6;
    t.setText("Ag");
    t.editGlobalFrame().position = {0.02, 0.62, 0};
    gl->clear(white);
    gl->begin2D({0, 0}, {(double)W, (double)H});
    gl->drawText(&t);
    const std::vector<uint8_t> capped = screen();

    startGlyphByGlyph(t, white);
    const double w = gl->viewportWidth;
    font.setScreenSize(w * t.size);
    GlyphByGlyph ref{gl.get(), &font, {}};
    VIEW_TextWalk walk;
    walk.origin = {0.02 * w, 0.62 * w};
    walk.X = {1, 0};
    walk.Y = {0, 1};
    walk.viewportWidth = w;
    walk.size = t.size;
    walk.tabSize = t.tabSize;
    walk.face = font.face;
    walk.lookup = &referenceLookup;
    walk.place = &referencePlace;
    walk.context = &ref;
    VIEW_iWalkText(walk, t.text);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    const std::vector<uint8_t> full = screen();
    glDeleteTextures((GLsizei)ref.names.size(), ref.names.data());

    size_t inkedCapped = 0, inkedFull = 0, far = 0;
    for (size_t i = 0; i < full.size(); i += 3) {
        inkedCapped += capped[i] < 128;
        inkedFull += full[i] < 128;
        far += std::abs((int)capped[i] - (int)full[i]) > 128;
    }
    EXPECT_GT(inkedFull, 5000u);
    EXPECT_NEAR((double)inkedCapped, (double)inkedFull, 0.02 * inkedFull);
    EXPECT_LT(far, inkedFull / 50) << "pixels that flip between ink and paper";
}

// A text whose size changes a little every frame: the glyph cache stays
// within its share over 3,000 frames, evicting the glyphs drawn longest ago,
// and a glyph evicted and drawn again looks as it did.
TEST_F(OverlayGL, GlyphCacheStaysWithinItsShare)
{
    const uint64_t base = VIEW_iBudgetUsed();
    const uint64_t share = 3u << 20;
    gl->glyphCacheLimit = share;
    VIEW_Font font("default", nullptr, 0, 0);
    MDL_Text t;
    t.font = &font;
    t.setText("Hamburgefonstiv 0123");
    t.editGlobalFrame().position = {0.05, 0.2, 0};
    const double white[4] = {1, 1, 1, 1};
    auto frame = [&](double size) {
        gl->beginFrame(nullptr, 0);
        gl->clear(white);
        gl->begin2D({0, 0}, {(double)W, (double)H});
        t.size = size;
        gl->drawText(&t);
    };
    frame(0.05);
    const std::vector<uint8_t> first = screen();
    font.setScreenSize(W * 0.05);
    const VIEW_GlyphKey h = {font.instanceId, 'H', (uint32_t)font.face->size->metrics.x_scale};
    ASSERT_NE(gl->glyphTextures.find(h), nullptr);

    uint64_t most[3] = {0, 0, 0};
    int32_t records[3] = {0, 0, 0}, pages[3] = {0, 0, 0};
    for (int i = 1; i <= 3000; i++) {
        frame(0.06 + 0.00002 * i);
        const int third = (i - 1) / 1000;
        most[third] = std::max(most[third], gl->glyphCacheBytes);
        records[third] = std::max(records[third], gl->glyphTextures.count);
        pages[third] = std::max(pages[third], gl->glyphPages.count);
        ASSERT_LE(VIEW_iBudgetUsed() - base, share) << "frame " << i;
    }
    for (int k = 0; k < 3; k++) {
        EXPECT_LE(most[k], share) << k;
        EXPECT_LE(pages[k], 3) << k;
    }
    // Steady: the last thousand frames hold no more than the second.
    EXPECT_LE(most[2], most[1]);
    EXPECT_LE(records[2], records[1] + 40);

    EXPECT_EQ(gl->glyphTextures.find(h), nullptr) << "evicted";
    frame(0.05);
    EXPECT_NE(gl->glyphTextures.find(h), nullptr);
    EXPECT_TRUE(screen() == first) << "rebuilt the same";

    gl->releaseGlyphTextures();
    EXPECT_EQ(VIEW_iBudgetUsed(), base);
    EXPECT_EQ(gl->glyphCacheBytes, 0u);
}
