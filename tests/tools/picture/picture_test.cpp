// The picture tools: palettes, count ranges, false colours with their bar and labels, the
// font, YUV conversion and PNG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tests/host/recorder/temp_dir.h"
#include "tools/picture/bitmap_font.h"
#include "tools/picture/count_range.h"
#include "tools/picture/false_colour_renderer.h"
#include "tools/picture/palette.h"
#include "tools/picture/png_file.h"
#include "tools/picture/yuv_to_rgb.h"

using namespace Vorn::Picture;

namespace {

RenderOptions Options(std::optional<CountRange> range, bool colourBar = true,
                      const Palette* palette = nullptr) {
    RenderOptions options;
    options.range = range;
    options.colourBar = colourBar;
    options.palette = palette;
    return options;
}

constexpr Rgb kInk{255, 255, 255};
constexpr BitmapFont::Glyph kQuestionMark = {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04};

RgbImage Noise(int width, int height, unsigned seed) {
    RgbImage picture(width, height);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < picture.SizeBytes(); ++i)
        picture.Data()[i] = static_cast<std::uint8_t>(random());
    return picture;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Same(const RgbImage& a, const RgbImage& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::equal(a.Data(), a.Data() + a.SizeBytes(), b.Data());
}

}  // namespace

TEST(Palette, BrightnessRisesFromBlackToWhite) {
    auto luminance = [](const Rgb& c) { return 299 * c.r + 587 * c.g + 114 * c.b; };
    for (const Palette* palette : {&Palette::Iron(), &Palette::Hot(), &Palette::Grey()}) {
        SCOPED_TRACE(std::string(palette->Name()));
        EXPECT_EQ((*palette)[0], (Rgb{0, 0, 0}));
        EXPECT_EQ((*palette)[255], (Rgb{255, 255, 255}));
        for (int i = 1; i < Palette::kSize; ++i)
            ASSERT_GT(luminance((*palette)[i]), luminance((*palette)[i - 1])) << "at index " << i;
    }
    // Colours between stops are interpolated.
    EXPECT_EQ(Palette::Grey()[100], (Rgb{100, 100, 100}));
    EXPECT_EQ(Palette::Hot()[51], (Rgb{128, 0, 0}));       // halfway from black to red
    EXPECT_EQ(Palette::Iron()[51], (Rgb{85, 0, 130}));     // halfway from deep blue to purple
    EXPECT_EQ(Palette::Rainbow()[128], (Rgb{2, 255, 0}));  // just past green
}

TEST(Palette, FindsEachBuiltInByNameAndNamesThemForAnUnknownOne) {
    const Palette* palette = nullptr;
    for (std::string_view name : Palette::Names()) {
        ASSERT_TRUE(Palette::Find(name, palette)) << name;
        EXPECT_EQ(palette->Name(), name);
    }
    EXPECT_EQ(palette, &Palette::Rainbow());  // the last one listed
    for (std::string name : {"jet", "", "Iron"}) {
        EXPECT_EQ(Palette::Find(name, palette).Message(),
                  "unknown palette '" + name + "' (known: iron grey hot rainbow)");
        EXPECT_EQ(palette, &Palette::Rainbow()) << "left alone";
    }
}

TEST(NormaliseRange, WidensFlatRangesAndRefusesReversedOnes) {
    for (auto [range, normal] : {std::pair<CountRange, CountRange>{{1000, 1000}, {1000, 1001}},
                                 {{65535, 65535}, {65534, 65535}},
                                 {{10, 20}, {10, 20}}}) {
        ASSERT_TRUE(NormaliseRange(range));
        EXPECT_EQ(range, normal);
    }
    CountRange reversed{20, 10};
    EXPECT_EQ(NormaliseRange(reversed).Message(),
              "invalid count range 20..10 (lower limit above upper)");
}

