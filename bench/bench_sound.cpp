// Two sound figures, each measured side by side in the same run, the two
// sides interleaved and warmed:
//  - decoding 60 s of 44.1 kHz stereo Ogg Vorbis whole into a VIEW_Sample,
//    against vorbisfile alone decoding the same bytes from memory;
//  - mixing 32 playing sounds into one ring fill (4096 frames), against a
//    plain multiply, add and saturate loop over the same source frames.
// Prints `mix ratio M`, then ends with `ratio R` (decoding), each our best
// time over the baseline's best (lower is better).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <vorbis/vorbisfile.h>

#include "media/VIEW_Sample.h"
#include "bench/bench_ratio.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "platform/PLAT.h"
#include "sound/VIEW_SoundWin32.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> g_ogg;
double g_bestOurs = 1e30, g_bestVorbisfile = 1e30;
double g_bestMix = 1e30, g_bestPlain = 1e30;

double seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

bool makeFile() {
  fs::path path = fs::temp_directory_path() / ("halvorin_bench_sound_" + std::to_string(getpid()) + ".ogg");
  std::string tool = std::string(HALVORIN_BINARY_DIR) + "/tools/ogggen/ogggen";
  std::vector<std::string> argv = {tool,     path.string(), "rate", "44100", "channels", "2",   "seconds",
                                   "60",     "freq",        "440",  "freq2", "659.25",   "amp", "0.4",
                                   "quality", "0.4"};
  argv.insert(argv.begin() + 1, "tone");
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  g_ogg.resize(fs::file_size(path));
  bool ok = fread(g_ogg.data(), 1, g_ogg.size(), f) == g_ogg.size();
  fclose(f);
  fs::remove(path);
  return ok;
}

// ---- decoding

struct Mem {
  const uint8_t* p;
  size_t size, pos;
};
size_t memRead(void* out, size_t a, size_t b, void* m) {
  auto* s = static_cast<Mem*>(m);
  size_t n = std::min(a * b, s->size - s->pos);
  memcpy(out, s->p + s->pos, n);
  s->pos += n;
  return a ? n / a : 0;
}
int memSeek(void* m, ogg_int64_t off, int whence) {
  auto* s = static_cast<Mem*>(m);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(s->pos) : int64_t(s->size);
  s->pos = size_t(std::clamp<int64_t>(base + off, 0, int64_t(s->size)));
  return 0;
}
long memTell(void* m) { return long(static_cast<Mem*>(m)->pos); }

// vorbisfile alone: every frame decoded, nothing kept. Returns the frames.
int64_t decodeVorbisfile() {
  Mem m{g_ogg.data(), g_ogg.size(), 0};
  ov_callbacks cb{memRead, memSeek, nullptr, memTell};
  OggVorbis_File vf;
  if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0) return -1;
  int64_t frames = 0;
  float** pcm;
  int link;
  long n;
  while ((n = ov_read_float(&vf, &pcm, 4096, &link)) != 0)
    if (n > 0) frames += n;
  ov_clear(&vf);
  return frames;
}

void BM_decode(benchmark::State& state) {
  decodeVorbisfile();  // warm
  for (auto _ : state) {
    // Alternate which side goes first.
    bool oursFirst = state.iterations() % 2 == 0;
    for (int side = 0; side < 2; side++) {
      if ((side == 0) == oursFirst) {
        auto t0 = Clock::now();
        VIEW_Sample s("bench", g_ogg.data(), uint32_t(g_ogg.size()), 0);
        double t = seconds(t0);
        if (s.channels.count != 2 || s.frameCount() != 60 * 44100 || s.sampleRate != 44100) {
          state.SkipWithError("the sample decoded wrongly");
          return;
        }
        g_bestOurs = std::min(g_bestOurs, t);
        state.SetIterationTime(t);
      } else {
        auto t0 = Clock::now();
        int64_t frames = decodeVorbisfile();
        double t = seconds(t0);
        if (frames != 60 * 44100) {
          state.SkipWithError("vorbisfile decoded wrongly");
          return;
        }
        g_bestVorbisfile = std::min(g_bestVorbisfile, t);
      }
    }
  }
}

// ---- mixing

constexpr int kSounds = 32, kFrames = 4096, kRounds = 50;

