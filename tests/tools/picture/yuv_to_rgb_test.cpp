#include "tools/picture/yuv_to_rgb.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Vorn::Picture;

TEST(YuvToRgb, StudioRangeWithExactRoundingAndClipping) {
    struct Row {
        std::uint8_t y, u, v;
        Rgb rgb;
    };
    for (auto [y, u, v, rgb] : {Row{16, 128, 128, {0, 0, 0}},
                                {235, 128, 128, {255, 255, 255}},
                                {0, 128, 128, {0, 0, 0}},
                                {255, 128, 128, {255, 255, 255}},
                                {200, 128, 128, {214, 214, 214}},
                                {100, 150, 80, {21, 128, 142}},
                                {81, 90, 240, {255, 0, 0}},
                                {41, 240, 110, {0, 0, 255}}})
        EXPECT_EQ(YuvToRgb(y, u, v), rgb) << int(y) << " " << int(u) << " " << int(v);
}

TEST(YuvToRgb, Yuy2PairsShareChromaAndAnOddLastPixelHasAPairOfItsOwn) {
    // Width 3: two pairs (Y0 U Y1 V) a row; the last pair's second Y is not shown.
    const std::vector<std::uint8_t> frame = {50, 90,  60, 240, 70,  150, 99, 80,
                                             80, 128, 90, 128, 100, 40,  99, 200};
    RgbImage picture;
    ASSERT_TRUE(Yuy2ToRgb(3, 2, frame, picture));
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_EQ(picture.At(0, 0), YuvToRgb(50, 90, 240));
    EXPECT_EQ(picture.At(1, 0), YuvToRgb(60, 90, 240));
    EXPECT_EQ(picture.At(2, 0), YuvToRgb(70, 150, 80));
    EXPECT_EQ(picture.At(1, 1), YuvToRgb(90, 128, 128));
    EXPECT_EQ(picture.At(2, 1), YuvToRgb(100, 40, 200));
    EXPECT_EQ(Yuy2ToRgb(3, 2, std::span(frame).first(15), picture).Message(),
              "YUY2 frame of 3x2 needs 16 bytes, got 15");
}

TEST(YuvToRgb, I420PixelsTakeTheChromaOfTheirQuarterWithOddSidesRoundedUp) {
    // 3x3 luma, then 2x2 U and 2x2 V planes.
    const std::vector<std::uint8_t> frame = {10,  20,  30,  40,  50, 60, 70, 80, 90,  // Y
                                             90,  100, 110, 120,                      // U
                                             240, 200, 160, 140};                     // V
    RgbImage picture;
    ASSERT_TRUE(I420ToRgb(3, 3, frame, picture));
    EXPECT_EQ(picture.At(0, 0), YuvToRgb(10, 90, 240));
    EXPECT_EQ(picture.At(1, 1), YuvToRgb(50, 90, 240));
    EXPECT_EQ(picture.At(2, 0), YuvToRgb(30, 100, 200));
    EXPECT_EQ(picture.At(0, 2), YuvToRgb(70, 110, 160));
    EXPECT_EQ(picture.At(2, 2), YuvToRgb(90, 120, 140));
    EXPECT_EQ(I420ToRgb(3, 3, std::span(frame).first(16), picture).Message(),
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