TEST(RangeFinder, TakesNearestRanksRoundedOutwardsFromEachFrameAlone) {
    // 0 .. 999 once each, shuffled so that order cannot matter.
    std::vector<std::uint16_t> ramp(1000);
    std::iota(ramp.begin(), ramp.end(), std::uint16_t{0});
    std::shuffle(ramp.begin(), ramp.end(), std::mt19937(1));
    std::vector<std::uint16_t> ends(1000, 0);
    std::fill(ends.begin() + 500, ends.end(), 65535);
    const std::vector<std::uint16_t> flat(5000, 60000), top = {65535}, none;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double lo = RangeFinder::kDefaultLowFraction, hi = RangeFinder::kDefaultHighFraction;
    const std::tuple<const std::vector<std::uint16_t>&, double, double, CountRange> rows[] = {
        {ramp, 0.1, 0.9, {99, 900}},  // ranks floor(0.1 * 999) and ceil(0.9 * 999)
        {ramp, lo, hi, {4, 995}},
        {ends, lo, hi, {0, 65535}},
        {flat, 0.0, 1.0, {60000, 60001}},
        {ramp, 0.0, 1.0, {0, 999}},  // no counts left over from the frame before
        {ramp, 0.9, 0.1, {99, 900}},
        {ramp, -5.0, 7.0, {0, 999}},
        {ramp, 1.5, 0.9, {899, 999}},
        {ramp, nan, nan, {0, 999}},
        {top, 0.0, 1.0, {65534, 65535}},
        {none, 0.1, 0.9, {0, 65535}},
    };
    auto finder = std::make_unique<RangeFinder>();
    for (const auto& [pixels, low, high, range] : rows)
        EXPECT_EQ(finder->Find(pixels, low, high), range)
            << pixels.size() << ": " << low << "-" << high;
}

TEST(PaletteIndex, SpreadsTheRangeRoundingToNearestAndClamps) {
    const std::tuple<std::uint16_t, CountRange, int> rows[] = {
        {0, {1000, 2000}, 0},       {1500, {1000, 2000}, 128}, {1250, {1000, 2000}, 64},
        {65535, {1000, 2000}, 255}, {1, {0, 1}, 255},          {32768, {0, 65535}, 128}};
    for (auto [count, range, index] : rows) EXPECT_EQ(PaletteIndex(count, range), index) << count;
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
    ASSERT_TRUE(
        renderer.Render(5, 2, pixels, Options(CountRange{1000, 2000}, false, &Palette::Grey())));
    ASSERT_EQ(std::pair(renderer.Picture().Width(), renderer.Picture().Height()), std::pair(5, 2));
    const std::uint8_t grey[2][5] = {{0, 0, 128, 255, 255}, {0, 128, 255, 64, 191}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(renderer.Picture().At(x, y), (Rgb{grey[y][x], grey[y][x], grey[y][x]}))
                << x << "," << y;
    // The range comes from the pixels unless given one.
    std::vector<std::uint16_t> ramp(1000);
    std::iota(ramp.begin(), ramp.end(), std::uint16_t{0});
    ASSERT_TRUE(renderer.Render(100, 10, ramp));
    EXPECT_EQ(renderer.Range(), (CountRange{4, 995}));
    ASSERT_TRUE(renderer.Render(100, 10, ramp, Options(CountRange{5000, 5000})));
    EXPECT_EQ(renderer.Range(), (CountRange{5000, 5001}));
}

TEST(FalseColourRenderer, DrawsTheBarHottestAtTheTopWithItsLimitsBesideTheEnds) {
    FalseColourRenderer renderer;
    const std::vector<std::uint16_t> pixels(160 * 120, 50000);
    ASSERT_TRUE(renderer.Render(160, 120, pixels, Options(CountRange{987, 43210})));
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
    const RenderOptions plain = Options({}, false), reversed = Options(CountRange{50, 40}), withBar;
    // The widest image that leaves room for the bar, and the largest sides without one.
    EXPECT_TRUE(renderer.Render(kMax - 116, 1, pixels));
    EXPECT_TRUE(renderer.Render(kMax, 1, pixels, plain));
    EXPECT_TRUE(renderer.Render(1, kMax, pixels, plain));
    ASSERT_TRUE(renderer.Render(10, 10, pixels));
    const std::tuple<int, int, const RenderOptions&, std::string> rows[] = {
        {0, 10, plain, "cannot render a 0x10 image (sides must be 1 to 32768)"},
        {10, 0, plain, "cannot render a 10x0 image (sides must be 1 to 32768)"},
        {kMax + 1, 1, plain, "cannot render a 32769x1 image (sides must be 1 to 32768)"},
        {1, kMax + 1, plain, "cannot render a 1x32769 image (sides must be 1 to 32768)"},
        {200, 200, plain, "image of 200x200 needs 40000 pixels, got 32768"},
        {10, 10, reversed, "invalid count range 50..40 (lower limit above upper)"},
        {kMax - 115, 1, withBar, "image of width 32653 leaves no room for a colour bar"},
    };
    for (const auto& [width, height, options, message] : rows)
        EXPECT_EQ(renderer.Render(width, height, pixels, options).Message(), message);
    EXPECT_EQ(renderer.Range(), (CountRange{50, 51}));
    EXPECT_EQ(renderer.Picture().Width(), renderer.Layout().pictureWidth);
    EXPECT_EQ(renderer.Layout(), LayOutColourBar(10, 10));
}

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
    // Text is clipped at the picture edges.
    // The minus's bar, drawn from above left, covers the top two rows and nothing more.
    RgbImage small(4, 4);
    BitmapFont::DrawText(small, -4, -6, "-", kInk, 2);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(small.At(x, y), y < 2 ? kInk : Rgb{}) << x << "," << y;
    BitmapFont::DrawText(small, 1000, 1000, "8", kInk, 1);
    BitmapFont::DrawText(small, -1000, -1000, "8", kInk, 1);
}

