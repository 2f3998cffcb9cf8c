// The controller's render pass, sound pump and video advance against a
// recording renderer, a scripted sound output and scripted videos.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include "media/VIEW_Sample.h"
#include "media/VIEW_Stream.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_OpenGL.h"
#include "shell_fixture.h"
#include "sound/VIEW_Sound.h"

namespace {

using Calls = std::vector<std::string>;

struct Driver : ::testing::Test {
    CTRL_ManualClock clock;
    ScriptedEngine *engine = new ScriptedEngine();
    std::unique_ptr<CTRL_Generic> c;
    RecordingView view;
    std::vector<std::unique_ptr<MDL_Camera>> cameras;

    void SetUp() override {
        CTRL_iSetClock(&clock);
        c = std::make_unique<CTRL_Generic>(engine);
        c->setViewportSize(1024, 768);
    }
    void TearDown() override {
        delete c->sound;  // the window controller owns it in the player
        c->sound = nullptr;
        c.reset();
        CTRL_iSetClock(nullptr);
    }
    Calls frame() {
        view.calls.clear();
        c->render(nullptr, &view);
        return view.calls;
    }
    void run() {
        c->package = new CTRL_Package();
        c->stage = STAGE_RUNNING;
        c->started = 1;  // from now on the aspect belongs to the scripts
    }
    MDL_Viewport *viewport(double x, double y, double w, double h, bool camera = true) {
        auto *v = new MDL_Viewport(x, y, w, h);
        if (camera) {
            cameras.push_back(std::make_unique<MDL_Camera>());
            v->camera = cameras.back().get();
        }
        c->viewports.append(v);
        return v;
    }
};

TEST_F(Driver, LoadingScreenCountsItsDotsEveryHalfSecond) {
    EXPECT_EQ(frame(), (Calls{"beginFrame 0", "clear 1 1 1 1", "drawLoadingScreen 0 0 1024 768 [Loading ] image",
                              "endFrame"}));
    ASSERT_NE(c->splashTexture, nullptr);
    EXPECT_STREQ(c->splashTexture->name, "Kolma");
    EXPECT_GT(c->splashTexture->width, 0u);  // the compiled-in picture was probed

    clock.advanceSeconds(0.4);
    EXPECT_EQ(frame()[2], "drawLoadingScreen 0 0 1024 768 [Loading ] image");
    std::string dots;
    for (int i = 1; i <= 12; i++) {
        clock.advanceSeconds(0.6);
        int expected = i <= 10 ? i : i - 10;
        dots.clear();
        for (int k = 0; k < expected; k++) dots += " .";
        EXPECT_EQ(frame()[2], "drawLoadingScreen 0 0 1024 768 [Loading " + dots + "] image") << i;
    }
}

TEST_F(Driver, ErrorStopKeepsTheMessageOfTheFirstFailure) {
    struct Case {
        int32_t stage;
        const char *message;
    } cases[] = {
        {0, "Error opening the file, the file is corrupted.\nPlease check with your content provider."},
        {1, "You are trying to open a file not compatible with your player."},
        {2, "Error loading the file.\nPlease check with your content provider."},
        {3, "Error running the file.\nPlease check with your content provider."},
        {7, "Error running the file.\nPlease check with your content provider."},
    };
    for (const Case &k : cases) {
        CTRL_Generic g(new ScriptedEngine());
        g.stage = k.stage;
        g.stopOnError("%s: problem in %s", "init.lua", "startup");
        EXPECT_TRUE(g.halted);
        EXPECT_STREQ(g.message, k.message) << k.stage;
        g.stage = 0;
        g.stopOnError("second failure");
        EXPECT_STREQ(g.message, k.message);
    }

    c->stage = STAGE_LOADING;
    c->stopOnError("boom");
    EXPECT_EQ(frame(), (Calls{"beginFrame 0", "clear 1 1 1 1",
                              "drawStatusText 0 0 1024 768 [Error loading the file.\nPlease check with your content "
                              "provider.]",
                              "endFrame"}));
}

TEST_F(Driver, ErrorStopStopsAndDropsTheSoundOutput) {
    struct Watched : VIEW_Sound {
        std::vector<std::string> *log;
        explicit Watched(std::vector<std::string> *l) : log(l) {}
        ~Watched() override { log->push_back("deleted"); }
        void stop() override { log->push_back("stop"); }
    };
    std::vector<std::string> log;
    c->sound = new Watched(&log);
    c->stopOnError("x");
    EXPECT_EQ(log, (std::vector<std::string>{"stop", "deleted"}));
    EXPECT_EQ(c->sound, nullptr);
    c->pumpSound();  // no output any more: nothing to do
}

TEST_F(Driver, RunningFramesDrawEveryViewportWithACameraAndClearTheBars) {
    frame();  // a loading frame builds the splash
    ASSERT_NE(c->splashImage, nullptr);
    run();
    viewport(0, 0, 1, 0.75);
    viewport(0.1, 0.1, 0.2, 0.2, false);  // no camera: not drawn
    viewport(0.5, 0.25, 0.25, 0.25);

    // 4:3 window: no bars, the transparent window colour clears nothing.
    EXPECT_EQ(frame(), (Calls{"beginFrame 0", "clear 0 0 0 0", "drawScene 0 0 1024 768", "drawScene 512 256 256 256",
                              "endFrame"}));
    EXPECT_EQ(c->splashImage, nullptr);
    EXPECT_EQ(c->splashTexture, nullptr);

    struct Case {
        double w, h, alpha;
        const char *clear, *scene;
    } cases[] = {
        {1200, 768, 0, "clear 0 0 0 1", "drawScene 88 0 1024 768"},      // bars left and right
        {1024, 900, 0, "clear 0 0 0 1", "drawScene 0 66 1024 768"},      // bars above and below
        {1024, 900, 0.5, "clear 0.2 0.3 0.4 0.5", "drawScene 0 66 1024 768"},
        {1024, 768, 0.5, "clear 0.2 0.3 0.4 0.5", "drawScene 0 0 1024 768"},
    };
    for (const Case &k : cases) {
        c->setViewportSize(k.w, k.h);
        double colour[4] = {0.2, 0.3, 0.4, k.alpha};
        memcpy(c->windowColour, colour, sizeof colour);
        Calls calls = frame();
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(calls[1], k.clear) << k.w << "x" << k.h;
        EXPECT_EQ(calls[2], k.scene) << k.w << "x" << k.h;
    }
}

TEST_F(Driver, ReleasedTexturesLeaveTheListAtTheNextRunningFrame) {
    run();
    auto *kept = new VIEW_Texture();
    auto *released = new VIEW_Texture();
    auto *inUse = new VIEW_Texture();
    released->releaseRequested = 1;
    inUse->releaseRequested = 1;
    VIEW_Texture::retain(inUse);  // a material layer still draws it
    c->textures.append(kept);
    c->textures.append(released);
    c->textures.append(inUse);
    Calls calls = frame();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "releaseImageTexture"), 1);
    ASSERT_EQ(c->textures.count, 2);
    EXPECT_EQ(c->textures[0], kept);
    EXPECT_EQ(c->textures[1], inUse);
    VIEW_Texture::release(inUse);
    frame();
    EXPECT_EQ(c->textures.count, 1);
}

