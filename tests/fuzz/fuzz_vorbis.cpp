// The Ogg Vorbis sample reader: a whole file decoded through the memory
// stream, then played through the mixer's reader at the output rate,
// looping and not, on every channel and on their sum.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Budget.h"
#include "media/VIEW_Sample.h"
#include "model/MDL_Objects.h"
#include "sound/VIEW_SoundWin32.h"

// vorbisfile itself loses a few bytes (a list of serial numbers) when a
// later link of a chained file has broken headers; that is the library's,
// not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libvorbisfile.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Bounds memory: a few bytes of packets can stand for many frames.
    VIEW_Sample::maxFrames = 1 << 16;
    // And a budget below what eight channels of that hold, so that the
    // refusal path is taken too.
    VIEW_iSetBudgetLimit(1u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    auto* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    {
        VIEW_Sample sample("fuzz", copy, uint32_t(size), 1);

        int32_t length = sample.frameCount();
        for (const VIEW_SampleChannel& ch : sample.channels)
            if (ch.count != length || (ch.count > 0 && !ch.samples)) std::abort();

        static float left[512], right[512];
        MDL_Sound sound;
        sound.sample = &sample;
        for (int32_t channel = -1; channel < 3; channel++) {
            for (uint8_t looping = 0; looping < 2; looping++) {
                sound.channel = channel;
                sound.looping = looping;
                sound.position = length > 0 ? length - 100 : 0;
                VIEW_iAccumulateSound(&sound, 44100, 0, 512, 0.5f, 0.5f, left, right);
            }
        }
    }
    // The sample is gone: every byte it took is back.
    if (VIEW_iBudgetUsed() != 0) std::abort();
    return 0;
}
