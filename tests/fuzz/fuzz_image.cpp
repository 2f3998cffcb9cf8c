// Picture readers: the PNG and JPEG decoders and the texture header probe
// on the same bytes; a decoded picture is also resampled both ways.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/VIEW_Image.h"
#include "media/VIEW_Texture.h"
#include "package/CTRL_File.h"

static void discard(void*, const char*) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CTRL_iSetDebugSink(discard, nullptr);
    VIEW_ImageSource src{"fuzz", data, size};
    VIEW_Image img;
    for (int pass = 0; pass < 2; pass++) {
        bool ok = pass == 0 ? VIEW_iDecodePng(&img, src) : VIEW_iDecodeJpeg(&img, src);
        if (ok && uint64_t(img.width) * img.height <= 4096) {
            VIEW_iResizeBilinear(&img, img.width * 2 + 1, img.height + 3);
            VIEW_iResizeArea(&img, img.width / 3 + 1, img.height / 2 + 1);
        }
    }
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    VIEW_Texture texture("fuzz", copy, uint32_t(size), 1);
    return 0;
}
