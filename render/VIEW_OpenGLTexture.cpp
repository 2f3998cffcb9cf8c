// Texture upload: decoded pictures and video frames into GL textures, and
// glyph bitmaps into small alpha textures. The sizes, rectangles and levels
// come from VIEW_TexturePlan; this file makes the GL calls.
#include <GL/glew.h>

#include <cstring>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H

#include "media/VIEW_Budget.h"
#include "media/VIEW_Font.h"
#include "media/VIEW_Image.h"
#include "media/VIEW_Texture.h"
#include "package/CTRL_File.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_TexturePlan.h"

static GLenum formatOf(uint32_t channels)
{
    switch (channels) {
    case 1: return GL_LUMINANCE;
    case 2: return GL_LUMINANCE_ALPHA;
    case 3: return GL_RGB;
    default: return GL_RGBA;
    }
}

// Filters of a fresh texture; 0 (and unknown codes) leave GL's defaults.
static void applyFilter(uint32_t filter, bool mipmapped)
{
    switch (filter) {
    case FILTER_NEAREST_POINT:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        break;
    case FILTER_LINEAR:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        break;
    case FILTER_MIPMAP:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        break;
    default:
        break;
    }
}

// Uploads a video frame at (0, 0) of the bound texture, through a shrunk
// copy when the frame is larger than any texture. Answers the size uploaded.
static void uploadFrame(const VIEW_Texture* t, int32_t maxSize, uint32_t* w, uint32_t* h)
{
    VIEW_Image scratch;
    const uint8_t* pixels = t->data;
    *w = t->width;
    *h = t->height;
    if (VIEW_iShrinkFrame(t->data, t->width, t->height, 3, maxSize, &scratch)) {
        pixels = scratch.pixels;
        *w = scratch.width;
        *h = scratch.height;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, (GLsizei)*w, (GLsizei)*h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
}

static bool frameFits(const VIEW_Texture* t)
{
    // The frame block must hold width x height RGB pixels.
    return t->data && t->width > 0 && t->height > 0 &&
           (uint64_t)t->width * t->height * 3 <= (uint64_t)t->dataSize;
}

VIEW_ImageTexture* VIEW_OpenGL::bindTexture(VIEW_Texture* t)
{
    if (!t)
        return nullptr;
    const uint32_t filter = t->filter ? t->filter : defaultFilter;
    VIEW_ImageTexture* e = imageTextures.find(t->instanceId);

    if (t->rawPixels) {
        if (e) {
            glBindTexture(GL_TEXTURE_2D, e->glName);
            if (t->dirty && frameFits(t)) {
                uint32_t w, h;
                uploadFrame(t, maxTextureSize, &w, &h);
            }
            t->dirty = 0;
            return e;
        }
        if (!frameFits(t) || t->decodeKnownToFail())
            return nullptr;
        uint32_t W = VIEW_iTextureSide(t->width, maxTextureSize);
        uint32_t H = VIEW_iTextureSide(t->height, maxTextureSize);
        // The GL copy counts against the media budget while it lives.
        if (!VIEW_iBudgetReserve((uint64_t)W * H * 3)) {
            t->rememberDecodeFailure();
            CTRL_iDebugLog("Texture %s is over the media budget; drawn untextured", t->name ? t->name : "");
            return nullptr;
        }
        e = imageTextures.insert(t->instanceId);
        if (!e) {
            VIEW_iBudgetRelease((uint64_t)W * H * 3);
            return nullptr;
        }
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, (GLsizei)W, (GLsizei)H, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        uint32_t w, h;
        uploadFrame(t, maxTextureSize, &w, &h);
        VIEW_UvRect r = VIEW_iTexelCentreRect(w, h, W, H);
        e->glName = name;
        e->s0 = r.s0;
        e->t0 = r.t0;
        e->s1 = r.s1;
        e->t1 = r.t1;
        e->byteSize = (uint64_t)W * H * 3;
        if (filter == FILTER_NEAREST_POINT || filter == FILTER_LINEAR || filter == FILTER_MIPMAP)
            applyFilter(filter == FILTER_MIPMAP ? (uint32_t)FILTER_LINEAR : filter, false);
        t->dirty = 0;
        return e;
    }

    if (e) {
        glBindTexture(GL_TEXTURE_2D, e->glName);
        return e;
    }
    VIEW_Image image;
    VIEW_ImageSource source;
    source.name = t->name ? t->name : "";
    source.data = t->data;
    source.size = t->dataSize;
    if (!t->data || t->dataSize == 0 || t->decodeKnownToFail())
        return nullptr;  // drawn untextured
    t->decodeCount++;
    const uint64_t refusedBefore = VIEW_iBudgetRefusals();
    bool decoded = (VIEW_iDecodePng(&image, source) || VIEW_iDecodeJpeg(&image, source)) &&
                   VIEW_iFitImageToTexture(&image, maxTextureSize);
    // The GL copy counts against the media budget while it lives, as the
    // decoded pixels do until they are uploaded.
    const uint64_t glBytes = !decoded ? 0
                             : filter == FILTER_MIPMAP
                                 ? VIEW_iMipChainBytes(image.width, image.height, image.channels)
                                 : (uint64_t)image.width * image.height * image.channels;
    if (decoded && !VIEW_iBudgetReserve(glBytes))
        decoded = false;
    if (!decoded) {
        // Drawn untextured from now on, until the texture gets new data.
        t->rememberDecodeFailure();
        if (VIEW_iBudgetRefusals() != refusedBefore)
            CTRL_iDebugLog("Texture %s is over the media budget; drawn untextured", source.name);
        else
            CTRL_iDebugLog("Texture %s could not be decoded; drawn untextured", source.name);
        return nullptr;
    }
    // Decoded rows come top first; GL's first row is t = 0, and the top of
    // the picture belongs at t = 1.
    VIEW_iFlipRows(&image);

    e = imageTextures.insert(t->instanceId);
    if (!e) {
        VIEW_iBudgetRelease(glBytes);
        return nullptr;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    applyFilter(filter, true);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const uint32_t W = image.width, H = image.height, c = image.channels;
    const GLenum format = formatOf(c);
    e->glName = name;
    if (filter == FILTER_MIPMAP) {
        glTexImage2D(GL_TEXTURE_2D, 0, (GLint)c, (GLsizei)W, (GLsizei)H, 0, format, GL_UNSIGNED_BYTE, image.pixels);
        VIEW_Image levels[2];
        const VIEW_Image* previous = &image;
        for (int level = 1; previous->width > 1 || previous->height > 1; level++) {
            VIEW_Image& next = levels[level & 1];
            if (!VIEW_iHalveImage(*previous, &next))
                break;
            glTexImage2D(GL_TEXTURE_2D, level, (GLint)c, (GLsizei)next.width, (GLsizei)next.height, 0, format,
                         GL_UNSIGNED_BYTE, next.pixels);
            previous = &next;
        }
        e->s0 = e->t0 = 0;
        e->s1 = e->t1 = 1;
        e->byteSize = VIEW_iMipChainBytes(W, H, c);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, (GLint)c, (GLsizei)W, (GLsizei)H, 0, format, GL_UNSIGNED_BYTE, nullptr);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, (GLsizei)W, (GLsizei)H, format, GL_UNSIGNED_BYTE, image.pixels);
        VIEW_UvRect r = VIEW_iTexelCentreRect(W, H, W, H);
        e->s0 = r.s0;
        e->t0 = r.t0;
        e->s1 = r.s1;
        e->t1 = r.t1;
        e->byteSize = (uint64_t)W * H * c;
    }
    return e;
}

