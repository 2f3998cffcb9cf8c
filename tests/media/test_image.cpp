#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "SG_ImageWrite.h"
#include "media/VIEW_Image.h"
#include "package/CTRL_File.h"

namespace {

bool decodePng(VIEW_Image& img, const std::vector<uint8_t>& bytes)
{
    VIEW_ImageSource src{"test.png", bytes.data(), bytes.size()};
    return VIEW_iDecodePng(&img, src);
}

bool decodeJpeg(VIEW_Image& img, const std::vector<uint8_t>& bytes)
{
    VIEW_ImageSource src{"test.jpg", bytes.data(), bytes.size()};
    return VIEW_iDecodeJpeg(&img, src);
}

void appendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body)
{
    uint32_t n = uint32_t(body.size());
    uint8_t len[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    out.insert(out.end(), len, len + 4);
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    uint32_t crc = uint32_t(crc32(0, out.data() + start, uInt(out.size() - start)));
    uint8_t c[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
    out.insert(out.end(), c, c + 4);
}

// A PNG whose IHDR claims the given size, followed by a tiny IDAT and IEND.
std::vector<uint8_t> pngWithHeader(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType)
{
    std::vector<uint8_t> out = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> ihdr = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                                 uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h),
                                 depth, colorType, 0, 0, 0};
    appendChunk(out, "IHDR", ihdr);
    appendChunk(out, "IDAT", {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    appendChunk(out, "IEND", {});
    return out;
}

// Expected 8-bit value of a sample of the given depth after decoding.
uint8_t to8(uint16_t v, int depth)
{
    if (depth == 16) return uint8_t(v >> 8);
    if (depth == 8) return uint8_t(v);
    return uint8_t(v * 255 / ((1 << depth) - 1));
}

}  // namespace

// Every colour type and depth the decoder handles, with and without
// transparency and interlacing: the channel count and every pixel value.
TEST(PngDecode, ColourTypesAndDepths)
{
    struct Case {
        int colorType, depth;
        bool trns, interlace;
        uint32_t channels;
    } cases[] = {
        {0, 1, false, false, 1}, {0, 2, false, false, 1}, {0, 4, false, true, 1},
        {0, 8, false, false, 1}, {0, 16, false, false, 1}, {0, 8, true, false, 2},
        {2, 8, false, false, 3}, {2, 16, false, true, 3},  {2, 8, true, false, 4},
        {3, 1, true, false, 4},  {3, 4, false, false, 3},  {3, 8, true, true, 4},
        {4, 8, false, false, 2}, {4, 16, false, false, 2}, {6, 8, false, true, 4},
        {6, 16, false, false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("colour type " + std::to_string(c.colorType) + " depth " + std::to_string(c.depth));
        SG_PngSpec s;
        s.width = 13;
        s.height = 7;
        s.colorType = c.colorType;
        s.bitDepth = c.depth;
        s.interlace = c.interlace;
        int srcChannels = c.colorType == 0 || c.colorType == 3 ? 1 : c.colorType == 4 ? 2 : c.colorType == 2 ? 3 : 4;
        uint32_t maxv = (1u << c.depth) - 1;
        int paletteSize = c.colorType == 3 ? int(maxv + 1 < 16 ? maxv + 1 : 16) : 0;
        for (uint32_t i = 0; i < s.width * s.height * srcChannels; i++)
            s.samples.push_back(uint16_t(c.colorType == 3 ? (i * 7) % paletteSize : (i * 2654435761u) % (maxv + 1)));
        for (int i = 0; i < paletteSize; i++) {
            s.palette.push_back(uint8_t(i * 16));
            s.palette.push_back(uint8_t(255 - i * 16));
            s.palette.push_back(uint8_t(i * 5));
            if (c.trns) s.trnsAlpha.push_back(uint8_t(i * 17));
        }
        if (c.trns && c.colorType != 3) {
            s.trnsColor = true;
            s.trnsValue[0] = uint16_t(s.samples[0]);
            s.trnsValue[1] = c.colorType == 2 ? s.samples[1] : 0;
            s.trnsValue[2] = c.colorType == 2 ? s.samples[2] : 0;
        }
        std::vector<uint8_t> bytes = SG_iEncodePng(s);
        ASSERT_FALSE(bytes.empty());
        VIEW_Image img;
        ASSERT_TRUE(decodePng(img, bytes));
        EXPECT_EQ(img.width, 13u);
        EXPECT_EQ(img.height, 7u);
        ASSERT_EQ(img.channels, c.channels);
        EXPECT_EQ(img.ownsPixels, 1);
        for (uint32_t p = 0; p < s.width * s.height; p++) {
            const uint8_t* out = img.pixels + p * img.channels;
            if (c.colorType == 3) {
                int idx = s.samples[p];
                EXPECT_EQ(out[0], s.palette[3 * idx]);
                EXPECT_EQ(out[2], s.palette[3 * idx + 2]);
                if (c.trns && idx < int(s.trnsAlpha.size())) {
                    ASSERT_EQ(out[3], s.trnsAlpha[idx]);
                }
            } else {
                for (int k = 0; k < srcChannels; k++)
                    ASSERT_EQ(out[k], to8(s.samples[p * srcChannels + k], c.depth)) << "pixel " << p;
                if (c.trns) {
                    bool key = true;
                    for (int k = 0; k < srcChannels; k++) key = key && s.samples[p * srcChannels + k] == s.trnsValue[k];
                    ASSERT_EQ(out[srcChannels], key ? 0 : 255) << "pixel " << p;
                }
            }
        }
    }
}

TEST(PngDecode, RejectsWithoutMessageWhenSignatureIsWrong)
{
    CTRL_DebugCapture log;
    std::vector<uint8_t> bytes = pngWithHeader(4, 4, 8, 2);
    bytes[1] = 'X';
    VIEW_Image img;
    EXPECT_FALSE(decodePng(img, bytes));
    EXPECT_FALSE(decodePng(img, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5)));
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(img.pixels, nullptr);
}

// Every prefix of a valid file fails cleanly: no read past the buffer, no
// partial picture, and a libpng message in the log.
TEST(PngDecode, TruncatedFilesFailCleanly)
{
    SG_PngSpec s;
    s.width = 40;
    s.height = 30;
    s.colorType = 6;
    for (uint8_t v : SG_iPattern(40, 30, 4)) s.samples.push_back(v);
    std::vector<uint8_t> bytes = SG_iEncodePng(s);
    for (size_t n = 8; n < bytes.size(); n += (n < 100 ? 1 : 37)) {
        CTRL_DebugCapture log;
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
        VIEW_Image img;
        ASSERT_FALSE(decodePng(img, cut)) << n;
        EXPECT_EQ(img.pixels, nullptr);
        EXPECT_EQ(img.ownsPixels, 0);
        EXPECT_NE(log.text().find("Pnglib error: "), std::string::npos) << n;
        EXPECT_NE(log.text().find("(test.png)"), std::string::npos) << n;
    }
}

// Headers asking for huge pictures are refused before any allocation.
TEST(PngDecode, HugeSizesAreRefused)
{
    struct Case { uint32_t w, h; uint8_t depth, type; } cases[] = {
        {100000, 1, 8, 0},       // one side above the cap
        {16384, 16384, 8, 6},    // 1 GiB of pixels
        {65536, 65536, 16, 6},   // w x h x channels wraps 32 bits
    };
    for (const auto& c : cases) {
        CTRL_DebugCapture log;
        VIEW_Image img;
        EXPECT_FALSE(decodePng(img, pngWithHeader(c.w, c.h, c.depth, c.type)));
        EXPECT_EQ(img.pixels, nullptr);
        EXPECT_NE(log.text().find("Pnglib error: "), std::string::npos);
    }
}

TEST(JpegDecode, GreyAndColour)
{
    for (int comps : {1, 3}) {
        for (bool progressive : {false, true}) {
            std::vector<uint8_t> px = SG_iPattern(33, 17, comps);
            std::vector<uint8_t> bytes = SG_iEncodeJpeg(33, 17, comps, px, 100, progressive);
            VIEW_Image img;
            ASSERT_TRUE(decodeJpeg(img, bytes));
            EXPECT_EQ(img.width, 33u);
            EXPECT_EQ(img.height, 17u);
            ASSERT_EQ(img.channels, uint32_t(comps));
            int worst = 0;
            for (size_t i = 0; i < px.size(); i++) worst = std::max(worst, std::abs(int(px[i]) - img.pixels[i]));
            EXPECT_LT(worst, 40);  // lossy, but the same picture
        }
    }
}

TEST(JpegDecode, CmykAndTruncatedFilesFail)
{
    VIEW_Image img;
    EXPECT_FALSE(decodeJpeg(img, SG_iEncodeJpeg(8, 8, 4, SG_iPattern(8, 8, 4))));
    EXPECT_EQ(img.pixels, nullptr);

    std::vector<uint8_t> bytes = SG_iEncodeJpeg(64, 48, 3, SG_iPattern(64, 48, 3));
    for (size_t n = 0; n + 2 < bytes.size(); n += (n < 200 ? 3 : 41)) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
        ASSERT_FALSE(decodeJpeg(img, cut)) << n;
        EXPECT_EQ(img.pixels, nullptr);
    }
    EXPECT_FALSE(decodeJpeg(img, {0xFF, 0xD8, 0xFF}));
}

