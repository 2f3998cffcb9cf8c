// Skinning a 100,000-vertex grid bound to 50 bones, four influences per
// vertex, with the box and the face normals (BM_Skinning), against two
// plain loops:
//   BM_MemoryLoop  reads every byte that skinning reads (the groups'
//                  indices, weights, rest positions and rest normals, the
//                  bone frames, the triangles' indices) once and writes
//                  every byte it writes (skinned positions and normals, the
//                  faces' normals) once: what the memory alone costs;
//   BM_CopyLoop    copies the rest positions and normals.
// All three run warmed, sides alternating; each side counts with its
// fastest run. Every side checks its own result once its timing is done.
// Prints skinning over the copy, then last "ratio R": skinning over the
// memory loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "model/MDL_Bone.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_ModelsSet.h"

namespace {

// An arm-like strip: the bones run along y, the direction in which the
// vertices are numbered row after row, as a mesh built ring by ring along
// its limb would be.
constexpr int NX = 249, NY = 399;  // (NX + 1) x (NY + 1) = 100,000 vertices
constexpr int BONES = 50, INFLUENCES = 4;
constexpr double LENGTH = 20.0, WIDTH = 10.0;

template <typename T>
T* allocate(size_t n)
{
    return static_cast<T*>(std::calloc(n, sizeof(T)));
}

struct Rig {
    MDL_MeshData data;
    std::vector<std::unique_ptr<MDL_VertexGroup>> groups;
    std::vector<std::unique_ptr<MDL_Bone>> bones;
    MDL_AnimatedMesh mesh;
    std::vector<v3> copyPositions, copyNormals;
    // The memory loop's own outputs, laid out as skinning's are.
    std::vector<v3> memoryPositions, memoryNormals;
    std::vector<MDL_Face> memoryFaces;
    uint64_t memoryFold[4] = {0, 0, 0, 0};

    Rig()
    {
        const int n = (NX + 1) * (NY + 1);
        data.vertexCount = data.normalCount = n;
        data.positions = allocate<double>(3 * size_t(n));
        data.normals = allocate<double>(3 * size_t(n));
        for (int j = 0, v = 0; j <= NY; j++)
            for (int i = 0; i <= NX; i++, v++) {
                double* p = data.positions + 3 * v;
                p[0] = WIDTH * (double(i) / NX - 0.5);
                p[1] = LENGTH * (double(j) / NY - 0.5);
                p[2] = 0.1 * std::sin(p[0]) * std::cos(p[1]);
                double* q = data.normals + 3 * v;
                q[0] = 0, q[1] = 0, q[2] = 1;
            }
        data.triangleCount = uint32_t(2 * NX * NY);
        data.indices = allocate<uint32_t>(3 * size_t(data.triangleCount));
        data.faces = allocate<MDL_Face>(data.triangleCount);
        for (int j = 0, t = 0; j < NY; j++)
            for (int i = 0; i < NX; i++, t += 2) {
                uint32_t a = uint32_t(j * (NX + 1) + i), b = a + 1, c = a + NX + 1, d = c + 1;
                uint32_t* idx = data.indices + 3 * size_t(t);
                idx[0] = a, idx[1] = b, idx[2] = d, idx[3] = a, idx[4] = d, idx[5] = c;
            }

        // Bones along y; each vertex follows the four around it.
        const double spacing = LENGTH / BONES;
        std::vector<std::vector<std::pair<int32_t, double>>> members(BONES);
        for (int v = 0; v < n; v++) {
            const double y = data.positions[3 * v + 1];
            int j = int((y + LENGTH / 2) / spacing);
            int first = std::min(std::max(j - 1, 0), BONES - INFLUENCES);
            const double w[INFLUENCES] = {0.1, 0.4, 0.4, 0.1};
            for (int k = 0; k < INFLUENCES; k++) members[first + k].push_back({v, w[k]});
        }
        mesh.meshData = &data;
        mesh.setBindings(BONES);
        for (int b = 0; b < BONES; b++) {
            auto bone = std::make_unique<MDL_Bone>();
            const v3 at{0, -LENGTH / 2 + (b + 0.5) * spacing, 0};
            bone->editLocalFrame().position = at;
            auto g = std::make_unique<MDL_VertexGroup>();
            g->count = int32_t(members[b].size());
            g->vertices = allocate<int32_t>(size_t(g->count));
            g->weights = allocate<double>(size_t(g->count));
            g->restPositions = allocate<v3>(size_t(g->count));
            g->restNormals = allocate<v3>(size_t(g->count));
            for (int32_t e = 0; e < g->count; e++) {
                const int32_t v = members[b][e].first;
                g->vertices[e] = v;
                g->weights[e] = members[b][e].second;
                g->restPositions[e] = v3{data.positions[3 * v], data.positions[3 * v + 1],
                                         data.positions[3 * v + 2]} - at;
                g->restNormals[e] = {0, 0, 1};
            }
            mesh.vertexGroups[b] = g.get();
            mesh.boneList[b] = bone.get();
            groups.push_back(std::move(g));
            bones.push_back(std::move(bone));
        }
        mesh.resetSkin();
        copyPositions.resize(size_t(n));
        copyNormals.resize(size_t(n));
        memoryPositions.resize(size_t(n));
        memoryNormals.resize(size_t(n));
        memoryFaces.resize(data.triangleCount);
    }
    ~Rig() { mesh.meshData = nullptr; }

