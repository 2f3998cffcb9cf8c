// Videos made by our Theora writer, opened from memory, and what a test
// needs to read which frame a stream shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TG_Writer.h"
#include "media/VIEW_Stream.h"
#include "media/VIEW_Texture.h"
#include "package/CTRL_File.h"

inline std::string encodeVideo(const TG_Options& o)
{
    std::vector<uint8_t> v = TG_Encode(o);
    return std::string(v.begin(), v.end());
}

inline TG_Options flatVideo(int w, int h, int frames, bool sound = false)
{
    TG_Options o;
    o.width = w;
    o.height = h;
    o.frames = frames;
    o.sound = sound;
    return o;
}

// A file of the file layer over a copy of the bytes, closed by the stream.
inline CTRL_File* memoryFile(const std::string& bytes)
{
    auto* f = new CTRL_File();
    f->data = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
    if (!bytes.empty()) std::memcpy(f->data, bytes.data(), bytes.size());
    f->size = (uint32_t)bytes.size();
    f->ownsData = 1;
    f->extracted = 1;
    return f;
}

inline VIEW_Stream* openVideo(const std::string& bytes) { return new VIEW_Stream(memoryFile(bytes)); }

// RGB of the texture pixel at (x, y) from the top of the picture.
inline void texturePixel(const VIEW_Stream& s, uint32_t x, uint32_t y, uint8_t rgb[3])
{
    const VIEW_Texture* t = s.texture;
    const uint8_t* p = t->data + ((size_t)(t->height - 1 - y) * t->width + x) * 3;
    rgb[0] = p[0], rgb[1] = p[1], rgb[2] = p[2];
}

// The index of the flat frame whose colour the picture's centre shows; -1
// when no frame colour is near.
inline int shownFrame(const VIEW_Stream& s)
{
    if (!s.texture || !s.texture->data) return -1;
    uint8_t px[3];
    texturePixel(s, s.texture->width / 2, s.texture->height / 2, px);
    int best = -1, bestDistance = 1 << 30;
    for (int i = 0; i < 720; i++) {
        uint8_t y, cb, cr, rgb[3];
        TG_FrameColour(i, &y, &cb, &cr);
        VIEW_iYCbCrToRgb(y, cb, cr, rgb);
        int d = 0;
        for (int c = 0; c < 3; c++) d += (rgb[c] - px[c]) * (rgb[c] - px[c]);
        if (d < bestDistance) bestDistance = d, best = i;
    }
    return bestDistance <= 48 ? best : -1;
}
