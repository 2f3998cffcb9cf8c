// The media budget: its default, its limit under threads, and a sample of
// one-byte packets (a few kilobytes that decode to tens of megabytes) that
// fails as an undecodable file does while what was loaded stays.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "OGG_Writer.h"
#include "media/VIEW_Budget.h"
#include "media/VIEW_Sample.h"
#include "package/CTRL_File.h"

namespace {

// A small budget for one test; the default again afterwards.
struct SmallBudget {
  explicit SmallBudget(uint64_t bytes) { VIEW_iSetBudgetLimit(bytes); }
  ~SmallBudget() { VIEW_iSetBudgetLimit(0); }
};

TEST(MediaBudget, DefaultIsAGibibyteOrAQuarterOfTheMemory) {
  VIEW_iSetBudgetLimit(0);
  const uint64_t quarter = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE)) / 4;
  const uint64_t gib = uint64_t(1) << 30;
  EXPECT_EQ(VIEW_iDefaultMediaBudget(), quarter < gib ? quarter : gib);
  EXPECT_EQ(VIEW_iBudgetLimit(), VIEW_iDefaultMediaBudget());
}

TEST(MediaBudget, ThreadsTogetherNeverPassTheLimit) {
  const uint64_t base = VIEW_iBudgetUsed();
  SmallBudget budget(base + 100000);
  std::atomic<uint64_t> granted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; i++)
        if (VIEW_iBudgetReserve(3)) granted += 3;
    });
  for (std::thread& t : threads) t.join();
  // 100,000 bytes hold 33,333 reservations of 3; the rest were refused.
  EXPECT_EQ(granted.load(), 99999u);
  EXPECT_EQ(VIEW_iBudgetUsed(), base + 99999);
  EXPECT_FALSE(VIEW_iBudgetReserve(2));
  EXPECT_TRUE(VIEW_iBudgetReserve(1));
  VIEW_iBudgetRelease(granted.load() + 1);
  EXPECT_EQ(VIEW_iBudgetUsed(), base);
}

TEST(MediaBudget, SampleOfOneBytePacketsFailsAndTheRestStays) {
  const uint64_t base = VIEW_iBudgetUsed();
  SmallBudget budget(base + (8u << 20));
  OGG_Tone tone;
  tone.channels = 2;
  tone.seconds = 2.0;
  std::vector<uint8_t> good = OGG_iEncodeTone(tone);
  // 6,000 long blocks of silence, two channels: about 49 MB of floats from
  // a file of a few kilobytes.
  std::vector<uint8_t> bomb = OGG_iEncodeTinyPackets(2, 44100, 6000, 7);
  ASSERT_LT(bomb.size(), 20000u);

  VIEW_Sample loaded("good.ogg", good.data(), uint32_t(good.size()), 0);
  ASSERT_EQ(loaded.channels.count, 2);
  ASSERT_EQ(loaded.frameCount(), 88200);
  const uint64_t withGood = VIEW_iBudgetUsed();
  EXPECT_GT(withGood, base + 2 * 88200 * sizeof(float) - 1);
  std::vector<float> before(loaded.channels[0].samples, loaded.channels[0].samples + 88200);

  CTRL_DebugCapture log;
  {
    VIEW_Sample s("bomb.ogg", bomb.data(), uint32_t(bomb.size()), 0);
    EXPECT_EQ(s.channels.count, 0);
    EXPECT_EQ(s.sampleRate, 0u);
    EXPECT_EQ(s.frameCount(), 0);
  }
  const std::string& text = log.text();
  EXPECT_NE(text.find("bomb.ogg"), std::string::npos) << text;
  EXPECT_EQ(text.find("bomb.ogg"), text.rfind("bomb.ogg")) << "one line: " << text;
  EXPECT_EQ(VIEW_iBudgetUsed(), withGood);
  // What was loaded before is whole.
  ASSERT_EQ(loaded.frameCount(), 88200);
  EXPECT_EQ(std::memcmp(before.data(), loaded.channels[0].samples, before.size() * sizeof(float)), 0);

  // Under the default budget the same file decodes: it is silence.
  VIEW_iSetBudgetLimit(0);
  VIEW_Sample s("bomb.ogg", bomb.data(), uint32_t(bomb.size()), 0);
  ASSERT_EQ(s.channels.count, 2);
  EXPECT_GT(s.frameCount(), 6000 * 512);
  float peak = 0;
  for (int32_t i = 0; i < s.frameCount(); i += 97) peak = std::max(peak, std::abs(s.channels[0].samples[i]));
  EXPECT_EQ(peak, 0.0f);
}

// A stream-fed channel is consumed by moving its start: what remains stays
// where it is, and the consumed front is reused once it outweighs the rest.
TEST(MediaBudget, ConsumedSoundIsNotMoved) {
  VIEW_Sample s;
  s.setChannelCount(1);
  std::vector<float> block(1000);
  for (int i = 0; i < 1000; i++) block[size_t(i)] = float(i);
  ASSERT_TRUE(s.append(0, block.data(), 1000));
  VIEW_SampleChannel& ch = s.channels[0];
  const float* start = ch.samples;
  const uint64_t charged = ch.charged;
  EXPECT_GE(charged, 1000 * sizeof(float));
  VIEW_iConsumeChannel(ch, 300);
  EXPECT_EQ(ch.samples, start + 300);
  EXPECT_EQ(ch.count, 700);
  EXPECT_EQ(ch.samples[0], 300.0f);
  VIEW_iConsumeChannel(ch, 400);
  EXPECT_EQ(ch.samples, start + 700);
  EXPECT_EQ(ch.samples[299], 999.0f);
  // 700 consumed, 300 left: the next append that does not fit moves the
  // 300 back to the block's start instead of growing it.
  const int32_t room = ch.capacity - ch.count;
  std::vector<float> more(size_t(room) + 10, -1.0f);
  ASSERT_TRUE(s.append(0, more.data(), int32_t(more.size())));
  EXPECT_EQ(ch.samples, start);
  EXPECT_EQ(ch.samples[0], 700.0f);
  EXPECT_EQ(ch.samples[299], 999.0f);
  EXPECT_EQ(ch.samples[300], -1.0f);
  EXPECT_EQ(ch.charged, charged);
  // Consuming everything frees the block and gives its bytes back.
  const uint64_t used = VIEW_iBudgetUsed();
  VIEW_iConsumeChannel(ch, ch.count);
  EXPECT_EQ(ch.samples, nullptr);
  EXPECT_EQ(ch.count, 0);
  EXPECT_EQ(VIEW_iBudgetUsed(), used - charged);
}

}  // namespace