TEST(Resample, SameSizeLeavesImageUntouched)
{
    VIEW_Image img;
    ASSERT_TRUE(img.allocate(5, 3, 2));
    uint8_t* before = img.pixels;
    EXPECT_TRUE(VIEW_iResizeArea(&img, 5, 3));
    EXPECT_TRUE(VIEW_iResizeBilinear(&img, 5, 3));
    EXPECT_EQ(img.pixels, before);
}

TEST(Resample, AreaWeightsPartialPixels)
{
    VIEW_Image img;
    ASSERT_TRUE(img.allocate(3, 2, 1));
    const uint8_t src[] = {0, 90, 180, 30, 120, 210};
    std::memcpy(img.pixels, src, 6);
    ASSERT_TRUE(VIEW_iResizeArea(&img, 2, 1));
    EXPECT_EQ(img.width, 2u);
    EXPECT_EQ(img.height, 1u);
    // [0, 1.5) x [0, 2): (0 + 30 + (90 + 120) / 2) / 3 = 45; [1.5, 3): 165
    EXPECT_EQ(img.pixels[0], 45);
    EXPECT_EQ(img.pixels[1], 165);
}

TEST(Resample, BilinearIsCornerAligned)
{
    VIEW_Image img;
    ASSERT_TRUE(img.allocate(2, 2, 1));
    const uint8_t src[] = {0, 100, 200, 255};
    std::memcpy(img.pixels, src, 4);
    ASSERT_TRUE(VIEW_iResizeBilinear(&img, 3, 3));
    const uint8_t want[] = {0, 50, 100, 100, 138, 177, 200, 227, 255};
    for (int i = 0; i < 9; i++) EXPECT_EQ(img.pixels[i], want[i]) << i;
}

