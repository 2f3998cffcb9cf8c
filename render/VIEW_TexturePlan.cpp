#include "render/VIEW_TexturePlan.h"

#include <cstring>

uint32_t VIEW_iTextureSide(uint32_t side, int32_t maxSize)
{
    uint64_t s = 1;
    while (s < side)
        s <<= 1;
    if (maxSize > 0 && s > (uint64_t)maxSize)
        s = (uint64_t)maxSize;
    return (uint32_t)s;
}

VIEW_UvRect VIEW_iTexelCentreRect(uint32_t w, uint32_t h, uint32_t W, uint32_t H)
{
    return {0.5 / W, 0.5 / H, (w - 0.5) / W, (h - 0.5) / H};
}

bool VIEW_iFitImageToTexture(VIEW_Image* image, int32_t maxSize)
{
    if (!image || !image->pixels)
        return false;
    uint32_t w = image->width, h = image->height;
    if (maxSize > 0) {
        uint32_t cap = (uint32_t)maxSize;
        uint32_t nw = w > cap ? cap : w, nh = h > cap ? cap : h;
        if ((nw != w || nh != h) && !VIEW_iResizeArea(image, nw, nh))
            return false;
    }
    uint32_t W = VIEW_iTextureSide(image->width, maxSize);
    uint32_t H = VIEW_iTextureSide(image->height, maxSize);
    if (W == image->width && H == image->height)
        return true;
    if (W < image->width || H < image->height)
        return VIEW_iResizeArea(image, W, H);
    return VIEW_iResizeBilinear(image, W, H);
}

void VIEW_iFlipRows(VIEW_Image* image)
{
    if (!image || !image->pixels || image->height < 2)
        return;
    size_t stride = (size_t)image->width * image->channels;
    uint8_t* top = image->pixels;
    uint8_t* bottom = image->pixels + stride * (image->height - 1);
    uint8_t tmp[256];
    while (top < bottom) {
        for (size_t done = 0; done < stride; done += sizeof tmp) {
            size_t n = stride - done < sizeof tmp ? stride - done : sizeof tmp;
            std::memcpy(tmp, top + done, n);
            std::memcpy(top + done, bottom + done, n);
            std::memcpy(bottom + done, tmp, n);
        }
        top += stride;
        bottom -= stride;
    }
}

bool VIEW_iHalveImage(const VIEW_Image& src, VIEW_Image* dst)
{
    if (!src.pixels || !dst)
        return false;
    uint32_t w = src.width > 1 ? src.width / 2 : 1;
    uint32_t h = src.height > 1 ? src.height / 2 : 1;
    uint32_t c = src.channels;
    if (!dst->allocate(w, h, c))
        return false;
    const size_t stride = (size_t)src.width * c;
    for (uint32_t y = 0; y < h; y++) {
        uint32_t y0 = src.height > 1 ? 2 * y : 0;
        uint32_t y1 = src.height > 1 ? 2 * y + 1 : 0;
        for (uint32_t x = 0; x < w; x++) {
            uint32_t x0 = src.width > 1 ? 2 * x : 0;
            uint32_t x1 = src.width > 1 ? 2 * x + 1 : 0;
            for (uint32_t k = 0; k < c; k++) {
                unsigned a = src.pixels[y0 * stride + x0 * c + k];
                unsigned b = src.pixels[y0 * stride + x1 * c + k];
                unsigned d = src.pixels[y1 * stride + x0 * c + k];
                unsigned e = src.pixels[y1 * stride + x1 * c + k];
                dst->pixels[((size_t)y * w + x) * c + k] = (uint8_t)((a + b + d + e) >> 2);
            }
        }
    }
    return true;
}

uint64_t VIEW_iMipChainBytes(uint32_t W, uint32_t H, uint32_t channels)
{
    uint64_t total = 0;
    for (;;) {
        total += (uint64_t)W * H * channels;
        if (W == 1 && H == 1)
            return total;
        W = W > 1 ? W / 2 : 1;
        H = H > 1 ? H / 2 : 1;
    }
}

