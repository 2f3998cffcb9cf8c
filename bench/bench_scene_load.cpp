// Loading a 20 MB scene file (two grid meshes of 100,000 triangles, two
// textures of 4 MB of hex text) against parsing the same text with TinyXML
// alone, the two sides alternating run by run. The load is checked (counts,
// values at both ends of the arrays, links) so that it cannot win by doing
// less. Prints "ratio R": load time over parse time, in CPU time (the
// machine is shared), fastest runs.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <tinyxml.h>

#include "bench/bench_ratio.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"

namespace {

void appendHex(std::string& out, const void* data, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    const uint8_t* b = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; i++) {
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
        if (i % 32 == 31) out += '\n';
    }
}

std::string makeScene()
{
    std::string s = "<?xml version=\"1.0\"?>\n<textures>\n";
    std::mt19937 rng(1);
    for (int t = 0; t < 2; t++) {
        std::vector<uint8_t> bytes(2 << 20);
        for (auto& b : bytes) b = uint8_t(rng());
        const uint8_t head[] = {137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 4, 0, 0, 0, 2, 0, 8, 6};
        std::memcpy(bytes.data(), head, sizeof head);
        s += "<texture name=\"tex" + std::to_string(t) + "\" size=\"" + std::to_string(bytes.size()) + "\">\n";
        appendHex(s, bytes.data(), bytes.size());
        s += "</texture>\n";
    }
    s += "</textures>\n<materials><material name=\"m\"><texture>tex0</texture></material></materials>\n<meshes>\n";
    const int nx = 250, ny = 200;  // 100,000 triangles
    for (int m = 0; m < 2; m++) {
        std::vector<double> pos, uv;
        std::vector<uint32_t> tri;
        for (int y = 0; y <= ny; y++)
            for (int x = 0; x <= nx; x++) {
                pos.insert(pos.end(), {x * 0.1, y * 0.1, 0.01 * ((x * 7 + y * 3) % 5)});
                uv.insert(uv.end(), {double(x) / nx, double(y) / ny});
            }
        for (int y = 0; y < ny; y++)
            for (int x = 0; x < nx; x++) {
                uint32_t a = uint32_t(y * (nx + 1) + x), b = a + 1, c = a + nx + 1, d = c + 1;
                tri.insert(tri.end(), {a, b, d, a, d, c});
            }
        s += "<mesh name=\"mesh" + std::to_string(m) + "\"><min>0 0 0</min><max>25 20 0.04</max>\n";
        s += "<vertices count=\"" + std::to_string(pos.size() / 3) + "\" size=\"8\">\n";
        appendHex(s, pos.data(), pos.size() * 8);
        s += "</vertices>\n<uvs count=\"" + std::to_string(uv.size() / 2) + "\" size=\"8\">\n";
        appendHex(s, uv.data(), uv.size() * 8);
        s += "</uvs>\n<triangles count=\"" + std::to_string(tri.size() / 3) + "\" size=\"4\">\n";
        appendHex(s, tri.data(), tri.size() * 4);
        s += "</triangles>\n</mesh>\n";
    }
    s += "</meshes>\n<objects>\n";
    for (int o = 0; o < 20; o++)
        s += "<object type=\"Mesh\" name=\"o" + std::to_string(o) + "\"><mesh>mesh" + std::to_string(o % 2) +
             "</mesh><material>m</material><matrix>1 0 0 0 0 1 0 0 0 0 1 0 " + std::to_string(o) +
             " 0 0 1</matrix></object>\n";
    s += "</objects>\n";
    return s;
}

const std::string& scene()
{
    static const std::string text = makeScene();
    return text;
}

void BM_TinyXmlParse(benchmark::State& state)
{
    for (auto _ : state) {
        TiXmlDocument doc;
        doc.Parse(scene().c_str(), nullptr, TIXML_ENCODING_LEGACY);  // as the loader parses
        benchmark::DoNotOptimize(doc.Error());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene().size()));
}

// What the scene must load: checked on every run.
bool loadedWhole(const MDL_ModelsSet* set)
{
    if (!set || set->meshData.count != 2 || set->textures.count != 2)
        return false;
    for (const MDL_MeshData* d : set->meshData) {
        const uint32_t last = 3 * d->triangleCount - 1;
        if (d->triangleCount != 100000 || d->vertexCount != 251 * 201 || d->uvCount != 251 * 201 ||
            d->indices[1] != 1 || d->indices[last] != 251 * 200 + 249 || d->positions[3] != 0.1 ||
            d->uvs[2 * 251 * 201 - 1] != 1.0 || d->faces[0].neighbours[0] != MDL_NO_FACE ||
            d->faces[0].neighbours[1] == MDL_NO_FACE)
            return false;
    }
    return set->textures[0]->dataSize == (2u << 20) && set->textures[1]->dataSize == (2u << 20);
}

void BM_SceneLoad(benchmark::State& state)
{
    for (auto _ : state) {
        MDL_ModelsSet* set = MDL_iLoadModelsSetFromText("bench.xml", scene().c_str());
        if (!loadedWhole(set)) {
            state.SkipWithError("scene did not load whole");
            delete set;
            break;
        }
        delete set;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene().size()));
}

}  // namespace

int main(int argc, char** argv)
{
    // Both sides allocate tens of MB a run. Left to itself the allocator
    // hands the top of the heap back after a run whenever no small block
    // happens to stay behind above it, and the next run pays for every page
    // again; whether that happens depends on the order of unrelated small
    // frees, not on the work. The heap is kept, and large blocks come from
    // it, so that both sides are timed on their work alone.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    std::printf("scene text: %.1f MB\n", scene().size() / 1e6);
    // Each side once before any run is timed. The very first parse, on a
    // heap nothing has used yet, lays its strings out end to end and beats
    // every later run of either side; the first load pays for the heap's
    // pages. Timed runs then all start from the heap as the runs leave it.
    delete MDL_iLoadModelsSetFromText("bench.xml", scene().c_str());
    {
        TiXmlDocument doc;
        doc.Parse(scene().c_str(), nullptr, TIXML_ENCODING_LEGACY);
    }
    bench_ratio::Reporter reporter(bench_ratio::Clock::Cpu);
    bench_ratio::initialize(&argc, argv, reporter);
    // One iteration a run, the sides in turn, many times over: the
    // machine's speed changes within seconds, and the fastest single runs of
    // the two sides then come from the same quiet stretches.
    bench_ratio::alternate(40, {{"BM_TinyXmlParse", BM_TinyXmlParse}, {"BM_SceneLoad", BM_SceneLoad}},
                           [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Iterations(1); });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return bench_ratio::finish(reporter.ratio("BM_SceneLoad", "BM_TinyXmlParse"));
}
