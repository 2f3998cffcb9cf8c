#include "SG_ImageWrite.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

static void SG_iPngWriteData(png_structp png, png_bytep data, png_size_t n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

static void SG_iPngFlush(png_structp) {}

// The libpng calls, in a frame of their own with no C++ objects in it, so
// that the error jump skips no destructor.
static bool SG_iWritePng(const SG_PngSpec& s, png_bytep* rows, png_color* pal, int palCount,
                         std::vector<uint8_t>* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, SG_iPngWriteData, SG_iPngFlush);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s.colorType == 3) png_set_PLTE(png, info, pal, palCount);
    if (s.colorType == 3 && !s.trnsAlpha.empty())
        png_set_tRNS(png, info, s.trnsAlpha.data(), int(s.trnsAlpha.size()), nullptr);
    if (s.trnsColor && (s.colorType == 0 || s.colorType == 2)) {
        png_color_16 c{};
        c.gray = s.trnsValue[0];
        c.red = s.trnsValue[0];
        c.green = s.trnsValue[1];
        c.blue = s.trnsValue[2];
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

std::vector<uint8_t> SG_iEncodePng(const SG_PngSpec& s)
{
    std::vector<uint8_t> out;
    int channels = s.colorType == 0 || s.colorType == 3 ? 1 : s.colorType == 4 ? 2 : s.colorType == 2 ? 3 : 4;
    if (s.samples.size() != size_t(s.width) * s.height * channels) return {};

    // Pack the rows first, so that nothing with a destructor is live across
    // the error jump.
    size_t rowBytes = (size_t(s.width) * channels * s.bitDepth + 7) / 8;
    std::vector<uint8_t> packed(rowBytes * s.height, 0);
    for (uint32_t y = 0; y < s.height; y++) {
        uint8_t* row = packed.data() + y * rowBytes;
        for (size_t i = 0; i < size_t(s.width) * channels; i++) {
            uint16_t v = s.samples[y * size_t(s.width) * channels + i];
            if (s.bitDepth == 16) {
                row[2 * i] = uint8_t(v >> 8);
                row[2 * i + 1] = uint8_t(v);
            } else if (s.bitDepth == 8) {
                row[i] = uint8_t(v);
            } else {
                size_t bit = i * s.bitDepth;
                int shift = 8 - s.bitDepth - int(bit % 8);
                row[bit / 8] |= uint8_t((v & ((1 << s.bitDepth) - 1)) << shift);
            }
        }
    }
    std::vector<png_bytep> rows(s.height);
    for (uint32_t y = 0; y < s.height; y++) rows[y] = packed.data() + y * rowBytes;
    std::vector<png_color> pal(s.palette.size() / 3);
    for (size_t i = 0; i < pal.size(); i++) pal[i] = {s.palette[3 * i], s.palette[3 * i + 1], s.palette[3 * i + 2]};

    if (!SG_iWritePng(s, rows.data(), pal.data(), int(pal.size()), &out)) out.clear();
    return out;
}

std::vector<uint8_t> SG_iEncodeBlankPng(uint32_t width, uint32_t height, int colorType)
{
    SG_PngSpec s;
    s.width = width;
    s.height = height;
    s.colorType = colorType;
    int channels = colorType == 0 ? 1 : colorType == 4 ? 2 : colorType == 2 ? 3 : colorType == 6 ? 4 : 0;
    if (channels == 0 || width == 0 || height == 0) return {};
    std::vector<uint8_t> zero(size_t(width) * channels, 0);
    std::vector<png_bytep> rows(height, zero.data());
    std::vector<uint8_t> out;
    if (!SG_iWritePng(s, rows.data(), nullptr, 0, &out)) out.clear();
    return out;
}

namespace {
struct SG_JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
}  // namespace

static void SG_iJpegErrorExit(j_common_ptr c)
{
    std::longjmp(reinterpret_cast<SG_JpegError*>(c->err)->jump, 1);
}

std::vector<uint8_t> SG_iEncodeJpeg(uint32_t width, uint32_t height, int components,
                                    const std::vector<uint8_t>& samples, int quality, bool progressive)
{
    if (samples.size() != size_t(width) * height * components) return {};
    jpeg_compress_struct c;
    SG_JpegError err;
    unsigned char* volatile buffer = nullptr;
    unsigned long size = 0;
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = SG_iJpegErrorExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    unsigned char* b = nullptr;
    jpeg_mem_dest(&c, &b, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < height) {
        JSAMPROW row = const_cast<uint8_t*>(samples.data()) + size_t(c.next_scanline) * width * components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    buffer = b;
    std::vector<uint8_t> out(b, b + size);
    jpeg_destroy_compress(&c);
    free(buffer);
    return out;
}

std::vector<uint8_t> SG_iPattern(uint32_t width, uint32_t height, int channels, uint32_t seed)
{
    std::vector<uint8_t> p(size_t(width) * height * channels);
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++)
            for (int k = 0; k < channels; k++) {
                uint32_t v = (x * 255 / (width > 1 ? width - 1 : 1)) * (k % 2 == 0) +
                             (y * 255 / (height > 1 ? height - 1 : 1)) * (k % 2 == 1) +
                             (((x / 8 + y / 8 + seed) & 1) ? 40 : 0);
                p[(size_t(y) * width + x) * channels + k] = uint8_t(v > 255 ? 255 : v);
            }
    return p;
}
