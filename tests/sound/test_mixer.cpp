// The mixer: distance gain and pan, rate conversion, the listeners, the
// 16-bit conversion, and the pump's cursor rule over the fake ring.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/PLAT_Fake.h"
#include "sound/VIEW_SoundWin32.h"
#include "sound_rig.h"

namespace {

constexpr double kTenth = 0.10000000149011612;  // 0.1 in single precision

TEST(Mixer, GainAndPanFollowDistanceAndTheListenersAxis) {
  const double s2 = std::sqrt(0.5);
  struct Case {
    const char* what;
    v3 source, listener, axis;
    double listenerGain, volume;
    double left, right;  // expected, from the gain and pan law
  } cases[] = {
      {"at the listener", {1, 2, 3}, {1, 2, 3}, {1, 0, 0}, 1, 1, 0.5, 0.5},
      {"10 along +X", {10, 0, 0}, {0, 0, 0}, {1, 0, 0}, 1, 1, 0, 1 / (100 * kTenth + 1)},
      {"10 along -X", {-10, 0, 0}, {0, 0, 0}, {1, 0, 0}, 1, 1, 1 / (100 * kTenth + 1), 0},
      {"3 ahead: centred", {0, 3, 0}, {0, 0, 0}, {1, 0, 0}, 1, 1, 0.5 / (9 * kTenth + 1), 0.5 / (9 * kTenth + 1)},
      {"turned listener", {0, 10, 0}, {0, 0, 0}, {0, 1, 0}, 1, 1, 0, 1 / (100 * kTenth + 1)},
      {"diagonal", {2, 2, 0}, {0, 0, 0}, {1, 0, 0}, 1, 1, (1 - s2) * 0.5 / (8 * kTenth + 1),
       (1 + s2) * 0.5 / (8 * kTenth + 1)},
      {"volume after", {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, 1, 0.25, 0.125, 0.125},
      // The listener gain is clamped per side before the source's volume.
      {"loud listener", {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, 4, 0.5, 0.5, 0.5},
      {"loud, one side", {10, 0, 0}, {0, 0, 0}, {1, 0, 0}, 100, 3, 0, 3},
      {"source volume above 1", {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, 1, 3, 1.5, 1.5},
      {"listener gain 0", {5, 5, 5}, {0, 0, 0}, {1, 0, 0}, 0, 1, 0, 0},
  };
  for (const Case& k : cases) {
    float l = -1, r = -1;
    VIEW_iSourceGains(&k.source.x, &k.listener.x, &k.axis.x, k.listenerGain, k.volume, &l, &r);
    EXPECT_NEAR(l, k.left, 1e-6) << k.what;
    EXPECT_NEAR(r, k.right, 1e-6) << k.what;
  }
  // Not a number anywhere gives silence, not NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  v3 bad{nan, 0, 0}, zero{0, 0, 0}, x{1, 0, 0};
  float l = -1, r = -1;
  VIEW_iSourceGains(&bad.x, &zero.x, &x.x, 1, 1, &l, &r);
  EXPECT_EQ(l, 0.0f);
  EXPECT_EQ(r, 0.0f);
}

TEST(Mixer, SixteenBitConversionSaturatesAndTruncates) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  struct Case {
    float in;
    int16_t out;
  } cases[] = {{0, 0},        {1.5f, 32767},   {-1.5f, -32768}, {1, 32767},    {-1, -32767},
               {0.5f, 16383}, {-0.5f, -16383}, {nan, 0},        {inf, 32767}, {-inf, -32768}};
  for (const Case& k : cases) EXPECT_EQ(VIEW_iToSample16(k.in), k.out) << k.in;
}

// The fast reader gives exactly what the per-frame sample fetch gives.
TEST(Mixer, SpanReadingMatchesTheSampleFetch) {
  std::vector<float> a(1000), b(700);
  for (size_t i = 0; i < a.size(); ++i) a[i] = float(i) * 0.001f + 0.25f;
  for (size_t i = 0; i < b.size(); ++i) b[i] = -float(i) * 0.002f;
  struct Case {
    uint32_t rate;
    int32_t position, channel;
    uint8_t looping, streamFed;
    int64_t first;
    int32_t n;
  } cases[] = {
      {44100, 0, 0, 0, 0, 0, 1200},       {44100, 900, 0, 0, 0, 0, 300},    {44100, 900, 0, 1, 0, 0, 2500},
      {44100, -50, 0, 0, 0, 0, 100},      {44100, -50, 0, 1, 0, 0, 100},    {44100, 10, 1, 1, 0, 346, 900},
      {44100, 10, -1, 1, 0, 0, 1500},     {44100, 10, -1, 0, 0, 0, 1500},   {44100, 10, 5, 1, 0, 0, 50},
      {22050, 0, 0, 0, 0, 1, 2100},       {22050, -50, 0, 0, 0, 0, 300},    {22050, -50, 0, 1, 0, 0, 300},
      {44101, 3, 1, 1, 0, 5, 2000},       {22050, 990, 0, 1, 0, 7, 400},    {48000, 5, 0, 1, 0, 3, 3000},
      {8000, 0, -1, 1, 0, 100, 4800},     {44100, 500, 0, 1, 1, 0, 1200},   {22050, 500, 0, 0, 1, 0, 1200},
      {96000, 2147483000, 0, 1, 0, 0, 64}, {44100, 2147483000, 0, 1, 0, 4000, 64},
      {4000000000u, 0, 0, 1, 0, 2000000000, 16},
  };
  for (const Case& k : cases) {
    auto s = SND_iSample(k.rate, {a, b});
    s->streamFed = k.streamFed;
    MDL_Sound snd;
    snd.sample = s.get();
    snd.position = k.position;
    snd.channel = k.channel;
    snd.looping = k.looping;
    std::vector<float> l(size_t(k.n), 0.125f), r(size_t(k.n), 0.0f);
    VIEW_iAccumulateSound(&snd, 44100, k.first, k.n, 0.5f, 2.0f, l.data(), r.data());
    for (int32_t i = 0; i < k.n; ++i) {
      int64_t index = k.rate == 44100 ? k.first + i : int64_t(k.rate) * (k.first + i) / 44100;
      if (index > INT32_MAX) index = INT32_MAX;
      float v = MDL_Sound::getSample(&snd, int32_t(index));
      ASSERT_EQ(l[size_t(i)], 0.125f + v * 0.5f) << k.rate << " " << k.position << " frame " << i;
      ASSERT_EQ(r[size_t(i)], v * 2.0f) << k.rate << " " << k.position << " frame " << i;
    }
  }
  // Paused, empty and missing samples add nothing.
  auto paused = SND_iSample(44100, {a});
  paused->paused = 1;
  VIEW_Sample empty;
  empty.sampleRate = 0;
  for (VIEW_Sample* s : {paused.get(), &empty, static_cast<VIEW_Sample*>(nullptr)}) {
    MDL_Sound snd;
    snd.sample = s;
    float l[8] = {}, r[8] = {};
    VIEW_iAccumulateSound(&snd, 44100, 0, 8, 1, 1, l, r);
    for (float v : l) EXPECT_EQ(v, 0.0f);
  }
}

struct MixerOutput : ::testing::Test {
  PLAT_Fake fake;
  std::unique_ptr<VIEW_SoundWin32> out;
  void SetUp() override {
    PLAT_iSet(&fake);
    out = std::make_unique<VIEW_SoundWin32>(nullptr);
  }
  void TearDown() override {
    out.reset();
    PLAT_iSet(nullptr);
  }
  // Mixes n frames from first into interleaved stereo.
  std::vector<int16_t> mix(SND_Rig& rig, int32_t n, int32_t first = 0) {
    std::vector<int16_t> pcm(size_t(2 * n), int16_t(0x5555));
    out->mix(&rig.viewports, n, first, pcm.data(), pcm.data() + 1);
    return pcm;
  }
};

TEST_F(MixerOutput, ListenersAddAndTheSumSaturates) {
  struct Case {
    const char* what;
    float value;
    int listeners;
    v3 source;
    int16_t left, right;
  } cases[] = {
      {"one listener, centred", 0.5f, 1, {0, 0, 0}, 8191, 8191},
      {"two listeners hear it twice", 0.5f, 2, {0, 0, 0}, 16383, 16383},
      {"right only", 0.5f, 1, {10, 0, 0}, 0, int16_t(0.5f * float(1 / (100 * kTenth + 1)) * 32767.0f)},
      {"saturates high", 1.5f, 2, {0, 0, 0}, 32767, 32767},
      {"saturates low", -1.5f, 2, {0, 0, 0}, -32768, -32768},
      {"not a number is silence", std::numeric_limits<float>::quiet_NaN(), 1, {0, 0, 0}, 0, 0},
  };
  for (const Case& k : cases) {
    SND_Rig rig;
    for (int i = 0; i < k.listeners; ++i) rig.listen({0, 0, 0});
    auto s = SND_iSample(44100, {std::vector<float>(64, k.value)});
    rig.play(s.get(), k.source);
    std::vector<int16_t> pcm = mix(rig, 64);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(pcm[size_t(2 * i)], k.left) << k.what;
      ASSERT_EQ(pcm[size_t(2 * i + 1)], k.right) << k.what;
    }
  }
}

TEST_F(MixerOutput, ListenersThatCannotHearAndSilentSoundsAreSkipped) {
  SND_Rig rig;
  MDL_Mike* off = rig.listen({0, 0, 0});
  off->on = 0;
  MDL_Mike homeless;  // in no scene
  rig.owned.push_back(std::make_unique<MDL_Viewport>(0, 0, 1, 1));
  rig.owned.back()->listener = &homeless;
  rig.viewports.append(rig.owned.back().get());
  rig.viewports.append(nullptr);
  rig.owned.push_back(std::make_unique<MDL_Viewport>(0, 0, 1, 1));  // no listener
  rig.viewports.append(rig.owned.back().get());
  auto s = SND_iSample(44100, {std::vector<float>(64, 0.5f)});
  rig.play(s.get(), {0, 0, 0});
  std::vector<int16_t> pcm = mix(rig, 32);
  for (int16_t v : pcm) ASSERT_EQ(v, 0);

  SND_Rig quiet;
  quiet.listen({0, 0, 0});
  quiet.play(s.get(), {0, 0, 0}, 0.0);
  quiet.play(s.get(), {0, 0, 0}, -1.0);
  MDL_Sound* gone = quiet.play(s.get(), {0, 0, 0});
  gone->deleted = 1;
  pcm = mix(quiet, 32);
  for (int16_t v : pcm) ASSERT_EQ(v, 0);
}

TEST_F(MixerOutput, HalfRateSamplePlaysEachFrameTwiceAcrossChunks) {
  SND_Rig rig;
  rig.listen({0, 0, 0});
  // Frame k holds k / 8192: distinct outputs for every frame.
  std::vector<float> ramp(6000);
  for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = float(k) / 8192.0f;
  auto s = SND_iSample(22050, {ramp});
  rig.play(s.get(), {0, 0, 0});
  // 11000 frames: three chunks of the accumulators, from frame 1 on.
  const int32_t n = 11000, first = 1;
  std::vector<int16_t> pcm = mix(rig, n, first);
  for (int32_t i = 0; i < n; ++i) {
    int32_t k = (first + i) / 2;
    int16_t expect = VIEW_iToSample16(ramp[size_t(k)] * 0.5f);
    ASSERT_EQ(pcm[size_t(2 * i)], expect) << "frame " << i;
    ASSERT_EQ(pcm[size_t(2 * i + 1)], expect) << "frame " << i;
  }
  EXPECT_NE(pcm[2 * 4800], pcm[2 * 4798]);  // the second chunk carries on
}

// The pump over the fake ring: the content lands where the cursor rule says.
TEST_F(MixerOutput, PumpWritesTheMixInOneOrTwoRegions) {
  SND_Rig rig;
  rig.listen({0, 0, 0});
  std::vector<float> ramp(5000);
  for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = float(k + 1) / 8192.0f;
  auto s = SND_iSample(44100, {ramp});
  rig.play(s.get(), {0, 0, 0});
  struct Case {
    const char* what;
    int32_t position;
    uint32_t play, write;
    int32_t frames, start, next;  // frames mixed, ring byte of the first, next write position
  } cases[] = {
      {"one region", 1024, 4096, 6144, 768, 1024, 4096},
      {"two regions", 15000, 2000, 4000, 846, 15000, 2000},
      {"jump into the read span", 5000, 4096, 6144, 3584, 6144, 4096},
      {"jump past the end", 200, 16000, 1000, 3750, 1000, 16000},
      {"play cursor at 0", 8000, 0, 2048, 2096, 8000, 0},
  };
  for (const Case& k : cases) {
    PLAT_SoundBuffer* b = out->buffer;
    std::fill(b->bytes.begin(), b->bytes.end(), 0);
    out->writePosition = k.position;
    b->play = k.play;
    b->write = k.write;
    ASSERT_EQ(out->update(&rig.viewports), k.frames) << k.what;
    EXPECT_EQ(out->writePosition, k.next) << k.what;
    auto* ring = reinterpret_cast<const int16_t*>(b->bytes.data());
    for (int32_t f = 0; f < k.frames; ++f) {
      int32_t at = ((k.start + 4 * f) % 16384) / 2;
      int16_t expect = VIEW_iToSample16(ramp[size_t(f)] * 0.5f);
      ASSERT_EQ(ring[at], expect) << k.what << " frame " << f;
      ASSERT_EQ(ring[at + 1], expect) << k.what << " frame " << f;
    }
    // Nothing beyond the mixed span was touched.
    int32_t after = ((k.start + 4 * k.frames) % 16384) / 2;
    EXPECT_EQ(ring[after], 0) << k.what;
  }
}

}  // namespace
