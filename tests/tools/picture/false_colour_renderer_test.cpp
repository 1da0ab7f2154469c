#include "tools/picture/false_colour_renderer.h"

#include <gtest/gtest.h>

#include "print_picture.h"

#include <string>
#include <vector>

#include "tools/picture/bitmap_font.h"

using namespace Vorn::Picture;

namespace {

// Counts rising from left to right over [from, to].
std::vector<std::uint16_t> HorizontalRamp(int width, int height, int from, int to) {
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>(from + (to - from) * x / (width - 1));
    return pixels;
}

// Whether the number is written at (x, y) at the scale: every pixel of each glyph cell is ink
// where the glyph is set and background where it is not.
void ExpectNumberAt(const RgbImage& picture, int x, int y, const std::string& number, int scale) {
    for (std::size_t i = 0; i < number.size(); ++i) {
        const auto& glyph = BitmapFont::GlyphFor(number[i]);
        const int left = x + static_cast<int>(i) * BitmapFont::kAdvance * scale;
        for (int row = 0; row < BitmapFont::kGlyphHeight * scale; ++row)
            for (int col = 0; col < BitmapFont::kGlyphWidth * scale; ++col) {
                const bool set = glyph[row / scale] & (0x10 >> (col / scale));
                ASSERT_EQ(picture.At(left + col, y + row), set ? kLabelColour : kBackground)
                    << "'" << number[i] << "' of " << number << " at " << col << "," << row;
            }
    }
}

}  // namespace

TEST(PaletteIndex, SpreadsTheRangeOverAllIndicesAndClamps) {
    const CountRange range{1000, 2000};
    EXPECT_EQ(PaletteIndex(0, range), 0);
    EXPECT_EQ(PaletteIndex(1000, range), 0);
    EXPECT_EQ(PaletteIndex(1500, range), 128);  // 127.5 rounds up
    EXPECT_EQ(PaletteIndex(2000, range), 255);
    EXPECT_EQ(PaletteIndex(65535, range), 255);
    int previous = 0;
    for (int count = 1000; count <= 2000; ++count) {
        const int index = PaletteIndex(static_cast<std::uint16_t>(count), range);
        ASSERT_GE(index, previous);
        ASSERT_LE(index - previous, 1);
        previous = index;
    }
    EXPECT_EQ(PaletteIndex(1, {0, 1}), 255);
    EXPECT_EQ(PaletteIndex(65535, {0, 65535}), 255);
    EXPECT_EQ(PaletteIndex(32768, {0, 65535}), 128);
}

