#include "imaging/frame_clock.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "platform/time/test_clock.h"

namespace {

class FrameClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'000'000, 0);
        clock_.SetTimeZone(-60, false);
    }
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
};

TEST_F(FrameClockTest, FirstStampIsFrameOne) {
    FrameClock frames;
    frames.Start(30.0f);
    const FrameStamp s = frames.GetTime();
    EXPECT_EQ(s.seconds, 1'000'000u);
    EXPECT_EQ(s.milliseconds, 33u);
    EXPECT_EQ(s.timeZoneMinutes, -60);
}

TEST_F(FrameClockTest, StampsFollowTheFrameGridNotTheArrivalTime) {
    FrameClock frames;
    frames.Start(30.0f);
    clock_.AdvanceMilliseconds(20);
    EXPECT_EQ(frames.GetTime().milliseconds, 33u);  // still within the first period
    clock_.AdvanceMilliseconds(60);                 // 80 ms: frame 2
    EXPECT_EQ(frames.GetTime().milliseconds, 66u);
    clock_.AdvanceMilliseconds(1000);  // 1080 ms: frame 32
    const FrameStamp s = frames.GetTime();
    EXPECT_EQ(s.seconds, 1'000'001u);
    EXPECT_EQ(s.milliseconds, 66u);
}

TEST_F(FrameClockTest, EachSampleTakesAPeriodOfItsOwnButRunsAtMostTwoAhead) {
    FrameClock frames;
    std::vector<std::uint32_t> ms;
    // The second sample truncates to frame 0, counted as 1 like the first; later ones, with
    // the clock standing still, may run two periods ahead and no further.
    for (int elapsed : {0, 33, 0, 0, 0}) {
        clock_.AdvanceMilliseconds(elapsed);
        ms.push_back(frames.Stamp(30.0f).milliseconds);
    }
    EXPECT_EQ(ms, (std::vector<std::uint32_t>{33, 66, 100, 100, 100}));
    EXPECT_EQ(frames.GetTime().milliseconds, 33u);  // reading the time moves nothing
}

TEST_F(FrameClockTest, BaseKeepsWholeWallSecondsOnly) {
    clock_.SetWallClock(1'000'000, 999);
    FrameClock frames;
    frames.Start(25.0f);
    clock_.AdvanceMilliseconds(1);
    const FrameStamp s = frames.GetTime();
    EXPECT_EQ(s.seconds, 1'000'000u);  // 999 ms is less than a second
    EXPECT_EQ(s.milliseconds, 40u);
}

TEST_F(FrameClockTest, DaylightSavingAddsAnHour) {
    clock_.SetTimeZone(-60, true);
    FrameClock frames;
    frames.Start(30.0f);
    EXPECT_EQ(frames.GetTime().seconds, 1'003'600u);
}

TEST_F(FrameClockTest, UnusableRatesStampTheElapsedTime) {
    for (float rate : {0.0f, -5.0f, 1e-30f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()}) {
        __timeb32 wall{};
        _ftime32(&wall);
        FrameClock frames;
        frames.Start(rate);
        clock_.AdvanceMilliseconds(1234);
        const FrameStamp s = frames.GetTime();
        EXPECT_EQ(s.seconds, static_cast<std::uint32_t>(wall.time) + 1) << rate;
        EXPECT_EQ(s.milliseconds, 234u) << rate;
        frames.Stop();
    }
}

TEST_F(FrameClockTest, StampStartsAStoppedClockAndRestartsFromAFreshBase) {
    FrameClock frames;
    EXPECT_FALSE(frames.IsStarted());
    frames.Stamp(30.0f);
    EXPECT_TRUE(frames.IsStarted());
    clock_.AdvanceMilliseconds(5000);
    EXPECT_EQ(frames.Stamp(30.0f).seconds, 1'000'005u);
    frames.Stop();
    const FrameStamp restarted = frames.Stamp(30.0f);
    EXPECT_EQ(restarted.seconds, 1'000'005u);
    EXPECT_EQ(restarted.milliseconds, 33u);  // frame 1 again
}

TEST_F(FrameClockTest, HoldsOneTimerPeriodWhileStarted) {
    const int before = Platform::ActiveTimerPeriods(1);
    {
        FrameClock frames;
        frames.Start(30.0f);
        frames.Start(60.0f);  // a restart does not take a second period
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), before + 1);
        frames.Stop();
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
        frames.Start(30.0f);
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
}

}  // namespace
