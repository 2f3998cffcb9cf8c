// The sound output through SDL's disk audio driver: the ring, the cursors and
// the pump run for real, and the file the driver writes must hold the tone,
// continuous, at the level the mixer gives it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/PLAT_Fake.h"
#include "platform/PLAT_Services.h"

#include <SDL.h>
#include "sound/VIEW_SoundWin32.h"
#include "sound_rig.h"

namespace {

// The fake platform with the real sound buffer behind it.
struct SdlSoundPlatform : PLAT_Fake {
  PLAT_SoundBuffer* createSoundBuffer(PLAT_Window*, const PLAT_SoundFormat& f, uint32_t bytes) override {
    return PLAT_iSoundCreate(f, bytes);
  }
  void deleteSoundBuffer(PLAT_SoundBuffer* b) override { PLAT_iSoundDelete(b); }
  bool soundPlay(PLAT_SoundBuffer* b) override { return PLAT_iSoundPlay(b); }
  bool soundStop(PLAT_SoundBuffer* b) override { return PLAT_iSoundStop(b); }
  bool soundGetPosition(PLAT_SoundBuffer* b, uint32_t* p, uint32_t* w) override {
    return PLAT_iSoundPosition(b, p, w);
  }
  bool soundLock(PLAT_SoundBuffer* b, uint32_t o, uint32_t n, void** p1, uint32_t* n1, void** p2,
                 uint32_t* n2) override {
    return PLAT_iSoundLock(b, o, n, p1, n1, p2, n2);
  }
  bool soundUnlock(PLAT_SoundBuffer* b, void*, uint32_t, void*, uint32_t) override { return PLAT_iSoundUnlock(b); }
};

TEST(DiskOutput, PlayCursorMovesWithTimeWithinTheLastTake) {
  // lastStart, lastBytes, elapsed ticks, ticks a second, rate, frame bytes, ring size
  struct Case {
    uint32_t start, taken;
    uint64_t elapsed, frequency;
    uint32_t expect;
  } cases[] = {
      {4096, 2048, 0, 1000000, 4096},
      {4096, 2048, 5000, 1000000, 4096 + 220 * 4},  // 5 ms: 220.5 frames, whole ones
      {4096, 2048, 1000000, 1000000, 6144},         // late: stops at the end of the take
      {16000, 2048, 10000, 1000000, (16000 + 441 * 4) % 16384},
      {0, 0, 5000, 1000000, 0},                      // nothing taken yet
      {100, 2048, UINT64_MAX, 1000000000, 2148},     // huge gap: no overflow
      {100, 2048, 5000, 0, 100},                     // no clock
  };
  for (const Case& k : cases)
    EXPECT_EQ(PLAT_iSoundPlayCursor(k.start, k.taken, k.elapsed, k.frequency, 44100, 4, 16384), k.expect)
        << k.start << " " << k.elapsed;
}

// One run of the output on the disk driver: pumps for 0.7 s as the frame
// loop would, then answers what the driver wrote and the longest time
// between two pumps.
struct DiskRun {
  std::vector<int16_t> pcm;
  double longestGap = 0;
  int64_t mixed = 0;
  bool opened = false, stoppedStill = false;
};

DiskRun runOnDisk(SND_Rig& rig, MDL_Sound* snd) {
  DiskRun run;
  char path[] = "/tmp/halvorin-disk-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return run;
  close(fd);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path, 1);
  SdlSoundPlatform plat;
  PLAT_iSet(&plat);
  {
    VIEW_SoundWin32 out(nullptr);
    run.opened = out.buffer != nullptr;
    auto start = std::chrono::steady_clock::now(), last = start;
    while (run.opened && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(700)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(7));
      auto now = std::chrono::steady_clock::now();
      run.longestGap = std::max(run.longestGap, std::chrono::duration<double>(now - last).count());
      last = now;
      int32_t n = out.update(&rig.viewports);
      EXPECT_GE(n, 0);
      EXPECT_LT(n, 4096);
      run.mixed += n;
      snd->position = int32_t((int64_t(snd->position) + n) % 44100);
    }
    if (run.opened) {
      out.stop();
      // A stopped device has both cursors at one place: nothing more is mixed.
      uint32_t p = 1, w = 2;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      run.stoppedStill = plat.soundGetPosition(out.buffer, &p, &w) && p == w && out.update(&rig.viewports) == 0;
    }
  }
  PLAT_iSet(nullptr);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  unsetenv("SDL_DISKAUDIOFILE");
  setenv("SDL_AUDIODRIVER", "dummy", 1);

  FILE* f = std::fopen(path, "rb");
  if (f) {
    int16_t buf[4096];
    size_t got;
    while ((got = std::fread(buf, sizeof(int16_t), 4096, f)) > 0) run.pcm.insert(run.pcm.end(), buf, buf + got);
    std::fclose(f);
  }
  std::remove(path);
  return run;
}

