// Texture resources: compressed PNG or JPEG file bytes (a package file or
// hex text inside a scene file) or the raw RGB frame of a video, plus what
// the file header tells without decoding. The renderer decodes and uploads
// a texture the first time it is drawn and keys its GL copy by instanceId.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/LMP_ProxyLink.h"

class TiXmlElement;

enum {
    FILTER_DEFAULT = 0,        // use the renderer's default
    FILTER_NEAREST_POINT = 1,
    FILTER_LINEAR = 2,
    FILTER_MIPMAP = 3,
};

// Instance ids of textures and fonts come from one counter; each new
// resource takes the current value and raises it.
uint32_t VIEW_iTakeInstanceId();

class VIEW_Texture {
public:
    MDL_Proxy proxy{};            // script proxy link
    char* name = nullptr;         // owned copy
    uint32_t dataSize = 0;
    uint8_t* data = nullptr;      // file bytes, or raw frame pixels of a video
    uint8_t ownsData = 0;
    uint8_t transparent = 0;      // PNG with tRNS or an alpha colour type
    uint8_t binaryAlpha = 0;      // alpha tested instead of blended
    uint32_t instanceId = 0;
    uint32_t width = 0, height = 0;  // from the header probe; 0 x 0 when unknown
    uint8_t rawPixels = 0;        // 1 for a video frame (3-channel RGB)
    uint8_t dirty = 0;            // a new video frame waits for upload
    uint32_t filter = FILTER_DEFAULT;
    uint8_t releaseRequested = 0; // the script deleted it; the render pass frees it
    uint32_t users = 0;           // material layers that use it
    // A failed decode of the file bytes is remembered with the bytes it was
    // tried on, so that a broken picture is not decoded again on every
    // frame; new data (another block or size, or read()) is tried afresh.
    const uint8_t* failedData = nullptr;
    uint32_t failedSize = 0;
    uint8_t decodeFailed = 0;
    uint32_t decodeCount = 0;     // decodes tried so far

    bool decodeKnownToFail() const { return decodeFailed && failedData == data && failedSize == dataSize; }
    void rememberDecodeFailure()
    {
        decodeFailed = 1;
        failedData = data;
        failedSize = dataSize;
    }

    // Material layers count their textures, so that a texture whose script
    // asked for its release stays until no layer uses it.
    static void retain(VIEW_Texture* texture) { if (texture) texture->users++; }
    static void release(VIEW_Texture* texture) { if (texture && texture->users) texture->users--; }
    // True when a release was requested and no layer uses the texture.
    bool canFree() const { return releaseRequested && users == 0; }

    // An empty texture (for read()); takes an instance id.
    VIEW_Texture();
    // Keeps data and size (owned when ownsData), copies the name, probes.
    VIEW_Texture(const char* name, uint8_t* data, uint32_t size, uint8_t ownsData);
    VIEW_Texture(const VIEW_Texture&) = delete;
    VIEW_Texture& operator=(const VIEW_Texture&) = delete;
    virtual ~VIEW_Texture();

    // Reads a "texture" element of a scene file: name, size, hex bytes and
    // filter, then probes. A size that is negative or larger than the hex
    // text holds is cut to what the text gives. Returns true.
    bool read(const TiXmlElement* element);
    // Reads width, height and the transparent flag from the file header.
    void probe();
};
