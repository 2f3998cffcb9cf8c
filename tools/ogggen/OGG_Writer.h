// Ogg Vorbis encoding for fixtures and demo sounds: tones of known frequency
// and level, mono or stereo, at any rate, encoded with libvorbisenc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OGG_Tone {
  int32_t rate = 44100;
  int32_t channels = 1;
  double seconds = 1.0;
  // Frequency in Hz per channel (channels past the second repeat the
  // second); 0 gives silence on that channel.
  double frequency[2] = {440.0, 440.0};
  double amplitude = 0.5;  // peak, of full scale 1.0
  // Gain envelope: linear fade in and out over this many seconds at the ends.
  double fade = 0.0;
  float quality = 0.1f;    // vorbisenc VBR quality, -0.1 to 1.0
  int32_t serial = 1;      // Ogg stream serial number
};

// The tone's samples, one vector per channel.
std::vector<std::vector<float>> OGG_iToneSamples(const OGG_Tone& tone);

// Encodes planar samples (channels x frames) into one Ogg Vorbis stream.
// Empty on failure.
std::vector<uint8_t> OGG_iEncode(const std::vector<std::vector<float>>& pcm, int32_t rate, float quality,
                                 int32_t serial);

// A decompression bomb for the readers' limits: the headers of a real
// stream (channels, rate), then `packets` audio packets of one byte each.
// Every such packet is a long block whose data ends at once, which decodes
// to a block of silence: a few bytes of file per thousand frames.
std::vector<uint8_t> OGG_iEncodeTinyPackets(int32_t channels, int32_t rate, int32_t packets, int32_t serial);

// The one-byte packet of such a stream: audio, mode 1 (long), long windows
// on both sides. Its frames when decoded after another one: half the long
// block size of the stream.
uint8_t OGG_iTinyPacket();

// Encodes a tone.
std::vector<uint8_t> OGG_iEncodeTone(const OGG_Tone& tone);

// Writes bytes to a file; false on failure.
bool OGG_iWriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
