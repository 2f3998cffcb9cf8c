// ogggen: writes Ogg Vorbis tones.
//   ogggen tone FILE [rate R] [channels C] [freq F] [freq2 F] [seconds S]
//                    [amp A] [fade S] [quality Q]
//   ogggen fixtures DIR       the test fixtures (OGG_Fixtures.h)
//   ogggen seeds DIR          short files seeding the Vorbis fuzz target
//   ogggen demo DIR           the demo's sounds (ambient.ogg, click.ogg)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OGG_Fixtures.h"
#include "OGG_Writer.h"

namespace {

bool write(const std::string& dir, const char* name, const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || !OGG_iWriteFile(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "ogggen: cannot write %s/%s\n", dir.c_str(), name);
    return false;
  }
  return true;
}

// The offset of the third Ogg page (the first after the headers).
size_t audioStart(const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  for (int page = 0; page < 2 && at + 27 <= bytes.size(); ++page) {
    size_t segments = bytes[at + 26], body = 0;
    for (size_t k = 0; k < segments && at + 27 + k < bytes.size(); ++k) body += bytes[at + 27 + k];
    at += 27 + segments + body;
  }
  return at < bytes.size() ? at : bytes.size();
}

std::vector<uint8_t> chain(const OGG_Tone& a, const OGG_Tone& b) {
  std::vector<uint8_t> out = OGG_iEncodeTone(a), second = OGG_iEncodeTone(b);
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

int fixtures(const std::string& dir) {
  bool ok = true;
  for (const OGG_Fixture& f : OGG_kTones) ok = write(dir, f.file, OGG_iEncodeTone(f.tone)) && ok;
  for (const OGG_Chain& c : OGG_kChains) ok = write(dir, c.file, chain(c.first, c.second)) && ok;
  // Both are damaged in the audio pages, past the headers (the first two
  // pages): the middle of what follows them.
  std::vector<uint8_t> whole = OGG_iEncodeTone(OGG_kTones[0].tone);
  size_t audio = audioStart(whole);
  size_t middle = audio + (whole.size() - audio) / 2;
  std::vector<uint8_t> half(whole.begin(), whole.begin() + long(middle));
  ok = write(dir, OGG_kTruncated, half) && ok;
  std::vector<uint8_t> damaged = whole;
  for (size_t i = middle; i < middle + 64 && i < damaged.size(); ++i) damaged[i] = uint8_t(damaged[i] * 31 + 7);
  ok = write(dir, OGG_kDamaged, damaged) && ok;
  return ok ? 0 : 1;
}

int seeds(const std::string& dir) {
  OGG_Tone mono{44100, 1, 0.05, {440.0, 440.0}, 0.5, 0.0, 0.0f, 21};
  OGG_Tone stereo{22050, 2, 0.05, {440.0, 880.0}, 0.5, 0.0, 0.0f, 22};
  bool ok = write(dir, "mono_44100.ogg", OGG_iEncodeTone(mono));
  ok = write(dir, "stereo_22050.ogg", OGG_iEncodeTone(stereo)) && ok;
  ok = write(dir, "chain.ogg", chain(mono, stereo)) && ok;
  return ok ? 0 : 1;
}

int demo(const std::string& dir) {
  // A soft low drone with a slow beat between the ears (loops cleanly: whole
  // periods of both tones in 2 s), and a short bright click.
  OGG_Tone ambient{22050, 2, 2.0, {110.0, 111.0}, 0.3, 0.0, 0.0f, 31};
  OGG_Tone click{22050, 1, 0.08, {1760.0, 1760.0}, 0.6, 0.03, 0.0f, 32};
  bool ok = write(dir, "ambient.ogg", OGG_iEncodeTone(ambient));
  ok = write(dir, "click.ogg", OGG_iEncodeTone(click)) && ok;
  return ok ? 0 : 1;
}

int tone(int argc, char** argv) {
  OGG_Tone t;
  bool secondGiven = false;
  for (int i = 3; i + 1 < argc; i += 2) {
    const char* k = argv[i];
    double v = std::atof(argv[i + 1]);
    if (!std::strcmp(k, "rate")) t.rate = int32_t(v);
    else if (!std::strcmp(k, "channels")) t.channels = int32_t(v);
    else if (!std::strcmp(k, "freq")) t.frequency[0] = v;
    else if (!std::strcmp(k, "freq2")) t.frequency[1] = v, secondGiven = true;
    else if (!std::strcmp(k, "seconds")) t.seconds = v;
    else if (!std::strcmp(k, "amp")) t.amplitude = v;
    else if (!std::strcmp(k, "fade")) t.fade = v;
    else if (!std::strcmp(k, "quality")) t.quality = float(v);
    else {
      std::fprintf(stderr, "ogggen: unknown setting %s\n", k);
      return 2;
    }
  }
  if (!secondGiven) t.frequency[1] = t.frequency[0];
  std::vector<uint8_t> bytes = OGG_iEncodeTone(t);
  if (bytes.empty() || !OGG_iWriteFile(argv[2], bytes)) {
    std::fprintf(stderr, "ogggen: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && !std::strcmp(argv[1], "tone")) return tone(argc, argv);
  if (argc == 3 && !std::strcmp(argv[1], "fixtures")) return fixtures(argv[2]);
  if (argc == 3 && !std::strcmp(argv[1], "seeds")) return seeds(argv[2]);
  if (argc == 3 && !std::strcmp(argv[1], "demo")) return demo(argv[2]);
  std::fprintf(stderr,
               "usage: ogggen tone FILE [rate R] [channels C] [freq F] [freq2 F] [seconds S] [amp A] [fade S] "
               "[quality Q]\n       ogggen fixtures|seeds|demo DIR\n");
  return 2;
}
