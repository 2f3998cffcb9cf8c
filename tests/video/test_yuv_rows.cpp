// The row converters on every path against the one-pixel formula: every
// (Y, Cb, Cr) triple, and rows of every small width and start column.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/VIEW_Stream.h"
#include "media/VIEW_YuvRows.h"

namespace {

// The paths this processor can take.
std::vector<int> paths()
{
    std::vector<int> p;
    const int was = VIEW_iYuvSteps(VIEW_YUV_AVX2);
    const int best = VIEW_iYuvSteps(was);
    for (int s = VIEW_YUV_PLAIN; s <= best; s++) p.push_back(s);
    return p;
}

struct StepsScope {
    int was;
    explicit StepsScope(int s) : was(VIEW_iYuvSteps(s)) {}
    ~StepsScope() { VIEW_iYuvSteps(was); }
};

TEST(YuvRows, EveryTripleOnEveryPath)
{
    // Row r, pixel j: Y = j % 256; Cr and Cb change from pair to pair (both
    // pixels of a pair share them, as in a half-chroma row) and over the
    // 256 rows meet every (Y, Cb, Cr) once per pixel position class.
    const int64_t n = 65536;
    std::vector<uint8_t> y(n), y1(n), cbFull(n), crFull(n), cbHalf(n / 2), crHalf(n / 2);
    std::vector<uint8_t> expected(3 * n), expected1(3 * n), got(3 * n + 16), got1(3 * n + 16);
    std::vector<uint8_t> seen(1 << 21);
    const std::vector<int> steps = paths();
    for (int r = 0; r < 256; r++) {
        for (int64_t j = 0; j < n; j++) {
            const int h = int(j >> 8), l = int(j & 255);
            y[j] = uint8_t(l);
            crFull[j] = uint8_t(h + (j >> 1));
            cbFull[j] = uint8_t(r + 37 * (j >> 1));
            cbHalf[j >> 1] = cbFull[j];
            crHalf[j >> 1] = crFull[j];
            VIEW_iYCbCrToRgb(y[j], cbFull[j], crFull[j], &expected[3 * j]);
            y1[j] = uint8_t(l ^ 0x5A);  // the second row of a pair
            VIEW_iYCbCrToRgb(y1[j], cbFull[j], crFull[j], &expected1[3 * j]);
            const uint32_t triple = uint32_t(y[j]) << 16 | uint32_t(cbFull[j]) << 8 | crFull[j];
            seen[triple >> 3] |= uint8_t(1 << (triple & 7));
        }
        for (int s : steps) {
            StepsScope scope(s);
            std::memset(got.data(), 0xA5, got.size());
            VIEW_iYuvRowFull(y.data(), cbFull.data(), crFull.data(), n, got.data());
            ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * n), 0) << "full, path " << s << ", row " << r;
            ASSERT_EQ(got[3 * n], 0xA5) << "full, path " << s;  // nothing written past the row
            std::memset(got.data(), 0xA5, got.size());
            VIEW_iYuvRowHalf(y.data(), cbHalf.data(), crHalf.data(), 0, n, got.data());
            ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * n), 0) << "half, path " << s << ", row " << r;
            ASSERT_EQ(got[3 * n], 0xA5) << "half, path " << s;
            std::memset(got.data(), 0xA5, got.size());
            std::memset(got1.data(), 0xA5, got1.size());
            VIEW_iYuvRowPairHalf(y.data(), y1.data(), cbHalf.data(), crHalf.data(), 0, n, got.data(), got1.data());
            ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * n), 0) << "pair, path " << s << ", row " << r;
            ASSERT_EQ(std::memcmp(got1.data(), expected1.data(), 3 * n), 0) << "pair, path " << s << ", row " << r;
            ASSERT_EQ(got[3 * n], 0xA5) << "pair, path " << s;
            ASSERT_EQ(got1[3 * n], 0xA5) << "pair, path " << s;
        }
    }
    for (uint8_t b : seen) ASSERT_EQ(b, 0xFF) << "a triple was not tried";
}

TEST(YuvRows, EveryWidthAndStartColumn)
{
    // Values near the clamps, the bright blue corner among them.
    const uint8_t values[] = {0, 1, 16, 128, 235, 240, 250, 254, 255};
    const int kMax = 70;
    std::vector<uint8_t> y(kMax + 2), y1(kMax + 2), cb(kMax + 2), cr(kMax + 2), expected(3 * kMax),
        expected1(3 * kMax), got(3 * kMax + 8), got1(3 * kMax + 8);
    for (int i = 0; i < kMax + 2; i++) {
        y[i] = values[(i * 5) % 9];
        y1[i] = values[(i * 4 + 2) % 9];
        cb[i] = values[(i * 7 + 3) % 9];
        cr[i] = values[(i * 2 + 1) % 9];
    }
    for (int s : paths()) {
        StepsScope scope(s);
        for (int px = 0; px < 2; px++)
            for (int w = 0; w <= kMax - px; w++) {
                // Half chroma: picture column x is frame column px + x.
                for (int x = 0; x < w; x++) {
                    const int c = (px + x) >> 1;
                    VIEW_iYCbCrToRgb(y[x], cb[c], cr[c], &expected[3 * x]);
                    VIEW_iYCbCrToRgb(y1[x], cb[c], cr[c], &expected1[3 * x]);
                }
                std::memset(got.data(), 0xA5, got.size());
                VIEW_iYuvRowHalf(y.data(), cb.data(), cr.data(), px, w, got.data());
                ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * size_t(w)), 0) << s << " " << px << " " << w;
                ASSERT_EQ(got[3 * w], 0xA5) << s << " " << px << " " << w;
                std::memset(got.data(), 0xA5, got.size());
                std::memset(got1.data(), 0xA5, got1.size());
                VIEW_iYuvRowPairHalf(y.data(), y1.data(), cb.data(), cr.data(), px, w, got.data(), got1.data());
                ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * size_t(w)), 0) << s << " " << px << " " << w;
                ASSERT_EQ(std::memcmp(got1.data(), expected1.data(), 3 * size_t(w)), 0) << s << " " << px << " " << w;
                ASSERT_EQ(got[3 * w], 0xA5) << s << " " << px << " " << w;
                ASSERT_EQ(got1[3 * w], 0xA5) << s << " " << px << " " << w;
                for (int x = 0; x < w; x++) VIEW_iYCbCrToRgb(y[x], cb[x], cr[x], &expected[3 * x]);
                std::memset(got.data(), 0xA5, got.size());
                VIEW_iYuvRowFull(y.data(), cb.data(), cr.data(), w, got.data());
                ASSERT_EQ(std::memcmp(got.data(), expected.data(), 3 * size_t(w)), 0) << s << " " << w;
                ASSERT_EQ(got[3 * w], 0xA5) << s << " " << w;
            }
    }
    // The corner that once read past the clamp table: blue saturates.
    uint8_t rgb[3];
    VIEW_iYCbCrToRgb(255, 255, 128, rgb);
    std::vector<uint8_t> row(3 * 32);
    std::vector<uint8_t> yy(32, 255), cc(32, 255), rr(32, 128);
    for (int s : paths()) {
        StepsScope scope(s);
        VIEW_iYuvRowFull(yy.data(), cc.data(), rr.data(), 32, row.data());
        for (int x = 0; x < 32; x++) EXPECT_EQ(std::memcmp(&row[3 * x], rgb, 3), 0) << s;
    }
    EXPECT_EQ(rgb[2], 255);
}

}  // namespace
