// A sound resource: decoded samples, one float array per channel, at the
// file's own rate. Sound objects play it; the mixer reads it frame by frame.
// A decoded file is read whole at load time; a video's sample is stream-fed:
// its decoder appends frames and the sound pump consumes them from the front.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/CTRL_Array.h"
#include "base/LMP_ProxyLink.h"

// samples points at the first unread frame; a stream-fed channel that is
// consumed moves that pointer on (front counts the frames consumed before it
// in the same block), so that what remains is never moved to be read.
// capacity counts from samples. charged: bytes of the block counted against
// the media budget (0 for blocks made elsewhere).
struct VIEW_SampleChannel {
  float* samples;
  int32_t count;
  int32_t capacity;
  uint8_t owned;
  int32_t front = 0;
  uint64_t charged = 0;
};

// Frees an owned channel's block, gives its bytes back to the budget and
// leaves the channel empty.
void VIEW_iFreeChannel(VIEW_SampleChannel& channel);
// Drops the first n frames of a channel (all of them, freeing the block,
// when n reaches its count) without moving the rest.
void VIEW_iConsumeChannel(VIEW_SampleChannel& channel, int64_t n);

// The memory stream that vorbisfile reads a file through.
struct VIEW_MemStream {
  const uint8_t* bytes;
  size_t size;
  size_t position;
};

// vorbisfile callbacks over a VIEW_MemStream (stream is its address).
// read: copies up to size x count bytes from the position, never past the
// end, and answers the number of whole elements copied (0 at the end).
size_t VIEW_iMemRead(void* buffer, size_t size, size_t count, void* stream);
// seek: SEEK_SET, SEEK_CUR or SEEK_END; the result is clamped to [0, size];
// answers 0.
int VIEW_iMemSeek(void* stream, int64_t offset, int whence);
int VIEW_iMemClose(void* stream);
long VIEW_iMemTell(void* stream);

class VIEW_Sample {
 public:
  // An empty sample: no channels, rate 0 (a video sets it up and feeds it).
  VIEW_Sample() = default;
  // Decodes the whole Ogg Vorbis file in bytes. An undecodable file, or one
  // whose sound would pass the media budget, leaves the sample without
  // channels and with rate 0. With freeBytes set the
  // bytes (from malloc) are freed afterwards, in every case.
  VIEW_Sample(const char* name, uint8_t* bytes, uint32_t size, uint8_t freeBytes);
  VIEW_Sample(const VIEW_Sample&) = delete;
  VIEW_Sample& operator=(const VIEW_Sample&) = delete;
  // Frees every owned channel's samples, the channel array and the name, and
  // unlinks the script proxy.
  ~VIEW_Sample();

  // Replaces the channels by count empty ones (count <= 0: none).
  void setChannelCount(int32_t count);
  // Appends n floats to a channel, growing it by the array rule (at least
  // 128, doubling; a consumed front is reused first). False, with nothing
  // appended, for a bad channel, n < 0, a length past maxFrames, a block the
  // media budget refuses or no memory.
  bool append(int32_t channel, const float* src, int32_t n);
  // Appends n frames of silence to a channel (same rules as append).
  bool appendSilence(int32_t channel, int32_t n);
  // The length in frames: the first channel's count (0 without channels).
  int32_t frameCount() const { return channels.count > 0 ? channels.data[0].count : 0; }

  MDL_Proxy proxy = nullptr;
  uint8_t streamFed = 0;  // a video's sample, read from the front
  uint8_t paused = 0;     // silent for every sound that plays it
  uint32_t sampleRate = 0;
  char* name = nullptr;
  CTRL_Array<VIEW_SampleChannel> channels;
  uint8_t ownsChannels = 1;

  // Decoding gives up after this many damaged packets in a row and keeps
  // what it has.
  static constexpr int32_t MAX_CONSECUTIVE_ERRORS = 64;
  // The longest channel a sample may hold; decoding stops there. Settable so
  // that fuzzing can bound memory.
  static int32_t maxFrames;
};
