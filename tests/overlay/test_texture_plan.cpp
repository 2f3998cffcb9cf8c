#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/VIEW_TexturePlan.h"

namespace {

void fill(VIEW_Image& img, uint32_t w, uint32_t h, uint32_t c, const std::vector<uint8_t>& px)
{
    ASSERT_TRUE(img.allocate(w, h, c));
    ASSERT_EQ(px.size(), (size_t)w * h * c);
    std::memcpy(img.pixels, px.data(), px.size());
}

std::vector<uint8_t> pixels(const VIEW_Image& img)
{
    return std::vector<uint8_t>(img.pixels, img.pixels + (size_t)img.width * img.height * img.channels);
}

}  // namespace

TEST(TexturePlan, Sides)
{
    struct Case {
        uint32_t side;
        int32_t max;
        uint32_t want;
    } cases[] = {{0, 4096, 1}, {1, 4096, 1}, {2, 4096, 2}, {3, 4096, 4},   {200, 4096, 256},
                 {300, 4096, 512}, {4096, 4096, 4096}, {5000, 4096, 4096}, {5000, 0, 8192}};
    for (const Case& c : cases)
        EXPECT_EQ(VIEW_iTextureSide(c.side, c.max), c.want) << c.side << " max " << c.max;
}

TEST(TexturePlan, FitGrowsToPowersOfTwoAndShrinksOversizedSides)
{
    struct Case {
        uint32_t w, h;
        int32_t max;
        uint32_t W, H;
    } cases[] = {{300, 200, 4096, 512, 256}, {5000, 10, 4096, 4096, 16}, {64, 64, 4096, 64, 64}, {1, 1, 64, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        VIEW_Image img;
        ASSERT_TRUE(img.allocate(c.w, c.h, 3));
        std::memset(img.pixels, 77, (size_t)c.w * c.h * 3);
        ASSERT_TRUE(VIEW_iFitImageToTexture(&img, c.max));
        EXPECT_EQ(img.width, c.W);
        EXPECT_EQ(img.height, c.H);
        // A flat picture stays flat through any resampling.
        EXPECT_EQ(img.pixels[0], 77);
        EXPECT_EQ(img.pixels[(size_t)c.W * c.H * 3 - 1], 77);
    }
    VIEW_Image empty;
    EXPECT_FALSE(VIEW_iFitImageToTexture(&empty, 4096));
}

TEST(TexturePlan, UvRectHitsTexelCentres)
{
    VIEW_UvRect r = VIEW_iTexelCentreRect(300, 200, 512, 256);
    EXPECT_DOUBLE_EQ(r.s0, 0.5 / 512);
    EXPECT_DOUBLE_EQ(r.t0, 0.5 / 256);
    EXPECT_DOUBLE_EQ(r.s1, 299.5 / 512);
    EXPECT_DOUBLE_EQ(r.t1, 199.5 / 256);
}

TEST(TexturePlan, FlipPutsTopRowLast)
{
    VIEW_Image img;
    fill(img, 2, 3, 1, {1, 2, 3, 4, 5, 6});
    VIEW_iFlipRows(&img);
    EXPECT_EQ(pixels(img), (std::vector<uint8_t>{5, 6, 3, 4, 1, 2}));
    VIEW_Image wide;
    ASSERT_TRUE(wide.allocate(300, 2, 4));  // rows longer than the swap buffer
    std::memset(wide.pixels, 1, 1200);
    std::memset(wide.pixels + 1200, 2, 1200);
    VIEW_iFlipRows(&wide);
    EXPECT_EQ(wide.pixels[0], 2);
    EXPECT_EQ(wide.pixels[1199], 2);
    EXPECT_EQ(wide.pixels[1200], 1);
}

TEST(TexturePlan, MipLevelsAreTruncatedMeans)
{
    VIEW_Image img, half;
    // 2 x 2 grey + alpha: means 2 (7 / 4 truncated... ) per channel.
    fill(img, 2, 2, 2, {0, 255, 1, 255, 3, 254, 3, 254});
    ASSERT_TRUE(VIEW_iHalveImage(img, &half));
    EXPECT_EQ(half.width, 1u);
    EXPECT_EQ(half.height, 1u);
    EXPECT_EQ(pixels(half), (std::vector<uint8_t>{1, 254}));

    // A side of length 1 counts its texel twice.
    VIEW_Image row, rowHalf;
    fill(row, 4, 1, 1, {10, 20, 30, 41});
    ASSERT_TRUE(VIEW_iHalveImage(row, &rowHalf));
    EXPECT_EQ(rowHalf.width, 2u);
    EXPECT_EQ(rowHalf.height, 1u);
    EXPECT_EQ(pixels(rowHalf), (std::vector<uint8_t>{15, 35}));

    VIEW_Image one, oneHalf;
    fill(one, 1, 1, 3, {9, 8, 7});
    ASSERT_TRUE(VIEW_iHalveImage(one, &oneHalf));
    EXPECT_EQ(pixels(oneHalf), (std::vector<uint8_t>{9, 8, 7}));

    EXPECT_EQ(VIEW_iMipChainBytes(4, 2, 3), (uint64_t)(24 + 6 + 3));
    EXPECT_EQ(VIEW_iMipChainBytes(1, 1, 4), 4u);
}

TEST(TexturePlan, FrameShrinkLeavesTheFrameAlone)
{
    std::vector<uint8_t> frame(8 * 2 * 3, 50);
    frame[0] = 250;
    std::vector<uint8_t> before = frame;
    VIEW_Image scratch;
    EXPECT_FALSE(VIEW_iShrinkFrame(frame.data(), 8, 2, 3, 8, &scratch));
    EXPECT_EQ(scratch.pixels, nullptr);
    ASSERT_TRUE(VIEW_iShrinkFrame(frame.data(), 8, 2, 3, 4, &scratch));
    EXPECT_EQ(scratch.width, 4u);
    EXPECT_EQ(scratch.height, 2u);
    EXPECT_EQ(frame, before);
}

TEST(TexturePlan, GlyphBitmapPlacedTopLeftOfZeroedTexture)
{
    // 3 x 2 coverage with a pitch of 4 (one padding byte per row).
    const uint8_t bmp[8] = {1, 2, 3, 99, 4, 5, 6, 99};
    VIEW_Image out;
    uint32_t uw = 0, ur = 0;
    ASSERT_TRUE(VIEW_iGlyphTexturePixels(bmp, 4, 3, 2, 4096, &out, &uw, &ur));
    EXPECT_EQ(out.width, 4u);
    EXPECT_EQ(out.height, 2u);
    EXPECT_EQ(out.channels, 1u);
    EXPECT_EQ(pixels(out), (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0}));
    EXPECT_EQ(uw, 3u);
    EXPECT_EQ(ur, 2u);

    // Larger than the texture limit: resampled into it.
    std::vector<uint8_t> big(20 * 3, 200);
    ASSERT_TRUE(VIEW_iGlyphTexturePixels(big.data(), 20, 20, 3, 8, &out, &uw, &ur));
    EXPECT_EQ(out.width, 8u);
    EXPECT_EQ(out.height, 4u);
    EXPECT_EQ(uw, 8u);
    EXPECT_EQ(ur, 3u);
    EXPECT_EQ(out.pixels[0], 200);
    EXPECT_EQ(out.pixels[3 * 8], 0);

    EXPECT_FALSE(VIEW_iGlyphTexturePixels(bmp, 2, 3, 2, 4096, &out, &uw, &ur));  // pitch too short
}