    // Bends the arm: bone b turns about x by an angle that grows along it.
    void pose(double phase)
    {
        for (int b = 0; b < BONES; b++) {
            MDL_Frame& f = bones[b]->editLocalFrame();
            m33::fromEulerAngles(f.basis, 0.02 * b * std::sin(phase), 0.0, 0.01 * b);
            f.inverseDirty = 1;
        }
    }

    // Direct evaluation of every vertex and face, compared with the result.
    bool check() const
    {
        std::vector<v3> expected(size_t(data.vertexCount), v3{0, 0, 0});
        for (int b = 0; b < BONES; b++) {
            const MDL_Frame& f = bones[b]->getGlobalFrame();
            const MDL_VertexGroup& g = *groups[b];
            for (int32_t e = 0; e < g.count; e++)
                expected[size_t(g.vertices[e])] += (m33::apply(f.basis, g.restPositions[e]) + f.position) * g.weights[e];
        }
        for (int32_t v = 0; v < data.vertexCount; v++)
            if (v3::length(expected[size_t(v)] - mesh.skinnedPositions[v]) > 1e-9) return false;
        for (uint32_t t = 0; t < data.triangleCount; t += 997) {
            const uint32_t* idx = data.indices + 3 * size_t(t);
            v3 n;
            v3::cross(n, expected[idx[1]] - expected[idx[0]], expected[idx[2]] - expected[idx[0]]);
            if (v3::length(n - mesh.faces[t].normal) > 1e-9) return false;
        }
        return mesh.boxMax.x > mesh.boxMin.x;
    }
};

// Folds n bytes into four 64-bit lanes by exclusive or, 32 bytes a step
// (in locals, so that the loop only loads).
void foldBytes(const void* from, size_t n, uint64_t lane[4])
{
    const unsigned char* b = static_cast<const unsigned char*>(from);
    uint64_t a0 = lane[0], a1 = lane[1], a2 = lane[2], a3 = lane[3];
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint64_t w[4];
        std::memcpy(w, b + i, sizeof w);
        a0 ^= w[0], a1 ^= w[1], a2 ^= w[2], a3 ^= w[3];
    }
    lane[0] = a0, lane[1] = a1, lane[2] = a2, lane[3] = a3;
    for (; i < n; i++) lane[i % 32 / 8] ^= uint64_t(b[i]) << (8 * (i % 8));
}

// The memory loop: every byte skinning reads, read once, and every byte it
// writes, written once. The positions and normals take values made from the
// fold, the faces' normals their corners' indices.
void memoryPass(Rig& r)
{
    uint64_t lane[4] = {0, 0, 0, 0};
    for (int b = 0; b < BONES; b++) {
        const MDL_Frame& f = r.bones[b]->getGlobalFrame();
        foldBytes(&f.position, sizeof f.position, lane);
        foldBytes(&f.basis, sizeof f.basis, lane);
        const MDL_VertexGroup& g = *r.groups[b];
        const size_t c = size_t(g.count);
        foldBytes(g.vertices, c * sizeof *g.vertices, lane);
        foldBytes(g.weights, c * sizeof *g.weights, lane);
        foldBytes(g.restPositions, c * sizeof *g.restPositions, lane);
        foldBytes(g.restNormals, c * sizeof *g.restNormals, lane);
    }
    const double s = double(lane[0] & 0xFFFF);
    v3* p = r.memoryPositions.data();
    v3* q = r.memoryNormals.data();
    for (int32_t v = 0; v < r.data.vertexCount; v++) {
        p[v] = {s, double(v), s};
        q[v] = {double(v), s, s};
    }
    const uint32_t* idx = r.data.indices;
    MDL_Face* faces = r.memoryFaces.data();
    for (uint32_t t = 0; t < r.data.triangleCount; t++, idx += 3)
        faces[t].normal = {double(idx[0]), double(idx[1]), double(idx[2])};
    std::memcpy(r.memoryFold, lane, sizeof lane);
}