struct ChosenFrames : VIEW_Sound {
    int32_t frames = 0;
    uint32_t rate = 44100;
    int updates = 0;
    uint32_t getSampleRate() override { return rate; }
    int32_t update(const CTRL_Array<MDL_Viewport *> *) override {
        updates++;
        return frames;
    }
};

void fillChannel(VIEW_Sample &s, int channels, int32_t count) {
    for (int k = 0; k < channels; k++) {
        VIEW_SampleChannel ch{};
        ch.samples = static_cast<float *>(malloc(sizeof(float) * static_cast<size_t>(count)));
        for (int32_t i = 0; i < count; i++) ch.samples[i] = static_cast<float>(i);
        ch.count = ch.capacity = count;
        ch.owned = 1;
        s.channels.append(ch);
    }
}

void freeChannels(VIEW_Sample &s) {
    for (VIEW_SampleChannel &ch : s.channels)
        if (ch.owned) free(ch.samples);
    s.channels.resize(0);
}

TEST_F(Driver, SoundPumpAdvancesPlayingSoundsByTheFramesMixed) {
    auto *out = new ChosenFrames();
    c->sound = out;
    auto *scene = new MDL_Scene();
    c->scenes.append(scene);
    VIEW_Sample sample;
    sample.sampleRate = 22050;
    fillChannel(sample, 1, 1000);

    struct Case {
        uint8_t looping, autoDelete;
        int32_t start, frames, position;
        bool detached;
    } cases[] = {
        {0, 0, 0, 100, 50, false},
        {1, 0, 990, 100, 40, false},                    // wraps to position - length
        {0, 1, 990, 100, 1000, true},                   // ends and goes
        {0, 0, 990, 100, 1000, false},                  // ends and stays silent
        {1, 0, 0, 2147483647, 1073741823 % 1000, false},  // no device: runs on without overflow
        {0, 1, 0, 0, 0, false},                         // nothing mixed this frame
    };
    for (const Case &k : cases) {
        auto *snd = new MDL_Sound();
        snd->sample = &sample;
        snd->looping = k.looping;
        snd->autoDelete = k.autoDelete;
        snd->position = k.start;
        scene->addObject(snd);
        out->frames = k.frames;
        c->pumpSound();
        EXPECT_EQ(snd->position, k.position) << k.start << " + " << k.frames;
        EXPECT_EQ(snd->deleted != 0, k.detached) << k.start << " + " << k.frames;
        snd->sample = nullptr;  // leave it alone in the next rounds
    }

    // A video's sound is consumed by the mixer, not advanced.
    auto *fed = new MDL_Sound();
    VIEW_Sample fedSample;
    fedSample.sampleRate = 22050;
    fedSample.streamFed = 1;
    fillChannel(fedSample, 1, 10);
    fed->sample = &fedSample;
    scene->addObject(fed);
    out->frames = 100;
    c->pumpSound();
    EXPECT_EQ(fed->position, 0);
    fed->sample = nullptr;
    freeChannels(fedSample);
    freeChannels(sample);
}