// Glyph atlas pages: every rectangle inside its page, none touching another
// (a gap of one texel right and below), shelves and pages opened in turn,
// and rectangles that cannot fit a page with their gap refused.
TEST(TexturePlan, ShelfPackerKeepsGlyphsApart)
{
    VIEW_ShelfPacker packer;
    packer.reset(64);
    struct Placed {
        int32_t page;
        uint32_t x, y, w, h;
    };
    std::vector<Placed> placed;
    int opened = 0;
    // Mixed sizes, enough for several shelves and pages.
    for (int i = 0; i < 60; i++) {
        uint32_t w = 3 + (uint32_t)(i * 7) % 20, h = 2 + (uint32_t)(i * 5) % 17;
        Placed p{-1, 0, 0, w, h};
        bool isNew = false;
        ASSERT_TRUE(packer.place(w, h, &p.page, &p.x, &p.y, &isNew)) << i;
        opened += isNew;
        EXPECT_LE(p.x + w + 1, 64u) << i;
        EXPECT_LE(p.y + h + 1, 64u) << i;
        for (const Placed& q : placed) {
            if (q.page != p.page)
                continue;
            const bool apart = p.x >= q.x + q.w + 1 || q.x >= p.x + p.w + 1 || p.y >= q.y + q.h + 1 ||
                               q.y >= p.y + p.h + 1;
            EXPECT_TRUE(apart) << "glyph " << i << " touches an earlier one";
        }
        placed.push_back(p);
    }
    EXPECT_GT(opened, 1);
    EXPECT_EQ(opened, placed.back().page + 1);

    // Too large for a page with its gap, or empty: refused, nothing opened.
    const uint32_t refused[][2] = {{64, 1}, {1, 64}, {0, 5}, {5, 0}};
    for (const auto& r : refused) {
        int32_t page = -7;
        uint32_t x = 0, y = 0;
        bool isNew = true;
        EXPECT_FALSE(packer.place(r[0], r[1], &page, &x, &y, &isNew)) << r[0] << " x " << r[1];
        EXPECT_FALSE(isNew);
    }
    // The largest that fits takes a page of its own.
    int32_t page = -1;
    uint32_t x = 9, y = 9;
    bool isNew = false;
    EXPECT_TRUE(packer.place(63, 63, &page, &x, &y, &isNew));
    EXPECT_TRUE(isNew);
    EXPECT_EQ(x, 0u);
    EXPECT_EQ(y, 0u);
}
