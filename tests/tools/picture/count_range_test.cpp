#include "tools/picture/count_range.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

using namespace Vorn::Picture;

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
    struct Row {
        const std::vector<std::uint16_t>& pixels;
        double low, high;
        CountRange range;
    };
    const Row rows[] = {
        {ramp, 0.1, 0.9, {99, 900}},  // ranks floor(0.1 * 999) and ceil(0.9 * 999)
        {ramp, RangeFinder::kDefaultLowFraction, RangeFinder::kDefaultHighFraction, {4, 995}},
        {ends, RangeFinder::kDefaultLowFraction, RangeFinder::kDefaultHighFraction, {0, 65535}},
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
    for (const Row& row : rows)
        EXPECT_EQ(finder->Find(row.pixels, row.low, row.high), row.range)
            << row.pixels.size() << " pixels, " << row.low << " to " << row.high;
}
