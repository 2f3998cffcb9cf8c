// Streams over generated videos: the picture conversion, the frame count,
// playing, looping, seeking, the sound track and damaged files.
#include <cmath>
#include <limits>

#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Budget.h"
#include "sound/VIEW_Sound.h"
#include "tests/script/script_rig.h"
#include "tests/video/video_rig.h"

namespace {

TEST(VideoConversion, KnownValuesAndTheWholeRangeAgainstTheFormula)
{
    struct Case {
        int y, cb, cr;
        uint8_t r, g, b;
    } cases[] = {
        {16, 128, 128, 0, 0, 0},        // black
        {235, 128, 128, 255, 255, 255}, // white
        {255, 128, 255, 255, 175, 255}, // red saturates
        {255, 255, 255, 255, 125, 255}, // the largest sums of every channel
        {0, 0, 0, 0, 136, 0},
        {81, 90, 240, 254, 0, 0},       // studio-range red
    };
    for (const Case& c : cases) {
        uint8_t rgb[3];
        VIEW_iYCbCrToRgb(c.y, c.cb, c.cr, rgb);
        EXPECT_EQ(rgb[0], c.r) << c.y << " " << c.cb << " " << c.cr;
        EXPECT_EQ(rgb[1], c.g) << c.y << " " << c.cb << " " << c.cr;
        EXPECT_EQ(rgb[2], c.b) << c.y << " " << c.cb << " " << c.cr;
    }
    // Every input within one step of the real-valued factors.
    auto clamp = [](double v) { return v < 0 ? 0.0 : v > 255 ? 255.0 : v; };
    for (int y = 0; y < 256; y += 5)
        for (int cb = 0; cb < 256; cb += 5)
            for (int cr = 0; cr < 256; cr += 5) {
                uint8_t rgb[3];
                VIEW_iYCbCrToRgb(y, cb, cr, rgb);
                double r = clamp(1.16438 * y + 1.59603 * cr - 222.422);
                double g = clamp(1.16438 * y - 0.39176 * cb - 0.81297 * cr + 136.075);
                double b = clamp(1.16438 * y + 2.01723 * cb - 276.336);
                ASSERT_NEAR(rgb[0], r, 1.01) << y << " " << cb << " " << cr;
                ASSERT_NEAR(rgb[1], g, 1.01) << y << " " << cb << " " << cr;
                ASSERT_NEAR(rgb[2], b, 1.01) << y << " " << cb << " " << cr;
            }
}

// libtheora's own planes of the first picture, decoded here without the
// stream.
struct ReferenceFrame {
    th_info info;
    std::vector<uint8_t> planes[3];
    int width[3], height[3];
    uint8_t at(int plane, int x, int y) const { return planes[plane][(size_t)y * width[plane] + x]; }
};

bool decodeFirstFrame(const std::string& bytes, ReferenceFrame* out)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, (long)bytes.size());
    std::memcpy(buffer, bytes.data(), bytes.size());
    ogg_sync_wrote(&sync, (long)bytes.size());
    ogg_stream_state stream;
    bool haveStream = false, done = false;
    th_info_init(&out->info);
    th_comment tc;
    th_comment_init(&tc);
    th_setup_info* setup = nullptr;
    th_dec_ctx* ctx = nullptr;
    ogg_page page;
    ogg_packet op;
    int headers = 0;
    while (!done && ogg_sync_pageout(&sync, &page) == 1) {
        if (!haveStream) {
            if (!ogg_page_bos(&page)) continue;
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            ogg_stream_pagein(&stream, &page);
            if (ogg_stream_packetout(&stream, &op) != 1 ||
                th_decode_headerin(&out->info, &tc, &setup, &op) <= 0) {
                ogg_stream_clear(&stream);
                continue;
            }
            haveStream = true;
            headers = 1;
            continue;
        }
        ogg_stream_pagein(&stream, &page);
        while (!done && ogg_stream_packetout(&stream, &op) == 1) {
            if (headers < 3) {
                if (th_decode_headerin(&out->info, &tc, &setup, &op) > 0) headers++;
                if (headers == 3) ctx = th_decode_alloc(&out->info, setup);
                continue;
            }
            if (ctx && th_decode_packetin(ctx, &op, nullptr) == 0) {
                th_ycbcr_buffer buf;
                th_decode_ycbcr_out(ctx, buf);
                for (int p = 0; p < 3; p++) {
                    out->width[p] = buf[p].width;
                    out->height[p] = buf[p].height;
                    out->planes[p].resize((size_t)buf[p].width * buf[p].height);
                    for (int r = 0; r < buf[p].height; r++)
                        std::memcpy(&out->planes[p][(size_t)r * buf[p].width],
                                    buf[p].data + (ptrdiff_t)r * buf[p].stride, (size_t)buf[p].width);
                }
                done = true;
            }
        }
    }
    if (ctx) th_decode_free(ctx);
    th_setup_free(setup);
    th_comment_clear(&tc);
    if (haveStream) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return done;
}

