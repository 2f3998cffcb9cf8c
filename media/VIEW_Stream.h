// A video: an Ogg file with one Theora picture stream and optionally one
// Vorbis sound stream, decoded incrementally into an embedded texture and an
// embedded stream-fed sample. This is the interface the controller drives
// once per frame; the decoder behind it fills in the operations.
#pragma once

#include <cstdint>

#include "media/VIEW_Sample.h"

class VIEW_Stream {
public:
    virtual ~VIEW_Stream() {}

    // Takes the next paged-in packet of the picture stream; false when none
    // is waiting.
    virtual bool takeVideoPacket() { return false; }
    // Decodes the packet taken last; false when the decoder refuses it.
    // frameIndex: the packet's frame index from its granule position,
    // negative when it has none.
    virtual bool decodeVideoPacket(int64_t *frameIndex) {
        *frameIndex = -1;
        return false;
    }
    // Feeds pages to the logical streams; false at the end of the file.
    virtual bool readPage(bool videoOnly) {
        (void)videoOnly;
        return false;
    }
    virtual void seek(double time) { (void)time; }
    // Puts the decoder's current picture into the texture.
    virtual void convertFrame() {}
    // Decodes the sound packets already paged in into the sample.
    virtual void decodeAudio() {}

    VIEW_Sample sample;           // its paused flag is the stream's
    double time = 0.0;            // playback clock, seconds
    double frameEndTime = -1.0;   // end of the current picture; -1 none
    int32_t currentFrame = -1;    // frame index + 1 of the picture shown; -1 none
    uint32_t fpsNumerator = 0, fpsDenominator = 1;
};
