// The geometry of texture uploads, kept apart from the GL calls so that it
// can be checked without a context: texture sides, the part of a texture
// that holds the picture, picture orientation, mipmap levels and glyph
// bitmaps.
#pragma once

#include <cstdint>

#include "base/CTRL_Array.h"
#include "media/VIEW_Image.h"

// Smallest power of two >= side (1 for sides <= 1), capped at maxSize when
// maxSize > 0.
uint32_t VIEW_iTextureSide(uint32_t side, int32_t maxSize);

// The texture rectangle {s0, t0, s1, t1} whose corners are the centres of
// the corner texels of a w x h picture held at (0, 0) of a W x H texture.
struct VIEW_UvRect {
    double s0, t0, s1, t1;
};
VIEW_UvRect VIEW_iTexelCentreRect(uint32_t w, uint32_t h, uint32_t W, uint32_t H);

// Shrinks sides above maxSize by area resampling, then brings both sides to
// the texture sides (bilinear growth). False when the picture has no pixels
// or resampling fails.
bool VIEW_iFitImageToTexture(VIEW_Image* image, int32_t maxSize);

// Reverses the row order in place: GL's first row is t = 0, and decoded
// pictures come top row first, while the top of every picture belongs at t = 1.
void VIEW_iFlipRows(VIEW_Image* image);

// The next mipmap level of src into dst: sides halved (not below 1), each
// texel the truncated mean of its 2 x 2 block, a side of length 1 counting
// its texel twice. False when memory runs out.
bool VIEW_iHalveImage(const VIEW_Image& src, VIEW_Image* dst);

// Byte size of the whole mipmap chain from a W x H level 0 down to 1 x 1.
uint64_t VIEW_iMipChainBytes(uint32_t W, uint32_t H, uint32_t channels);

// A raw video frame larger than maxSize on a side, shrunk into scratch (area
// resampling); the frame itself is never touched. False, with scratch left
// empty, when the frame already fits or cannot be shrunk.
bool VIEW_iShrinkFrame(const uint8_t* pixels, uint32_t w, uint32_t h, uint32_t channels, int32_t maxSize,
                       VIEW_Image* scratch);

// The pixels of a glyph texture: an 8-bit coverage bitmap (rows of pitch
// bytes, width of them used) placed at the top left of a zeroed texture of
// the texture sides; a bitmap larger than maxSize is resampled to fit.
// usedWidth and usedRows receive the part of the texture the glyph covers.
bool VIEW_iGlyphTexturePixels(const uint8_t* bitmap, int32_t pitch, int32_t width, int32_t rows,
                              int32_t maxSize, VIEW_Image* out, uint32_t* usedWidth, uint32_t* usedRows);

// Shelf packing of glyph bitmaps into square pages of `side` texels: left to
// right along a shelf, a new shelf below when a row is full, a new page when
// the page is. Every rectangle keeps a gap of one untouched (zero) texel
// to its right and below, so that no glyph's sampling reaches a neighbour.
// A page given back (its glyphs evicted) is opened again before a new one.
struct VIEW_ShelfPacker {
    uint32_t side = 0;
    int32_t page = -1;  // the page being filled; -1 before the first
    uint32_t x = 0, y = 0, shelf = 0;
    int32_t pageCount = 0;          // pages ever opened (their indices are 0 .. pageCount - 1)
    CTRL_Array<int32_t> freePages;  // given back, to be opened again
    // Starts over with no page.
    void reset(uint32_t pageSide);
    // Gives a page back: it is empty from now on, and the next page opened
    // is this one. The page being filled is left to be filled no further.
    void releasePage(int32_t p);
    // Places a w x h rectangle: its page (opening one when needed; *opened
    // tells) and its corner. False when it cannot fit any page.
    bool place(uint32_t w, uint32_t h, int32_t* outPage, uint32_t* outX, uint32_t* outY, bool* opened);
    // Takes back the page the last place() opened (its texture could not be
    // made): the next place() opens it again.
    void dropOpenedPage();
};