TEST_F(Driver, SoundPumpDropsWhatTheMixConsumedFromEachVideo) {
    auto *out = new ChosenFrames();
    c->sound = out;
    auto *video = new VIEW_Stream();
    video->sample.sampleRate = 22050;
    fillChannel(video->sample, 2, 100);
    c->videos.append(video);

    out->frames = 100;  // 50 samples at the video's rate
    c->pumpSound();
    for (VIEW_SampleChannel &ch : video->sample.channels) {
        ASSERT_EQ(ch.count, 50);
        EXPECT_EQ(ch.samples[0], 50.0f);
        EXPECT_EQ(ch.samples[49], 99.0f);
    }
    video->sample.paused = 1;
    c->pumpSound();
    EXPECT_EQ(video->sample.channels[0].count, 50);
    video->sample.paused = 0;
    out->frames = 2147483647;
    c->pumpSound();
    for (VIEW_SampleChannel &ch : video->sample.channels) {
        EXPECT_EQ(ch.count, 0);
        EXPECT_EQ(ch.samples, nullptr);
    }
    freeChannels(video->sample);
}

// A video whose packets and pages are scripted: each page brings the packets
// of the listed frame indices (-2: a packet the decoder refuses).
struct ScriptedVideo : VIEW_Stream {
    std::deque<std::vector<int64_t>> pages;
    std::deque<int64_t> packets;
    int64_t taken = 0;
    std::vector<std::string> log;
    ScriptedVideo() {
        fpsNumerator = 25;
        fpsDenominator = 1;
    }
    bool takeVideoPacket() override {
        if (packets.empty()) return false;
        taken = packets.front();
        packets.pop_front();
        return true;
    }
    bool decodeVideoPacket(int64_t *frame) override {
        *frame = taken;
        return taken != -2;
    }
    bool readPage(bool videoOnly) override {
        log.push_back(videoOnly ? "readPage video" : "readPage");
        if (pages.empty()) return false;
        for (int64_t p : pages.front()) packets.push_back(p);
        pages.pop_front();
        return true;
    }
    void seek(double t) override { log.push_back("seek " + std::to_string(static_cast<int>(t))); }
    void convertFrame() override { log.push_back("convert " + std::to_string(currentFrame)); }
    void decodeAudio() override { log.push_back("audio"); }
};

