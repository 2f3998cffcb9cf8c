// Y'CbCr to RGB rows for the video streams: 3 bytes a pixel, each exactly
// what VIEW_iYCbCrToRgb gives for its pixel. Many pixels at a time where
// the processor allows it (SSE2, and AVX2 when present, chosen at run time).
#pragma once

#include <cstdint>

// One picture row whose chroma has a sample for every pixel.
void VIEW_iYuvRowFull(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t w, uint8_t* out);
// One picture row whose chroma has a sample for every two frame columns;
// px is the picture's first frame column (an odd one starts mid-pair), and
// the chroma rows are indexed by frame column / 2.
void VIEW_iYuvRowHalf(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int64_t px, int64_t w,
                      uint8_t* out);

// Two such rows that share their chroma (4:2:0), converted together: the
// same bytes as two calls of VIEW_iYuvRowHalf.
void VIEW_iYuvRowPairHalf(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr, int64_t px,
                          int64_t w, uint8_t* out0, uint8_t* out1);

enum { VIEW_YUV_PLAIN = 0, VIEW_YUV_SSE2 = 1, VIEW_YUV_AVX2 = 2 };

// The widest steps the rows may take (the default: the widest the processor
// has); the same results either way. Answers the steps in use before; the
// steps taken are the narrower of `widest` and what the processor has.
// Tests use it to run every path.
int VIEW_iYuvSteps(int widest);