TEST(RgbImage, SidesOutsideOneToTheLimitGiveAnEmptyPicture) {
    for (auto [width, height] : {std::pair{0, 3}, {3, 0}, {-1, 3}, {RgbImage::kMaxSide + 1, 1}})
        EXPECT_EQ(RgbImage(width, height).Width() + RgbImage(width, height).Height(), 0)
            << width << "x" << height;
    EXPECT_EQ(RgbImage(RgbImage::kMaxSide, 1).SizeBytes(), 3u * RgbImage::kMaxSide);
    EXPECT_EQ(RgbImage(1, RgbImage::kMaxSide).SizeBytes(), 3u * RgbImage::kMaxSide);
}

TEST(YuvToRgb, StudioRangeWithExactRoundingAndClipping) {
    using Row = std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, Rgb>;
    for (auto [y, u, v, rgb] : {Row{16, 128, 128, {0, 0, 0}},
                                {235, 128, 128, {255, 255, 255}},
                                {0, 128, 128, {0, 0, 0}},
                                {255, 128, 128, {255, 255, 255}},
                                {200, 128, 128, {214, 214, 214}},
                                {100, 150, 80, {21, 128, 142}},
                                {17, 128, 157, {47, 0, 1}},  // red just below a rounding step
                                {81, 90, 240, {255, 0, 0}},
                                {41, 240, 110, {0, 0, 255}}})
        EXPECT_EQ(YuvToRgb(y, u, v), rgb) << int(y) << " " << int(u) << " " << int(v);
}