TEST_F(Driver, VideosDecodeUpToTheirClockAndLoopAtTheEnd) {
    auto *v = new ScriptedVideo();
    v->pages = {{0, 1}, {-2, 2, 3}, {4}};
    c->videos.append(v);
    using Log = std::vector<std::string>;

    c->dt = 0.1;  // frames end at 0.04, 0.08, 0.12: three are decoded, the refused one skipped
    c->advanceVideos();
    EXPECT_EQ(v->log, (Log{"readPage", "readPage", "convert 3", "audio"}));
    EXPECT_DOUBLE_EQ(v->frameEndTime, 0.12);
    EXPECT_EQ(v->packets.size(), 1u);  // frame 3 waits

    v->log.clear();
    c->dt = 0.01;  // 0.11: the picture shown still covers the clock
    c->advanceVideos();
    EXPECT_EQ(v->log, (Log{"audio"}));

    v->log.clear();
    c->dt = 0.2;  // 0.31: the file ends first
    c->advanceVideos();
    EXPECT_EQ(v->log, (Log{"readPage", "readPage", "seek 0"}));

    v->log.clear();
    v->sample.paused = 1;
    c->advanceVideos();
    EXPECT_TRUE(v->log.empty());
    v->sample.paused = 0;
    c->stopOnError("x");
    c->advanceVideos();
    EXPECT_TRUE(v->log.empty());
}

TEST(GLView, ExtensionScanVersionNumberAndPathNames) {
    VIEW_OpenGL bare;  // no context: nothing here touches GL
    EXPECT_STREQ(bare.getRenderPathName(), "NONE");
    bare.renderPath = 7;
    EXPECT_STREQ(bare.getRenderPathName(), "NONE");
    bare.renderPath = RENDER_PATH_SHADER;
    EXPECT_STREQ(bare.getRenderPathName(), "SHADER");
    bare.renderPath = RENDER_PATH_NONE;
    bare.resetRenderingOpti();  // path 0: the buffer map stays
    EXPECT_EQ(bare.buffersReset, 0);

    struct Case {
        const char *text, *name;
        bool found;
    } cases[] = {
        {"GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_EXT_bgra", "GL_ARB_vertex_buffer_object", true},
        {"GL_ARB_vertex_buffer_object_rgb32 GL_EXT_bgra", "GL_ARB_vertex_buffer_object", false},
        {"GL_ARB_vertex_buffer_object", "GL_ARB_vertex_buffer_object", true},
        {"", "GL_ARB_vertex_buffer_object", false},
        {nullptr, "GL_ARB_vertex_buffer_object", false},
    };
    for (const Case &k : cases) EXPECT_EQ(VIEW_OpenGL::hasExtension(k.text, k.name), k.found) << k.text;
    EXPECT_EQ(VIEW_OpenGL::versionNumber("1.1 Mesa"), 11u);
    EXPECT_EQ(VIEW_OpenGL::versionNumber("2.1 Mesa 22.3.6"), 21u);
    EXPECT_EQ(VIEW_OpenGL::versionNumber(nullptr), 0u);
    EXPECT_EQ(VIEW_OpenGL::versionNumber("4"), 0u);
}

}  // namespace
