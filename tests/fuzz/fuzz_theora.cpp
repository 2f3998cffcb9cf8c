// Fuzz target for the Ogg Theora reader: headers, pages, packets and the
// tail read of a stream opened over the input, then played in frame steps
// past its end (so it loops), sought to awkward times and played again.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Budget.h"
#include "media/VIEW_Stream.h"
#include "package/CTRL_File.h"

namespace {

// The controller's per-frame advance of one stream.
void advance(VIEW_Stream& s, double dt)
{
    if (s.sample.paused) return;
    s.time += dt;
    if (s.time > s.frameEndTime) {
        for (int guard = 0; guard < 100000; guard++) {
            if (!s.takeVideoPacket()) {
                if (!s.readPage(false)) {
                    s.seek(0.0);
                    return;
                }
                continue;
            }
            int64_t frame = -1;
            if (!s.decodeVideoPacket(&frame)) continue;
            s.currentFrame = frame < 0 ? 0 : (int32_t)(frame + 1);
            s.frameEndTime = frame < 0 ? -1.0 : (double)(frame + 1) * s.fpsDenominator / s.fpsNumerator;
            if (s.frameEndTime >= s.time) break;
        }
        s.convertFrame();
    }
    s.decodeAudio();
    // The mixer takes what was decoded.
    for (VIEW_SampleChannel& ch : s.sample.channels) ch.count = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto* file = new CTRL_File();
    file->data = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(file->data, data, size);
    file->size = (uint32_t)size;
    file->ownsData = 1;
    file->extracted = 1;
    // A budget of 16 MiB: the largest pictures take the refusal path.
    VIEW_iSetBudgetLimit(16u << 20);
    {
        VIEW_Stream s(file);
        for (int i = 0; i < 12; i++) advance(s, 0.1);
        const double times[] = {std::nan(""), 1e300, -1e300, 0.3, s.duration() / 2, 0.0};
        for (double t : times) s.seek(t);
        for (int i = 0; i < 6; i++) advance(s, 0.05);
    }
    // The stream is gone: every byte it took is back.
    if (VIEW_iBudgetUsed() != 0) std::abort();
    return 0;
}
