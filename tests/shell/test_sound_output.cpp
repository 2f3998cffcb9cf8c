// The sound output over the fake platform's looping buffer: set-up, the
// cursor rule of the pump and its failure paths.
#include <gtest/gtest.h>

#include "platform/PLAT_Fake.h"
#include "sound/VIEW_SoundWin32.h"

namespace {

struct SoundOutput : ::testing::Test {
    PLAT_Fake fake;
    void SetUp() override { PLAT_iSet(&fake); }
    void TearDown() override { PLAT_iSet(nullptr); }
};

TEST_F(SoundOutput, SetUpClearsAndPlaysTheRing) {
    VIEW_SoundWin32 out(nullptr);
    ASSERT_NE(out.buffer, nullptr);
    EXPECT_TRUE(fake.called("createSoundBuffer null 44100 2 16 16384"));
    EXPECT_TRUE(out.buffer->playing);
    for (uint8_t b : out.buffer->bytes) ASSERT_EQ(b, 0);
    out.stop();
    EXPECT_FALSE(out.buffer->playing);
    out.play();
    EXPECT_TRUE(out.buffer->playing);
}

TEST_F(SoundOutput, WithoutADeviceEverySoundRunsToItsEnd) {
    fake.soundAvailable = false;
    VIEW_SoundWin32 out(nullptr);
    EXPECT_EQ(out.buffer, nullptr);
    EXPECT_EQ(out.update(nullptr), 2147483647);
    EXPECT_EQ(out.getSampleRate(), 44100u);
    out.stop();
    out.play();
}

TEST_F(SoundOutput, PumpFillsWhatTheDeviceHasPlayed) {
    struct Case {
        int32_t position;
        uint32_t play, write;
        int32_t frames, next;
    } cases[] = {
        {0, 4096, 6144, 1024, 4096},      // behind the play cursor
        {5000, 4096, 6144, 3584, 4096},   // inside the span being read: jumps to W
        {8000, 0, 2048, 2096, 0},         // play cursor at 0: wraps to 0
        {100, 8000, 500, 1875, 8000},     // read span wraps: jumps to W
        {4096, 4096, 4096, 0, 4096},      // nothing played
    };
    for (const Case &k : cases) {
        VIEW_SoundWin32 out(nullptr);
        PLAT_SoundBuffer *b = out.buffer;
        ASSERT_NE(b, nullptr);
        std::fill(b->bytes.begin(), b->bytes.end(), 0xAA);
        out.writePosition = k.position;
        b->play = k.play;
        b->write = k.write;
        EXPECT_EQ(out.update(nullptr), k.frames) << k.position << " " << k.play << " " << k.write;
        EXPECT_EQ(out.writePosition, k.next) << k.position << " " << k.play << " " << k.write;
        // The span written is silence now; what the device still reads is untouched.
        int32_t written = 0;
        for (uint8_t v : b->bytes) written += v == 0;
        EXPECT_EQ(written, k.frames * 4);
        if (k.frames) {
            EXPECT_EQ(b->bytes[k.play == 0 ? 16383 : k.play - 1], 0);
        }
        EXPECT_EQ(b->bytes[k.play], 0xAA);
    }
}

TEST_F(SoundOutput, UnreadableCursorsOrAFailedLockMakeASilentFrame) {
    VIEW_SoundWin32 out(nullptr);
    out.buffer->play = 4096;
    fake.soundPositionFails = true;
    EXPECT_EQ(out.update(nullptr), 0);
    fake.soundPositionFails = false;
    fake.soundLockFails = true;
    EXPECT_EQ(out.update(nullptr), 0);
    EXPECT_EQ(out.writePosition, 0);
}

}  // namespace
