// Decoding Ogg Vorbis files into samples: the generated fixtures' shapes and
// content, the memory stream, and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "OGG_Fixtures.h"
#include "media/VIEW_Sample.h"

namespace {

std::vector<uint8_t> readFixture(const std::string& name) {
  std::string path = std::string(HALVORIN_SOUND_FIXTURES) + "/" + name;
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return bytes;
}

int32_t frames(const OGG_Tone& t) { return int32_t(t.seconds * t.rate + 0.5); }

// The strength of frequency f in a channel (magnitude of one DFT bin,
// normalised so that a sine of amplitude a gives about a).
double toneLevel(const VIEW_SampleChannel& ch, double f, double rate) {
  const double pi = 3.14159265358979323846;
  double re = 0, im = 0;
  for (int32_t i = 0; i < ch.count; ++i) {
    re += ch.samples[i] * std::cos(2 * pi * f * i / rate);
    im += ch.samples[i] * std::sin(2 * pi * f * i / rate);
  }
  return 2 * std::sqrt(re * re + im * im) / ch.count;
}

TEST(Sample, GeneratedTonesDecodeWithTheirShapeAndPitch) {
  for (const OGG_Fixture& fx : OGG_kTones) {
    SCOPED_TRACE(fx.file);
    std::vector<uint8_t> bytes = readFixture(fx.file);
    ASSERT_FALSE(bytes.empty());
    VIEW_Sample s(fx.file, bytes.data(), uint32_t(bytes.size()), 0);
    EXPECT_STREQ(s.name, fx.file);
    EXPECT_EQ(s.sampleRate, uint32_t(fx.tone.rate));
    ASSERT_EQ(s.channels.count, fx.tone.channels);
    EXPECT_EQ(s.frameCount(), frames(fx.tone));
    for (int32_t c = 0; c < s.channels.count; ++c) {
      const VIEW_SampleChannel& ch = s.channels[c];
      EXPECT_EQ(ch.count, frames(fx.tone));
      EXPECT_GE(ch.capacity, ch.count);
      EXPECT_GE(ch.capacity, 128);
      EXPECT_EQ(ch.owned, 1);
      // The channel's own tone is there at its level; the other one is not.
      double own = fx.tone.frequency[c], other = fx.tone.frequency[1 - c];
      EXPECT_NEAR(toneLevel(ch, own, fx.tone.rate), fx.tone.amplitude, 0.05 * fx.tone.amplitude);
      if (own != other) {
        EXPECT_LT(toneLevel(ch, other, fx.tone.rate), 0.05 * fx.tone.amplitude);
      }
    }
  }
}

TEST(Sample, ChainedLinksUseTheirOwnChannelCount) {
  for (const OGG_Chain& fx : OGG_kChains) {
    SCOPED_TRACE(fx.file);
    std::vector<uint8_t> bytes = readFixture(fx.file);
    ASSERT_FALSE(bytes.empty());
    VIEW_Sample s(fx.file, bytes.data(), uint32_t(bytes.size()), 0);
    ASSERT_EQ(s.channels.count, fx.first.channels);
    int32_t a = frames(fx.first), b = frames(fx.second);
    for (const VIEW_SampleChannel& ch : s.channels) ASSERT_EQ(ch.count, a + b);
    if (fx.second.channels < fx.first.channels) {
      // The second link has no right channel: it is silent there.
      const VIEW_SampleChannel& right = s.channels[1];
      float peak = 0;
      for (int32_t i = a; i < a + b; ++i) peak = std::max(peak, std::fabs(right.samples[i]));
      EXPECT_EQ(peak, 0.0f);
    }
    // The second link's first channel plays its own tone.
    VIEW_SampleChannel tail{s.channels[0].samples + a, b, b, 0};
    EXPECT_NEAR(toneLevel(tail, fx.second.frequency[0], fx.second.rate), fx.second.amplitude, 0.1);
  }
}

TEST(Sample, DamagedOrForeignBytesNeverFailTheConstructor) {
  std::vector<uint8_t> whole = readFixture(OGG_kTones[0].file);
  std::vector<uint8_t> truncated = readFixture(OGG_kTruncated);
  std::vector<uint8_t> damaged = readFixture(OGG_kDamaged);
  ASSERT_FALSE(whole.empty());
  ASSERT_FALSE(truncated.empty());
  ASSERT_FALSE(damaged.empty());
  {
    // A cut file keeps what it had: part of the tone, fewer frames.
    VIEW_Sample s("cut", truncated.data(), uint32_t(truncated.size()), 0);
    ASSERT_EQ(s.channels.count, 1);
    EXPECT_GT(s.frameCount(), 0);
    EXPECT_LT(s.frameCount(), frames(OGG_kTones[0].tone));
  }
  {
    // Damage in the middle: decoding goes on past it.
    VIEW_Sample s("damaged", damaged.data(), uint32_t(damaged.size()), 0);
    ASSERT_EQ(s.channels.count, 1);
    EXPECT_GT(s.frameCount(), frames(OGG_kTones[0].tone) / 2);
  }
  const char text[] = "not a sound at all";
  std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + 60);
  struct Case {
    const char* what;
    const uint8_t* bytes;
    uint32_t size;
  } empty[] = {
      {"null", nullptr, 0},
      {"text", reinterpret_cast<const uint8_t*>(text), sizeof text},
      {"first page only", headerOnly.data(), uint32_t(headerOnly.size())},
  };
  for (const Case& k : empty) {
    VIEW_Sample s(k.what, const_cast<uint8_t*>(k.bytes), k.size, 0);
    EXPECT_EQ(s.channels.count, 0) << k.what;
    EXPECT_EQ(s.sampleRate, 0u) << k.what;
    EXPECT_STREQ(s.name, k.what);
  }
}