TEST(DiskOutput, FileHoldsTheMixedToneContinuouslyAtItsLevel) {
  // One second of 440 Hz at half scale loops without a seam.
  const double pi = 3.14159265358979323846;
  std::vector<float> tone(44100);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(0.5 * std::sin(2 * pi * 440.0 * double(i) / 44100.0));
  auto sample = SND_iSample(44100, {tone});
  SND_Rig rig;
  rig.listen({0, 0, 0});
  MDL_Sound* snd = rig.play(sample.get(), {0, 0, 0});  // centred: 0.5 to each side
  snd->looping = 1;

  // The recording from its first sound on, past the ramp: the window checked.
  const size_t window = 16384;
  const auto start = [](const std::vector<int16_t>& pcm) {
    size_t frames = pcm.size() / 2, begin = 0;
    while (begin < frames && pcm[2 * begin] == 0 && pcm[2 * begin + 1] == 0) ++begin;
    return begin + 256;
  };
  // No jump larger than the sine's steepest step.
  const double peak = 0.5 * 0.5 * 32767;
  const double maxStep = 2 * pi * 440.0 / 44100.0 * peak;
  const auto steepest = [&](const std::vector<int16_t>& pcm) {
    double worst = 0;
    for (size_t i = start(pcm) + 1; i < start(pcm) + window && 2 * i < pcm.size(); ++i)
      worst = std::max(worst, std::fabs(double(pcm[2 * i]) - double(pcm[2 * i - 2])));
    return worst;
  };

  // The ring holds 93 ms: a pump that comes later than that finds the device
  // has played old data, as any frame loop would. On a machine too busy to
  // pump in time, or whose driver thread was held back and then caught up,
  // the run is repeated.
  DiskRun run;
  for (int attempt = 0; attempt < 6; attempt++) {
    run = runOnDisk(rig, snd);
    ASSERT_TRUE(run.opened) << "SDL disk driver unavailable";
    if (run.longestGap < 0.06 && steepest(run.pcm) <= maxStep * 1.05) break;
  }
  if (run.longestGap >= 0.06) GTEST_SKIP() << "the pump could not run in time on this machine";
  EXPECT_GT(run.mixed, 44100 / 2);
  EXPECT_TRUE(run.stoppedStill);
  const std::vector<int16_t>& pcm = run.pcm;

  size_t frames = pcm.size() / 2, begin = start(pcm);
  ASSERT_GE(frames, begin + window) << "the driver wrote " << frames << " frames";

  // Both sides alike, at the tone's level and without a seam.
  double re = 0, im = 0, worst = 0;
  for (size_t i = begin; i < begin + window; ++i) {
    ASSERT_EQ(pcm[2 * i], pcm[2 * i + 1]) << "frame " << i;
    if (i > begin) worst = std::max(worst, std::fabs(double(pcm[2 * i]) - double(pcm[2 * i - 2])));
    re += pcm[2 * i] * std::cos(2 * pi * 440.0 * double(i) / 44100.0);
    im += pcm[2 * i] * std::sin(2 * pi * 440.0 * double(i) / 44100.0);
  }
  EXPECT_LE(worst, maxStep * 1.05);
  EXPECT_NEAR(2 * std::sqrt(re * re + im * im) / double(window), peak, peak * 0.02);
}

}  // namespace
