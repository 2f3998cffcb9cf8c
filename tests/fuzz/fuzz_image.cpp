// Picture readers: the PNG and JPEG decoders and the texture header probe
// on the same bytes. A decoded picture is resampled both ways, fitted to a
// small texture (large pictures are shrunk, every size brought to the
// texture sides) and halved down its mipmap chain; the input read as a raw
// video frame goes through the frame shrinking.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Budget.h"
#include "media/VIEW_Image.h"
#include "media/VIEW_Texture.h"
#include "package/CTRL_File.h"
#include "render/VIEW_TexturePlan.h"

static void discard(void*, const char*) {}

// Fitting, flipping and the mipmap chain, as the texture upload does them.
static void fitAndHalve(const VIEW_Image& decoded)
{
    VIEW_Image img;
    if (!img.allocate(decoded.width, decoded.height, decoded.channels)) return;
    std::memcpy(img.pixels, decoded.pixels, size_t(decoded.width) * decoded.height * decoded.channels);
    if (!VIEW_iFitImageToTexture(&img, 64)) return;
    VIEW_iFlipRows(&img);
    VIEW_Image levels[2];
    const VIEW_Image* previous = &img;
    for (int level = 1; previous->width > 1 || previous->height > 1; level++) {
        VIEW_Image& next = levels[level & 1];
        if (!VIEW_iHalveImage(*previous, &next)) break;
        previous = &next;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CTRL_iSetDebugSink(discard, nullptr);
    // A budget of 32 MiB: large pictures take the refusal path.
    VIEW_iSetBudgetLimit(32u << 20);
    VIEW_ImageSource src{"fuzz", data, size};
    {
        VIEW_Image img;
        for (int pass = 0; pass < 2; pass++) {
            bool ok = pass == 0 ? VIEW_iDecodePng(&img, src) : VIEW_iDecodeJpeg(&img, src);
            if (!ok) continue;
            uint64_t pixels = uint64_t(img.width) * img.height;
            if (pixels <= (1u << 22)) fitAndHalve(img);
            if (pixels <= 4096) {
                VIEW_iResizeBilinear(&img, img.width * 2 + 1, img.height + 3);
                VIEW_iResizeArea(&img, img.width / 3 + 1, img.height / 2 + 1);
            }
        }
        // The bytes after a 4-byte header as an RGB frame of the size it gives.
        if (size >= 4) {
            uint32_t w = 1 + (data[0] | (data[1] & 0x0F) << 8), h = 1 + (data[2] | (data[3] & 0x0F) << 8);
            if (uint64_t(w) * h * 3 <= size - 4) {
                VIEW_Image scratch;
                VIEW_iShrinkFrame(data + 4, w, h, 3, 16, &scratch);
            }
        }
    }
    // Every picture is gone: every byte it took is back.
    if (VIEW_iBudgetUsed() != 0) std::abort();
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    VIEW_Texture texture("fuzz", copy, uint32_t(size), 1);
    return 0;
}
