#include "capture/mm_timing.h"

#include <gtest/gtest.h>

#include "platform/time/test_clock.h"

namespace {

TEST(MMTiming, ReportsTheAnchorPlusElapsedTimerMilliseconds) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetWallClock(100, 700);
    clock.SetTimeZone(120, false);
    MMTiming timing;
    clock.AdvanceMilliseconds(1500);
    std::int32_t seconds = 0, milliseconds = 0;
    std::int16_t zone = 0;
    timing.GetTime(seconds, milliseconds, zone);
    EXPECT_EQ(seconds, 102);
    EXPECT_EQ(milliseconds, 200);
    EXPECT_EQ(zone, 120);
}

TEST(MMTiming, DaylightSavingAddsAnHour) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetWallClock(100, 0);
    clock.SetTimeZone(0, true);
    MMTiming timing;
    std::int32_t seconds = 0, milliseconds = 0;
    std::int16_t zone = 0;
    timing.GetTime(seconds, milliseconds, zone);
    EXPECT_EQ(seconds, 3700);
}

TEST(MMTiming, TimerWrapReanchorsOnTheWallClock) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetTimerTicks(0xFFFFFFFFu - 1000);
    clock.SetWallClock(5000, 0);
    MMTiming timing;
    clock.AdvanceMilliseconds(3000);  // the timer wraps
    std::int32_t seconds = 0, milliseconds = 0;
    std::int16_t zone = 0;
    timing.GetTime(seconds, milliseconds, zone);
    EXPECT_EQ(seconds, 5003);
    EXPECT_EQ(milliseconds, 0);
}

TEST(MMTiming, HoldsTheTimerPeriodForItsLifetime) {
    const int before = Platform::ActiveTimerPeriods(1);
    {
        MMTiming timing;
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), before + 1);
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
}

}  // namespace
