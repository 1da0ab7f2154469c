#include "tools/picture/yuv_to_rgb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "print_picture.h"

using namespace Vorn::Picture;

namespace {

struct Yuv {
    std::uint8_t y, u, v;
};

// The forward BT.601 studio-range transform, in floating point, for test colours.
Yuv ToYuv(Rgb c) {
    const double y = 16 + 0.2568 * c.r + 0.5041 * c.g + 0.0979 * c.b;
    const double u = 128 - 0.1482 * c.r - 0.2910 * c.g + 0.4392 * c.b;
    const double v = 128 + 0.4392 * c.r - 0.3678 * c.g - 0.0714 * c.b;
    return {static_cast<std::uint8_t>(std::lround(y)), static_cast<std::uint8_t>(std::lround(u)),
            static_cast<std::uint8_t>(std::lround(v))};
}

void ExpectNear(Rgb actual, Rgb expected, int tolerance = 3) {
    EXPECT_LE(std::abs(actual.r - expected.r), tolerance) << ::testing::PrintToString(actual);
    EXPECT_LE(std::abs(actual.g - expected.g), tolerance) << ::testing::PrintToString(actual);
    EXPECT_LE(std::abs(actual.b - expected.b), tolerance) << ::testing::PrintToString(actual);
}

const Rgb kColours[] = {{255, 0, 0},   {0, 255, 0},     {0, 0, 255},   {255, 255, 0},
                        {0, 255, 255}, {255, 0, 255},   {128, 64, 32}, {20, 200, 90},
                        {0, 0, 0},     {255, 255, 255}, {90, 90, 90}};

}  // namespace

TEST(YuvToRgb, StudioRangeLimitsAndPrimaries) {
    EXPECT_EQ(YuvToRgb(16, 128, 128), (Rgb{0, 0, 0}));
    EXPECT_EQ(YuvToRgb(235, 128, 128), (Rgb{255, 255, 255}));
    EXPECT_EQ(YuvToRgb(0, 128, 128), (Rgb{0, 0, 0})) << "below black clips";
    EXPECT_EQ(YuvToRgb(255, 128, 128), (Rgb{255, 255, 255})) << "above white clips";
    for (const Rgb& colour : kColours) {
        SCOPED_TRACE(::testing::PrintToString(colour));
        const Yuv yuv = ToYuv(colour);
        ExpectNear(YuvToRgb(yuv.y, yuv.u, yuv.v), colour);
    }
}

TEST(YuvToRgb, Yuy2PairsShareChromaAndKeepTheirOwnLuma) {
    // Two pairs per row: the first pair a dark and a light red, the second dark and light blue.
    const Yuv red = ToYuv({200, 0, 0});
    const Yuv blue = ToYuv({0, 0, 200});
    std::vector<std::uint8_t> frame;
    for (int row = 0; row < 2; ++row) {
        for (const Yuv& c : {red, blue}) {
            frame.insert(frame.end(), {std::uint8_t(c.y - 10), c.u, std::uint8_t(c.y + 10), c.v});
        }
    }
    RgbImage picture;
    ASSERT_TRUE(Yuy2ToRgb(4, 2, frame, picture));
    ASSERT_EQ(picture.Width(), 4);
    ASSERT_EQ(picture.Height(), 2);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(picture.At(0, y), YuvToRgb(red.y - 10, red.u, red.v));
        EXPECT_EQ(picture.At(1, y), YuvToRgb(red.y + 10, red.u, red.v));
        EXPECT_EQ(picture.At(2, y), YuvToRgb(blue.y - 10, blue.u, blue.v));
        EXPECT_EQ(picture.At(3, y), YuvToRgb(blue.y + 10, blue.u, blue.v));
        ExpectNear(picture.At(1, y), {200, 0, 0}, 15);
        ExpectNear(picture.At(3, y), {0, 0, 200}, 15);
    }
}

TEST(YuvToRgb, Yuy2OddWidthsUseAWholePairForTheLastPixel) {
    const Yuv green = ToYuv({0, 255, 0});
    const Yuv white = ToYuv({255, 255, 255});
    // Width 3: two pairs (8 bytes) per row; the second Y of the last pair is not shown.
    const std::vector<std::uint8_t> frame = {white.y, white.u, white.y, white.v,
                                             green.y, green.u, 99,      green.v};
    RgbImage picture;
    ASSERT_TRUE(Yuy2ToRgb(3, 1, frame, picture));
    ASSERT_EQ(picture.Width(), 3);
    ExpectNear(picture.At(0, 0), {255, 255, 255});
    ExpectNear(picture.At(2, 0), {0, 255, 0});
    EXPECT_FALSE(Yuy2ToRgb(3, 1, std::span(frame).first(7), picture));
}

TEST(YuvToRgb, I420QuartersTakeTheirChromaSample) {
    // 4x4 luma, 2x2 chroma: each 2x2 block of pixels has its own colour.
    const Rgb colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    std::vector<std::uint8_t> frame(16 + 4 + 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) frame[y * 4 + x] = ToYuv(colours[(y / 2) * 2 + x / 2]).y;
    for (int i = 0; i < 4; ++i) {
        frame[16 + i] = ToYuv(colours[i]).u;
        frame[20 + i] = ToYuv(colours[i]).v;
    }
    RgbImage picture;
    ASSERT_TRUE(I420ToRgb(4, 4, frame, picture));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            SCOPED_TRACE(::testing::Message() << x << "," << y);
            ExpectNear(picture.At(x, y), colours[(y / 2) * 2 + x / 2]);
        }
}

TEST(YuvToRgb, I420OddSidesRoundTheChromaPlanesUp) {
    // 3x3 luma with 2x2 chroma planes: 9 + 4 + 4 bytes. The last column and row use the
    // second chroma column and row.
    std::vector<std::uint8_t> frame(17, 128);
    for (int i = 0; i < 9; ++i) frame[i] = 126;
    const Yuv blue = ToYuv({0, 0, 255});
    frame[9 + 3] = blue.u;  // chroma (1, 1): pixel (2, 2)
    frame[13 + 3] = blue.v;
    frame[8] = blue.y;
    RgbImage picture;
    ASSERT_TRUE(I420ToRgb(3, 3, frame, picture));
    ExpectNear(picture.At(2, 2), {0, 0, 255});
    EXPECT_EQ(picture.At(0, 0), YuvToRgb(126, 128, 128));
    EXPECT_FALSE(I420ToRgb(3, 3, std::span(frame).first(16), picture));
}

TEST(YuvToRgb, RefusesNonsenseSizes) {
    const std::vector<std::uint8_t> frame(64, 128);
    RgbImage picture;
    EXPECT_FALSE(Yuy2ToRgb(0, 4, frame, picture));
    EXPECT_FALSE(Yuy2ToRgb(4, -4, frame, picture));
    EXPECT_FALSE(I420ToRgb(RgbImage::kMaxSide + 2, 1, frame, picture));
    const PictureStatus status = Yuy2ToRgb(8, 8, frame, picture);
    ASSERT_FALSE(status);
    EXPECT_NE(status.Message().find("128 bytes, got 64"), std::string::npos) << status.Message();
}
