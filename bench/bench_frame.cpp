// Frames of a lit scene on the GL driver: 200,000 triangles, 8 lights, a
// shadow lamp that moves every frame (so every volume is rebuilt), 2,000
// transparent triangles and a dozen overlay texts. Three sides, alternating:
//   BM_Frame     the whole frame on the real driver, ended by glFinish;
//   BM_OwnWork   the same frame, the same code, on a null GL driver: what
//                is left is the renderer's own CPU work (shadow volumes,
//                transparency ordering, matrices, lights, buffer upkeep,
//                overlays and texts, the calls themselves);
//   BM_Memcpy    writing the bytes of the triangles that the frame's shadow
//                passes and transparent pass draw once (one memcpy of the
//                same byte count): the volumes as whole triangles (side
//                quads and both caps, three doubles a corner) and the
//                ordered transparent arrays.
// Every side checks its result once its timing is done (the volumes against
// a rebuild by the plain steps, the copy against its source). Prints the
// own work's share of the frame (real time), the bytes the volumes really
// write (the caps are corner indices into the mesh's positions and its far
// points), the heap allocations of a steady frame, and last `ratio R`: own
// work over the memcpy, in CPU time.
//
// Needs an X display; without one it runs itself on a virtual server.
#include <benchmark/benchmark.h>

#include <GL/glew.h>
#include <GL/glx.h>

#include "bench/bench_gl.h"
#include "bench/bench_ratio.h"
#include "bench/null_gl.h"
#include "media/VIEW_Font.h"
#include "model/MDL_Text.h"
#include "tests/alloc_count.h"

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_Scene3D.h"
#include "render/VIEW_Shadow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int W = 640, H = 480;

// A grid of nx by ny quads over [-sx/2, sx/2] x [-sy/2, sy/2], raised by h(x, y).
std::unique_ptr<MDL_MeshData> grid(int nx, int ny, double sx, double sy, double (*h)(double, double))
{
    auto d = std::make_unique<MDL_MeshData>();
    d->vertexCount = (nx + 1) * (ny + 1);
    d->normalCount = d->vertexCount;
    d->positions = static_cast<double*>(std::malloc(sizeof(double) * 3 * d->vertexCount));
    d->normals = static_cast<double*>(std::malloc(sizeof(double) * 3 * d->vertexCount));
    for (int j = 0, v = 0; j <= ny; j++)
        for (int i = 0; i <= nx; i++, v++) {
            double x = sx * ((double)i / nx - 0.5), y = sy * ((double)j / ny - 0.5);
            double* p = d->positions + 3 * v;
            p[0] = x, p[1] = y, p[2] = h(x, y);
            double* q = d->normals + 3 * v;
            q[0] = 0, q[1] = 0, q[2] = 1;
        }
    d->triangleCount = (uint32_t)(2 * nx * ny);
    d->indices = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * 3 * d->triangleCount));
    d->faces = static_cast<MDL_Face*>(std::calloc(d->triangleCount, sizeof(MDL_Face)));
    uint32_t* ix = d->indices;
    for (int j = 0; j < ny; j++)
        for (int i = 0; i < nx; i++) {
            uint32_t a = (uint32_t)(j * (nx + 1) + i), b = a + 1, c = a + (uint32_t)nx + 2, e = a + (uint32_t)nx + 1;
            uint32_t t[6] = {a, b, c, a, c, e};
            std::memcpy(ix, t, sizeof t);
            ix += 6;
        }
    for (uint32_t t = 0; t < d->triangleCount; t++)
        new (&d->faces[t]) MDL_Face();
    d->buildAdjacency();
    d->computeFaceNormals();
    return d;
}

