#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <tinyxml.h>

#include "SG_ImageWrite.h"
#include "media/VIEW_Texture.h"

namespace {

struct Probe {
    uint32_t w, h;
    uint8_t transparent;
};

Probe probe(const std::vector<uint8_t>& bytes)
{
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
    VIEW_Texture t("p", copy, uint32_t(bytes.size()), 1);
    return {t.width, t.height, t.transparent};
}

std::vector<uint8_t> png(int colorType, bool trns)
{
    SG_PngSpec s;
    s.width = 300;
    s.height = 200;
    s.colorType = colorType;
    int ch = colorType == 2 ? 3 : colorType == 6 ? 4 : 1;
    s.samples.assign(size_t(300) * 200 * ch, 0);
    s.trnsColor = trns;
    return SG_iEncodePng(s);
}

}  // namespace

TEST(TextureProbe, HeaderFacts)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Probe want;
    } cases[] = {
        {"RGB PNG", png(2, false), {300, 200, 0}},
        {"RGB PNG with tRNS", png(2, true), {300, 200, 1}},
        {"RGBA PNG", png(6, false), {300, 200, 1}},
        {"baseline JPEG", SG_iEncodeJpeg(40, 24, 3, SG_iPattern(40, 24, 3)), {40, 24, 0}},
        {"progressive JPEG (no SOF0)", SG_iEncodeJpeg(40, 24, 3, SG_iPattern(40, 24, 3), 90, true), {0, 0, 0}},
        {"garbage", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 0, 0}},
        {"empty", {}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        Probe p = probe(c.bytes);
        EXPECT_EQ(p.w, c.want.w) << c.what;
        EXPECT_EQ(p.h, c.want.h) << c.what;
        EXPECT_EQ(p.transparent, c.want.transparent) << c.what;
    }
}

// Every prefix of a PNG and a JPEG, and chunk or segment lengths that point
// far past the data: the walks stay inside the bytes and end.
TEST(TextureProbe, TruncatedAndHugeLengthsStayInside)
{
    for (const std::vector<uint8_t>& full : {png(6, false), SG_iEncodeJpeg(16, 16, 1, SG_iPattern(16, 16, 1))}) {
        for (size_t n = 0; n <= full.size(); n++) probe(std::vector<uint8_t>(full.begin(), full.begin() + n));
        std::vector<uint8_t> bad = full;
        if (bad[0] == 137) {
            bad[8] = bad[9] = 0x7f;  // IHDR length near 2^31
        } else {
            bad[4] = bad[5] = 0xff;  // APP0 length 65535
        }
        probe(bad);
        // A chunk of length 0xFFFFFFF4 would wrap a 32-bit position back to the start.
        std::vector<uint8_t> wrap = png(2, false);
        size_t second = 8 + 25;
        wrap[second] = 0xff, wrap[second + 1] = 0xff, wrap[second + 2] = 0xff, wrap[second + 3] = 0xf4;
        probe(wrap);
    }
}

TEST(TextureRead, SceneElement)
{
    struct Case {
        const char* xml;
        uint32_t size;
        uint32_t filter;
    } cases[] = {
        {"<texture name=\"a\" size=\"3\" filter=\"linear\">0a B0c0d</texture>", 3, FILTER_LINEAR},
        {"<texture name=\"a\" size=\"2\" filter=\"nearest_point\">ff</texture>", 1, FILTER_NEAREST_POINT},
        {"<texture name=\"a\" size=\"x\" filter=\"MIPMAP\">ff</texture>", 0, FILTER_DEFAULT},
        {"<texture name=\"a\" size=\"1\" filter=\"mipmap\"/>", 0, FILTER_MIPMAP},
    };
    for (const auto& c : cases) {
        TiXmlDocument doc;
        doc.Parse(c.xml);
        VIEW_Texture t;
        EXPECT_TRUE(t.read(doc.FirstChildElement("texture")));
        EXPECT_STREQ(t.name, "a");
        EXPECT_EQ(t.dataSize, c.size) << c.xml;
        EXPECT_EQ(t.filter, c.filter) << c.xml;
        if (c.size == 3) {
            EXPECT_EQ(t.data[0], 0x0a);
            EXPECT_EQ(t.data[1], 0x0c);  // "B" is skipped: upper case is no hex digit
        }
    }
    VIEW_Texture a, b;
    EXPECT_EQ(b.instanceId, a.instanceId + 1);
}
