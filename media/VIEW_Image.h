// Decoded pictures: the PNG and JPEG decoders (from memory) and the two
// resamplers that bring pictures to the sizes the renderer uploads.
#pragma once

#include <cstddef>
#include <cstdint>

class VIEW_Image {
public:
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;   // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    uint8_t ownsPixels = 0;  // 1 when pixels is ours to free
    uint8_t* pixels = nullptr;  // channels interleaved, no row padding
    uint64_t charged = 0;       // bytes of the pixels counted against the media budget

    VIEW_Image() = default;
    VIEW_Image(const VIEW_Image&) = delete;
    VIEW_Image& operator=(const VIEW_Image&) = delete;
    ~VIEW_Image() { freePixels(); }

    // Frees owned pixels and leaves the image empty.
    void freePixels();
    // Replaces the pixels by an owned block of w x h x c bytes (uninitialised).
    // False (image left empty) when the size is not acceptable, the media
    // budget refuses it or memory runs out.
    bool allocate(uint32_t w, uint32_t h, uint32_t c);
};

// Where a decoder reads from: file bytes in memory and a name for messages.
struct VIEW_ImageSource {
    const char* name = "";
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Limits on decoded and resampled pictures: no side above VIEW_MAX_IMAGE_SIDE
// and no pixel block above VIEW_MAX_IMAGE_BYTES, so that a file cannot ask
// for gigabytes or overflow the size arithmetic.
constexpr uint32_t VIEW_MAX_IMAGE_SIDE = 16384;
constexpr uint64_t VIEW_MAX_IMAGE_BYTES = 256ull << 20;

// True when a w x h x c picture is within the limits (and not empty).
bool VIEW_iImageSizeOk(uint64_t w, uint64_t h, uint64_t c);

// Decoders: true on success with owned pixels; false leaves the image empty.
// Decoded and resampled pixels count against the media budget while the
// image holds them; a picture the budget refuses is not decoded.
bool VIEW_iDecodePng(VIEW_Image* image, const VIEW_ImageSource& source);
bool VIEW_iDecodeJpeg(VIEW_Image* image, const VIEW_ImageSource& source);

// Resample in place to the new size; nothing happens when the size is
// unchanged. Area averaging for shrinking, corner-aligned bilinear for
// growing. False when the image has no pixels or the new size is refused.
bool VIEW_iResizeArea(VIEW_Image* image, uint32_t newWidth, uint32_t newHeight);
bool VIEW_iResizeBilinear(VIEW_Image* image, uint32_t newWidth, uint32_t newHeight);