// Every pixel of the texture against the decoder's planes: chroma from its
// own plane (4:2:0, 4:2:2, 4:4:4), the picture offset inside the frame, odd
// sides, and rows stored bottom-up.
TEST(VideoConversion, PicturesMatchTheDecodedPlanesInEveryLayout)
{
    struct Case {
        int w, h, format, picX, picY;
        bool brightBlue = false;  // flat, luma and blue chroma near their top: blue sums past 2^31
    } cases[] = {
        {16, 16, 0, 0, 0}, {7, 5, 0, 0, 0}, {33, 31, 0, 1, 3}, {1, 1, 0, 0, 0},
        {9, 9, 2, 3, 5},   {18, 7, 2, 0, 0}, {17, 13, 3, 0, 0}, {15, 20, 3, 2, 1},
        {48, 8, 0, 0, 0, true}, {40, 6, 3, 1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format << " at " << c.picX
                                        << "," << c.picY);
        TG_Options o = flatVideo(c.w, c.h, 1);
        o.bars = !c.brightBlue;
        if (c.brightBlue) o.flatY = 250, o.flatCb = 250, o.flatCr = 110;
        o.pixelFormat = c.format;
        o.picX = c.picX;
        o.picY = c.picY;
        std::string bytes = encodeVideo(o);
        ReferenceFrame ref;
        ASSERT_TRUE(decodeFirstFrame(bytes, &ref));
        std::unique_ptr<VIEW_Stream> s(openVideo(bytes));
        ASSERT_EQ(s->texture->width, (uint32_t)c.w);
        ASSERT_EQ(s->texture->height, (uint32_t)c.h);
        ASSERT_EQ(s->texture->dataSize, (uint32_t)(c.w * c.h * 3));
        EXPECT_TRUE(s->texture->dirty);
        const int xdec = !(c.format & 1), ydec = !(c.format & 2);
        int wrong = 0;
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) {
                int fx = c.picX + x, fy = c.picY + y;
                uint8_t want[3], got[3];
                VIEW_iYCbCrToRgb(ref.at(0, fx, fy), ref.at(1, fx >> xdec, fy >> ydec),
                                 ref.at(2, fx >> xdec, fy >> ydec), want);
                texturePixel(*s, x, y, got);
                if (c.brightBlue) {
                    EXPECT_EQ(got[2], 255) << x << "," << y;
                }
                if (std::memcmp(want, got, 3) != 0 && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(got[0]) << "," << int(got[1])
                                  << "," << int(got[2]) << ", want " << int(want[0]) << "," << int(want[1]) << ","
                                  << int(want[2]);
            }
        th_info_clear(&ref.info);
    }
}

