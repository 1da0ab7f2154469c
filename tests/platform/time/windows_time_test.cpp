#include "platform/time/windows_time.h"

#include <gtest/gtest.h>


#include "platform/time/test_clock.h"

namespace {

TEST(TestClock, DrivesTimerCounterAndTimeOfDay) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetTimerTicks(5000);
    clock.SetWallClock(1'600'000'000, 250);
    clock.SetTimeZone(-120, true);

    LARGE_INTEGER frequency{}, before{}, after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    clock.AdvanceMilliseconds(1800);
    QueryPerformanceCounter(&after);

    EXPECT_EQ((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart, 1800);
    EXPECT_EQ(timeGetTime(), 6800u);
    __timeb32 now{};
    _ftime32(&now);
    EXPECT_EQ(now.time, 1'600'000'002);
    EXPECT_EQ(now.millitm, 50);
    EXPECT_EQ(now.timezone, -120);
    EXPECT_EQ(now.dstflag, 1);
}

TEST(TestClock, SubMillisecondStepsAccumulate) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetTimerTicks(0);
    for (int i = 0; i < 10; ++i) clock.Advance(std::chrono::microseconds(150));
    EXPECT_EQ(timeGetTime(), 1u);
}

TEST(TestClock, TimerWrapsAt32Bits) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetTimerTicks(0xFFFFFFF0u);
    clock.AdvanceMilliseconds(0x20);
    EXPECT_EQ(timeGetTime(), 0x10u);
}

TEST(TestClock, SleepAdvancesInsteadOfWaiting) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    const DWORD start = timeGetTime();
    Sleep(5000);
    Sleep(3500);
    EXPECT_EQ(timeGetTime() - start, 8500u);
    EXPECT_EQ(clock.SleptFor(), std::chrono::milliseconds(8500));
}

TEST(TestClock, ScopesNestAndRestore) {
    Platform::TestClock outer, inner;
    outer.SetTimerTicks(100);
    inner.SetTimerTicks(200);
    Platform::TestClockScope a(outer);
    {
        Platform::TestClockScope b(inner);
        EXPECT_EQ(timeGetTime(), 200u);
    }
    EXPECT_EQ(timeGetTime(), 100u);
}

TEST(TimerPeriods, AreCountedAndAnUnmatchedEndIsRefused) {
    const int before = Platform::ActiveTimerPeriods(1);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before + 2);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
    EXPECT_EQ(timeEndPeriod(7), TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
}

TEST(RealClocks, AreUsedWithoutATestClock) {
    ASSERT_EQ(Platform::InstalledTestClock(), nullptr);
    LARGE_INTEGER a{}, b{};
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart, a.QuadPart);
    __timeb32 now{};
    _ftime32(&now);
    EXPECT_GT(now.time, 1'600'000'000);  // after 2020
    EXPECT_LT(now.millitm, 1000);
}

}  // namespace
