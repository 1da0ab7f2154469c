#include "tools/picture/count_range.h"

#include <gtest/gtest.h>

#include "print_picture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

using namespace Vorn::Picture;

namespace {

class RangeFinderTest : public ::testing::Test {
  protected:
    std::unique_ptr<RangeFinder> finder_ = std::make_unique<RangeFinder>();
};

// 0 .. n-1 once each, shuffled so that order cannot matter.
std::vector<std::uint16_t> ShuffledRamp(int n, unsigned seed) {
    std::vector<std::uint16_t> pixels(n);
    std::iota(pixels.begin(), pixels.end(), std::uint16_t{0});
    std::shuffle(pixels.begin(), pixels.end(), std::mt19937(seed));
    return pixels;
}

}  // namespace

TEST(NormaliseRange, WidensFlatRangesAndRefusesReversedOnes) {
    CountRange flat{1000, 1000};
    ASSERT_TRUE(NormaliseRange(flat));
    EXPECT_EQ(flat, (CountRange{1000, 1001}));
    CountRange top{65535, 65535};
    ASSERT_TRUE(NormaliseRange(top));
    EXPECT_EQ(top, (CountRange{65534, 65535}));
    CountRange ordered{10, 20};
    ASSERT_TRUE(NormaliseRange(ordered));
    EXPECT_EQ(ordered, (CountRange{10, 20}));

    CountRange reversed{20, 10};
    const PictureStatus status = NormaliseRange(reversed);
    ASSERT_FALSE(status);
    EXPECT_NE(status.Message().find("20..10"), std::string::npos) << status.Message();
}

TEST_F(RangeFinderTest, ConstantImagesGetARangeOfOneCount) {
    for (std::uint16_t value : {std::uint16_t{0}, std::uint16_t{1234}, std::uint16_t{65535}}) {
        const std::vector<std::uint16_t> pixels(320 * 240, value);
        const CountRange range = finder_->Find(pixels);
        EXPECT_EQ(range.high - range.low, 1) << value;
        EXPECT_TRUE(range.low == value || range.high == value) << value;
    }
}

TEST_F(RangeFinderTest, PercentilesAreNearestRanksRoundedOutwards) {
    const auto pixels = ShuffledRamp(1000, 1);
    // Ranks floor(0.1 * 999) and ceil(0.9 * 999) of the sorted counts 0..999.
    EXPECT_EQ(finder_->Find(pixels, 0.1, 0.9), (CountRange{99, 900}));
    EXPECT_EQ(finder_->Find(pixels), (CountRange{4, 995}));
    EXPECT_EQ(finder_->Find(pixels, 0.0, 1.0), (CountRange{0, 999}));
}

TEST_F(RangeFinderTest, AFewHotAndDeadPixelsDoNotStretchTheRange) {
    // A scene between 20000 and 20999 counts with 0.2 % stuck at each end of the scale.
    std::vector<std::uint16_t> pixels(100 * 100);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint16_t>(20000 + i % 1000);
    for (int i = 0; i < 20; ++i) {
        pixels[i * 487] = 65535;
        pixels[i * 487 + 3] = 0;
    }
    const CountRange range = finder_->Find(pixels);
    EXPECT_GE(range.low, 20000);
    EXPECT_LE(range.low, 20010);
    EXPECT_LE(range.high, 20999);
    EXPECT_GE(range.high, 20990);
}

TEST_F(RangeFinderTest, ScaleExtremesAreReachable) {
    std::vector<std::uint16_t> pixels(1000, 0);
    std::fill(pixels.begin() + 500, pixels.end(), 65535);
    EXPECT_EQ(finder_->Find(pixels), (CountRange{0, 65535}));
    EXPECT_EQ(finder_->Find(std::vector<std::uint16_t>{65535}), (CountRange{65534, 65535}));
    EXPECT_EQ(finder_->Find(std::vector<std::uint16_t>{0}), (CountRange{0, 1}));
}

TEST_F(RangeFinderTest, EachFrameStandsOnItsOwn) {
    const std::vector<std::uint16_t> hot(5000, 60000);
    (void)finder_->Find(hot);
    const auto ramp = ShuffledRamp(1000, 2);
    EXPECT_EQ(finder_->Find(ramp, 0.0, 1.0), (CountRange{0, 999}));
}

TEST_F(RangeFinderTest, OddInputGivesASaneRange) {
    EXPECT_EQ(finder_->Find({}), (CountRange{0, 65535}));
    const auto pixels = ShuffledRamp(1000, 3);
    EXPECT_EQ(finder_->Find(pixels, 0.9, 0.1), (CountRange{99, 900}));
    EXPECT_EQ(finder_->Find(pixels, -5.0, 7.0), (CountRange{0, 999}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(finder_->Find(pixels, nan, nan), (CountRange{0, 999}));
}
