// A video: an Ogg file with one Theora picture stream and optionally one
// Vorbis sound stream, decoded incrementally. Each decoded picture is
// converted to RGB into the stream's frame texture (rows bottom-up, marked
// dirty for the renderer), and the decoded sound is appended to the
// stream's sample, which the mixer consumes from the front.
//
// The controller advances every stream once per frame through the virtual
// operations below (tests drive it with scripted look-alikes).
#pragma once

#include <cstdint>

#include "media/VIEW_Sample.h"

class CTRL_Generic;
class VIEW_Texture;
struct CTRL_File;
struct VIEW_StreamDecoder;

// Pictures with a side longer than this are refused (no decoder, no buffer).
enum { VIEW_STREAM_MAX_SIDE = 4096 };

// One pixel through the fixed-point Y'CbCr to RGB formula (22 fraction bits,
// 64-bit intermediates, each channel clamped to 0..255).
void VIEW_iYCbCrToRgb(int y, int cb, int cr, uint8_t rgb[3]);

class VIEW_Stream {
public:
    // A stream with no file: no picture, no sound.
    VIEW_Stream();
    // Opens path through the file layer ("//" names reach the disk), reads
    // the headers and the frame count, and shows frame 0.
    VIEW_Stream(const char* path, CTRL_Generic* controller);
    // The same over a file already open (null: no file); the stream closes it.
    explicit VIEW_Stream(CTRL_File* file);
    VIEW_Stream(const VIEW_Stream&) = delete;
    VIEW_Stream& operator=(const VIEW_Stream&) = delete;
    virtual ~VIEW_Stream();

    // Takes the next paged-in packet of the picture stream; false when none
    // is waiting.
    virtual bool takeVideoPacket();
    // Decodes the packet taken last; false when the decoder refuses it.
    // frameIndex: the packet's frame index from its granule position,
    // negative when it has none.
    virtual bool decodeVideoPacket(int64_t* frameIndex);
    // Feeds pages to the logical streams until a picture page (and, when
    // sound is wanted, a sound page) went in. False when the file ended
    // before any such page.
    virtual bool readPage(bool videoOnly);
    // Shows the frame nearest to time (clamped to the video) and drops the
    // sound before it.
    virtual void seek(double time);
    // Puts the decoder's current picture into the texture.
    virtual void convertFrame();
    // Decodes the sound packets already paged in into the sample, until it
    // holds a second of sound ahead of the mixer.
    virtual void decodeAudio();

    // Positions the file for decoding towards frame (a 1-based frame
    // number). Keyframe pass: answers the number of the keyframe to start
    // from (1 when the video must start from its first frame), or -1 without
    // pictures. Frame pass: leaves the file just before that keyframe's
    // packets and answers -1.
    int64_t seekToFrame(int64_t frame, bool keyframePass);

    // The frame texture; stays with the stream unless taken. Taking it
    // (before deleting a stream whose texture material layers may still
    // use) hands its ownership to the caller.
    VIEW_Texture* frameTexture() const { return texture; }
    VIEW_Texture* takeTexture();

    // Duration in seconds: (frame count - 1) x the frame duration; 0 without
    // pictures.
    double duration() const;

    MDL_Proxy proxy = nullptr;    // the script proxy (newStream)
    VIEW_Texture* texture = nullptr;  // RGB frame, 3 bytes a pixel, rows bottom-up
    VIEW_Sample sample;           // stream-fed; its paused flag is the stream's
    CTRL_File* file = nullptr;    // null when the open failed
    uint32_t fileSize = 0;
    double time = 0.0;            // playback clock, seconds
    double frameEndTime = -1.0;   // end of the current picture; -1 none
    int32_t currentFrame = -1;    // frame index + 1 of the picture shown; -1 none
    double previousSoundPageTime = -1.0;  // end of the sound page before the latest; -1 unknown
    double soundPageTime = -1.0;          // end of the latest sound page; -1 unknown
    int32_t frameCount = 0;       // pictures in the file; 0 unknown
    uint32_t fpsNumerator = 0, fpsDenominator = 1;
    VIEW_StreamDecoder* decoder = nullptr;
    bool soundRefused = false;    // the media budget refused some of the sound (logged once)

private:
    void openStreams();
    bool readHeaders();
    void countFrames();
    bool nextPage();
    void resetLogicalStreams();
    void appendSound(float** pcm, int n);
    void clearSound();
};
