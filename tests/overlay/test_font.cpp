#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <string>

#include "media/VIEW_Font.h"
#include "media/VIEW_Texture.h"

namespace {

struct Box {
    double minX, minY, maxX, maxY;
};

Box measure(VIEW_Font& f, const char* text, int32_t tab = 8, double size = 1.0)
{
    double b[4];
    f.measure(text, tab, size, b);
    return {b[0], b[1], b[2], b[3]};
}

}  // namespace

TEST(Font, DefaultNamesSelectCompiledInFont)
{
    ASSERT_GT(VIEW_iDefaultFontSize(), 100000u);
    for (const char* name : {"default", "DEFAULT", "DeFaUlT-bold"}) {
        SCOPED_TRACE(name);
        VIEW_Font f(name, nullptr, 0, 0);
        ASSERT_NE(f.face, nullptr);
        EXPECT_EQ(f.bytes, VIEW_iDefaultFontData());
        EXPECT_STREQ(f.name, name);
        EXPECT_EQ(f.face->units_per_EM, 2048);
        EXPECT_EQ(f.lastSize, -1.0);
        EXPECT_EQ(f.state, 3u);
    }
    VIEW_Font plain("defaul", nullptr, 0, 0);
    EXPECT_EQ(plain.face, nullptr);
    EXPECT_EQ(plain.bytes, nullptr);
}

TEST(Font, InstanceIdsAreDistinct)
{
    VIEW_Font a("default", nullptr, 0, 0);
    VIEW_Texture t("t", nullptr, 0, 0);
    VIEW_Font b("default", nullptr, 0, 0);
    // Fonts and textures draw on one counter: the renderer keys both by it.
    EXPECT_EQ(t.instanceId, a.instanceId + 1);
    EXPECT_EQ(b.instanceId, t.instanceId + 1);
}

// Bytes that are no font leave the font without a face; every use of it
// must then be harmless. Owned bytes are freed (the sanitizer build checks
// there is no leak), borrowed ones are left alone.
TEST(Font, BrokenBytesGiveNoFace)
{
    static const uint8_t junk[16] = {1, 2, 3, 4};
    VIEW_Font borrowed("junk", junk, sizeof junk, 0);
    EXPECT_EQ(borrowed.face, nullptr);
    EXPECT_FALSE(borrowed.setScreenSize(12));
    Box b = measure(borrowed, "abc\tdef\n");
    EXPECT_EQ(b.minX, 0);
    EXPECT_EQ(b.maxX, 0);
    EXPECT_EQ(b.maxY, 0);
    EXPECT_EQ(borrowed.spaceAdvanceUnits(), 0);

    uint8_t* owned = static_cast<uint8_t*>(std::malloc(8));
    std::memset(owned, 0, 8);
    VIEW_Font mine("junk", owned, 8, 1);
    EXPECT_EQ(mine.face, nullptr);
}

