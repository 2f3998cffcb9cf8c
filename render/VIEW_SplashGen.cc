// Build-time generator of the loading screen's picture: the player's name
// set in the default font under a ring, in the loading text's green, on a
// transparent ground. Usage: VIEW_SplashGen font.ttf out.png
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

static const int W = 512, H = 256;
static const unsigned char GREEN[3] = {148, 200, 61};

static void blend(std::vector<unsigned char>& px, int x, int y, double a)
{
    if (x < 0 || y < 0 || x >= W || y >= H || a <= 0)
        return;
    unsigned char* p = &px[(size_t)(y * W + x) * 4];
    double old = p[3] / 255.0;
    double na = a + old * (1 - a);
    p[0] = GREEN[0];
    p[1] = GREEN[1];
    p[2] = GREEN[2];
    p[3] = (unsigned char)std::lround(na * 255);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s font.ttf out.png\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> px((size_t)W * H * 4, 0);
    // A ring above the name, antialiased by its distance to the circle.
    const double cx = W / 2.0, cy = 78, r = 52, half = 7;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            double d = std::fabs(std::hypot(x + 0.5 - cx, y + 0.5 - cy) - r);
            blend(px, x, y, std::fmin(1.0, std::fmax(0.0, half - d + 0.5)));
        }
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face) || FT_Set_Pixel_Sizes(face, 0, 72)) {
        std::fprintf(stderr, "%s: cannot open font %s\n", argv[0], argv[1]);
        return 1;
    }
    const char* name = "Halvorin";
    int width = 0;
    for (const char* c = name; *c; c++)
        if (!FT_Load_Char(face, (unsigned char)*c, FT_LOAD_DEFAULT))
            width += (int)(face->glyph->advance.x >> 6);
    int penX = (W - width) / 2, baseline = 222;
    for (const char* c = name; *c; c++) {
        if (FT_Load_Char(face, (unsigned char)*c, FT_LOAD_RENDER))
            continue;
        FT_Bitmap& b = face->glyph->bitmap;
        for (unsigned y = 0; y < b.rows; y++)
            for (unsigned x = 0; x < b.width; x++)
                blend(px, penX + face->glyph->bitmap_left + (int)x, baseline - face->glyph->bitmap_top + (int)y,
                      b.buffer[y * b.pitch + x] / 255.0);
        penX += (int)(face->glyph->advance.x >> 6);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    FILE* f = std::fopen(argv[2], "wb");
    if (!f)
        return 1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        std::fclose(f);
        return 1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, W, H, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < H; y++)
        png_write_row(png, &px[(size_t)y * W * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return 0;
}
