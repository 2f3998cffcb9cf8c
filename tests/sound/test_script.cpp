// The script classes newSample and newSound through the real engine, with
// generated Ogg Vorbis files in the package.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "OGG_Writer.h"
#include "model/MDL_Viewport.h"
#include "package/CTRL_PackageLoad.h"
#include "platform/PLAT_Fake.h"
#include "sound/VIEW_SoundWin32.h"
#include "media/VIEW_Sample.h"
#include "model/MDL_Objects.h"
#include "physics/MDL_Scene.h"
#include "tests/script/script_rig.h"

namespace {

std::string tone(int32_t rate, int32_t channels, double seconds) {
  OGG_Tone t;
  t.rate = rate;
  t.channels = channels;
  t.seconds = seconds;
  std::vector<uint8_t> b = OGG_iEncodeTone(t);
  return std::string(b.begin(), b.end());
}

struct SoundScript : ::testing::Test {
  ScriptRig rig{{"a.ogg", tone(44100, 2, 0.25)}, {"b.ogg", tone(22050, 1, 0.25)}, {"bad.ogg", "not a sound"}};

  bool run(const std::string& code) { return rig.run(code); }
  std::string global(const char* name) { return rig.global(name); }
  MDL_Scene* scene() { return rig.controller->scenes.count ? rig.controller->scenes[0] : nullptr; }
  // The n-th sound of the first scene.
  MDL_Sound* sound(int n = 0) {
    MDL_Scene* s = scene();
    return s && s->sounds.count > n ? static_cast<MDL_Sound*>(s->sounds[n]) : nullptr;
  }
};

TEST_F(SoundScript, SamplesLoadIntoTheControllersList) {
  ASSERT_TRUE(run("a = newSample('a.ogg') b = newSample('b.ogg') bad = newSample('bad.ogg')")) << rig.firstError();
  CTRL_Array<VIEW_Sample*>& list = rig.controller->samples;
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list[0]->channels.count, 2);
  EXPECT_EQ(list[0]->sampleRate, 44100u);
  EXPECT_EQ(list[0]->frameCount(), 11025);
  EXPECT_STREQ(list[0]->name, "a.ogg");
  EXPECT_EQ(list[1]->sampleRate, 22050u);
  EXPECT_EQ(list[2]->channels.count, 0);  // undecodable: a silent sample
  EXPECT_TRUE(rig.controller->errors.empty());

  EXPECT_TRUE(run("missing = newSample('nothing.ogg') s = tostring(missing)"));
  EXPECT_EQ(rig.firstError().find("File nothing.ogg not found") != std::string::npos, true) << rig.firstError();
  EXPECT_EQ(list.count, 3);
  EXPECT_EQ(global("s").rfind("newSample", 0), 0u);
}