struct MixRig {
  MDL_Scene* scene = new MDL_Scene();
  MDL_Viewport viewport{0, 0, 1, 1};
  CTRL_Array<MDL_Viewport*> viewports;
  std::vector<std::unique_ptr<VIEW_Sample>> samples;
  std::vector<MDL_Sound*> sounds;
  std::vector<float> gainL, gainR;  // each sound's gains, as the mixer finds them
  MixRig() {
    auto* mike = new MDL_Mike();
    scene->addObject(mike);
    viewport.listener = mike;
    viewports.append(&viewport);
    for (int k = 0; k < kSounds; k++) {
      auto s = std::make_unique<VIEW_Sample>();
      s->sampleRate = 44100;
      s->setChannelCount(1);
      std::vector<float> data(44100);
      for (size_t i = 0; i < data.size(); i++) data[i] = float(0.3 * std::sin(0.01 * double(k + 1) * double(i)));
      s->append(0, data.data(), int32_t(data.size()));
      auto* snd = new MDL_Sound();
      scene->addObject(snd);
      snd->editGlobalFrame().position = v3{double(k % 7) - 3, double(k % 5) - 2, double(k % 3)};
      snd->sample = s.get();
      snd->looping = 1;
      snd->position = 1000 * k;
      snd->volume = 0.5 + 0.01 * k;
      double sp[3] = {double(k % 7) - 3, double(k % 5) - 2, double(k % 3)}, lp[3] = {0, 0, 0}, ax[3] = {1, 0, 0};
      float l, r;
      VIEW_iSourceGains(sp, lp, ax, 1.0, snd->volume, &l, &r);
      gainL.push_back(l);
      gainR.push_back(r);
      sounds.push_back(snd);
      samples.push_back(std::move(s));
    }
  }
  ~MixRig() { delete scene; }
};

// The plain loop: each source's frames at their play positions (wrapping),
// times fixed gains, added, then scaled and saturated to 16 bits.
void plainMix(MixRig& rig, int16_t* out) {
  static float accL[kFrames], accR[kFrames];
  std::fill(accL, accL + kFrames, 0.0f);
  std::fill(accR, accR + kFrames, 0.0f);
  for (int k = 0; k < kSounds; k++) {
    const VIEW_SampleChannel& ch = rig.samples[size_t(k)]->channels[0];
    int32_t f = rig.sounds[size_t(k)]->position % ch.count;
    float gl = rig.gainL[size_t(k)], gr = rig.gainR[size_t(k)];
    for (int i = 0; i < kFrames; i++) {
      accL[i] += ch.samples[f] * gl;
      accR[i] += ch.samples[f] * gr;
      if (++f == ch.count) f = 0;
    }
  }
  for (int i = 0; i < kFrames; i++) {
    float l = accL[i] * 32767.0f, r = accR[i] * 32767.0f;
    out[2 * i] = int16_t(l > 32767.0f ? 32767.0f : l < -32768.0f ? -32768.0f : l);
    out[2 * i + 1] = int16_t(r > 32767.0f ? 32767.0f : r < -32768.0f ? -32768.0f : r);
  }
}

void BM_mix(benchmark::State& state) {
  MixRig rig;
  VIEW_SoundWin32 output(nullptr);  // no platform: mixes only
  std::vector<int16_t> ours(2 * kFrames), plain(2 * kFrames);
  output.mix(&rig.viewports, kFrames, 0, ours.data(), ours.data() + 1);  // warm
  plainMix(rig, plain.data());
  if (ours != plain) {
    state.SkipWithError("the mixer and the plain loop disagree");
    return;
  }
  for (auto _ : state) {
    bool oursFirst = state.iterations() % 2 == 0;
    for (int side = 0; side < 2; side++) {
      auto t0 = Clock::now();
      if ((side == 0) == oursFirst) {
        for (int r = 0; r < kRounds; r++) output.mix(&rig.viewports, kFrames, 0, ours.data(), ours.data() + 1);
        double t = seconds(t0) / kRounds;
        g_bestMix = std::min(g_bestMix, t);
        state.SetIterationTime(t);
      } else {
        for (int r = 0; r < kRounds; r++) plainMix(rig, plain.data());
        g_bestPlain = std::min(g_bestPlain, seconds(t0) / kRounds);
      }
      benchmark::DoNotOptimize(ours.data());
      benchmark::DoNotOptimize(plain.data());
    }
  }
}

BENCHMARK(BM_mix)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(40);
BENCHMARK(BM_decode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(12);

}  // namespace

int main(int argc, char** argv) {
  // Colour only on a terminal; the figures come from the best real runs.
  bench_ratio::Reporter reporter;
  bench_ratio::initialize(&argc, argv, reporter);
  if (!makeFile()) {
    fprintf(stderr, "bench_sound: could not make the Ogg Vorbis file\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printf("mix of %d sounds, %d frames: %.1f us, plain loop %.1f us (best runs)\n", kSounds, kFrames, g_bestMix * 1e6,
         g_bestPlain * 1e6);
  printf("mix ratio %.3f\n", g_bestMix / g_bestPlain);
  printf("decode of 60 s (%zu bytes): %.1f ms, vorbisfile alone %.1f ms (best runs)\n", g_ogg.size(),
         g_bestOurs * 1e3, g_bestVorbisfile * 1e3);
  printf("ratio %.3f\n", g_bestOurs / g_bestVorbisfile);
  return 0;
}
