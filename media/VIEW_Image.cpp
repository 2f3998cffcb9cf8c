#include "media/VIEW_Image.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "media/VIEW_Budget.h"
#include "package/CTRL_File.h"

// A pixel block counted against the media budget; null when the budget
// refuses it or memory runs out.
static uint8_t* VIEW_iTakePixels(size_t bytes)
{
    if (!VIEW_iBudgetReserve(bytes)) return nullptr;
    uint8_t* p = static_cast<uint8_t*>(std::malloc(bytes));
    if (!p) VIEW_iBudgetRelease(bytes);
    return p;
}

static void VIEW_iGivePixels(uint8_t* pixels, size_t bytes)
{
    std::free(pixels);
    if (pixels) VIEW_iBudgetRelease(bytes);
}

void VIEW_Image::freePixels()
{
    if (ownsPixels) std::free(pixels);
    VIEW_iBudgetRelease(charged);
    charged = 0;
    pixels = nullptr;
    ownsPixels = 0;
    width = height = channels = 0;
}

bool VIEW_iImageSizeOk(uint64_t w, uint64_t h, uint64_t c)
{
    if (w == 0 || h == 0 || c == 0 || c > 4) return false;
    if (w > VIEW_MAX_IMAGE_SIDE || h > VIEW_MAX_IMAGE_SIDE) return false;
    return w * h * c <= VIEW_MAX_IMAGE_BYTES;
}

bool VIEW_Image::allocate(uint32_t w, uint32_t h, uint32_t c)
{
    freePixels();
    if (!VIEW_iImageSizeOk(w, h, c)) return false;
    uint8_t* p = VIEW_iTakePixels(size_t(w) * h * c);
    if (!p) return false;
    pixels = p;
    charged = size_t(w) * h * c;
    ownsPixels = 1;
    width = w;
    height = h;
    channels = c;
    return true;
}

// ---------------------------------------------------------------- PNG

namespace {

struct PngState {
    const VIEW_ImageSource* source;
    size_t offset;
};

}  // namespace

static void VIEW_iPngError(png_structp png, png_const_charp message)
{
    const char* name = static_cast<const char*>(png_get_error_ptr(png));
    CTRL_iDebugLog("Pnglib error: %s (%s)\n", message, name ? name : "");
    png_longjmp(png, 1);
}

static void VIEW_iPngWarning(png_structp png, png_const_charp message)
{
    const char* name = static_cast<const char*>(png_get_error_ptr(png));
    CTRL_iDebugLog("Pnglib warning: %s (%s)\n", message, name ? name : "");
}

// Copies the next bytes of the memory block; running past its end is an
// error (libpng never gets bytes that are not there).
static void VIEW_iPngRead(png_structp png, png_bytep out, png_size_t count)
{
    PngState* st = static_cast<PngState*>(png_get_io_ptr(png));
    if (count > st->source->size - st->offset) png_error(png, "Read past end of data");
    std::memcpy(out, st->source->data + st->offset, count);
    st->offset += count;
}

bool VIEW_iDecodePng(VIEW_Image* image, const VIEW_ImageSource& source)
{
    image->freePixels();
    if (!source.data || source.size < 8 || png_sig_cmp(source.data, 0, 8) != 0) return false;

    PngState st{&source, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING,
                                             const_cast<char*>(source.name ? source.name : ""),
                                             VIEW_iPngError, VIEW_iPngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    // Everything the error jump must clean up lives outside the jump's frame.
    png_bytep* volatile rows = nullptr;
    uint8_t* volatile pixels = nullptr;
    volatile size_t pixelBytes = 0;

    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        VIEW_iGivePixels(pixels, pixelBytes);
        png_destroy_read_struct(&png, &info, nullptr);
        image->freePixels();
        return false;
    }
    png_set_read_fn(png, &st, VIEW_iPngRead);
    png_set_user_limits(png, VIEW_MAX_IMAGE_SIDE, VIEW_MAX_IMAGE_SIDE);
    png_set_chunk_malloc_max(png, 64u << 20);
    png_read_info(png, info);

    int colorType = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (trns) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (depth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    uint32_t channels;
    switch (png_get_color_type(png, info)) {
    case PNG_COLOR_TYPE_GRAY: channels = 1; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: channels = 2; break;
    case PNG_COLOR_TYPE_RGB: channels = 3; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: channels = 4; break;
    default: png_error(png, "Unsupported colour type");
    }
    uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (!VIEW_iImageSizeOk(w, h, channels)) png_error(png, "Image too large");
    if (png_get_rowbytes(png, info) != size_t(w) * channels) png_error(png, "Unexpected row size");

    pixelBytes = size_t(w) * h * channels;
    pixels = VIEW_iTakePixels(pixelBytes);
    if (!pixels) {
        // Refused by the budget (the caller tells) or no memory: nothing
        // is read.
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!pixels || !rows) png_error(png, "Out of memory");
    for (uint32_t y = 0; y < h; y++) rows[y] = pixels + size_t(y) * w * channels;
    png_read_image(png, rows);
    png_read_end(png, nullptr);

    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    image->pixels = pixels;
    image->charged = pixelBytes;
    image->ownsPixels = 1;
    image->width = w;
    image->height = h;
    image->channels = channels;
    return true;
}

// ---------------------------------------------------------------- JPEG

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

struct JpegSource {
    jpeg_source_mgr mgr;
    const VIEW_ImageSource* source;
    bool handedOver;
};

}  // namespace

