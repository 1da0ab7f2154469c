#include "tools/picture/false_colour_renderer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

using namespace Vorn::Picture;

TEST(PaletteIndex, SpreadsTheRangeRoundingToNearestAndClamps) {
    struct Row {
        std::uint16_t count;
        CountRange range;
        int index;
    };
    for (auto [count, range, index] : {Row{0, {1000, 2000}, 0},
                                       {1500, {1000, 2000}, 128},
                                       {1250, {1000, 2000}, 64},
                                       {65535, {1000, 2000}, 255},
                                       {1, {0, 1}, 255},
                                       {32768, {0, 65535}, 128}})
        EXPECT_EQ(PaletteIndex(count, range), index) << count;
}

TEST(ColourBar, LayOutScalesItsTextAboveFourHundredColumnsAndKeepsABarOfThirtyTwoRows) {
    EXPECT_EQ(LayOutColourBar(400, 300),
              (ColourBarLayout{1, 459, 300, 409, 12, 8, 291, 426, 5, 288}));
    EXPECT_EQ(LayOutColourBar(401, 300),
              (ColourBarLayout{2, 517, 300, 418, 24, 16, 283, 451, 9, 276}));
    EXPECT_EQ(LayOutColourBar(4, 2), (ColourBarLayout{1, 63, 48, 13, 12, 8, 39, 30, 5, 36}));
}

TEST(FalseColourRenderer, ColoursEachPixelByItsCount) {
    FalseColourRenderer renderer;
    // Two rows, so that a row mix-up shows; counts below, inside and above the range, and one
    // more count than the image needs.
    const std::vector<std::uint16_t> pixels = {900,  1000,  1500, 2000, 2100, 0,
                                               1500, 65535, 1250, 1750, 7};
    RenderOptions options;
    options.palette = &Palette::Grey();
    options.range = CountRange{1000, 2000};
    options.colourBar = false;
    ASSERT_TRUE(renderer.Render(5, 2, pixels, options));
    ASSERT_EQ(renderer.Picture().Width(), 5);
    ASSERT_EQ(renderer.Picture().Height(), 2);
    const std::uint8_t grey[2][5] = {{0, 0, 128, 255, 255}, {0, 128, 255, 64, 191}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(renderer.Picture().At(x, y), (Rgb{grey[y][x], grey[y][x], grey[y][x]}))
                << x << "," << y;
}

TEST(FalseColourRenderer, FindsTheRangeFromThePixelsUnlessGivenOne) {
    FalseColourRenderer renderer;
    std::vector<std::uint16_t> pixels(1000);
    std::iota(pixels.begin(), pixels.end(), std::uint16_t{0});
    ASSERT_TRUE(renderer.Render(100, 10, pixels));
    EXPECT_EQ(renderer.Range(), (CountRange{4, 995}));
    RenderOptions options;
    options.range = CountRange{5000, 5000};
    ASSERT_TRUE(renderer.Render(100, 10, pixels, options));
    EXPECT_EQ(renderer.Range(), (CountRange{5000, 5001}));
}

TEST(FalseColourRenderer, DrawsTheBarHottestAtTheTopWithItsLimitsBesideTheEnds) {
    FalseColourRenderer renderer;
    const std::vector<std::uint16_t> pixels(160 * 120, 50000);
    RenderOptions options;
    options.range = CountRange{987, 43210};
    ASSERT_TRUE(renderer.Render(160, 120, pixels, options));
    const RgbImage& picture = renderer.Picture();
    const ColourBarLayout& l = renderer.Layout();
    ASSERT_EQ(l, LayOutColourBar(160, 120));
    ASSERT_EQ(picture.Width(), l.pictureWidth);
    const Palette& iron = Palette::Iron();
    EXPECT_EQ(picture.At(159, 0), iron[255]);
    EXPECT_EQ(picture.At(160, 0), kBackground);
    // The frame one pixel around the gradient, which runs from 255 at the top to 0 at the bottom.
    EXPECT_EQ(picture.At(l.barX - 1, l.barTop), kBarFrameColour);
    EXPECT_EQ(picture.At(l.barX + l.barWidth, l.barBottom + 1), kBarFrameColour);
    EXPECT_EQ(picture.At(l.barX, l.barTop), iron[255]);
    EXPECT_EQ(picture.At(l.barX + l.barWidth - 1, l.barBottom), iron[0]);
    EXPECT_EQ(picture.At(l.barX, 60), iron[126]);  // 51 of 103 rows up
    // "43210" at the top: the 4's fifth row is a full bar, its first only column 3; "987" below:
    // the 9's second row starts at column 0, its first does not.
    EXPECT_EQ(picture.At(l.labelX, l.upperLabelY + 4), kLabelColour);
    EXPECT_EQ(picture.At(l.labelX, l.upperLabelY), kBackground);
    EXPECT_EQ(picture.At(l.labelX, l.lowerLabelY + 1), kLabelColour);
    EXPECT_EQ(picture.At(l.labelX, l.lowerLabelY), kBackground);
}

TEST(FalseColourRenderer, RefusesBadInputAndKeepsThePreviousPicture) {
    constexpr int kMax = RgbImage::kMaxSide;
    FalseColourRenderer renderer;
    const std::vector<std::uint16_t> pixels(kMax, 50);
    RenderOptions plain, reversed, withBar;
    plain.colourBar = false;
    reversed.range = CountRange{50, 40};
    // The widest image that leaves room for the bar, and the largest sides without one.
    EXPECT_TRUE(renderer.Render(kMax - 116, 1, pixels));
    EXPECT_TRUE(renderer.Render(kMax, 1, pixels, plain));
    EXPECT_TRUE(renderer.Render(1, kMax, pixels, plain));
    ASSERT_TRUE(renderer.Render(10, 10, pixels));
    struct Row {
        int width, height;
        const RenderOptions& options;
        std::string message;
    };
    const Row rows[] = {
        {0, 10, plain, "cannot render a 0x10 image (sides must be 1 to 32768)"},
        {10, 0, plain, "cannot render a 10x0 image (sides must be 1 to 32768)"},
        {kMax + 1, 1, plain, "cannot render a 32769x1 image (sides must be 1 to 32768)"},
        {1, kMax + 1, plain, "cannot render a 1x32769 image (sides must be 1 to 32768)"},
        {200, 200, plain, "image of 200x200 needs 40000 pixels, got 32768"},
        {10, 10, reversed, "invalid count range 50..40 (lower limit above upper)"},
        {kMax - 115, 1, withBar, "image of width 32653 leaves no room for a colour bar"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(renderer.Render(row.width, row.height, pixels, row.options).Message(),
                  row.message);
    EXPECT_EQ(renderer.Range(), (CountRange{50, 51}));
    EXPECT_EQ(renderer.Picture().Width(), renderer.Layout().pictureWidth);
    EXPECT_EQ(renderer.Layout(), LayOutColourBar(10, 10));
}