namespace {

// Atlas pages are this many texels a side (or the largest texture, if less);
// glyphs wider or taller than a quarter of it get their own texture.
constexpr int32_t kGlyphPageSide = 1024;

// A glyph coverage texture (alpha only, nearest texels, clamped), bound.
GLuint newGlyphTexture(GLsizei width, GLsizei height, const void* pixels)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, width, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE, pixels);
    return name;
}

}  // namespace

VIEW_GlyphTexture* VIEW_OpenGL::getGlyphTexture(VIEW_Font* font, uint32_t code)
{
    VIEW_GlyphTexture* g = findGlyph(font, code);
    if (g && g->glName)
        glBindTexture(GL_TEXTURE_2D, g->glName);
    return g;
}

namespace {

using GlyphEntry = VIEW_HashMap<VIEW_GlyphKey, VIEW_GlyphTexture>::Entry;

}  // namespace

uint64_t VIEW_OpenGL::glyphCacheShare() const
{
    return glyphCacheLimit ? glyphCacheLimit : VIEW_iBudgetLimit() / 16;
}

double VIEW_OpenGL::glyphSizeCap() const
{
    double side = viewportWidth > viewportHeight ? viewportWidth : viewportHeight;
    if (maxTextureSize > 0 && side > maxTextureSize)
        side = maxTextureSize;
    // The face's nominal size for an on-screen size s is s x 64 points at
    // one dot per inch: an em of s x 64 / 72 pixels.
    return side > 0 ? side * 72.0 / 64.0 : 0.0;
}