TEST_F(SoundScript, NewSoundHasItsDefaultsAndItsSample) {
  ASSERT_TRUE(run(R"(
    scene = newScene()
    smp = newSample('a.ogg')
    parent = newObject(scene)
    parent:setPosition(v3(1, 2, 3))
    s = newSound(scene, smp)
    child = newSound(parent)
    r = table.concat({s:getVolume(), tostring(s:getLooping()), tostring(s:getAutoDelete()), s:getTime()}, ' ')
    kind = tostring(parent:getChild()):match('^%a+')
    p = parent:getChild():getPosition()
    pr = table.concat({p:x(), p:y(), p:z()}, " ")
  )")) << rig.firstError();
  EXPECT_EQ(global("r"), "1 false true 0");
  EXPECT_EQ(global("kind"), "newSound");
  EXPECT_EQ(global("pr"), "1 2 3");
  ASSERT_NE(sound(0), nullptr);
  ASSERT_NE(sound(1), nullptr);
  EXPECT_EQ(sound(0)->sample, rig.controller->samples[0]);
  EXPECT_EQ(sound(1)->sample, nullptr);
  EXPECT_EQ(sound(0)->position, 0);
  EXPECT_EQ(sound(0)->name, nullptr);

  ASSERT_TRUE(run(R"(
    s:setVolume(0.25) s:setLooping(true) s:setAutoDelete(false)
    r = table.concat({s:getVolume(), tostring(s:getLooping()), tostring(s:getAutoDelete())}, ' ')
    child:setSample(newSample('b.ogg'))
  )")) << rig.firstError();
  EXPECT_EQ(global("r"), "0.25 true false");
  EXPECT_EQ(sound(0)->volume, 0.25);
  EXPECT_EQ(sound(1)->sample, rig.controller->samples[1]);
}

TEST_F(SoundScript, SeekAndTimeStayInRange) {
  ASSERT_TRUE(run("scene = newScene() a = newSound(scene, newSample('a.ogg')) b = newSound(scene, newSample('b.ogg'))"
                  " bad = newSound(scene, newSample('bad.ogg')) none = newSound(scene)"))
      << rig.firstError();
  struct Case {
    const char* code;
    int n;
    int32_t position;
    const char* time;
  } cases[] = {
      {"a:seek(1.5)", 0, 66150, "1.5"},
      {"a:seek(0.00001)", 0, 0, "0"},
      {"b:seek(1.5)", 1, 33075, "1.5"},
      {"b:seek(0.5)", 1, 11025, "0.5"},  // past the end: allowed
      {"a:seek(-3)", 0, 0, "0"},
      {"a:seek(1e300)", 0, 2147483647, "48695.77430839"},
      {"a:seek(-1e300)", 0, 0, "0"},
      {"a:seek(0/0)", 0, 0, "0"},
      {"bad:seek(2)", 2, 0, "0"},   // rate 0: no division by zero
      {"none:seek(2)", 3, 0, "0"},  // no sample: nothing to seek in
  };
  const char* names[] = {"a", "b", "bad", "none"};
  for (const Case& k : cases) {
    ASSERT_TRUE(run(std::string(k.code) + " t = string.format('%.14g', " + names[k.n] + ":getTime())"))
        << k.code << rig.firstError();
    EXPECT_EQ(sound(k.n)->position, k.position) << k.code;
    EXPECT_EQ(global("t"), k.time) << k.code;
  }
}

TEST_F(SoundScript, ArgumentsAreChecked) {
  struct Case {
    const char* code;
    const char* message;
  } cases[] = {
      {"newSound(newScene(), 5)", "(newSample)"},
      {"newSound(newScene(), newObject(newScene()))", "(newSample)"},
      {"newSound(newScene(), newSample('a.ogg'), 3)", "Too much arguments for newObject"},
      {"newSound(5)", "bad argument #1"},
      {"local p = newObject(newScene()); p:delete(); newSound(p)", "Unable to retreive Scene"},
      {"newSound(newScene()):setSample(5)", "(newSample)"},
      {"newSound(newScene()):setSample()", "(newSample)"},
      {"newSound(newScene()):setVolume('x')", ""},
      {"newSound(newScene()):seek()", ""},
      {"newSound(newScene()):setLooping(1)", ""},
      {"newSample()", ""},
  };
  for (const Case& k : cases) {
    ScriptRig fresh{{"a.ogg", tone(44100, 1, 0.1)}};
    fresh.run(k.code);
    ASSERT_FALSE(fresh.controller->errors.empty()) << k.code;
    EXPECT_NE(fresh.firstError().find(k.message), std::string::npos) << k.code << " -> " << fresh.firstError();
  }
  // A refused sample leaves no sound behind.
  ScriptRig fresh;
  fresh.run("scene = newScene() newSound(scene, 5)");
  ASSERT_EQ(fresh.controller->scenes.count, 1);
  EXPECT_EQ(fresh.controller->scenes[0]->sounds.count, 0);
}

TEST_F(SoundScript, DeletingASampleSilencesItsSounds) {
  ASSERT_TRUE(run(R"(
    scene = newScene()
    smp = newSample('a.ogg')
    other = newSample('b.ogg')
    s1 = newSound(scene, smp)
    s2 = newSound(scene, smp)
    s3 = newSound(scene, other)
    smp:delete()
    smp:delete()
    s4 = newSound(scene, smp)
    t = s1:getTime()
    s1:seek(1)
  )")) << rig.firstError();
  EXPECT_EQ(rig.controller->samples.count, 1);
  EXPECT_EQ(sound(0)->sample, nullptr);
  EXPECT_EQ(sound(1)->sample, nullptr);
  EXPECT_EQ(sound(2)->sample, rig.controller->samples[0]);
  EXPECT_EQ(sound(3)->sample, nullptr);
  EXPECT_EQ(global("t"), "0");
  // The last one goes, and the list's storage with it.
  ASSERT_TRUE(run("other:delete()")) << rig.firstError();
  EXPECT_EQ(rig.controller->samples.count, 0);
  EXPECT_EQ(rig.controller->samples.data, nullptr);
  EXPECT_EQ(sound(2)->sample, nullptr);
  EXPECT_TRUE(rig.controller->errors.empty()) << rig.firstError();
}

}  // namespace

namespace {

// The demo package: its sound part finds its files, puts the listener on
// the camera and starts the drone; a mix then carries it.
TEST(SoundDemo, AmbientDroneIsHeardThroughTheCamerasListener) {
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
  EXPECT_NE(log.text().find("sound: ambient drone at the crate, listener on the camera"), std::string::npos)
      << log.text();
  ASSERT_EQ(controller.samples.count, 2);
  for (VIEW_Sample* s : controller.samples) {
    EXPECT_GT(s->frameCount(), 0) << s->name;
    EXPECT_EQ(s->sampleRate, 22050u) << s->name;
  }

  int listeners = 0;
  for (MDL_Viewport* vp : controller.viewports) listeners += vp->listener != nullptr;
  EXPECT_EQ(listeners, 1);
  PLAT_Fake fake;
  PLAT_iSet(&fake);
  {
    VIEW_SoundWin32 out(nullptr);
    std::vector<int16_t> pcm(2 * 2048);
    out.mix(&controller.viewports, 2048, 0, pcm.data(), pcm.data() + 1);
    int peakL = 0, peakR = 0;
    for (size_t i = 0; i < pcm.size(); i += 2) {
      peakL = std::max(peakL, std::abs(int(pcm[i])));
      peakR = std::max(peakR, std::abs(int(pcm[i + 1])));
    }
    // Audible on both sides, a little louder on the left: the crate stands
    // left of the camera.
    EXPECT_GT(peakR, 500);
    EXPECT_GT(peakL, peakR);
  }
  PLAT_iSet(nullptr);
}

}  // namespace
