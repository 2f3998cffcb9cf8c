// The script classes newStream and newFont over a package in memory.
#include <fstream>
#include <iterator>

#include "media/VIEW_Font.h"
#include "package/CTRL_PackageLoad.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Scene.h"
#include "tests/overlay/overlay_rig.h"
#include "tests/video/video_rig.h"

namespace {

std::string readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* kSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";

ScriptRig* makeRig()
{
    TG_Options o = flatVideo(32, 24, 300, true);
    return new ScriptRig({{"clip.ogv", encodeVideo(o)},
                          {"serif.ttf", readFile(kSerif)},
                          {"empty.ttf", ""},
                          {"junk.ogv", "not a video"}});
}

// Times far outside single precision, infinities and NaN saturate: the
// first or the last frame (300 frames at 25 fps), never a wild conversion.
TEST(StreamScript, SeeksSaturate)
{
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        local s = newStream("clip.ogv")
        s:seek(0)
        local first = s:getCurrentFrame()
        s:seek(1000)
        local last = s:getCurrentFrame()
        assert(last == 299, last)
        local huge = 2 ^ 63
        local cases = {
            {huge, last}, {-huge, first}, {1e300, last}, {-1e300, first}, {3.5e38, last}, {-3.5e38, first},
            {math.huge, last}, {-math.huge, first}, {0 / 0, first}, {2 ^ 1023 * 1.5, last}, {4, 100},
        }
        for i, c in ipairs(cases) do
            s:seek(5)
            s:seek(c[1])
            assert(s:getCurrentFrame() == c[2], i .. ": " .. s:getCurrentFrame())
        end
    )");
}

TEST(StreamScript, MethodsFollowTheStream)
{
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        local s = newStream("clip.ogv", FILTER_NEAREST_POINT)
        assert(s:getCurrentFrame() == 1)
        assert(math.abs(s:getDuration() - 299 / 25) < 1e-12)
        assert(s:isPlaying())
        s:pause()
        assert(not s:isPlaying())
        s:play()
        assert(s:isPlaying())
        s:seek(10)
        assert(s:getCurrentFrame() == 250 and math.abs(s:getTime() - 10) < 1e-9)
        local t = s:getTexture()
        assert(t == s:getTexture() and t:getFilter() == FILTER_NEAREST_POINT)
        local sample = s:getSample()
        assert(sample ~= nil and sample == s:getSample())
        clip = s
    )");
    ASSERT_EQ(rig->controller->videos.count, 1);
    VIEW_Stream* s = rig->controller->videos[0];
    EXPECT_EQ(shownFrame(*s), 249);
    // pause is the sample's paused flag, which the mixer and pump read.
    expectRuns(*rig, "clip:pause()");
    EXPECT_EQ(s->sample.paused, 1);
    // Without a filter the texture keeps the renderer's default.
    expectRuns(*rig, "assert(newStream('clip.ogv'):getTexture():getFilter() == FILTER_DEFAULT)");
}

TEST(StreamScript, MissingFilesAndArgumentErrors)
{
    const ErrorCase cases[] = {
        {"newStream('nothing.ogv')", "File nothing.ogv not found"},
        {"newFont('nothing.ttf')", "File nothing.ttf not found"},
        {"newFont('empty.ttf')", "File empty.ttf not found"},
        {"newStream()", "Not enough arguments"},
        {"newStream('clip.ogv', 'x')", ""},
        {"newStream('clip.ogv'):seek('soon')", ""},
        {"newFont()", ""},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.code);
        std::unique_ptr<ScriptRig> rig(makeRig());
        rig->run(c.code);
        ASSERT_FALSE(rig->controller->errors.empty());
        EXPECT_NE(rig->firstError().find(c.message), std::string::npos) << rig->firstError();
    }
    // A file that is no video still makes a stream, blank.
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        local s = newStream("junk.ogv")
        assert(s:getDuration() == 0 and s:getCurrentFrame() == -1)
    )");
    EXPECT_EQ(rig->controller->fonts.count, 0);
    EXPECT_EQ(rig->controller->videos.count, 1);
}