TEST(Font, Utf8Decoding)
{
    struct Case {
        const char* text;
        std::vector<int32_t> codes;
    };
    const Case cases[] = {
        {"Ab", {'A', 'b'}},
        {"\xC3\xA9", {0xE9}},
        {"\xE2\x82\xAC", {0x20AC}},
        {"\xF0\x9F\x98\x80", {0x1F600}},
        {"\xFD\xBF\xBF\xBF\xBF\xBF", {0x7FFFFFFF}},
        {"\xFE\x80\x80\x80\x80\x80", {0xFFFD}},
        // Cut short by the terminator: the lead byte is skipped, the rest read.
        {"a\xC3", {'a', -1}},
        {"\xE2\x82", {-1, 0x82}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const char* p = c.text;
        std::vector<int32_t> got;
        for (int32_t v; (v = VIEW_iDecodeUtf8(&p)) != 0;)
            got.push_back(v);
        EXPECT_EQ(got, c.codes);
        EXPECT_EQ(p, c.text + std::strlen(c.text));
    }
}

class FontLayout : public ::testing::Test {
 protected:
    VIEW_Font font{"default", nullptr, 0, 0};
    double scale() const { return 0.8888888888888888 / font.face->units_per_EM; }
};

TEST_F(FontLayout, LineFeedAddsOneLineHeight)
{
    Box one = measure(font, "ab");
    Box two = measure(font, "a\nb");
    EXPECT_DOUBLE_EQ(one.minY, -font.face->ascender * scale());
    EXPECT_DOUBLE_EQ(one.maxY, -font.face->descender * scale());
    EXPECT_DOUBLE_EQ(two.maxY - one.maxY, font.face->height * scale());
    EXPECT_DOUBLE_EQ(two.minY, one.minY);
    EXPECT_LT(two.maxX, one.maxX);
    // Size scales every bound.
    Box big = measure(font, "a\nb", 8, 3.0);
    EXPECT_DOUBLE_EQ(big.maxY, 3.0 * two.maxY);
    EXPECT_DOUBLE_EQ(big.maxX, 3.0 * two.maxX);
}

TEST_F(FontLayout, KerningNarrowsAV)
{
    ASSERT_TRUE(FT_HAS_KERNING(font.face));
    Box a = measure(font, "A");
    Box v = measure(font, "V");
    Box av = measure(font, "AV");
    Box va = measure(font, "A V");
    EXPECT_LT(av.maxX, a.maxX + v.maxX);
    EXPECT_GT(va.maxX, a.maxX + v.maxX);
}

TEST_F(FontLayout, TabsStepToMultiples)
{
    double step = font.spaceAdvanceUnits() * 8 * scale();
    ASSERT_GT(step, 0);
    EXPECT_DOUBLE_EQ(measure(font, "\t").maxX, step);
    // From a multiple the pen moves one whole step.
    EXPECT_DOUBLE_EQ(measure(font, "\t\t").maxX, 2 * step);
    // From inside a step it moves to the next multiple.
    EXPECT_DOUBLE_EQ(measure(font, "i\t").maxX, step);
    EXPECT_DOUBLE_EQ(measure(font, "\t", 2).maxX, step / 4);
    // A tab after a line feed starts from the left edge again.
    EXPECT_DOUBLE_EQ(measure(font, "iiiiiiiiiiiiiiii\n\t").maxX, measure(font, "iiiiiiiiiiiiiiii").maxX);
}

TEST_F(FontLayout, TabWithoutStepIsHarmless)
{
    Box plain = measure(font, "ab");
    for (int32_t tab : {0, -3}) {
        SCOPED_TRACE(tab);
        Box b = measure(font, "a\tb", tab);
        EXPECT_DOUBLE_EQ(b.maxX, plain.maxX);
    }
}

TEST_F(FontLayout, CutSequenceMeasuresTheRest)
{
    Box plain = measure(font, "ab");
    Box cut = measure(font, "ab\xC3");
    EXPECT_DOUBLE_EQ(cut.maxX, plain.maxX);
    EXPECT_DOUBLE_EQ(cut.maxY, plain.maxY);
}

TEST_F(FontLayout, EmptyAndZeroUnitsPerEm)
{
    Box empty = measure(font, "");
    EXPECT_DOUBLE_EQ(empty.minY, 0);
    EXPECT_DOUBLE_EQ(empty.maxX, 0);
    // A face that claims no units per EM measures nothing rather than
    // dividing by zero.
    FT_UShort saved = font.face->units_per_EM;
    font.face->units_per_EM = 0;
    Box b = measure(font, "abc");
    font.face->units_per_EM = saved;
    EXPECT_EQ(b.maxX, 0);
    EXPECT_EQ(b.minY, 0);
}

TEST_F(FontLayout, ScreenSizeIsRemembered)
{
    EXPECT_TRUE(font.setScreenSize(20));
    EXPECT_EQ(font.lastSize, 20);
    FT_Fixed x20 = font.face->size->metrics.x_scale;
    EXPECT_TRUE(font.setScreenSize(40));
    EXPECT_NE(font.face->size->metrics.x_scale, x20);
    // Tiny sizes are held at the smallest nominal size.
    EXPECT_TRUE(font.setScreenSize(0.0));
    EXPECT_EQ(font.lastSize, 0.0);
}