// One-pixel destination sides, one-pixel sources and large targets: the
// last row and column never read past the picture and the weighted sums do
// not wrap (4095 x 4095 x 255 exceeds 32 bits).
TEST(Resample, BilinearEdgesAndLargeTargets)
{
    VIEW_Image img;
    ASSERT_TRUE(img.allocate(1, 3, 3));
    for (int i = 0; i < 9; i++) img.pixels[i] = uint8_t(10 * i);
    ASSERT_TRUE(VIEW_iResizeBilinear(&img, 1, 5));
    EXPECT_EQ(img.pixels[0], 0);
    EXPECT_EQ(img.pixels[12], 60);

    ASSERT_TRUE(img.allocate(3, 1, 1));
    std::memset(img.pixels, 7, 3);
    ASSERT_TRUE(VIEW_iResizeBilinear(&img, 8, 1));
    for (int i = 0; i < 8; i++) EXPECT_EQ(img.pixels[i], 7);

    ASSERT_TRUE(img.allocate(2, 2, 1));
    std::memset(img.pixels, 255, 4);
    ASSERT_TRUE(VIEW_iResizeBilinear(&img, 4096, 4096));
    size_t off = 0;
    for (size_t i = 0; i < size_t(4096) * 4096; i++) off += img.pixels[i] != 255;
    EXPECT_EQ(off, 0u);
}

TEST(Resample, RefusesEmptyAndOversizedTargets)
{
    VIEW_Image img;
    EXPECT_FALSE(VIEW_iResizeBilinear(&img, 4, 4));
    ASSERT_TRUE(img.allocate(2, 2, 4));
    EXPECT_FALSE(VIEW_iResizeArea(&img, 0, 2));
    EXPECT_FALSE(VIEW_iResizeBilinear(&img, 100000, 2));
    EXPECT_EQ(img.width, 2u);
    EXPECT_NE(img.pixels, nullptr);
}
