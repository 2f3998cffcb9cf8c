#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <vector>

#include "media/VIEW_Font.h"
#include "render/VIEW_OpenGL.h"
#include "render/VIEW_OpenGL2D.h"

namespace {

// Glyph records of a made-up monospaced face: every glyph 10 wide, 12 tall,
// advancing 10 pixels; a space has no bitmap.
struct Fake {
    VIEW_GlyphTexture glyph{1, 1, 1, 10, 12, 1, 9, 10.0, 0, 0, 0, 0, 0};
    VIEW_GlyphTexture space{0, 0, 0, 0, 0, 0, 0, 10.0, 0, 0, 0, 0, 0};
    double spaceAdvance = 10.0;
    std::vector<VIEW_PlacedGlyph> placed;
    FT_Face face = nullptr;  // gives the real glyph indices, for kerning
};

const VIEW_GlyphTexture* lookup(void* c, uint32_t code)
{
    Fake* f = static_cast<Fake*>(c);
    if (code == 32) {
        f->space.advance = f->spaceAdvance;
        return &f->space;
    }
    if (code == '?')
        return nullptr;  // no glyph: skipped
    f->glyph.glyphIndex = f->face ? FT_Get_Char_Index(f->face, code) : code;
    return &f->glyph;
}

void place(void* c, const VIEW_PlacedGlyph& g) { static_cast<Fake*>(c)->placed.push_back(g); }

std::vector<double> walkXs(const char* text, int32_t tab, double spaceAdvance = 10.0, FT_Face face = nullptr,
                           double* firstY = nullptr)
{
    Fake f;
    f.spaceAdvance = spaceAdvance;
    f.face = face;
    VIEW_TextWalk w{{100.5, 50}, {1, 0}, {0, 1}, 200, 0.1, tab, face, &lookup, &place, &f};
    VIEW_iWalkText(w, text);
    std::vector<double> xs;
    for (const VIEW_PlacedGlyph& g : f.placed)
        xs.push_back(g.corner[0].x);
    if (firstY && !f.placed.empty())
        *firstY = f.placed.back().corner[0].y;
    return xs;
}

}  // namespace

TEST(TextWalk, PenAndTabs)
{
    struct Case {
        const char* text;
        int32_t tab;
        std::vector<double> xs;  // left edges: pen + left (1), rounded
    } cases[] = {
        {"ab", 8, {102, 112}},
        {"a?b", 8, {102, 112}},
        {"\ta", 4, {142, 0}},    // from the line start a whole step (40)
        {"a\tb", 4, {102, 142}}, // from 10 to the next multiple
        {"a\t\tb", 2, {102, 142}},
        {"a\tb", 0, {102, 112}}, // no step: the tab does nothing
        {"a\tb", -3, {102, 112}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<double> want = c.xs;
        if (want.size() == 2 && want[1] == 0)
            want.pop_back();
        EXPECT_EQ(walkXs(c.text, c.tab), want);
    }
    // A face without a space advance: tabs do nothing either.
    EXPECT_EQ(walkXs("a\tb", 4, 0.0), (std::vector<double>{102, 112}));
}

TEST(TextWalk, LineFeedAndKerningWithRealFace)
{
    VIEW_Font font("default", nullptr, 0, 0);
    ASSERT_NE(font.face, nullptr);
    ASSERT_TRUE(font.setScreenSize(20));
    double y = 0;
    std::vector<double> xs = walkXs("a\nb", 8, 10.0, font.face, &y);
    ASSERT_EQ(xs.size(), 2u);
    EXPECT_EQ(xs[1], 102);  // back at the left edge
    const double step = 200 * 0.1 * 64.0 * font.face->height / (72.0 * font.face->units_per_EM);
    EXPECT_EQ(y, std::floor(50 + step - 9 + 0.5));

    // The pair A, V is kerned closer; with no previous glyph nothing moves.
    std::vector<double> plain = walkXs("AV", 8);
    std::vector<double> kerned = walkXs("AV", 8, 10.0, font.face);
    ASSERT_EQ(kerned.size(), 2u);
    EXPECT_EQ(kerned[0], plain[0]);
    EXPECT_LT(kerned[1], plain[1]);
    EXPECT_EQ(walkXs("A\nV", 8, 10.0, font.face)[1], plain[0]);

    // A face claiming no units per EM gives no line advance, not a crash.
    FT_UShort saved = font.face->units_per_EM;
    font.face->units_per_EM = 0;
    xs = walkXs("a\nb", 8, 10.0, font.face, &y);
    font.face->units_per_EM = saved;
    EXPECT_EQ(y, 41);
}