static void VIEW_iJpegErrorExit(j_common_ptr cinfo)
{
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// libjpeg's messages are formatted but not shown.
static void VIEW_iJpegOutputMessage(j_common_ptr cinfo)
{
    char buffer[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, buffer);
}

static void VIEW_iJpegInitSource(j_decompress_ptr cinfo)
{
    cinfo->src->next_input_byte = nullptr;
    cinfo->src->bytes_in_buffer = 0;
}

static boolean VIEW_iJpegFill(j_decompress_ptr cinfo)
{
    JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
    if (src->handedOver || src->source->size == 0) ERREXIT(cinfo, JERR_INPUT_EOF);
    src->handedOver = true;
    src->mgr.next_input_byte = src->source->data;
    src->mgr.bytes_in_buffer = src->source->size;
    return TRUE;
}

static void VIEW_iJpegSkip(j_decompress_ptr cinfo, long count)
{
    if (count <= 0) return;
    JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
    while (static_cast<size_t>(count) > src->mgr.bytes_in_buffer) {
        count -= static_cast<long>(src->mgr.bytes_in_buffer);
        src->mgr.bytes_in_buffer = 0;
        VIEW_iJpegFill(cinfo);  // raises the end-of-input error once the block is used up
    }
    src->mgr.next_input_byte += count;
    src->mgr.bytes_in_buffer -= static_cast<size_t>(count);
}

static void VIEW_iJpegTerm(j_decompress_ptr) {}

bool VIEW_iDecodeJpeg(VIEW_Image* image, const VIEW_ImageSource& source)
{
    image->freePixels();
    if (!source.data || source.size == 0) return false;

    jpeg_decompress_struct cinfo;
    JpegError err;
    JpegSource src;
    uint8_t* volatile pixels = nullptr;
    volatile size_t pixelBytes = 0;

    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = VIEW_iJpegErrorExit;
    err.mgr.output_message = VIEW_iJpegOutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        VIEW_iGivePixels(pixels, pixelBytes);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    src.mgr.init_source = VIEW_iJpegInitSource;
    src.mgr.fill_input_buffer = VIEW_iJpegFill;
    src.mgr.skip_input_data = VIEW_iJpegSkip;
    src.mgr.resync_to_restart = jpeg_resync_to_restart;
    src.mgr.term_source = VIEW_iJpegTerm;
    src.mgr.next_input_byte = nullptr;
    src.mgr.bytes_in_buffer = 0;
    src.source = &source;
    src.handedOver = false;
    cinfo.src = &src.mgr;

    jpeg_read_header(&cinfo, TRUE);
    uint32_t channels;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        channels = 1;
        break;
    case JCS_RGB:
    case JCS_YCbCr:
        cinfo.out_color_space = JCS_RGB;
        channels = 3;
        break;
    default:
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (!VIEW_iImageSizeOk(cinfo.image_width, cinfo.image_height, channels)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    uint32_t w = cinfo.output_width, h = cinfo.output_height;
    if (uint32_t(cinfo.output_components) != channels || !VIEW_iImageSizeOk(w, h, channels)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    pixelBytes = size_t(w) * h * channels;
    pixels = VIEW_iTakePixels(pixelBytes);
    if (!pixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < h) {
        JSAMPROW row = pixels + size_t(cinfo.output_scanline) * w * channels;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);

    image->pixels = pixels;
    image->charged = pixelBytes;
    image->ownsPixels = 1;
    image->width = w;
    image->height = h;
    image->channels = channels;
    return true;
}

// ---------------------------------------------------------------- resampling

static void VIEW_iReplacePixels(VIEW_Image* image, uint8_t* pixels, uint32_t w, uint32_t h)
{
    uint32_t c = image->channels;
    if (image->ownsPixels) std::free(image->pixels);
    VIEW_iBudgetRelease(image->charged);
    image->charged = size_t(w) * h * c;
    image->pixels = pixels;
    image->ownsPixels = 1;
    image->width = w;
    image->height = h;
    image->channels = c;
}

bool VIEW_iResizeArea(VIEW_Image* image, uint32_t W, uint32_t H)
{
    if (W == image->width && H == image->height) return true;
    uint32_t w = image->width, h = image->height, c = image->channels;
    if (!image->pixels || !VIEW_iImageSizeOk(w, h, c) || !VIEW_iImageSizeOk(W, H, c)) return false;
    uint8_t* out = VIEW_iTakePixels(size_t(W) * H * c);
    if (!out) return false;

    const double sx = double(w) / W, sy = double(h) / H;
    double acc[4];
    for (uint32_t y = 0; y < H; y++) {
        const double y0 = y * sy, y1 = (y + 1) * sy;
        for (uint32_t x = 0; x < W; x++) {
            const double x0 = x * sx, x1 = (x + 1) * sx;
            acc[0] = acc[1] = acc[2] = acc[3] = 0.0;
            double total = 0.0;
            for (uint32_t iy = uint32_t(y0); iy < h && iy < y1; iy++) {
                double wy = (iy + 1.0 < y1 ? iy + 1.0 : y1) - (iy > y0 ? double(iy) : y0);
                if (wy <= 0) continue;
                const uint8_t* row = image->pixels + size_t(iy) * w * c;
                for (uint32_t ix = uint32_t(x0); ix < w && ix < x1; ix++) {
                    double wx = (ix + 1.0 < x1 ? ix + 1.0 : x1) - (ix > x0 ? double(ix) : x0);
                    if (wx <= 0) continue;
                    double a = wx * wy;
                    total += a;
                    for (uint32_t k = 0; k < c; k++) acc[k] += a * row[size_t(ix) * c + k];
                }
            }
            uint8_t* o = out + (size_t(y) * W + x) * c;
            for (uint32_t k = 0; k < c; k++) {
                double v = total > 0 ? acc[k] / total + 0.5 : 0.0;
                o[k] = v >= 255.0 ? 255 : uint8_t(v);
            }
        }
    }
    VIEW_iReplacePixels(image, out, W, H);
    return true;
}

bool VIEW_iResizeBilinear(VIEW_Image* image, uint32_t W, uint32_t H)
{
    if (W == image->width && H == image->height) return true;
    uint32_t w = image->width, h = image->height, c = image->channels;
    if (!image->pixels || !VIEW_iImageSizeOk(w, h, c) || !VIEW_iImageSizeOk(W, H, c)) return false;
    uint8_t* out = VIEW_iTakePixels(size_t(W) * H * c);
    if (!out) return false;

    // A destination side of 1 has no spacing to divide by: it takes the
    // first source column or row.
    const uint64_t dx = W > 1 ? W - 1 : 1, dy = H > 1 ? H - 1 : 1;
    const uint64_t div = dx * dy;
    for (uint32_t y = 0; y < H; y++) {
        uint64_t ny = H > 1 ? uint64_t(y) * (h - 1) : 0;
        uint32_t iy = uint32_t(ny / dy);
        uint64_t fy = ny % dy;
        uint32_t iy1 = iy + 1 < h ? iy + 1 : iy;  // never past the last row
        const uint8_t* r0 = image->pixels + size_t(iy) * w * c;
        const uint8_t* r1 = image->pixels + size_t(iy1) * w * c;
        for (uint32_t x = 0; x < W; x++) {
            uint64_t nx = W > 1 ? uint64_t(x) * (w - 1) : 0;
            uint32_t ix = uint32_t(nx / dx);
            uint64_t fx = nx % dx;
            uint32_t ix1 = ix + 1 < w ? ix + 1 : ix;
            uint8_t* o = out + (size_t(y) * W + x) * c;
            for (uint32_t k = 0; k < c; k++) {
                uint64_t s = uint64_t(r0[size_t(ix) * c + k]) * (dx - fx) * (dy - fy) +
                             uint64_t(r0[size_t(ix1) * c + k]) * fx * (dy - fy) +
                             uint64_t(r1[size_t(ix) * c + k]) * (dx - fx) * fy +
                             uint64_t(r1[size_t(ix1) * c + k]) * fx * fy;
                uint64_t v = s / div;
                o[k] = v > 255 ? 255 : uint8_t(v);
            }
        }
    }
    VIEW_iReplacePixels(image, out, W, H);
    return true;
}