bool VIEW_iShrinkFrame(const uint8_t* pixels, uint32_t w, uint32_t h, uint32_t channels, int32_t maxSize,
                       VIEW_Image* scratch)
{
    if (!pixels || !scratch || maxSize <= 0)
        return false;
    uint32_t cap = (uint32_t)maxSize;
    if (w <= cap && h <= cap)
        return false;
    if (!scratch->allocate(w, h, channels))
        return false;
    std::memcpy(scratch->pixels, pixels, (size_t)w * h * channels);
    if (!VIEW_iResizeArea(scratch, w > cap ? cap : w, h > cap ? cap : h)) {
        scratch->freePixels();
        return false;
    }
    return true;
}

bool VIEW_iGlyphTexturePixels(const uint8_t* bitmap, int32_t pitch, int32_t width, int32_t rows,
                              int32_t maxSize, VIEW_Image* out, uint32_t* usedWidth, uint32_t* usedRows)
{
    if (!bitmap || !out || width <= 0 || rows <= 0 || pitch < width)
        return false;
    uint32_t W = VIEW_iTextureSide((uint32_t)width, maxSize);
    uint32_t H = VIEW_iTextureSide((uint32_t)rows, maxSize);
    if (!out->allocate(W, H, 1))
        return false;
    std::memset(out->pixels, 0, (size_t)W * H);
    uint32_t uw = (uint32_t)width, ur = (uint32_t)rows;
    if (uw > W || ur > H) {
        // Larger than any texture: resample the used columns down to fit.
        VIEW_Image big;
        if (!big.allocate(uw, ur, 1)) {
            out->freePixels();
            return false;
        }
        for (uint32_t y = 0; y < ur; y++)
            std::memcpy(big.pixels + (size_t)y * uw, bitmap + (size_t)y * (size_t)pitch, uw);
        uint32_t fw = uw > W ? W : uw, fh = ur > H ? H : ur;
        if (!VIEW_iResizeArea(&big, fw, fh)) {
            out->freePixels();
            return false;
        }
        uw = fw;
        ur = fh;
        for (uint32_t y = 0; y < ur; y++)
            std::memcpy(out->pixels + (size_t)y * W, big.pixels + (size_t)y * uw, uw);
    } else {
        for (uint32_t y = 0; y < ur; y++)
            std::memcpy(out->pixels + (size_t)y * W, bitmap + (size_t)y * (size_t)pitch, uw);
    }
    if (usedWidth)
        *usedWidth = uw;
    if (usedRows)
        *usedRows = ur;
    return true;
}

void VIEW_ShelfPacker::reset(uint32_t pageSide)
{
    side = pageSide;
    page = -1;
    x = y = shelf = 0;
    pageCount = 0;
    freePages.resize(0);
}

void VIEW_ShelfPacker::releasePage(int32_t p)
{
    if (p < 0 || p >= pageCount || freePages.indexOf(p) >= 0)
        return;
    if (!freePages.append(p))
        return;
    if (p == page)
        y = side;  // full: the next rectangle opens a page
}

bool VIEW_ShelfPacker::place(uint32_t w, uint32_t h, int32_t* outPage, uint32_t* outX, uint32_t* outY, bool* opened)
{
    *opened = false;
    if (w == 0 || h == 0 || w + 1 > side || h + 1 > side)
        return false;
    if (page >= 0 && x + w + 1 > side) {
        // Next shelf.
        y += shelf;
        x = 0;
        shelf = 0;
    }
    if (page < 0 || y + h + 1 > side) {
        if (freePages.count > 0) {
            page = freePages[freePages.count - 1];
            freePages.resize(freePages.count - 1);
        } else {
            page = pageCount++;
        }
        x = y = shelf = 0;
        *opened = true;
    }
    *outPage = page;
    *outX = x;
    *outY = y;
    x += w + 1;
    if (h + 1 > shelf)
        shelf = h + 1;
    return true;
}

void VIEW_ShelfPacker::dropOpenedPage()
{
    // Back on the list, so that the next place() opens it again.
    if (page >= 0 && freePages.indexOf(page) < 0)
        freePages.append(page);
    y = side;
}
