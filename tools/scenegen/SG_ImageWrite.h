// PNG and JPEG encoders (to memory) for fixtures and demo assets.
#pragma once

#include <cstdint>
#include <vector>

struct SG_PngSpec {
    uint32_t width = 1, height = 1;
    int colorType = 2;   // PNG colour type: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 8;    // 1, 2, 4, 8 or 16 (as the colour type allows)
    bool interlace = false;
    // Samples, one value per channel per pixel, rows top-down (values in the
    // range of the bit depth; palette indices for colour type 3).
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;      // RGB triples for colour type 3
    std::vector<uint8_t> trnsAlpha;    // palette alphas (colour type 3)
    bool trnsColor = false;            // grey or RGB transparent colour
    uint16_t trnsValue[3] = {0, 0, 0};
};

// Encodes the picture; empty on failure.
std::vector<uint8_t> SG_iEncodePng(const SG_PngSpec& spec);

// A picture of zeros (8-bit samples, colour type 0, 2, 4 or 6), written row
// by row from one zero row: tiny as a file, large when decoded.
std::vector<uint8_t> SG_iEncodeBlankPng(uint32_t width, uint32_t height, int colorType);

// Encodes 8-bit samples with 1 (grey), 3 (RGB) or 4 (CMYK) components.
std::vector<uint8_t> SG_iEncodeJpeg(uint32_t width, uint32_t height, int components,
                                    const std::vector<uint8_t>& samples, int quality = 90,
                                    bool progressive = false);

// Simple test patterns: a gradient with a checker, `channels` per pixel.
std::vector<uint8_t> SG_iPattern(uint32_t width, uint32_t height, int channels, uint32_t seed = 0);
