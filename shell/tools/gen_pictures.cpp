// Draws the player's own pictures at build time (the About picture), written
// as PNG files that the build links in.
//   gen_pictures about OUT.png
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;
};

void over(Rgba &dst, const Rgba &src, double coverage) {
    double a = src.a * coverage;
    dst.r = src.r * a + dst.r * (1 - a);
    dst.g = src.g * a + dst.g * (1 - a);
    dst.b = src.b * a + dst.b * (1 - a);
    dst.a = a + dst.a * (1 - a);
}

bool write(const char *path, int w, int h, const std::vector<Rgba> &pixels, bool alpha) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    int channels = alpha ? 4 : 3;
    std::vector<unsigned char> bytes(static_cast<size_t>(w) * h * channels);
    for (size_t i = 0; i < pixels.size(); i++) {
        const Rgba &p = pixels[i];
        double v[4] = {p.r, p.g, p.b, p.a};
        for (int c = 0; c < channels; c++)
            bytes[i * channels + c] = static_cast<unsigned char>(std::lround(std::clamp(v[c], 0.0, 1.0) * 255));
    }
    return png_image_write_to_file(&image, path, 0, bytes.data(), 0, nullptr) != 0;
}

// A dusk sky with a low sun over hills.
std::vector<Rgba> about(int w, int h) {
    std::vector<Rgba> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double t = static_cast<double>(y) / h;
            Rgba p{0.15 + 0.75 * t, 0.20 + 0.45 * t, 0.45 + 0.10 * t, 1};
            double d = std::hypot(x - w * 0.62, y - h * 0.58);
            over(p, Rgba{1.0, 0.85, 0.45, 1}, std::clamp(h * 0.12 - d + 0.5, 0.0, 1.0));
            double hill = h * (0.70 + 0.06 * std::sin(x * 0.021) + 0.03 * std::sin(x * 0.057 + 1));
            if (y > hill) p = Rgba{0.12, 0.28 + 0.1 * std::sin(x * 0.01), 0.10, 1};
            px[static_cast<size_t>(y) * w + x] = p;
        }
    return px;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: gen_pictures about OUT.png\n");
        return 2;
    }
    bool ok = false;
    if (strcmp(argv[1], "about") == 0)
        ok = write(argv[2], 440, 400, about(440, 400), false);
    if (!ok) {
        fprintf(stderr, "gen_pictures: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