// A closed bumpy ball of 2 x n x n triangles (a latitude-longitude sphere).
std::unique_ptr<MDL_MeshData> ball(int n)
{
    auto d = std::make_unique<MDL_MeshData>();
    const int rows = n, cols = n;
    d->vertexCount = (rows + 1) * cols;
    d->normalCount = d->vertexCount;
    d->positions = static_cast<double*>(std::malloc(sizeof(double) * 3 * d->vertexCount));
    d->normals = static_cast<double*>(std::malloc(sizeof(double) * 3 * d->vertexCount));
    for (int r = 0, v = 0; r <= rows; r++)
        for (int c = 0; c < cols; c++, v++) {
            double th = M_PI * r / rows, ph = 2 * M_PI * c / cols;
            double x = std::sin(th) * std::cos(ph), y = std::sin(th) * std::sin(ph), z = std::cos(th);
            double* p = d->positions + 3 * v;
            p[0] = x, p[1] = y, p[2] = z;
            double* q = d->normals + 3 * v;
            q[0] = x, q[1] = y, q[2] = z;
        }
    d->triangleCount = (uint32_t)(2 * rows * cols);
    d->indices = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * 3 * d->triangleCount));
    d->faces = static_cast<MDL_Face*>(std::calloc(d->triangleCount, sizeof(MDL_Face)));
    uint32_t* ix = d->indices;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            uint32_t a = (uint32_t)(r * cols + c), b = (uint32_t)(r * cols + (c + 1) % cols);
            uint32_t e = a + (uint32_t)cols, f = b + (uint32_t)cols;
            uint32_t t[6] = {a, e, f, a, f, b};
            std::memcpy(ix, t, sizeof t);
            ix += 6;
        }
    for (uint32_t t = 0; t < d->triangleCount; t++)
        new (&d->faces[t]) MDL_Face();
    d->buildAdjacency();
    d->computeFaceNormals();
    return d;
}

MDL_Material* material(double r, double g, double b, double a)
{
    MDL_Material* m = new MDL_Material();
    m->diffuse[0] = r, m->diffuse[1] = g, m->diffuse[2] = b, m->diffuse[3] = a;
    return m;
}

struct Bench {
    std::vector<std::unique_ptr<MDL_MeshData>> data;
    MDL_Scene scene;
    MDL_Camera* camera = nullptr;
    MDL_Lamp* shadowLamp = nullptr;
    MDL_Viewport viewport{0, 0, 1, 0.75};
    VIEW_OpenGL view;
    VIEW_Font font{"default", nullptr, 0, 0};
    int frame = 0;

    MDL_Mesh* add(MDL_MeshData* d, MDL_Material* m, v3 at, double scale = 1)
    {
        MDL_Mesh* o = new MDL_Mesh();
        o->meshData = d;
        o->material = m;
        o->ownMaterial = 1;
        MDL_Frame& f = o->editGlobalFrame();
        f.position = at;
        f.basis = {{{scale, 0, 0}, {0, scale, 0}, {0, 0, scale}}};
        f.inverseDirty = 1;
        scene.addObject(o);
        return o;
    }

    Bench()
    {
        camera = new MDL_Camera();
        MDL_Frame& cf = camera->editGlobalFrame();
        cf.position = {0, -28, 22};
        // Looking at the origin from above and behind.
        v3 z{0, -28, 22};
        v3::normalize(z);
        v3 x{1, 0, 0}, y;
        v3::cross(y, z, x);
        cf.basis = {{x, y, z}};
        cf.inverseDirty = 1;
        scene.addObject(camera);
        viewport.camera = camera;
        viewport.background[0] = viewport.background[1] = viewport.background[2] = 0.3;
        viewport.background[3] = 1;

        // Floor: 20,000 triangles.
        data.push_back(grid(100, 100, 40, 40, [](double x, double y) { return 0.2 * std::sin(x) * std::cos(y); }));
        add(data.back().get(), material(0.8, 0.8, 0.8, 1), {0, 0, 0});
        // 45 casters of 4,050 triangles: 182,250.
        data.push_back(ball(45));
        for (int i = 0; i < 45; i++)
            add(data.back().get(), material(0.2 + 0.015 * i, 0.5, 0.9 - 0.015 * i, 1),
                {-12 + 3.0 * (i % 9), -8 + 4.0 * (i / 9), 2.0 + 0.3 * (i % 3)}, 1.1);
        // Four panes of 500 triangles.
        data.push_back(grid(25, 10, 8, 4, [](double, double) { return 0.0; }));
        for (int i = 0; i < 4; i++) {
            MDL_Mesh* pane = add(data.back().get(), material(0.9, 0.3, 0.2, 0.5), {-9 + 6.0 * i, 0, 5});
            MDL_Frame& f = pane->editGlobalFrame();
            double a = 0.3 + 0.2 * i;
            f.basis = {{{1, 0, 0}, {0, std::cos(a), std::sin(a)}, {0, -std::sin(a), std::cos(a)}}};
            f.inverseDirty = 1;
        }
        // Eight lights; the first one throws depth-fail shadows.
        for (int i = 0; i < 8; i++) {
            MDL_Lamp* l = new MDL_Lamp();
            l->color[0] = l->color[1] = l->color[2] = 0.3;
            l->editGlobalFrame().position = {-15 + 4.0 * i, 10 - 2.0 * i, 14};
            if (i == 0) {
                l->shadows = 1;
                l->shadowType = SHADOW_ZFAIL;
                l->color[0] = l->color[1] = l->color[2] = 1;
                shadowLamp = l;
            }
            scene.addObject(l);
        }
        // Overlay texts of 40 glyphs, two of them on a background.
        for (int i = 0; i < 12; i++) {
            MDL_Text* t = new MDL_Text();
            t->font = &font;
            t->size = 0.025 + 0.002 * (i % 3);
            t->color[0] = 1, t->color[1] = 1, t->color[2] = 0.2 * (i % 5), t->color[3] = 1;
            if (i % 6 == 0)
                t->backgroundColor[3] = 0.5;
            t->editGlobalFrame().position = {0.02 + 0.5 * (i % 2), 0.03 + 0.06 * (i / 2), 0};
            t->setText("Frame text: the quick brown fox jumps 0123");
            scene.addObject(t);
        }
        view.initExtensions();
    }