TEST(StreamScript, DeletedResourcesFailTheSelfCheck)
{
    const char* calls[] = {"getTime()", "getTexture()", "seek(1)", "play()", "getDuration()"};
    for (const char* call : calls) {
        SCOPED_TRACE(call);
        std::unique_ptr<ScriptRig> rig(makeRig());
        rig->run(std::string("local s = newStream('clip.ogv'); s:delete(); s:delete(); s:") + call);
        EXPECT_EQ(rig->controller->videos.count, 0);
    }
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        local s = newStream("clip.ogv")
        s:delete()
        assert(s:getTime() == nil and s:getCurrentFrame() == nil and s:isPlaying() == nil)
        local f = newFont("serif.ttf")
        f:delete()
        f:delete()
    )");
    EXPECT_EQ(rig->controller->fonts.count, 0);
}

// A deleted stream's picture stays with the images that show it until they
// let go of it, and sounds playing its sample fall silent.
TEST(StreamScript, DeletingAStreamInUse)
{
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        scene = newScene("s")
        clip = newStream("clip.ogv")
        image = newImage(scene)
        image:setTexture(clip:getTexture())
        texture = clip:getTexture()
    )");
    VIEW_Stream* s = rig->controller->videos[0];
    MDL_Scene* scene = rig->controller->scenes[0];
    auto* sound = new MDL_Sound();
    sound->sample = &s->sample;
    scene->addObject(sound);
    VIEW_Texture* t = s->texture;
    expectRuns(*rig, "clip:delete()");
    EXPECT_EQ(rig->controller->videos.count, 0);
    EXPECT_EQ(sound->sample, nullptr);
    ASSERT_EQ(rig->controller->textures.count, 1);
    EXPECT_EQ(rig->controller->textures[0], t);
    EXPECT_TRUE(t->releaseRequested);
    EXPECT_FALSE(t->canFree());  // the image still shows it
    expectRuns(*rig, "assert(texture:getFilter() == FILTER_DEFAULT); image:delete()");
}

TEST(FontScript, PackageFontsSetTextsAndFallBackWhenDeleted)
{
    std::unique_ptr<ScriptRig> rig(makeRig());
    expectRuns(*rig, R"(
        local scene = newScene("s")
        local t = newText(scene)
        t:setText("Halvorin WW")
        t:setSize(0.1)
        local default = t:getFont()
        local plain = t:getBoundingBox()
        local serif = newFont("serif.ttf")
        t:setFont(serif)
        assert(t:getFont() == serif)
        local set = t:getBoundingBox()
        assert(set[3] > set[1] and set[3] ~= plain[3])
        serif:delete()
        assert(t:getFont() == default)
        assert(t:getBoundingBox()[3] == plain[3])
    )");
    EXPECT_EQ(rig->controller->fonts.count, 0);
}

}  // namespace

namespace {

// The demo package as the player embeds it: its video part plays a clip on a
// screen and sets a caption in the package's serif font.
TEST(VideoDemo, ClipOnAScreenAndACaptionInThePackageFont)
{
    std::ifstream in(HALVORIN_BINARY_DIR "/content/demo.pkg", std::ios::binary);
    ASSERT_TRUE(in) << "the demo package is built with the player";
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto* engine = new LMP_Engine();
    TestController controller(engine);
    auto* package = new CTRL_Package();
    ASSERT_TRUE(CTRL_iResizeByteBuffer(package, uint32_t(bytes.size())));
    std::copy(bytes.begin(), bytes.end(), package->data);
    ASSERT_TRUE(CTRL_iLoadPackage(&controller, package));
    CTRL_DebugCapture log;
    ASSERT_TRUE(engine->start()) << (controller.errors.empty() ? "" : controller.errors.front());
    EXPECT_NE(log.text().find("video: 4.96 s, frame 1"), std::string::npos) << log.text();
    ASSERT_EQ(controller.videos.count, 1);
    ASSERT_EQ(controller.fonts.count, 1);
    EXPECT_NE(controller.fonts[0]->face, nullptr);
    VIEW_Stream* clip = controller.videos[0];
    EXPECT_EQ(clip->sample.channels.count, 2);
    clip->texture->dirty = 0;
    controller.dt = 0.1;
    controller.advanceVideos();
    EXPECT_EQ(clip->currentFrame, 4);  // 0.04 + 0.1 s lies in (0.12, 0.16]
    EXPECT_TRUE(clip->texture->dirty);
    EXPECT_GT(clip->texture->users, 0u);  // the screen's material shows it
}

}  // namespace
