// Geometry of the 2-D overlay pass, kept free of GL so that it can be
// checked without a context: the camera set-up matrices, the image quad and
// the pen walk that places a text's glyph quads.
#pragma once

#include <cstdint>

#include "math/MDL_Frame.h"
#include "math/m44.h"

struct FT_FaceRec_;
struct VIEW_GlyphTexture;

// Perspective projection of a camera whose horizontal view has cotangent c
// of its half angle, for a width x height pixel rectangle.
void VIEW_iPerspective(m44& out, double c, double nearClip, double farClip, double width, double height);
// Pixel projection of the overlays: (0, 0) top left, y downwards.
void VIEW_iOverlayProjection(m44& out, double width, double height);

// The two triangles of an image overlay: corner p0 (rounded to whole
// pixels), edges along the global X and Y axes, Y scaled by the aspect ratio.
void VIEW_iImageQuad(const MDL_Frame& global, double width, double aspect, v2 out[6]);
// Texture coordinates matching VIEW_iImageQuad (the picture's top at t = 1).
extern const v2 VIEW_imageQuadUvs[6];

// One placed glyph: the quad's four corners (top left, top right, bottom
// right, bottom left) and the glyph it shows.
struct VIEW_PlacedGlyph {
    v2 corner[4];
    const VIEW_GlyphTexture* glyph;
};

// Walks a UTF-8 text for drawing: origin o (pixels), axes X and Y (global,
// not normalised), viewport width w in pixels, text size, tab size. The face
// gives the line height and kerning (it may be null: no kerning, no line
// advance). lookup answers the glyph record of a code point (null: skip);
// place receives every glyph with a bitmap. A tab size of 0 or below, or a
// space without advance, makes tabs do nothing. scale: how much larger the
// text is drawn than its glyphs were rasterised (their metrics, kerning and
// quads are scaled by it).
struct VIEW_TextWalk {
    v2 origin, X, Y;
    double viewportWidth, size;
    int32_t tabSize;
    FT_FaceRec_* face;
    const VIEW_GlyphTexture* (*lookup)(void* context, uint32_t code);
    void (*place)(void* context, const VIEW_PlacedGlyph& glyph);
    void* context;
    double scale = 1.0;
};
void VIEW_iWalkText(const VIEW_TextWalk& walk, const char* text);
