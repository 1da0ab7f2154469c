#pragma once
// A 5x7 pixel font built into the code, for the numbers beside a colour bar: digits, minus,
// dot, colon, percent, slash, space and the letters A to Z (lower case drawn as upper case).
#include <array>
#include <cstdint>
#include <string_view>

#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

struct BitmapFont {
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 7;
    static constexpr int kAdvance = kGlyphWidth + 1;  // one column between characters

    // Seven rows, top first; bit 4 is the leftmost column. Characters the font lacks show as
    // a question mark rather than vanishing, so a missing glyph is noticed.
    using Glyph = std::array<std::uint8_t, kGlyphHeight>;
    static const Glyph& GlyphFor(char c);

    // Width in pixels of text at the scale, without a trailing gap; 0 for empty text.
    static int TextWidth(std::string_view text, int scale);
    static int TextHeight(int scale) { return kGlyphHeight * scale; }

    // Draws the set pixels of each glyph as scale x scale squares with the top-left corner of
    // the text at (x, y), clipped to the picture. Background pixels are left alone.
    static void DrawText(RgbImage& picture, int x, int y, std::string_view text, Rgb colour,
                         int scale);
};

}  // namespace Vorn::Picture