Rig& rig()
{
    static Rig* r = new Rig();
    return *r;
}

void BM_Skinning(benchmark::State& state)
{
    Rig& r = rig();
    double phase = 0;
    for (auto _ : state) {
        r.pose(phase += 0.1);
        r.mesh.update(true);
        benchmark::DoNotOptimize(r.mesh.skinnedPositions);
        benchmark::ClobberMemory();
    }
    if (!r.check()) state.SkipWithError("skinned result is wrong");
}

void BM_CopyLoop(benchmark::State& state)
{
    Rig& r = rig();
    const int32_t n = r.data.vertexCount;
    for (auto _ : state) {
        const double* p = r.data.positions;
        const double* q = r.data.normals;
        v3* op = r.copyPositions.data();
        v3* oq = r.copyNormals.data();
        for (int32_t v = 0; v < n; v++) {
            op[v] = {p[3 * v], p[3 * v + 1], p[3 * v + 2]};
            oq[v] = {q[3 * v], q[3 * v + 1], q[3 * v + 2]};
        }
        benchmark::DoNotOptimize(op);
        benchmark::ClobberMemory();
    }
    if (r.copyPositions.back().x != r.data.positions[3 * (n - 1)]) state.SkipWithError("copy is wrong");
}

void BM_MemoryLoop(benchmark::State& state)
{
    Rig& r = rig();
    r.memoryFold[0] = r.memoryFold[1] = r.memoryFold[2] = r.memoryFold[3] = 0;
    for (auto _ : state) {
        memoryPass(r);
        benchmark::DoNotOptimize(r.memoryPositions.data());
        benchmark::ClobberMemory();
    }
    // The fold of the same bytes by a byte-at-a-time loop, and the outputs.
    uint64_t expected[4] = {0, 0, 0, 0};
    auto fold = [&](const void* from, size_t n) {
        for (size_t i = 0; i < n; i++)
            expected[i % 32 / 8] ^= uint64_t(static_cast<const unsigned char*>(from)[i]) << (8 * (i % 8));
    };
    for (int b = 0; b < BONES; b++) {
        const MDL_Frame& f = r.bones[b]->getGlobalFrame();
        fold(&f.position, sizeof f.position);
        fold(&f.basis, sizeof f.basis);
        const MDL_VertexGroup& g = *r.groups[b];
        fold(g.vertices, size_t(g.count) * sizeof *g.vertices);
        fold(g.weights, size_t(g.count) * sizeof *g.weights);
        fold(g.restPositions, size_t(g.count) * sizeof *g.restPositions);
        fold(g.restNormals, size_t(g.count) * sizeof *g.restNormals);
    }
    bool right = std::memcmp(expected, r.memoryFold, sizeof expected) == 0;
    const double s = double(expected[0] & 0xFFFF);
    for (int32_t v = 0; v < r.data.vertexCount && right; v += 101)
        right = r.memoryPositions[size_t(v)].y == v && r.memoryPositions[size_t(v)].x == s &&
                r.memoryNormals[size_t(v)].x == v && r.memoryNormals[size_t(v)].z == s;
    for (uint32_t t = 0; t < r.data.triangleCount && right; t += 97)
        right = r.memoryFaces[t].normal.z == r.data.indices[3 * size_t(t) + 2];
    if (!right) state.SkipWithError("memory loop result is wrong");
}

}  // namespace

int main(int argc, char** argv)
{
    bench_ratio::Reporter reporter;
    bench_ratio::initialize(&argc, argv, reporter);
    rig().pose(0);
    rig().mesh.update(true);  // warm: every page touched once
    memoryPass(rig());
    auto config = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(0.3); };
    bench_ratio::alternate(
        5, {{"BM_MemoryLoop", BM_MemoryLoop}, {"BM_Skinning", BM_Skinning}, {"BM_CopyLoop", BM_CopyLoop}}, config);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("skinning over the copy loop: %.3f\n", reporter.ratio("BM_Skinning", "BM_CopyLoop"));
    // A side whose result was wrong has no runs, and the ratio is nan.
    return bench_ratio::finish(reporter.ratio("BM_Skinning", "BM_MemoryLoop"));
}