TEST(Sample, FreeFlagHandsTheBytesOver) {
  // With the flag the sample frees the malloc'd bytes (the leak checker of
  // the sanitizer build sees it), decodable or not.
  std::vector<uint8_t> bytes = readFixture(OGG_kTones[1].file);
  auto* copy = static_cast<uint8_t*>(std::malloc(bytes.size()));
  std::memcpy(copy, bytes.data(), bytes.size());
  VIEW_Sample s("stereo", copy, uint32_t(bytes.size()), 1);
  EXPECT_EQ(s.channels.count, 2);
  auto* junk = static_cast<uint8_t*>(std::malloc(16));
  std::memset(junk, 0x4f, 16);
  VIEW_Sample bad("junk", junk, 16, 1);
  EXPECT_EQ(bad.channels.count, 0);
}

TEST(Sample, MemoryStreamReadsAndSeeksWithinItsBytes) {
  const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  VIEW_MemStream m{bytes, 10, 0};
  uint8_t out[16] = {};
  EXPECT_EQ(VIEW_iMemRead(out, 1, 4, &m), 4u);
  EXPECT_EQ(out[3], 3);
  EXPECT_EQ(VIEW_iMemTell(&m), 4);
  EXPECT_EQ(VIEW_iMemRead(out, 1, 16, &m), 6u);  // cut at the end
  EXPECT_EQ(out[5], 9);
  EXPECT_EQ(VIEW_iMemRead(out, 1, 16, &m), 0u);  // at the end
  // Elements larger than a byte: only whole ones, counted as elements.
  VIEW_iMemSeek(&m, 3, SEEK_SET);
  EXPECT_EQ(VIEW_iMemRead(out, 4, 3, &m), 1u);
  EXPECT_EQ(VIEW_iMemTell(&m), 7);

  struct Case {
    int64_t start, offset;
    int whence;
    long expect;
  } seeks[] = {
      {0, 10, SEEK_END, 10},  // past the end: clamped to the size
      {0, -3, SEEK_END, 7},
      {5, -8, SEEK_CUR, 0},   // before the start: clamped to 0
      {5, 2, SEEK_CUR, 7},
      {5, 4, SEEK_SET, 4},
      {5, INT64_MAX, SEEK_CUR, 10},
      {5, INT64_MIN, SEEK_END, 0},
  };
  for (const Case& k : seeks) {
    m.position = size_t(k.start);
    EXPECT_EQ(VIEW_iMemSeek(&m, k.offset, k.whence), 0);
    EXPECT_EQ(VIEW_iMemTell(&m), k.expect) << k.start << " " << k.offset << " " << k.whence;
  }
  EXPECT_EQ(VIEW_iMemClose(&m), 0);
}

TEST(Sample, ChannelsGrowByTheArrayRuleAndStopAtTheLimit) {
  VIEW_Sample s;
  s.setChannelCount(2);
  ASSERT_EQ(s.channels.count, 2);
  float block[300];
  for (int i = 0; i < 300; ++i) block[i] = float(i);
  EXPECT_TRUE(s.append(0, block, 100));
  EXPECT_EQ(s.channels[0].capacity, 128);
  EXPECT_TRUE(s.append(0, block, 300));
  EXPECT_EQ(s.channels[0].capacity, 512);
  EXPECT_EQ(s.channels[0].samples[399], 299.0f);
  EXPECT_FALSE(s.append(2, block, 1));   // no such channel
  EXPECT_FALSE(s.append(-1, block, 1));
  EXPECT_FALSE(s.append(1, block, -1));
  int32_t saved = VIEW_Sample::maxFrames;
  VIEW_Sample::maxFrames = 450;
  EXPECT_FALSE(s.append(0, block, 51));
  EXPECT_TRUE(s.appendSilence(0, 50));
  VIEW_Sample::maxFrames = saved;
  EXPECT_EQ(s.channels[0].count, 450);
  EXPECT_EQ(s.channels[0].samples[449], 0.0f);
  EXPECT_EQ(s.channels[1].count, 0);
}

}  // namespace
