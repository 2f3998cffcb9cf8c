// A sound resource: decoded samples, one float array per channel, at the
// file's own rate. Sound objects play it; the mixer reads it frame by frame.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"

struct VIEW_SampleChannel {
  float* samples;
  int32_t count;
  int32_t capacity;
  uint8_t owned;
};

// A record's link to its script proxy (the same alias as script/LMP_Proxy.h).
class LMP_Proxy;
using MDL_Proxy = LMP_Proxy*;

class VIEW_Sample {
 public:
  MDL_Proxy proxy = nullptr;
  uint8_t streamFed = 0;  // a video's sample, read from the front
  uint8_t paused = 0;     // silent for every sound that plays it
  uint32_t sampleRate = 0;
  char* name = nullptr;
  CTRL_Array<VIEW_SampleChannel> channels;
};