bool VIEW_OpenGL::evictOldestGlyphs()
{
    // The oldest frame that anything evictable was last drawn in.
    uint32_t oldest = glyphFrame;
    for (int32_t p = 0; p < glyphPages.count; p++)
        if (glyphPages[p] && glyphPageDrawn[p] < oldest)
            oldest = glyphPageDrawn[p];
    glyphTextures.forEach([&](const VIEW_GlyphKey&, const VIEW_GlyphTexture& g) {
        if (!g.packed && g.lastDrawn < oldest)
            oldest = g.lastDrawn;
    });
    if (oldest == glyphFrame)
        return false;
    const uint64_t pageBytes = (uint64_t)glyphPacker.side * glyphPacker.side;
    uint64_t freed = 0;
    for (int32_t p = 0; p < glyphPages.count; p++) {
        if (!glyphPages[p] || glyphPageDrawn[p] != oldest)
            continue;
        GLuint name = glyphPages[p];
        glDeleteTextures(1, &name);
        glyphPages[p] = 0;
        glyphPacker.releasePage(p);
        VIEW_iBudgetRelease(pageBytes);
        freed += pageBytes;
    }
    const int32_t removed = glyphTextures.removeIf([&](const VIEW_GlyphKey&, const VIEW_GlyphTexture& g) {
        if (g.packed)
            return g.page >= 0 && g.page < glyphPages.count && glyphPages[g.page] == 0;
        if (g.lastDrawn != oldest)
            return false;
        if (g.glName) {
            GLuint name = g.glName;
            glDeleteTextures(1, &name);
            VIEW_iBudgetRelease(g.byteSize);
            freed += g.byteSize;
        }
        return true;
    });
    freed += (uint64_t)removed * sizeof(GlyphEntry);
    glyphCacheBytes = glyphCacheBytes > freed ? glyphCacheBytes - freed : 0;
    return true;
}

void VIEW_OpenGL::trimGlyphCache(uint64_t room)
{
    const uint64_t share = glyphCacheShare();
    while (glyphCacheBytes + room > share && evictOldestGlyphs()) {
    }
}