TEST(VideoStream, FrameCountFromTheTailAndDuration)
{
    struct Case {
        int frames;
        bool sound, pagePerFrame;
        int fpsNum, fpsDen;
    } cases[] = {
        {1, false, false, 25, 1},   {10, false, true, 25, 1},  {100, true, false, 25, 1},
        {300, false, false, 30000, 1001}, {300, true, true, 25, 1}, {700, false, false, 10, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames, sound " << c.sound);
        TG_Options o = flatVideo(32, 24, c.frames, c.sound);
        o.pagePerFrame = c.pagePerFrame;
        o.fpsNumerator = c.fpsNum;
        o.fpsDenominator = c.fpsDen;
        std::unique_ptr<VIEW_Stream> s(openVideo(encodeVideo(o)));
        EXPECT_EQ(s->frameCount, c.frames);
        EXPECT_DOUBLE_EQ(s->duration(), (c.frames - 1) * (double)c.fpsDen / c.fpsNum);
        EXPECT_EQ(s->currentFrame, 1);
        EXPECT_EQ(shownFrame(*s), 0);
    }
}

// The controller's frame advance over a real stream.
struct Player {
    ScriptRig rig;
    VIEW_Stream* stream;
    explicit Player(const std::string& bytes) : stream(openVideo(bytes)) { rig.controller->videos.append(stream); }
    void step(double dt)
    {
        rig.controller->dt = dt;
        rig.controller->advanceVideos();
    }
};

TEST(VideoStream, PlaysEachFrameOnTimeLoopsAndPauses)
{
    for (bool pagePerFrame : {false, true}) {
        SCOPED_TRACE(pagePerFrame ? "a page per frame" : "pages of many frames");
        TG_Options o = flatVideo(24, 16, 30, true);
        o.pagePerFrame = pagePerFrame;
        o.keyframeInterval = 8;
        Player p(encodeVideo(o));
        VIEW_Stream& s = *p.stream;
        // Frame n (1-based) covers (n - 1) / 25 to n / 25 seconds; the clock
        // goes from the middle of one frame to the middle of the next.
        p.step(0.02);
        ASSERT_EQ(s.currentFrame, 2);
        for (int n = 3; n <= 30; n++) {
            p.step(0.04);
            ASSERT_EQ(s.currentFrame, n);
            ASSERT_EQ(shownFrame(s), n - 1);
        }
        // The file ends: the video starts again at its first frame.
        p.step(0.04);
        EXPECT_EQ(s.currentFrame, 1);
        EXPECT_EQ(shownFrame(s), 0);
        p.step(0.04);
        EXPECT_EQ(s.currentFrame, 2);
        EXPECT_EQ(shownFrame(s), 1);
        // Two frames' time at once skips one picture.
        p.step(0.08);
        EXPECT_EQ(s.currentFrame, 4);
        EXPECT_EQ(shownFrame(s), 3);

        s.sample.paused = 1;
        double t = s.time;
        p.step(0.5);
        EXPECT_EQ(s.currentFrame, 4);
        EXPECT_EQ(s.time, t);
        s.sample.paused = 0;
        p.step(0.04);
        EXPECT_EQ(s.currentFrame, 5);
    }
}

TEST(VideoStream, SeeksShowTheTargetFrame)
{
    struct Layout {
        int keyframeInterval;
        bool pagePerFrame;
    } layouts[] = {{16, false}, {64, false}, {1, true}, {30, true}};
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double time;
        int frame;  // 1-based number shown
    } cases[] = {
        {10.0, 250}, {5.5, 138}, {0.0, 1},  {-3.0, 1},    {11.96, 299}, {1e300, 299},
        {0.04, 1},   {7.0, 175}, {inf, 299}, {-inf, 1},   {2.0, 50},    {std::nan(""), 1},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(testing::Message() << "keyframes every " << l.keyframeInterval);
        TG_Options o = flatVideo(32, 24, 300, true);
        o.keyframeInterval = l.keyframeInterval;
        o.pagePerFrame = l.pagePerFrame;
        Player p(encodeVideo(o));
        VIEW_Stream& s = *p.stream;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.time);
            s.seek(c.time);
            ASSERT_EQ(s.currentFrame, c.frame);
            ASSERT_EQ(shownFrame(s), c.frame - 1);
            EXPECT_DOUBLE_EQ(s.time, c.frame / 25.0);
            // Playing goes on from there.
            if (c.frame < 299) {
                p.step(0.02);
                ASSERT_EQ(s.currentFrame, c.frame + 1);
                ASSERT_EQ(shownFrame(s), c.frame);
            }
        }
    }
}

