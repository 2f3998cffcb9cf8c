// Writes Ogg Theora videos (with an optional Vorbis track) for tests, seeds,
// benchmarks and the demo. Each frame is a flat colour that names its index,
// so a reader of the decoded picture can tell which frame it shows; the
// "bars" picture puts four colour bars over a black lower half, so that
// orientation, mirroring and chroma show at once.
#pragma once

#include <cstdint>
#include <vector>

struct TG_Options {
    int width = 32, height = 24;      // picture size (any, odd allowed)
    int picX = 0, picY = 0;           // picture offset inside the coded frame
    int frames = 10;
    int fpsNumerator = 25, fpsDenominator = 1;
    int pixelFormat = 0;              // 0 4:2:0, 2 4:2:2, 3 4:4:4
    int keyframeInterval = 16;        // forced keyframe distance
    bool bars = false;                // every frame shows the colour bars
    bool moving = false;              // a textured picture that moves (benchmarks)
    int flatY = -1, flatCb = 0, flatCr = 0;  // with flatY >= 0: every frame in this one colour
    bool sound = false;               // add a Vorbis track (a 440 Hz tone)
    int soundRate = 22050;
    int soundChannels = 1;
    bool pagePerFrame = false;        // flush a page after each picture packet
    // With sound: instead of the tone, this many one-byte sound packets
    // (each a block of silence when decoded), their pages spread over the
    // pictures' time: a small file whose sound decodes to very much.
    int soundTinyPackets = 0;
};

// The Y'CbCr colour of frame i (flat frames); distinct for 720 frames.
void TG_FrameColour(int i, uint8_t* y, uint8_t* cb, uint8_t* cr);

// The four bars, left to right, as Y'CbCr, and their width in pixels for a
// picture width w (the last bar takes the rest). The lower half is black.
void TG_BarColour(int bar, uint8_t* y, uint8_t* cb, uint8_t* cr);

// The whole Ogg file; empty on an encoder failure.
std::vector<uint8_t> TG_Encode(const TG_Options& options);
