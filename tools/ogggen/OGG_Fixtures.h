// The Ogg Vorbis fixtures that `ogggen fixtures` writes, with what a decoder
// must find in them. Tests read the table to know what to expect.
#pragma once

#include <cstdint>

#include "OGG_Writer.h"

struct OGG_Fixture {
  const char* file;
  OGG_Tone tone;
};

// Single-stream tones: name, rate, channels, seconds, frequencies, amplitude.
inline const OGG_Fixture OGG_kTones[] = {
    {"tone_mono_44100.ogg", {44100, 1, 1.0, {440.0, 440.0}, 0.5, 0.0, 0.3f, 1}},
    {"tone_stereo_44100.ogg", {44100, 2, 0.5, {440.0, 880.0}, 0.5, 0.0, 0.3f, 2}},
    {"tone_mono_22050.ogg", {22050, 1, 1.0, {440.0, 440.0}, 0.5, 0.0, 0.3f, 3}},
    {"tone_stereo_22050.ogg", {22050, 2, 0.75, {220.0, 660.0}, 0.25, 0.0, 0.3f, 4}},
};

// Chained files: two links with different channel counts, one after the
// other. The decoded sample has the first link's channel count.
struct OGG_Chain {
  const char* file;
  OGG_Tone first, second;
};
inline const OGG_Chain OGG_kChains[] = {
    {"chain_mono_stereo.ogg", {44100, 1, 0.25, {440.0, 440.0}, 0.5, 0.0, 0.3f, 11},
     {44100, 2, 0.25, {660.0, 880.0}, 0.5, 0.0, 0.3f, 12}},
    {"chain_stereo_mono.ogg", {44100, 2, 0.25, {660.0, 880.0}, 0.5, 0.0, 0.3f, 13},
     {44100, 1, 0.25, {440.0, 440.0}, 0.5, 0.0, 0.3f, 14}},
};

// Damaged copies of tone_mono_44100.ogg: cut in half, and with a run of
// bytes in the middle overwritten.
inline constexpr const char* OGG_kTruncated = "truncated.ogg";
inline constexpr const char* OGG_kDamaged = "damaged.ogg";