TEST(VideoStream, SoundTrackFeedsTheSample)
{
    TG_Options o = flatVideo(16, 16, 50, true);
    o.soundRate = 22050;
    o.soundChannels = 2;
    Player p(encodeVideo(o));
    VIEW_Stream& s = *p.stream;
    ASSERT_EQ(s.sample.channels.count, 2);
    EXPECT_EQ(s.sample.sampleRate, 22050u);
    EXPECT_TRUE(s.sample.streamFed);
    for (int i = 0; i < 10; i++) p.step(0.04);
    // About the sound of the time played, buffered ahead of the mixer.
    const VIEW_SampleChannel& left = s.sample.channels[0];
    EXPECT_GT(left.count, 22050 * 2 / 10);
    EXPECT_EQ(left.count, s.sample.channels[1].count);
    float peak = 0;
    for (int i = 0; i < left.count; i++) peak = std::fmax(peak, std::fabs(left.samples[i]));
    EXPECT_NEAR(peak, 0.25f, 0.05f);
    // A seek drops what was buffered and starts at the picture's time.
    s.seek(1.0);
    EXPECT_LT(s.sample.channels[0].count, 22050);

    // Without a sound track there are no channels and sound pages are
    // ignored.
    Player quiet(encodeVideo(flatVideo(16, 16, 20)));
    EXPECT_EQ(quiet.stream->sample.channels.count, 0);
    for (int i = 0; i < 30; i++) quiet.step(0.04);
    EXPECT_EQ(quiet.stream->sample.channels.count, 0);
}

// A sound output that plays a fixed number of frames each update.
struct FixedOutput : VIEW_Sound {
    int32_t frames;
    explicit FixedOutput(int32_t n) : frames(n) {}
    int32_t update(const CTRL_Array<MDL_Viewport*>*) override { return frames; }
};

// Sound of one-byte packets, all in pages ahead of the pictures: the stream
// decodes no more than a second ahead of the mixer, consumes it in place,
// stays within a small budget, and the pictures play on.
TEST(VideoStream, SoundOfOneBytePacketsIsDecodedOnlyASecondAhead)
{
    const uint64_t base = VIEW_iBudgetUsed();
    VIEW_iSetBudgetLimit(base + (4u << 20));
    TG_Options o = flatVideo(16, 16, 60, true);
    o.soundRate = 44100;
    o.soundChannels = 2;
    o.soundTinyPackets = 12000;  // about 100 MB of floats if decoded whole
    o.pagePerFrame = true;       // pictures and sound interleaved page by page
    const std::string bytes = encodeVideo(o);
    ASSERT_LT(bytes.size(), 40000u);
    {
        FixedOutput output(1764);  // 0.04 s a frame; outlives the player below
        Player p(bytes);
        VIEW_Stream& s = *p.stream;
        p.rig.controller->sound = &output;
        ASSERT_EQ(s.sample.channels.count, 2);
        for (int n = 2; n <= 60; n++) {
            p.step(n == 2 ? 0.02 : 0.04);  // mid-frame to mid-frame
            ASSERT_EQ(s.currentFrame, n);
            ASSERT_EQ(shownFrame(s), n - 1);
            ASSERT_LE(s.sample.frameCount(), 44100 + 2048);
            ASSERT_LE(VIEW_iBudgetUsed(), base + (4u << 20));
            const VIEW_SampleChannel& left = s.sample.channels[0];
            ASSERT_GT(left.count, 1764);
            // The mixer's share goes from the front; the rest stays put.
            const float* start = left.samples;
            p.rig.controller->pumpSound();
            ASSERT_EQ(left.samples, start + 1764);
            ASSERT_EQ(left.count, s.sample.channels[1].count);
        }
    }
    VIEW_iSetBudgetLimit(0);
    EXPECT_EQ(VIEW_iBudgetUsed(), base);
}

// A picture past the budget: the stream is blank, as an undecodable one is,
// with one line naming the file.
TEST(VideoStream, PictureOverTheBudgetGivesABlankStream)
{
    const uint64_t base = VIEW_iBudgetUsed();
    VIEW_iSetBudgetLimit(base + 100000);
    CTRL_DebugCapture log;
    CTRL_File* f = memoryFile(encodeVideo(flatVideo(320, 240, 4, true)));
    f->name = strdup("clip.ogv");
    {
        VIEW_Stream s(f);
        EXPECT_EQ(s.texture->width, 0u);
        EXPECT_EQ(s.texture->data, nullptr);
        EXPECT_EQ(s.sample.channels.count, 0);
        s.seek(0.1);
        s.decodeAudio();
    }
    EXPECT_NE(log.text().find("clip.ogv"), std::string::npos) << log.text();
    VIEW_iSetBudgetLimit(0);
    EXPECT_EQ(VIEW_iBudgetUsed(), base);
    // Within the budget the same file plays.
    Player p(encodeVideo(flatVideo(320, 240, 4, true)));
    EXPECT_EQ(p.stream->texture->width, 320u);
    EXPECT_EQ(shownFrame(*p.stream), 0);
}

