// A recording's frame rate and times made to go forward, from the stamps a file holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "tools/zrfgrab/recording_rate.h"

namespace zrfgrab {
namespace {

constexpr std::int64_t kStart = 639'000'000'000'000'000;

// Frames of a camera at `rate`, numbered from 1, stamped to the millisecond as cameras' are.
std::vector<StampedFrame> Camera(double rate, int count) {
    std::vector<StampedFrame> frames;
    for (int k = 0; k < count; ++k)
        frames.push_back({static_cast<std::uint64_t>(k + 1),
                          kStart + static_cast<std::int64_t>(k * 1000.0 / rate) * 10000});
    return frames;
}

TEST(CameraFrameRate, CountsCameraFramesWhateverIsMissing) {
    struct Case {
        const char* name;
        double rate;
        std::vector<StampedFrame> frames;
    };
    std::vector<Case> cases;
    cases.push_back({"every frame at 30 fps", 30.0, Camera(30.0, 300)});
    cases.push_back({"2 % fast", 30.6, Camera(30.6, 600)});
    {
        // The recording left frames 11-19 out: numbered and timed gaps agree.
        auto frames = Camera(30.0, 30);
        frames.erase(frames.begin() + 10, frames.begin() + 19);
        cases.push_back({"frames 11-19 left out of the recording", 30.0, frames});
    }
    {
        // The camera dropped eight frames before they were numbered: a gap in time only.
        auto frames = Camera(30.0, 300);
        frames.erase(frames.begin() + 100, frames.begin() + 108);
        for (std::size_t i = 100; i < frames.size(); ++i) frames[i].number -= 8;
        cases.push_back({"frames the camera dropped", 30.0, frames});
    }
    {
        // A step back of a second at frame 150 is left out, not counted.
        auto frames = Camera(30.0, 300);
        for (std::size_t i = 150; i < frames.size(); ++i) frames[i].ticks -= 10'000'000;
        cases.push_back({"a step back", 30.0, frames});
    }
    {
        // A number with a high bit flipped (a damaged record passed on): not believed.
        auto frames = Camera(30.0, 300);
        frames[150].number ^= std::uint64_t{1} << 40;
        cases.push_back({"a damaged number", 30.0, frames});
    }
    {
        // A number repeated: the time still counts a frame.
        auto frames = Camera(30.0, 300);
        frames[150].number = frames[149].number;
        cases.push_back({"a repeated number", 30.0, frames});
    }
    {
        // Frames handed over in pairs a millisecond apart, for a minute: the numbers tell.
        auto frames = Camera(30.0, 1800);
        for (std::size_t i = 0; i + 1 < frames.size(); i += 2)
            frames[i].ticks = frames[i + 1].ticks - 10000;
        cases.push_back({"frames in pairs", 30.0, frames});
    }
    {
        // 40 s at 30 fps, then 30 s at 15, nothing left out: the camera's mean rate, 23.6.
        auto frames = Camera(30.0, 1200);
        const std::int64_t end = frames.back().ticks;
        for (int k = 1; k <= 450; ++k)
            frames.push_back({static_cast<std::uint64_t>(1200 + k), end + k * 666'667});
        cases.push_back({"30 fps, then 15", 1650.0 / 70.0, frames});
    }
    for (const Case& c : cases) {
        const auto rate = CameraFrameRate(c.frames);
        ASSERT_TRUE(rate.has_value()) << c.name;
        EXPECT_NEAR(*rate, c.rate, c.rate * 0.001) << c.name;
    }
}

TEST(CameraFrameRate, NoneWithoutTwoFramesAPositiveTimeApart) {
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::vector<StampedFrame>> cases = {
        {},
        {{1, kStart}},
        {{1, kStart}, {2, kStart}, {3, kStart}},
        {{1, kStart}, {2, kStart - 1}},
    };
    for (const auto& frames : cases)
        EXPECT_FALSE(CameraFrameRate(frames).has_value()) << frames.size();
    // Extremes of a file's values: an answer, nothing undefined.
    const std::vector<StampedFrame> extreme = {
        {std::numeric_limits<std::uint64_t>::max(), -max}, {0, max}, {5, max}};
    EXPECT_TRUE(CameraFrameRate(extreme).has_value());
}

TEST(IncreasingTimes, AStepBackMovesTheFramesFromItOnKeepingTheirSpacing) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> stamps, shown;
        std::uint64_t moved;
    };
    const Case cases[] = {
        {"in order", {0, 33, 66, 100}, {0, 33, 66, 100}, 0},
        {"a second back at the fourth",
         {0, 33, 66, -934, -901, -868},
         {0, 33, 66, 67, 100, 133},
         1},
        {"a repeated stamp", {0, 33, 33, 66}, {0, 33, 34, 67}, 1},
        {"two steps", {0, 10, 5, 15, 0, 10}, {0, 10, 11, 21, 22, 32}, 2},
    };
    for (const Case& c : cases) {
        IncreasingTimes times;
        std::vector<std::int64_t> shown;
        for (std::int64_t s : c.stamps) shown.push_back(times.Next(s));
        EXPECT_EQ(shown, c.shown) << c.name;
        EXPECT_EQ(times.Moved(), c.moved) << c.name;
    }
    IncreasingTimes extremes;
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(extremes.Next(max), max);
    EXPECT_EQ(extremes.Next(std::numeric_limits<std::int64_t>::min()), max);  // stays at the end
}

}  // namespace
}  // namespace zrfgrab