    // The render driver's part: the lamp moves, the volumes follow.
    void moveLampAndRebuild()
    {
        frame++;
        shadowLamp->editGlobalFrame().position = {-4 + 2 * std::sin(frame * 0.1), 4, 16};
        MDL_Lamp* l = VIEW_iFindShadowLamp(scene.lamps, nullptr);
        for (MDL_Object* o : scene.meshes)
            if (VIEW_iCastsShadow(o))
                static_cast<MDL_Mesh*>(o)->updateShadowGeometry(l);
        l->moved = 0;
    }

    void drawFrame()
    {
        moveLampAndRebuild();
        view.beginFrame(nullptr, 0);
        view.drawScene(&viewport, {0, 0}, {W, H});
        glFinish();
    }

    // What the frame draws: the volumes as whole triangles (each cap corner
    // once for the front cap and once for the back cap) and the ordered
    // transparent triangles' arrays; with `written`, what the volumes
    // really write instead (sides, cap indices, far points).
    size_t frameBytes(bool written = false)
    {
        size_t n = 0;
        for (MDL_Object* o : scene.meshes) {
            MDL_Mesh* m = static_cast<MDL_Mesh*>(o);
            n += sizeof(v3) * size_t(m->shadowSideQuads.count);
            if (written)
                n += sizeof(uint32_t) * size_t(m->shadowCapIndices.count) + sizeof(v3) * size_t(m->shadowFarPoints.count);
            else
                n += 2 * sizeof(v3) * size_t(m->shadowCapIndices.count);
        }
        const VIEW_Transparency& t = view.transparency;
        n += sizeof(v3) * size_t(t.positions.count + t.normals.count) + sizeof(v2) * size_t(t.uvs.count) +
             sizeof(VIEW_Rgba) * size_t(t.colours.count) + sizeof(void*) * size_t(t.materials.count);
        return n;
    }

    // Every caster's volume is this frame's and has the bytes that the
    // plain steps give for the same lamp; something is drawn transparent.
    bool volumesRight()
    {
        MDL_Lamp* l = VIEW_iFindShadowLamp(scene.lamps, nullptr);
        int checked = 0;
        for (MDL_Object* o : scene.meshes) {
            if (!VIEW_iCastsShadow(o))
                continue;
            MDL_Mesh* m = static_cast<MDL_Mesh*>(o);
            if (m->shadowLamp != l || m->shadowSideQuads.count <= 0 || m->shadowCapIndices.count <= 0)
                return false;
            if (checked++ % 7)
                continue;
            const std::vector<v3> sides(m->shadowSideQuads.begin(), m->shadowSideQuads.end());
            const std::vector<uint32_t> caps(m->shadowCapIndices.begin(), m->shadowCapIndices.end());
            const std::vector<v3> far(m->shadowFarPoints.begin(), m->shadowFarPoints.end());
            const bool before = VIEW_iShadowWideSteps(false);
            m->shadowLamp = nullptr;
            m->updateShadowGeometry(l);
            VIEW_iShadowWideSteps(before);
            auto same = [](const auto& a, const auto& b) {
                return a.size() == size_t(b.count) && (a.empty() || !std::memcmp(a.data(), b.data, sizeof(a[0]) * a.size()));
            };
            if (!same(sides, m->shadowSideQuads) || !same(caps, m->shadowCapIndices) || !same(far, m->shadowFarPoints))
                return false;
        }
        return checked > 0 && view.transparency.positions.count > 0;
    }
};