TEST(FalseColourRenderer, ColoursEachPixelByItsCount) {
    FalseColourRenderer renderer;
    const auto pixels = HorizontalRamp(64, 16, 900, 2100);
    RenderOptions options;
    options.palette = &Palette::Grey();
    options.range = CountRange{1000, 2000};
    options.colourBar = false;
    ASSERT_TRUE(renderer.Render(64, 16, pixels, options));
    const RgbImage& picture = renderer.Picture();
    ASSERT_EQ(picture.Width(), 64) << "without a bar the picture is the image";
    ASSERT_EQ(picture.Height(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(picture.At(x, y),
                      Palette::Grey()[PaletteIndex(pixels[y * 64 + x], {1000, 2000})]);
    EXPECT_EQ(picture.At(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(picture.At(63, 15), (Rgb{255, 255, 255}));
    EXPECT_EQ(renderer.Range(), (CountRange{1000, 2000}));
}

TEST(FalseColourRenderer, FindsTheRangeFromThePixelsUnlessGivenOne) {
    FalseColourRenderer renderer;
    auto pixels = HorizontalRamp(100, 10, 3000, 3099);
    pixels[0] = 0;      // a dead pixel
    pixels[1] = 65535;  // a hot one
    ASSERT_TRUE(renderer.Render(100, 10, pixels));
    RangeFinder finder;
    EXPECT_EQ(renderer.Range(), finder.Find(pixels));
    EXPECT_GE(renderer.Range().low, 3000);
    EXPECT_LE(renderer.Range().high, 3099);

    RenderOptions flat;
    flat.range = CountRange{5000, 5000};
    ASSERT_TRUE(renderer.Render(100, 10, pixels, flat));
    EXPECT_EQ(renderer.Range(), (CountRange{5000, 5001}));
}

TEST(FalseColourRenderer, PutsTheBarRightOfTheImageHottestAtTheTop) {
    FalseColourRenderer renderer;
    const auto pixels = HorizontalRamp(160, 120, 100, 200);
    ASSERT_TRUE(renderer.Render(160, 120, pixels));
    const RgbImage& picture = renderer.Picture();
    const ColourBarLayout& layout = renderer.Layout();
    const Palette& iron = Palette::Iron();
    ASSERT_EQ(picture.Width(), layout.pictureWidth);
    ASSERT_EQ(picture.Height(), 120);
    ASSERT_GT(layout.barX - 1, 160);
    ASSERT_LT(layout.labelX + BitmapFont::TextWidth("65535", 1), picture.Width());
    EXPECT_EQ(layout.scale, 1);

    // A gap of background between image and bar.
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 160; x < layout.barX - 1; ++x) ASSERT_EQ(picture.At(x, y), kBackground);
    // The frame, then the gradient from 255 at the top to 0 at the bottom, never cooling upwards.
    EXPECT_EQ(picture.At(layout.barX - 1, layout.barTop), kBarFrameColour);
    EXPECT_EQ(picture.At(layout.barX + layout.barWidth, layout.barBottom), kBarFrameColour);
    EXPECT_EQ(picture.At(layout.barX, layout.barTop - 1), kBarFrameColour);
    EXPECT_EQ(picture.At(layout.barX, layout.barBottom + 1), kBarFrameColour);
    for (int x = layout.barX; x < layout.barX + layout.barWidth; ++x) {
        EXPECT_EQ(picture.At(x, layout.barTop), iron[255]);
        EXPECT_EQ(picture.At(x, layout.barBottom), iron[0]);
    }
    auto brightness = [](Rgb c) { return 299 * c.r + 587 * c.g + 114 * c.b; };
    for (int y = layout.barTop + 1; y <= layout.barBottom; ++y)
        ASSERT_LE(brightness(picture.At(layout.barX, y)),
                  brightness(picture.At(layout.barX, y - 1)));
}

TEST(FalseColourRenderer, WritesTheLimitsBesideTheBarEnds) {
    FalseColourRenderer renderer;
    const std::vector<std::uint16_t> pixels(80 * 60, 7);
    RenderOptions options;
    options.range = CountRange{987, 43210};
    ASSERT_TRUE(renderer.Render(80, 60, pixels, options));
    const ColourBarLayout& layout = renderer.Layout();
    const int textHeight = BitmapFont::TextHeight(layout.scale);
    // Level with the ends: the bar's end rows run through the labels.
    EXPECT_LE(layout.upperLabelY, layout.barTop);
    EXPECT_GT(layout.upperLabelY + textHeight, layout.barTop);
    EXPECT_LE(layout.lowerLabelY, layout.barBottom);
    EXPECT_GT(layout.lowerLabelY + textHeight, layout.barBottom);
    ExpectNumberAt(renderer.Picture(), layout.labelX, layout.upperLabelY, "43210", 1);
    ExpectNumberAt(renderer.Picture(), layout.labelX, layout.lowerLabelY, "987", 1);
}

TEST(FalseColourRenderer, WideImagesGetTextAtTwiceTheSize) {
    FalseColourRenderer renderer;
    const auto pixels = HorizontalRamp(640, 480, 20000, 30000);
    RenderOptions options;
    options.range = CountRange{20000, 30000};
    ASSERT_TRUE(renderer.Render(640, 480, pixels, options));
    const ColourBarLayout& layout = renderer.Layout();
    EXPECT_EQ(layout.scale, 2);
    EXPECT_EQ(layout, LayOutColourBar(640, 480));
    EXPECT_LT(layout.labelX + BitmapFont::TextWidth("65535", 2), renderer.Picture().Width());
    ExpectNumberAt(renderer.Picture(), layout.labelX, layout.upperLabelY, "30000", 2);
    ExpectNumberAt(renderer.Picture(), layout.labelX, layout.lowerLabelY, "20000", 2);
}

TEST(FalseColourRenderer, ShortImagesGetATallerPictureForTheBar) {
    FalseColourRenderer renderer;
    const std::vector<std::uint16_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(renderer.Render(4, 2, pixels));
    const ColourBarLayout& layout = renderer.Layout();
    const RgbImage& picture = renderer.Picture();
    EXPECT_GT(picture.Height(), 2);
    EXPECT_GE(layout.barBottom - layout.barTop + 1, 32) << "rows in the bar";
    EXPECT_GE(layout.upperLabelY, 0);
    EXPECT_LE(layout.lowerLabelY + BitmapFont::TextHeight(1), picture.Height());
    for (int y = 2; y < picture.Height(); ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(picture.At(x, y), kBackground);
}

TEST(FalseColourRenderer, FramesOfOneSizeReuseThePicture) {
    FalseColourRenderer renderer;
    ASSERT_TRUE(renderer.Render(64, 48, HorizontalRamp(64, 48, 0, 500)));
    const std::uint8_t* buffer = renderer.Picture().Data();
    const auto next = HorizontalRamp(64, 48, 100, 900);
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(renderer.Render(64, 48, next));
        EXPECT_EQ(renderer.Picture().Data(), buffer);
    }
}

TEST(FalseColourRenderer, RefusesBadInputAndKeepsThePreviousPicture) {
    FalseColourRenderer renderer;
    const auto pixels = HorizontalRamp(10, 10, 0, 100);
    ASSERT_TRUE(renderer.Render(10, 10, pixels));
    const CountRange range = renderer.Range();
    const int width = renderer.Picture().Width();

    EXPECT_FALSE(renderer.Render(0, 10, pixels));
    EXPECT_FALSE(renderer.Render(10, -1, pixels));
    EXPECT_FALSE(renderer.Render(RgbImage::kMaxSide + 1, 1, pixels));
    const PictureStatus tooFew = renderer.Render(11, 10, pixels);
    ASSERT_FALSE(tooFew);
    EXPECT_NE(tooFew.Message().find("110"), std::string::npos) << tooFew.Message();
    RenderOptions reversed;
    reversed.range = CountRange{50, 40};
    EXPECT_FALSE(renderer.Render(10, 10, pixels, reversed));
    // As wide as allowed, the bar would not fit.
    const std::vector<std::uint16_t> row(RgbImage::kMaxSide, 1);
    EXPECT_FALSE(renderer.Render(RgbImage::kMaxSide, 1, row));

    EXPECT_EQ(renderer.Range(), range);
    EXPECT_EQ(renderer.Picture().Width(), width);
}
