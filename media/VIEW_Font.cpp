#include "media/VIEW_Font.h"

#include "media/VIEW_Texture.h"
#include "base/LMP_ProxyLink.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdlib>
#include <cstring>

FT_LibraryRec_* VIEW_iFreeTypeLibrary()
{
    static FT_Library library = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
    }
    return library;
}

int32_t VIEW_iDecodeUtf8(const char** p)
{
    static const uint32_t offsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                        0x03C82080u, 0xFA082080u, 0x82082080u};
    const unsigned char* s = reinterpret_cast<const unsigned char*>(*p);
    unsigned char lead = s[0];
    if (lead == 0)
        return 0;
    int extra = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF8 ? 3 : lead < 0xFC ? 4 : 5;
    // Never read past the terminator: a cut sequence drops its lead byte.
    for (int i = 1; i <= extra; i++) {
        if (s[i] == 0) {
            *p += 1;
            return -1;
        }
    }
    uint32_t ch = 0;
    for (int i = 0; i <= extra; i++) {
        ch += s[i];
        if (i < extra)
            ch <<= 6;
    }
    ch -= offsets[extra];
    *p += extra + 1;
    if (ch > 0x7FFFFFFFu)
        return 0xFFFD;
    return (int32_t)ch;
}

static bool startsWithDefault(const char* name)
{
    static const char word[] = "default";
    if (!name)
        return false;
    for (int i = 0; i < 7; i++) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

VIEW_Font::VIEW_Font(const char* fontName, const uint8_t* data, uint32_t size, uint8_t ownsBytes)
{
    if (fontName) {
        size_t n = std::strlen(fontName);
        name = static_cast<char*>(std::malloc(n + 1));
        if (name)
            std::memcpy(name, fontName, n + 1);
    }
    bytes = data;
    byteCount = size;
    flag = ownsBytes;
    instanceId = VIEW_iTakeInstanceId();
    if (startsWithDefault(fontName)) {
        // The compiled-in font replaces whatever bytes came with the name.
        if (flag && bytes)
            std::free(const_cast<uint8_t*>(bytes));
        bytes = VIEW_iDefaultFontData();
        byteCount = VIEW_iDefaultFontSize();
        flag = 0;
    }
    FT_Library library = VIEW_iFreeTypeLibrary();
    if (bytes && byteCount > 0 && library) {
        FT_Open_Args args;
        std::memset(&args, 0, sizeof args);
        args.flags = FT_OPEN_MEMORY;
        args.memory_base = bytes;
        args.memory_size = (FT_Long)byteCount;
        FT_Face f = nullptr;
        if (FT_Open_Face(library, &args, 0, &f) == 0 && f) {
            face = f;
            FT_Select_Charmap(face, FT_ENCODING_UNICODE);
        }
    }
}

VIEW_Font::~VIEW_Font()
{
    LMP_iReleaseProxy(&proxy);
    if (face)
        FT_Done_Face(face);
    face = nullptr;
    if (flag && bytes && bytes != VIEW_iDefaultFontData())
        std::free(const_cast<uint8_t*>(bytes));
    bytes = nullptr;
    std::free(name);
    name = nullptr;
}

bool VIEW_Font::setScreenSize(double s)
{
    if (!face)
        return false;
    if (s == lastSize)
        return true;
    double scaled = std::trunc(s * 4096.0);
    // Keep the request inside what 26.6 fixed point can hold.
    if (!(scaled > 64.0))
        scaled = 64.0;
    if (scaled > 2147483647.0)
        scaled = 2147483647.0;
    FT_Size_RequestRec req;
    std::memset(&req, 0, sizeof req);
    req.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
    req.width = (FT_Long)scaled;
    req.height = (FT_Long)scaled;
    req.horiResolution = 1;
    req.vertResolution = 1;
    FT_Request_Size(face, &req);
    lastSize = s;
    return true;
}

static const FT_Int32 kMeasureFlags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;  // 11

double VIEW_Font::spaceAdvanceUnits()
{
    if (!face)
        return 0;
    FT_UInt g = FT_Get_Char_Index(face, 32);
    if (g == 0 || FT_Load_Glyph(face, g, kMeasureFlags) != 0)
        return 0;
    return (double)face->glyph->metrics.horiAdvance;
}

static void widen(double b[4], double x, double y0, double y1)
{
    if (x < b[0]) b[0] = x;
    if (x > b[2]) b[2] = x;
    if (y0 < b[1]) b[1] = y0;
    if (y1 > b[3]) b[3] = y1;
}

void VIEW_Font::measure(const char* text, int32_t tabSize, double size, double bounds[4])
{
    bounds[0] = bounds[1] = bounds[2] = bounds[3] = 0;
    if (!face || !text)
        return;
    const double A = face->ascender;
    const double D = face->descender;
    const double H = face->height;
    const double U = face->units_per_EM;
    const bool kerning = FT_HAS_KERNING(face);
    double penX = 0, penY = 0;
    FT_UInt previous = 0;
    double tabStep = -1;  // measured on the first tab
    const char* p = text;
    for (;;) {
        int32_t c = VIEW_iDecodeUtf8(&p);
        if (c == 0)
            break;
        if (c < 0)
            continue;
        if (c == 10) {
            bounds[0] = std::fmin(bounds[0], penX);
            bounds[2] = std::fmax(bounds[2], penX);
            bounds[1] = std::fmin(bounds[1], penY - A);
            bounds[3] = std::fmax(bounds[3], penY - D);
            penX = 0;
            penY += H;
            previous = 0;
            continue;
        }
        if (c == 9) {
            if (tabStep < 0)
                tabStep = spaceAdvanceUnits() * (double)tabSize;
            // A tab size of 0 or less, or a face without a space, gives no
            // step: the tab then leaves the pen where it is.
            if (tabStep > 0)
                penX = (std::floor(penX / tabStep) + 1.0) * tabStep;
            bounds[0] = std::fmin(bounds[0], penX);
            bounds[2] = std::fmax(bounds[2], penX);
            previous = 0;
            continue;
        }
        FT_UInt g = FT_Get_Char_Index(face, (FT_ULong)c);
        if (FT_Load_Glyph(face, g, kMeasureFlags) != 0)
            continue;
        const FT_Glyph_Metrics m = face->glyph->metrics;
        if (kerning) {
            FT_Vector k = {0, 0};
            if (FT_Get_Kerning(face, previous, g, FT_KERNING_UNSCALED, &k) == 0) {
                penX += (double)k.x;
                penY += (double)k.y;
            }
        }
        double left = penX + (double)m.horiBearingX;
        bounds[0] = std::fmin(bounds[0], left);
        bounds[2] = std::fmax(bounds[2], left + (double)m.width);
        widen(bounds, bounds[0], penY - A, penY - D);
        penX += (double)m.horiAdvance;
        previous = g;
    }
    bounds[0] = std::fmin(bounds[0], penX);
    bounds[2] = std::fmax(bounds[2], penX);
    bounds[1] = std::fmin(bounds[1], penY);
    bounds[3] = std::fmax(bounds[3], penY);
    // A face that claims 0 units per EM cannot be scaled: no extent.
    double s = U > 0 ? 0.8888888888888888 / U * size : 0.0;
    for (int i = 0; i < 4; i++)
        bounds[i] *= s;
}