VIEW_GlyphTexture* VIEW_OpenGL::findGlyph(VIEW_Font* font, uint32_t code)
{
    if (!font || !font->face || !font->face->size)
        return nullptr;
    FT_Face face = font->face;
    VIEW_GlyphKey key = {font->instanceId, code, (uint32_t)face->size->metrics.x_scale};
    if (VIEW_GlyphTexture* g = glyphTextures.find(key)) {
        g->lastDrawn = glyphFrame;
        if (g->packed && g->page >= 0 && g->page < glyphPageDrawn.count)
            glyphPageDrawn[g->page] = glyphFrame;
        return g;
    }
    FT_UInt index = FT_Get_Char_Index(face, code);
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER) != 0)
        return nullptr;
    FT_GlyphSlot slot = face->glyph;
    trimGlyphCache(sizeof(GlyphEntry));
    VIEW_GlyphTexture* g = glyphTextures.insert(key);
    if (!g)
        return nullptr;
    glyphCacheBytes += sizeof(GlyphEntry);
    g->width = (int32_t)slot->bitmap.width;
    g->rows = (int32_t)slot->bitmap.rows;
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->advance = (double)slot->linearHoriAdvance / 65536.0;
    g->glyphIndex = index;
    g->glName = 0;
    g->byteSize = 0;
    g->packed = 0;
    g->page = -1;
    g->lastDrawn = glyphFrame;
    g->s0 = g->t0 = 0;
    g->sExtent = g->tExtent = 0;
    if (g->width == 0 || g->rows == 0)
        return g;

    // Only 8-bit coverage goes up as it is; other bitmap kinds (one-bit,
    // bottom-up) are converted first.
    const FT_Bitmap* bitmap = &slot->bitmap;
    FT_Bitmap converted;
    FT_Bitmap_Init(&converted);
    bool usedConverted = false;
    if (bitmap->pixel_mode != FT_PIXEL_MODE_GRAY || bitmap->pitch < 0) {
        if (FT_Bitmap_Convert(VIEW_iFreeTypeLibrary(), bitmap, &converted, 1) != 0) {
            FT_Bitmap_Done(VIEW_iFreeTypeLibrary(), &converted);
            return g;
        }
        // Converted levels run 0 .. num_grays - 1; stretch them to 0 .. 255.
        int grays = converted.num_grays > 1 ? converted.num_grays : 2;
        if (grays != 256) {
            for (unsigned y = 0; y < converted.rows; y++)
                for (unsigned x = 0; x < converted.width; x++) {
                    unsigned char& v = converted.buffer[y * (unsigned)converted.pitch + x];
                    v = (unsigned char)(v * 255 / (grays - 1));
                }
        }
        bitmap = &converted;
        usedConverted = true;
    }
    VIEW_Image pixels;
    uint32_t usedW = 0, usedH = 0;
    const uint64_t refusedBefore = VIEW_iBudgetRefusals();
    bool ok = VIEW_iGlyphTexturePixels(bitmap->buffer, bitmap->pitch, (int32_t)bitmap->width, (int32_t)bitmap->rows,
                                       maxTextureSize, &pixels, &usedW, &usedH);
    if (usedConverted)
        FT_Bitmap_Done(VIEW_iFreeTypeLibrary(), &converted);
    // A glyph the budget refuses is not drawn (its record says so until it
    // is evicted or the cache is reset).
    auto refused = [&]() {
        if (VIEW_iBudgetRefusals() != refusedBefore)
            CTRL_iDebugLog("Font %s: glyph %u over the media budget; not drawn", font->name ? font->name : "",
                           code);
        return g;
    };
    if (!ok)
        return refused();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (glyphPacker.side == 0)
        glyphPacker.reset(maxTextureSize > 0 && maxTextureSize < kGlyphPageSide ? (uint32_t)maxTextureSize
                                                                                : (uint32_t)kGlyphPageSide);
    const int32_t side = (int32_t)glyphPacker.side;
    const uint64_t pageBytes = (uint64_t)side * side;
    const bool fitsPage = (int32_t)usedW <= side / 4 && (int32_t)usedH <= side / 4;
    // Room for what this glyph may add: a fresh page, or its own texture.
    trimGlyphCache(fitsPage ? pageBytes : (uint64_t)pixels.width * pixels.height);
    int32_t page = -1;
    uint32_t px = 0, py = 0;
    bool opened = false;
    if (fitsPage && glyphPacker.place(usedW, usedH, &page, &px, &py, &opened)) {
        if (opened) {
            // A fresh page is all zero coverage.
            VIEW_Image blank;
            if (!VIEW_iBudgetReserve(pageBytes)) {
                glyphPacker.dropOpenedPage();
                return refused();
            }
            bool made = blank.allocate((uint32_t)side, (uint32_t)side, 1);
            if (made)
                std::memset(blank.pixels, 0, (size_t)side * (size_t)side);
            GLuint name = made ? newGlyphTexture(side, side, blank.pixels) : 0;
            bool kept = name != 0;
            if (kept && page < glyphPages.count) {
                glyphPages[page] = name;
                glyphPageDrawn[page] = glyphFrame;
            } else if (kept) {
                kept = page == glyphPages.count && glyphPages.append(name);
                if (kept && !glyphPageDrawn.append(glyphFrame)) {
                    glyphPages.resize(glyphPages.count - 1);
                    kept = false;
                }
            }
            if (!kept) {
                // Not opened after all: the next glyph tries a new page again.
                if (name)
                    glDeleteTextures(1, &name);
                VIEW_iBudgetRelease(pageBytes);
                glyphPacker.dropOpenedPage();
                return refused();
            }
            glyphCacheBytes += pageBytes;
        }
        // The used part of the glyph's pixels goes into its place.
        glBindTexture(GL_TEXTURE_2D, glyphPages[page]);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, (GLint)pixels.width);
        glTexSubImage2D(GL_TEXTURE_2D, 0, (GLint)px, (GLint)py, (GLsizei)usedW, (GLsizei)usedH, GL_ALPHA,
                        GL_UNSIGNED_BYTE, pixels.pixels);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        g->glName = glyphPages[page];
        g->packed = 1;
        g->page = page;
        glyphPageDrawn[page] = glyphFrame;
        g->s0 = (double)px / side;
        g->t0 = (double)py / side;
        g->sExtent = (double)usedW / side;
        g->tExtent = (double)usedH / side;
        g->byteSize = usedW * usedH;
        return g;
    }
    const uint64_t ownBytes = (uint64_t)pixels.width * pixels.height;
    if (!VIEW_iBudgetReserve(ownBytes))
        return refused();
    g->glName = newGlyphTexture((GLsizei)pixels.width, (GLsizei)pixels.height, pixels.pixels);
    g->sExtent = (double)usedW / pixels.width;
    g->tExtent = (double)usedH / pixels.height;
    g->byteSize = (uint32_t)ownBytes;
    glyphCacheBytes += ownBytes;
    return g;
}