// Rewrites a field of the Theora identification header (the first page)
// and mends the page's checksum.
std::string patchIdentification(std::string bytes, size_t fieldOffset, const std::vector<uint8_t>& value)
{
    const size_t segments = (uint8_t)bytes[26];
    const size_t body = 27 + segments;
    std::memcpy(&bytes[body + fieldOffset], value.data(), value.size());
    ogg_page page;
    page.header = reinterpret_cast<unsigned char*>(&bytes[0]);
    page.header_len = (long)body;
    page.body = reinterpret_cast<unsigned char*>(&bytes[body]);
    long bodyLen = 0;
    for (size_t i = 0; i < segments; i++) bodyLen += (uint8_t)bytes[27 + i];
    page.body_len = bodyLen;
    ogg_page_checksum_set(&page);
    return bytes;
}

// The sound pages of a video alone: an Ogg file without pictures.
std::string soundOnly(const std::string& bytes)
{
    std::string out;
    size_t at = 0;
    int theoraSerial = -1;
    while (at + 27 <= bytes.size()) {
        size_t segments = (uint8_t)bytes[at + 26], len = 27 + segments;
        for (size_t i = 0; i < segments; i++) len += (uint8_t)bytes[at + 27 + i];
        int serial = (uint8_t)bytes[at + 14] | (uint8_t)bytes[at + 15] << 8 | (uint8_t)bytes[at + 16] << 16 |
                     (uint8_t)bytes[at + 17] << 24;
        if (theoraSerial < 0) theoraSerial = serial;  // the writer opens with the pictures
        if (serial != theoraSerial) out.append(bytes, at, len);
        at += len;
    }
    return out;
}

TEST(VideoStream, DamagedFilesGiveBlankStreamsThatAdvanceAndSeekSafely)
{
    TG_Options paged = flatVideo(64, 48, 200, true);
    paged.pagePerFrame = true;
    const std::string good = encodeVideo(paged);
    // Identification header fields: frame width and height in macroblocks
    // at byte 10, picture width and height at 14, frame rate at 22.
    const std::string zeroRate = patchIdentification(good, 22, {0, 0, 0, 0, 0, 0, 0, 1});
    const std::string huge = patchIdentification(good, 10, {0x02, 0x00, 0x02, 0x00, 0x00, 0x20, 0x00, 0x00, 0x20, 0x00});
    struct Case {
        const char* name;
        std::string bytes;
        bool pictures;
        const char* log;
    } cases[] = {
        {"empty", "", false, "no picture stream"},
        {"garbage", std::string(5000, 'x'), false, "no picture stream"},
        {"cut in the headers", good.substr(0, 300), false, "no usable headers"},
        {"cut in the middle", good.substr(0, good.size() / 2), true, nullptr},
        {"shorter than the tail", encodeVideo(flatVideo(8, 8, 2)), true, nullptr},
        {"no pictures", soundOnly(good), false, nullptr},
        {"zero frame rate", zeroRate, false, "no picture stream"},  // the header is refused
        {"sides too long", huge, false, "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Player p(c.bytes);
        const CTRL_DebugCapture& log = p.rig.log;
        VIEW_Stream& s = *p.stream;
        if (c.log) {
            EXPECT_NE(log.text().find(c.log), std::string::npos) << log.text();
        }
        if (c.pictures) {
            EXPECT_GT(s.frameCount, 0);
            EXPECT_EQ(shownFrame(s), 0);
        } else {
            EXPECT_EQ(s.frameCount, 0);
            EXPECT_EQ(s.duration(), 0.0);
            EXPECT_EQ(s.currentFrame, -1);
            EXPECT_EQ(s.texture->data, nullptr);
        }
        for (int i = 0; i < 120; i++) p.step(0.04);  // plays past the end at least once
        for (double t : {std::nan(""), 1e300, -1e300, 0.5, 0.0}) s.seek(t);
        if (!c.pictures) {
            EXPECT_EQ(s.currentFrame, -1);
        }
    }
    // No file at all.
    Player none("");
    delete none.rig.controller->videos[0];
    none.rig.controller->videos[0] = none.stream = new VIEW_Stream(static_cast<CTRL_File*>(nullptr));
    none.step(0.5);
    none.stream->seek(3.0);
    EXPECT_EQ(none.stream->currentFrame, -1);
}

}  // namespace