// YUY2 pairs share chroma and an odd last pixel has a pair of its own; I420 pixels take the
// chroma of their quarter with odd sides rounded up. A frame one byte short is refused.
TEST(YuvToRgb, Yuy2PairsShareChromaAndI420PixelsTheChromaOfTheirQuarter) {
    // Width 3: two pairs (Y0 U Y1 V) a row; the last pair's second Y is not shown.
    const std::vector<std::uint8_t> yuy2 = {50, 90,  60, 240, 70,  150, 99, 80,
                                            80, 128, 90, 128, 100, 40,  99, 200};
    // 3x3 luma, then 2x2 U and 2x2 V planes.
    const std::vector<std::uint8_t> i420 = {10,  20,  30,  40,  50, 60, 70, 80, 90,  // Y
                                            90,  100, 110, 120,                      // U
                                            240, 200, 160, 140};                     // V
    RgbImage a, b;
    ASSERT_TRUE(Yuy2ToRgb(3, 2, yuy2, a));
    ASSERT_TRUE(I420ToRgb(3, 3, i420, b));
    ASSERT_EQ(std::pair(a.Width(), a.Height()), std::pair(3, 2));
    const std::tuple<const RgbImage&, int, int, Rgb> pixels[] = {
        {a, 0, 0, YuvToRgb(50, 90, 240)},  {a, 1, 0, YuvToRgb(60, 90, 240)},
        {a, 2, 0, YuvToRgb(70, 150, 80)},  {a, 1, 1, YuvToRgb(90, 128, 128)},
        {a, 2, 1, YuvToRgb(100, 40, 200)}, {b, 0, 0, YuvToRgb(10, 90, 240)},
        {b, 1, 1, YuvToRgb(50, 90, 240)},  {b, 2, 0, YuvToRgb(30, 100, 200)},
        {b, 0, 2, YuvToRgb(70, 110, 160)}, {b, 2, 2, YuvToRgb(90, 120, 140)}};
    for (const auto& [picture, x, y, rgb] : pixels)
        EXPECT_EQ(picture.At(x, y), rgb) << (&picture == &a ? "YUY2 " : "I420 ") << x << "," << y;
    EXPECT_EQ(Yuy2ToRgb(3, 2, std::span(yuy2).first(15), a).Message(),
              "YUY2 frame of 3x2 needs 16 bytes, got 15");
    EXPECT_EQ(I420ToRgb(3, 3, std::span(i420).first(16), b).Message(),
              "I420 frame of 3x3 needs 17 bytes, got 16");
}

TEST(YuvToRgb, RefusesSidesOutsideOneToTheLimit) {
    const std::vector<std::uint8_t> frame(4 * RgbImage::kMaxSide, 128);
    RgbImage picture;
    EXPECT_TRUE(Yuy2ToRgb(RgbImage::kMaxSide, 1, frame, picture));
    EXPECT_TRUE(I420ToRgb(1, RgbImage::kMaxSide, frame, picture));
    for (auto [width, height] : {std::pair{0, 4},
                                 {4, 0},
                                 {4, -4},
                                 {RgbImage::kMaxSide + 1, 1},
                                 {1, RgbImage::kMaxSide + 1}}) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height) + " pixels";
        EXPECT_EQ(Yuy2ToRgb(width, height, frame, picture).Message(), "YUY2 frame of " + size);
        EXPECT_EQ(I420ToRgb(width, height, frame, picture).Message(), "I420 frame of " + size);
    }
}

