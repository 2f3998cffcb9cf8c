// Text drawing: 40 overlay texts of 50 glyphs each per frame through the
// renderer's overlay pass (layout walk, glyph look-ups, batching, GL
// state), against the floor for drawing that many glyphs: the same glyph
// quads from one prebuilt vertex array with one texture, one draw call. Same
// context, same run, sides alternating; each frame is cleared and ended by
// glFinish. Both sides must leave the same pixels (checked before timing).
// The last line is `ratio R`: texts over the prebuilt array (fastest runs,
// real time: the driver's threads do part of the work).
//
// Needs an X display; without one it runs itself on a virtual server.
#include <benchmark/benchmark.h>

#include <GL/glew.h>

#include "bench/bench_gl.h"
#include "bench/bench_ratio.h"
#include "media/VIEW_Font.h"
#include "model/MDL_Text.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_OpenGL2D.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int W = 640, H = 480;
constexpr int kTexts = 40, kGlyphs = 50;

struct Rig {
    VIEW_OpenGL view;
    VIEW_Font font{"default", nullptr, 0, 0};
    CTRL_Array<MDL_Object*> texts;
    std::vector<float> quads;   // x, y, s, t per vertex: every glyph of every text
    uint32_t page = 0;          // the one texture they all sit in
    bool onePage = true;

    Rig()
    {
        view.initExtensions();
        view.beginFrame(nullptr, 0);
        // 50 glyphs a line (no spaces: every character is a quad).
        const char* line = "Sphinx_of_black_quartz,judge_my_vow!0123456789ABCD";
        for (int i = 0; i < kTexts; i++) {
            MDL_Text* t = new MDL_Text();
            t->font = &font;
            t->size = 0.018;
            t->color[0] = 0.9, t->color[1] = 0.9, t->color[2] = 0.2, t->color[3] = 1;
            t->editGlobalFrame().position = {0.01, 0.015 + 0.0185 * i, 0};
            t->setText(line);
            texts.append(t);
        }
        draw();   // glyphs made
        prebuild();
    }

    void clear()
    {
        const double black[4] = {0, 0, 0, 1};
        view.clear(black);
    }

    void draw()
    {
        clear();
        view.drawOverlays(texts, {0, 0}, {(double)W, (double)H});
        glFinish();
    }

    // The quads the texts draw, walked once and kept.
    static const VIEW_GlyphTexture* lookup(void* context, uint32_t code)
    {
        Rig* r = static_cast<Rig*>(context);
        return r->view.findGlyph(&r->font, code);
    }
    static void place(void* context, const VIEW_PlacedGlyph& q)
    {
        Rig* r = static_cast<Rig*>(context);
        const VIEW_GlyphTexture* g = q.glyph;
        if (!g->glName)
            return;
        if (r->page && r->page != g->glName)
            r->onePage = false;
        r->page = g->glName;
        const double s0 = g->s0, t0 = g->t0, s1 = g->s0 + g->sExtent, t1 = g->t0 + g->tExtent;
        const v2* c = q.corner;
        const double v[6][4] = {{c[0].x, c[0].y, s0, t0}, {c[1].x, c[1].y, s1, t0}, {c[2].x, c[2].y, s1, t1},
                                {c[0].x, c[0].y, s0, t0}, {c[2].x, c[2].y, s1, t1}, {c[3].x, c[3].y, s0, t1}};
        for (const auto& k : v)
            for (double e : k)
                r->quads.push_back((float)e);
    }
    void prebuild()
    {
        for (MDL_Object* o : texts) {
            MDL_Text* t = static_cast<MDL_Text*>(o);
            const MDL_Frame& f = t->getGlobalFrame();
            const double w = view.viewportWidth;
            font.setScreenSize(w * t->size);
            VIEW_TextWalk walk{};
            walk.origin = {f.position.x * w, f.position.y * w};
            walk.X = {f.basis.c[0].x, f.basis.c[0].y};
            walk.Y = {f.basis.c[1].x, f.basis.c[1].y};
            walk.viewportWidth = w;
            walk.size = t->size;
            walk.tabSize = t->tabSize;
            walk.face = font.face;
            walk.lookup = &lookup;
            walk.place = &place;
            walk.context = this;
            VIEW_iWalkText(walk, t->text);
        }
    }

    // The floor: the state the text pass sets, one bind, one draw call.
    void drawPrebuilt()
    {
        clear();
        view.begin2D({0, 0}, {(double)W, (double)H});
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glDisable(GL_LIGHTING);
        glEnable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glColor4d(0.9, 0.9, 0.2, 1);
        glBindTexture(GL_TEXTURE_2D, page);
        glVertexPointer(2, GL_FLOAT, 4 * sizeof(float), quads.data());
        glTexCoordPointer(2, GL_FLOAT, 4 * sizeof(float), quads.data() + 2);
        glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(quads.size() / 4));
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glFinish();
    }

    std::vector<uint8_t> pixels()
    {
        std::vector<uint8_t> px((size_t)W * H * 3);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, W, H, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
};

Rig& rig()
{
    static Rig* r = new Rig();   // lives as long as the GL context
    return *r;
}

void BM_Texts(benchmark::State& state)
{
    Rig& r = rig();
    for (auto _ : state)
        r.draw();
}

void BM_PrebuiltQuads(benchmark::State& state)
{
    Rig& r = rig();
    for (auto _ : state)
        r.drawPrebuilt();
}

}   // namespace

int main(int argc, char** argv)
{
    if (!bench_gl::openContext(W, H)) {
        bench_gl::runOnVirtualServer(argc, argv);
        std::printf("no GL context\nratio nan\n");
        return 1;
    }
    bench_ratio::Reporter reporter(bench_ratio::Clock::Real);
    bench_ratio::initialize(&argc, argv, reporter);
    Rig& r = rig();
    const size_t glyphs = r.quads.size() / 24;
    std::printf("renderer: %s; %zu glyph quads a frame\n", (const char*)glGetString(GL_RENDERER), glyphs);
    // Both sides must draw the same thing.
    r.draw();
    std::vector<uint8_t> texts = r.pixels();
    r.drawPrebuilt();
    std::vector<uint8_t> prebuilt = r.pixels();
    size_t inked = 0;
    for (uint8_t v : texts)
        inked += v != 0;
    if (glyphs != size_t(kTexts) * kGlyphs || !r.onePage || texts != prebuilt || inked == 0) {
        std::printf("the two sides do not draw the same glyphs (%zu quads, one page: %d, same pixels: %d)\n",
                    glyphs, r.onePage, texts == prebuilt);
        std::printf("ratio nan\n");
        return 1;
    }
    auto config = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(0.3); };
    bench_ratio::alternate(5, {{"BM_PrebuiltQuads", BM_PrebuiltQuads}, {"BM_Texts", BM_Texts}}, config);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("texts %.3f ms, prebuilt quads %.3f ms a frame (fastest runs)\n", reporter.best("BM_Texts") * 1e3,
                reporter.best("BM_PrebuiltQuads") * 1e3);
    return bench_ratio::finish(reporter.ratio("BM_Texts", "BM_PrebuiltQuads"));
}