Bench& bench()
{
    static Bench* b = new Bench();   // lives as long as the GL context
    return *b;
}

std::vector<uint8_t> g_from, g_to;

void BM_Frame(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state)
        b.drawFrame();
    if (!b.volumesRight())
        state.SkipWithError("shadow volumes are wrong");
}

void BM_OwnWork(benchmark::State& state)
{
    Bench& b = bench();
    null_gl::on();
    for (auto _ : state)
        b.drawFrame();
    null_gl::off();
    if (!b.volumesRight())
        state.SkipWithError("shadow volumes are wrong");
}

void BM_Memcpy(benchmark::State& state)
{
    std::fill(g_to.begin(), g_to.end(), 0);
    for (auto _ : state) {
        std::memcpy(g_to.data(), g_from.data(), g_to.size());
        benchmark::ClobberMemory();
    }
    if (g_to != g_from)
        state.SkipWithError("copy is wrong");
}

}   // namespace

int main(int argc, char** argv)
{
    if (!bench_gl::openContext(W, H)) {
        bench_gl::runOnVirtualServer(argc, argv);
        std::printf("no GL context\nratio nan\n");
        return 1;
    }
    std::printf("renderer: %s, render path %s\n", (const char*)glGetString(GL_RENDERER),
                bench().view.getRenderPathName());
    bench_ratio::Reporter reporter(bench_ratio::Clock::Cpu);
    bench_ratio::initialize(&argc, argv, reporter);

    // Warm: buffers made and glyphs drawn on the real driver, then the lamp
    // once round its path (on the null driver, which is quicker) so that
    // every array has grown to its largest; then count a few steady
    // frames' allocations.
    Bench& b = bench();
    for (int i = 0; i < 3; i++)
        b.drawFrame();
    null_gl::on();
    for (int i = 0; i < 70; i++)
        b.drawFrame();
    null_gl::off();
    uint64_t allocations = 0;
    {
        alloc_count::Scope count;
        for (int i = 0; i < 5; i++)
            b.drawFrame();
        allocations = count.count();
    }
    if (std::getenv("HALVORIN_BENCH_TRACE_ALLOC")) {
        Dl_info info;
        void* c = alloc_count::lastCaller;
        if (c && dladdr(c, &info))
            std::printf("last allocation from %p (+%#lx)\n", c, (unsigned long)((char*)c - (char*)info.dli_fbase));
    }
    const size_t bytes = b.frameBytes();
    g_from.resize(bytes);
    for (size_t i = 0; i < bytes; i++)
        g_from[i] = uint8_t(i * 131 + 7);
    g_to.assign(bytes, 0);

    auto config = [](benchmark::internal::Benchmark* x) { x->Unit(benchmark::kMillisecond)->MinTime(0.5); };
    bench_ratio::alternate(4, {{"BM_Frame", BM_Frame}, {"BM_OwnWork", BM_OwnWork}, {"BM_Memcpy", BM_Memcpy}}, config);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double share = reporter.ratio("BM_OwnWork", "BM_Frame", bench_ratio::Clock::Real);
    std::printf("own work %.2f ms CPU, frame %.2f ms, memcpy of %.1f MB %.2f ms CPU\n",
                reporter.best("BM_OwnWork") * 1e3, reporter.best("BM_Frame", bench_ratio::Clock::Real) * 1e3,
                bytes / 1e6, reporter.best("BM_Memcpy") * 1e3);
    std::printf("own work share of the frame: %.3f\n", share);
    std::printf("bytes the volumes and transparent arrays write: %.1f MB\n", b.frameBytes(true) / 1e6);
    if (ALLOC_COUNT_WORKS)
        std::printf("heap allocations per steady frame: %.1f\n", allocations / 5.0);
    else
        std::printf("heap allocations per steady frame: not counted in this build\n");
    return bench_ratio::finish(reporter.ratio("BM_OwnWork", "BM_Memcpy"));
}
