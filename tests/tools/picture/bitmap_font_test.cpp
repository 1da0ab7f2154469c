#include "tools/picture/bitmap_font.h"

#include <gtest/gtest.h>

#include "print_picture.h"

using namespace Vorn::Picture;

namespace {

constexpr Rgb kInk{255, 255, 255};

// Whether the glyph's bit at (col, row) is set.
bool Lit(char c, int col, int row) {
    return (BitmapFont::GlyphFor(c)[row] & (0x10 >> col)) != 0;
}

}  // namespace

TEST(BitmapFont, EveryCharacterTheLabelsNeedHasItsOwnGlyph) {
    const std::string_view needed = "0123456789-.";
    for (std::size_t i = 0; i < needed.size(); ++i) {
        EXPECT_NE(BitmapFont::GlyphFor(needed[i]), BitmapFont::GlyphFor('#')) << needed[i];
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(BitmapFont::GlyphFor(needed[i]), BitmapFont::GlyphFor(needed[j]))
                << needed[i] << " looks like " << needed[j];
    }
    EXPECT_EQ(BitmapFont::GlyphFor('k'), BitmapFont::GlyphFor('K'));
    EXPECT_NE(BitmapFont::GlyphFor('K'), BitmapFont::GlyphFor('#'));
}

TEST(BitmapFont, DrawsGlyphsScaledAndSideBySide) {
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE(scale);
        RgbImage picture(40 * scale, 12 * scale);
        picture.Fill({0, 0, 0});
        const int x0 = 2 * scale;
        const int y0 = 3 * scale;
        BitmapFont::DrawText(picture, x0, y0, "40.7", kInk, scale);
        EXPECT_EQ(BitmapFont::TextWidth("40.7", scale), (4 * 6 - 1) * scale);
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                const int col = (x - x0) / scale;
                const int row = (y - y0) / scale;
                bool lit = false;
                if (x >= x0 && y >= y0 && row < BitmapFont::kGlyphHeight) {
                    const int index = col / BitmapFont::kAdvance;
                    const int inGlyph = col % BitmapFont::kAdvance;
                    lit = index < 4 && inGlyph < BitmapFont::kGlyphWidth &&
                          Lit("40.7"[index], inGlyph, row);
                }
                ASSERT_EQ(picture.At(x, y), lit ? kInk : Rgb{}) << x << "," << y;
            }
        }
    }
}

TEST(BitmapFont, TextIsClippedAtThePictureEdges) {
    // Drawn partly off a small picture, the text shows exactly the part a large picture would
    // show in that window.
    RgbImage large(80, 30);
    large.Fill({0, 0, 0});
    BitmapFont::DrawText(large, 0, 0, "-12.5", kInk, 2);
    RgbImage small(9, 6);
    small.Fill({0, 0, 0});
    BitmapFont::DrawText(small, -5, -3, "-12.5", kInk, 2);
    for (int y = 0; y < small.Height(); ++y)
        for (int x = 0; x < small.Width(); ++x)
            ASSERT_EQ(small.At(x, y), large.At(x + 5, y + 3)) << x << "," << y;
    BitmapFont::DrawText(small, 1000, 1000, "8", kInk, 1);
    BitmapFont::DrawText(small, -1000, -1000, "8", kInk, 1);
}