TEST(PngFile, RoundTripsEveryPixelAndReadsGreyAsRgb) {
    TempDir dir;
    for (auto [width, height] : {std::pair{1, 1}, std::pair{37, 5}}) {
        const RgbImage picture = Noise(width, height, static_cast<unsigned>(width));
        const PictureStatus written = WritePng(dir.File("noise.png"), picture);
        ASSERT_TRUE(written) << written.Message();
        EXPECT_EQ(FileText(dir.File("noise.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
        RgbImage back;
        ASSERT_TRUE(ReadPng(dir.File("noise.png"), back));
        EXPECT_TRUE(Same(back, picture)) << width << "x" << height;
    }
    EXPECT_EQ(dir.Count(), 1u) << "no temporary file left";

    // Two 8-bit grey pixels, 0x10 and 0xF0.
    const unsigned char grey[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
        0x00, 0xD1, 0x49, 0x20, 0x56, 0x00, 0x00, 0x00, 0x0B, 0x49, 0x44, 0x41, 0x54, 0x78,
        0xDA, 0x63, 0x10, 0xF8, 0x00, 0x00, 0x01, 0x13, 0x01, 0x01, 0xE6, 0xFF, 0x11, 0x1B,
        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    std::ofstream(dir.File("grey.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(grey), sizeof grey);
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("grey.png"), back));
    ASSERT_EQ(back.Width(), 2);
    EXPECT_EQ(back.At(0, 0), (Rgb{0x10, 0x10, 0x10}));
    EXPECT_EQ(back.At(1, 0), (Rgb{0xF0, 0xF0, 0xF0}));
}

TEST(PngFile, WritesPaddedRgbBuffersAndRefusesShortOnes) {
    TempDir dir;
    const RgbImage picture = Noise(5, 3, 9);
    const std::size_t stride = 5 * 3 + 4;
    std::vector<std::uint8_t> padded(stride * 3, 0xEE);
    for (int y = 0; y < 3; ++y)
        std::copy_n(picture.Row(y), picture.RowBytes(), padded.data() + y * stride);
    ASSERT_TRUE(WritePngRgb(dir.File("padded.png"), 5, 3, stride, padded));
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("padded.png"), back));
    EXPECT_TRUE(Same(back, picture));

    // The last row needs no padding after it; one byte less is too short.
    padded.resize(stride * 2 + 15);
    EXPECT_TRUE(WritePngRgb(dir.File("tight.png"), 5, 3, stride, padded));
    const std::vector<std::uint8_t> row(3 * RgbImage::kMaxSide, 7);
    EXPECT_TRUE(WritePngRgb(dir.File("wide.png"), RgbImage::kMaxSide, 1, row.size(), row));
    padded.pop_back();
    EXPECT_EQ(WritePngRgb(dir.File("short.png"), 5, 3, stride, padded).Message(),
              "cannot write '" + dir.File("short.png") + "': pixel buffer too small for 5x3");
    EXPECT_FALSE(WritePngRgb(dir.File("stride.png"), 5, 3, 14, padded));
    EXPECT_EQ(WritePngRgb(dir.File("empty.png"), 5, 0, stride, padded).Message(),
              "cannot write '" + dir.File("empty.png") + "': picture of 5x0 pixels");
    EXPECT_FALSE(WritePngRgb(dir.File("huge.png"), RgbImage::kMaxSide + 1, 1, row.size(), row));
    EXPECT_FALSE(WritePng(dir.File("empty.png"), RgbImage()));
    // The temporary twin's name is short whatever the picture's: a name that just fits is
    // written; one that does not gets the rename's own reason, and leaves nothing.
    EXPECT_TRUE(WritePng(dir.File(std::string(255, 'n')), picture));
    const std::string longName = dir.File(std::string(256, 'n'));
    EXPECT_EQ(WritePng(longName, picture).Message(),
              "cannot write '" + longName + "': File name too long");
    EXPECT_EQ(dir.Count(), 4u) << "only the pictures written";
}

TEST(PngFile, ReadingSomethingElseIsAnErrorAndLeavesNoHalfPicture) {
    TempDir dir;
    std::ofstream(dir.File("text.png")) << "not a picture at all";
    ASSERT_TRUE(WritePng(dir.File("whole.png"), Noise(64, 64, 5)));
    std::string half = FileText(dir.File("whole.png"));
    half.resize(half.size() / 2);
    std::ofstream(dir.File("half.png"), std::ios::binary) << half;
    for (const char* name : {"missing.png", "text.png", "half.png"}) {
        RgbImage picture;
        const PictureStatus status = ReadPng(dir.File(name), picture);
        EXPECT_EQ(status.Message().rfind("cannot read picture '" + dir.File(name) + "': ", 0), 0u)
            << status.Message();
        EXPECT_TRUE(picture.Empty()) << name;
    }
}
