// Frames of a lit scene on the GL driver: 200,000 triangles, 8 lights, a
// shadow lamp that moves every frame (so every volume is rebuilt) and 2,000
// transparent triangles. BM_Frame is the whole frame, ended by glFinish;
// BM_OwnWork is the renderer's own CPU-side share of it, done without GL:
// shadow volumes, transparency collection and ordering, matrices, light
// parameters, index checks and buffer look-ups. Prints "ratio R": own work
// over the whole frame.
//
// Needs an X display; without one it runs itself on a virtual server.
#include <benchmark/benchmark.h>

#include <GL/glew.h>
#include <GL/glx.h>

#include "model/MDL_Mesh.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_Scene3D.h"
#include "render/VIEW_Shadow.h"

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

bool openContext()
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return false;
    const int attrs[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_RED_SIZE, 8,
                         GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 8,
                         GLX_DOUBLEBUFFER, True, None};
    int n = 0;
    GLXFBConfig* configs = glXChooseFBConfig(d, DefaultScreen(d), attrs, &n);
    if (!configs || n == 0)
        return false;
    XVisualInfo* vi = glXGetVisualFromFBConfig(d, configs[0]);
    if (!vi)
        return false;
    Window root = RootWindow(d, vi->screen);
    XSetWindowAttributes wa{};
    wa.colormap = XCreateColormap(d, root, vi->visual, AllocNone);
    Window w = XCreateWindow(d, root, 0, 0, W, H, 0, vi->depth, InputOutput, vi->visual, CWColormap, &wa);
    GLXWindow gw = glXCreateWindow(d, configs[0], w, nullptr);
    GLXContext c = glXCreateNewContext(d, configs[0], GLX_RGBA_TYPE, nullptr, True);
    XFree(vi);
    XFree(configs);
    return c && glXMakeContextCurrent(d, gw, gw, c);
}

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

    // What drawScene computes on the CPU, without the GL calls.
    void ownWork(VIEW_Transparency& rec, std::unordered_map<const MDL_MeshData*, bool>& checked)
    {
        moveLampAndRebuild();
        checked.clear();
        m44 frameMatrix, modelView;
        m44::fromFrame(frameMatrix, camera->getGlobalFrame());
        m44::inverse(modelView, frameMatrix);
        for (MDL_Object* o : scene.lamps) {
            VIEW_LightParams p;
            VIEW_iLampParams(*static_cast<MDL_Lamp*>(o), p);
            benchmark::DoNotOptimize(p);
        }
        VIEW_iBspClear(rec);
        VIEW_MeshArrays a;
        for (MDL_Object* o : scene.meshes) {
            MDL_Mesh* m = static_cast<MDL_Mesh*>(o);
            benchmark::DoNotOptimize(view.bufferObjects.find(m->meshData));
            if (!VIEW_iMeshArrays(*m, a, &checked))
                continue;
            m44 eye;
            // Opaque pass, shadow re-pass and the two volume passes.
            for (int pass = 0; pass < 4; pass++) {
                VIEW_iObjectMatrix(modelView, *m, eye);
                benchmark::DoNotOptimize(eye);
            }
            if (VIEW_iDrawsTransparent(*m)) {
                m33 n{{{eye.m[0], eye.m[1], eye.m[2]}, {eye.m[4], eye.m[5], eye.m[6]}, {eye.m[8], eye.m[9], eye.m[10]}}};
                VIEW_iCollectTransparentTriangles(rec, a, m->meshData->doubleSided, m->material, eye, n, false);
            }
        }
        VIEW_iBspClearOutput(rec);
        VIEW_iBspCollect(rec, 0);
        benchmark::DoNotOptimize(rec.positions.count);
    }
};

Bench& bench()
{
    static Bench* b = new Bench();   // lives as long as the GL context
    return *b;
}

void BM_Frame(benchmark::State& state)
{
    Bench& b = bench();
    b.drawFrame();   // buffers made, textures and code paths warm
    for (auto _ : state)
        b.drawFrame();
}

void BM_OwnWork(benchmark::State& state)
{
    Bench& b = bench();
    VIEW_Transparency rec;
    std::unordered_map<const MDL_MeshData*, bool> checked;
    for (auto _ : state)
        b.ownWork(rec, checked);
    state.counters["transparent"] = rec.materials.count;
}

BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OwnWork)->Unit(benchmark::kMillisecond)->MinTime(2.0);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.iterations > 0 && !r.error_occurred)
                seconds[r.benchmark_name().substr(0, r.benchmark_name().find('/'))] = r.GetAdjustedRealTime();
    }
};

}   // namespace

int main(int argc, char** argv)
{
    if (!openContext()) {
        // No display: run again on a virtual server of our own, once.
        if (!std::getenv("HALVORIN_BENCH_XVFB")) {
            setenv("HALVORIN_BENCH_XVFB", "1", 1);
            std::string runner = HALVORIN_SOURCE_DIR "/tests/lit/with-xvfb";
            std::vector<char*> args{runner.data()};
            for (int i = 0; i < argc; i++)
                args.push_back(argv[i]);
            args.push_back(nullptr);
            execv(runner.c_str(), args.data());
        }
        std::printf("no GL context\nratio nan\n");
        return 1;
    }
    std::printf("renderer: %s, render path %s\n", (const char*)glGetString(GL_RENDERER),
                bench().view.getRenderPathName());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double whole = reporter.seconds["BM_Frame"], own = reporter.seconds["BM_OwnWork"];
    if (whole <= 0 || own <= 0) {
        std::printf("ratio nan\n");
        return 1;
    }
    std::printf("ratio %.3f\n", own / whole);
    return 0;
}
