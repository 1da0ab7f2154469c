#include "tools/picture/bitmap_font.h"

#include <gtest/gtest.h>

using namespace Vorn::Picture;

namespace {

constexpr Rgb kInk{255, 255, 255};
constexpr BitmapFont::Glyph kQuestionMark = {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04};

}  // namespace

TEST(BitmapFont, EachCharacterTheLabelsNeedHasItsOwnGlyph) {
    const std::string_view needed = "0123456789-.:%/ AZ";
    for (std::size_t i = 0; i < needed.size(); ++i) {
        EXPECT_NE(BitmapFont::GlyphFor(needed[i]), kQuestionMark) << needed[i];
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(BitmapFont::GlyphFor(needed[i]), BitmapFont::GlyphFor(needed[j]))
                << needed[i] << " looks like " << needed[j];
    }
    // Lower case is drawn as upper case; the neighbours of each range are missing.
    EXPECT_EQ(BitmapFont::GlyphFor('a'), BitmapFont::GlyphFor('A'));
    EXPECT_EQ(BitmapFont::GlyphFor('z'), BitmapFont::GlyphFor('Z'));
    for (char missing : {'`', '{', '@', '[', '#', '\x80'})
        EXPECT_EQ(BitmapFont::GlyphFor(missing), kQuestionMark) << int(missing);
}

TEST(BitmapFont, DrawsSetBitsAsScaledSquaresSideBySide) {
    // "-1" at (1, 1), scale 2: each glyph cell is two by two pixels, the one starts at x 13.
    RgbImage picture(24, 18);
    BitmapFont::DrawText(picture, 1, 1, "-1", kInk, 2);
    EXPECT_EQ(BitmapFont::TextWidth("-1", 2), 22);
    EXPECT_EQ(BitmapFont::TextWidth("", 2), 0);
    // Row 7 crosses the minus's bar and the one's stem; row 3 the one's second glyph row.
    for (int x = 0; x < 24; ++x) {
        EXPECT_EQ(picture.At(x, 7), (x >= 1 && x < 11) || (x >= 17 && x < 19) ? kInk : Rgb{}) << x;
        EXPECT_EQ(picture.At(x, 3), x >= 15 && x < 19 ? kInk : Rgb{}) << x;
    }
    EXPECT_EQ(picture.At(1, 6), Rgb{});
    EXPECT_EQ(picture.At(1, 9), Rgb{});
}

TEST(RgbImage, SidesOutsideOneToTheLimitGiveAnEmptyPicture) {
    for (auto [width, height] : {std::pair{0, 3}, {3, 0}, {-1, 3}, {RgbImage::kMaxSide + 1, 1}})
        EXPECT_EQ(RgbImage(width, height).Width() + RgbImage(width, height).Height(), 0)
            << width << "x" << height;
    EXPECT_EQ(RgbImage(RgbImage::kMaxSide, 1).SizeBytes(), 3u * RgbImage::kMaxSide);
    EXPECT_EQ(RgbImage(1, RgbImage::kMaxSide).SizeBytes(), 3u * RgbImage::kMaxSide);
}

TEST(BitmapFont, TextIsClippedAtThePictureEdges) {
    // The minus's bar, drawn from above left, covers the top two rows and nothing more.
    RgbImage picture(4, 4);
    BitmapFont::DrawText(picture, -4, -6, "-", kInk, 2);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(picture.At(x, y), y < 2 ? kInk : Rgb{}) << x << "," << y;
    BitmapFont::DrawText(picture, 1000, 1000, "8", kInk, 1);
    BitmapFont::DrawText(picture, -1000, -1000, "8", kInk, 1);
}
