// Playing a generated 640 x 480 4:2:0 Theora video of 300 frames through a
// stream (pages, packets, decoding, and the conversion of every picture into
// the frame texture's buffer; no GL upload) against libtheora decoding the
// same packets alone, both in the same run, warmed and interleaved. The last
// line is `ratio R`: our best time over libtheora's best.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include "TG_Writer.h"
#include "media/VIEW_Stream.h"
#include "bench/bench_ratio.h"
#include "media/VIEW_Texture.h"
#include "package/CTRL_File.h"

namespace {

// Seconds of this thread's CPU time: both sides run on this thread alone, and
// the machine is shared, so time spent waiting for the processor counts for
// neither.
double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
const int kFrames = 300;

std::vector<uint8_t> g_video;
// The Theora packets of the video, in order: 3 headers, then the pictures.
std::vector<std::vector<uint8_t>> g_packets;
double g_bestOurs = 1e30, g_bestTheora = 1e30;
std::vector<uint8_t> g_lastOurs;        // our last picture (RGB, bottom-up)
std::vector<uint8_t> g_lastReference;   // libtheora's last planes, converted here
uint32_t g_width = 0, g_height = 0;

bool extractPackets()
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* b = ogg_sync_buffer(&sync, (long)g_video.size());
    std::memcpy(b, g_video.data(), g_video.size());
    ogg_sync_wrote(&sync, (long)g_video.size());
    ogg_stream_state stream;
    bool open = false;
    ogg_page page;
    ogg_packet op;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!open) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            open = true;
        }
        if (ogg_page_serialno(&page) != stream.serialno) continue;
        ogg_stream_pagein(&stream, &page);
        while (ogg_stream_packetout(&stream, &op) == 1) g_packets.emplace_back(op.packet, op.packet + op.bytes);
    }
    if (open) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return g_packets.size() == 3 + kFrames;
}

ogg_packet packetOf(size_t i)
{
    ogg_packet op;
    std::memset(&op, 0, sizeof op);
    op.packet = g_packets[i].data();
    op.bytes = (long)g_packets[i].size();
    op.b_o_s = i == 0;
    op.granulepos = -1;
    op.packetno = (ogg_int64_t)i;
    return op;
}

// libtheora alone: set up from the headers (not timed), decode every picture
// packet and fetch its planes.
double runTheora(bool keep)
{
    th_info ti;
    th_comment tc;
    th_setup_info* setup = nullptr;
    th_info_init(&ti);
    th_comment_init(&tc);
    for (size_t i = 0; i < 3; i++) {
        ogg_packet op = packetOf(i);
        th_decode_headerin(&ti, &tc, &setup, &op);
    }
    th_dec_ctx* ctx = th_decode_alloc(&ti, setup);
    th_ycbcr_buffer buf;
    int decoded = 0;
    const double t0 = cpuSeconds();
    for (size_t i = 3; i < g_packets.size(); i++) {
        ogg_packet op = packetOf(i);
        if (th_decode_packetin(ctx, &op, nullptr) == 0 && th_decode_ycbcr_out(ctx, buf) == 0) decoded++;
    }
    double s = cpuSeconds() - t0;
    if (keep) {
        // The last picture through the per-pixel formula, for the check.
        g_width = ti.pic_width;
        g_height = ti.pic_height;
        g_lastReference.assign((size_t)g_width * g_height * 3, 0);
        for (uint32_t y = 0; y < g_height; y++)
            for (uint32_t x = 0; x < g_width; x++) {
                uint32_t fx = ti.pic_x + x, fy = ti.pic_y + y;
                VIEW_iYCbCrToRgb(buf[0].data[(ptrdiff_t)fy * buf[0].stride + fx],
                                 buf[1].data[(ptrdiff_t)(fy / 2) * buf[1].stride + fx / 2],
                                 buf[2].data[(ptrdiff_t)(fy / 2) * buf[2].stride + fx / 2],
                                 &g_lastReference[((size_t)(g_height - 1 - y) * g_width + x) * 3]);
            }
    }
    th_decode_free(ctx);
    th_setup_free(setup);
    th_comment_clear(&tc);
    th_info_clear(&ti);
    return decoded == kFrames ? s : -1;
}

// Ours: a stream over the bytes in memory (opened and rewound, not timed),
// then every picture paged, decoded and converted into the texture.
double runOurs(bool keep)
{
    auto* file = new CTRL_File();
    file->data = g_video.data();
    file->size = (uint32_t)g_video.size();
    file->extracted = 1;
    VIEW_Stream s(file);
    s.seekToFrame(1, false);
    int converted = 0;
    const double t0 = cpuSeconds();
    for (;;) {
        if (!s.takeVideoPacket()) {
            if (!s.readPage(true)) break;
            continue;
        }
        int64_t frame = -1;
        if (!s.decodeVideoPacket(&frame)) continue;
        s.convertFrame();
        converted++;
    }
    double t = cpuSeconds() - t0;
    if (keep) g_lastOurs.assign(s.texture->data, s.texture->data + s.texture->dataSize);
    return converted == kFrames ? t : -1;
}

void BM_theoraThenOurs(benchmark::State& state)
{
    runTheora(false);  // warm both
    runOurs(false);
    for (auto _ : state) {
        double theora = runTheora(true);
        double ours = runOurs(true);
        if (theora < 0 || ours < 0) {
            state.SkipWithError("not every frame was decoded");
            return;
        }
        g_bestTheora = std::min(g_bestTheora, theora);
        g_bestOurs = std::min(g_bestOurs, ours);
        state.SetIterationTime(ours);
        state.counters["theora_ms"] = theora * 1e3;
    }
}

BENCHMARK(BM_theoraThenOurs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

int main(int argc, char** argv)
{
    bench_ratio::Reporter reporter;  // colour only on a terminal
    bench_ratio::initialize(&argc, argv, reporter);
    TG_Options o;
    o.width = 640;
    o.height = 480;
    o.frames = kFrames;
    o.moving = true;
    o.keyframeInterval = 64;
    g_video = TG_Encode(o);
    if (g_video.empty() || !extractPackets()) {
        std::fprintf(stderr, "bench_video: could not make the video\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (g_lastOurs.empty() || g_lastOurs != g_lastReference) {
        std::fprintf(stderr, "bench_video: the last picture differs from libtheora's planes\n");
        return 1;
    }
    std::printf("video %zu bytes, %d frames of 640 x 480: ours %.2f ms, libtheora %.2f ms (best runs)\n",
                g_video.size(), kFrames, g_bestOurs * 1e3, g_bestTheora * 1e3);
    std::printf("ratio %.3f\n", g_bestOurs / g_bestTheora);
    return 0;
}
