// The frame clock's stamps on the frame grid, and the multimedia timing tools stamp with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "capture/mm_timing.h"
#include "imaging/clock_recovery.h"
#include "imaging/frame_clock.h"
#include "platform/time/test_clock.h"

namespace {

class ClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'000'000, 0);
        clock_.SetTimeZone(-60, false);
    }
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
};

// The first stamp is frame 1; later ones follow the grid, not the arrival time.
TEST_F(ClockTest, StampsFollowTheFrameGrid) {
    FrameClock frames;
    frames.Start(30.0f);
    const std::pair<int, std::uint32_t> steps[] = {{0, 33}, {20, 33}, {60, 66}, {1000, 66}};
    for (const auto& [elapsed, ms] : steps) {
        clock_.AdvanceMilliseconds(elapsed);
        EXPECT_EQ(frames.GetTime().milliseconds, ms) << elapsed;
    }
    const FrameStamp s = frames.GetTime();  // 1080 ms: frame 32
    EXPECT_EQ(std::pair(s.seconds, s.timeZoneMinutes), std::pair(1'000'001u, std::int16_t{-60}));
    // An hour on, whole seconds of the counter count as exactly 1000 ms each: frame 108,000.
    clock_.AdvanceMilliseconds(3'600'000 - 1080 + 20);
    const FrameStamp hour = frames.GetTime();
    EXPECT_EQ(std::pair(hour.seconds, hour.milliseconds), std::pair(1'003'600u, std::uint32_t{0}));
}

// The second sample truncates to frame 0, counted as 1 like the first, so it takes frame 2. With
// the clock standing still (a burst), the third would lead by three periods: it leads by two,
// and the ones after follow a millisecond apart, never repeating.
TEST_F(ClockTest, EachSampleTakesAPeriodOfItsOwnAndNeverRepeats) {
    FrameClock frames;
    std::vector<std::uint32_t> ms;
    for (int elapsed : {0, 33, 0, 0, 0}) {
        clock_.AdvanceMilliseconds(elapsed);
        ms.push_back(frames.Stamp(30.0f).milliseconds);
    }
    EXPECT_EQ(ms, (std::vector<std::uint32_t>{33, 66, 99, 100, 101}));
}

// A restart reads a fresh whole-second base; stamps continue a millisecond after the last one
// published when that base lies before it.
TEST_F(ClockTest, ARestartContinuesAfterTheLastStamp) {
    FrameClock frames;
    frames.Start(30.0f);
    clock_.AdvanceMilliseconds(900);
    EXPECT_EQ(frames.Stamp(30.0f).milliseconds, 900u);
    EXPECT_EQ(frames.Stamp(30.0f).milliseconds, 933u);
    frames.Stop();
    clock_.AdvanceMilliseconds(50);
    const FrameStamp restarted = frames.Stamp(30.0f);  // fresh: .033, before .933
    EXPECT_EQ(std::pair(restarted.seconds, restarted.milliseconds), std::pair(1'000'000u, 934u));
    EXPECT_EQ(frames.LastPublished(), 1'000'000'934);
    clock_.AdvanceMilliseconds(33);
    EXPECT_EQ(frames.Stamp(30.0f).milliseconds, 967u);  // the moved grid, a period on
}

// A continuation from outside (the last stamp of a connection) at the extremes: the stamps'
// 32-bit seconds hold up to 2106, and nothing overflows on the way there.
TEST_F(ClockTest, ContinuationsAtTheExtremesSaturate) {
    for (std::int64_t after :
         {std::numeric_limits<std::int64_t>::max(), FrameClock::kLatestStamp - 10,
          std::numeric_limits<std::int64_t>::min() + 1}) {
        FrameClock frames;
        frames.ContinueAfter(after);
        const FrameStamp s = frames.Stamp(30.0f, 4);
        const std::int64_t ms = std::int64_t{s.seconds} * 1000 + s.milliseconds;
        const std::int64_t expected = after < 0                           ? 1'000'000'033
                                      : after >= FrameClock::kLatestStamp ? FrameClock::kLatestStamp
                                                                          : after + 1;
        EXPECT_EQ(ms, expected) << after;
        EXPECT_LE(frames.LastPublished(), FrameClock::kLatestStamp);
        // Its fields follow it, and stay at the last instant rather than wrap to 1970.
        std::int64_t before = ms;
        for (std::int32_t field = 1; field < 4; ++field) {
            const FrameStamp f = FrameClock::FieldStamp(s, 4, field);
            const std::int64_t fieldMs = std::int64_t{f.seconds} * 1000 + f.milliseconds;
            EXPECT_GE(fieldMs, before) << after << ", field " << field;
            EXPECT_LE(fieldMs, FrameClock::kLatestStamp) << after << ", field " << field;
            before = fieldMs;
        }
    }
}

// The base keeps whole wall seconds only, plus an hour in daylight saving time.
TEST_F(ClockTest, BaseIsWholeWallSecondsInLocalTime) {
    clock_.SetWallClock(1'000'000, 999);
    FrameClock frames;
    frames.Start(25.0f);
    clock_.AdvanceMilliseconds(1);
    EXPECT_EQ(std::pair(frames.GetTime().seconds, frames.GetTime().milliseconds),
              std::pair(1'000'000u, 40u));
    clock_.SetTimeZone(-60, true);
    frames.Start(30.0f);
    EXPECT_EQ(frames.GetTime().seconds, 1'003'601u);
}

TEST_F(ClockTest, UnusableRatesStampTheElapsedTime) {
    for (float rate : {0.0f, -5.0f, 1e-30f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()}) {
        __timeb32 wall{};
        _ftime32(&wall);
        FrameClock frames;
        frames.Start(rate);
        clock_.AdvanceMilliseconds(1234);
        const FrameStamp s = frames.Stamp(rate);
        EXPECT_EQ(std::pair(s.seconds, s.milliseconds),
                  std::pair(static_cast<std::uint32_t>(wall.time) + 1, 234u))
            << rate;
    }
}

// Stamping starts a stopped clock; a restart starts from a fresh base at frame 1 and takes no
// second timer period.
TEST_F(ClockTest, StampStartsAStoppedClockHoldingOneTimerPeriod) {
    const int periods = Platform::ActiveTimerPeriods(1);
    {
        FrameClock frames;
        EXPECT_FALSE(frames.IsStarted());
        frames.Stamp(30.0f);
        EXPECT_TRUE(frames.IsStarted());
        frames.Start(60.0f);
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods + 1);
        clock_.AdvanceMilliseconds(5000);
        frames.Stop();
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods);
        const FrameStamp restarted = frames.Stamp(30.0f);
        EXPECT_EQ(std::pair(restarted.seconds, restarted.milliseconds), std::pair(1'000'005u, 33u));
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods);
}

// The anchor plus the timer's milliseconds since, in local time; a wrapped timer anchors again
// on the wall clock. The timer period is held for the object's life.
TEST_F(ClockTest, MMTimingReportsTheAnchorPlusElapsedTimerMilliseconds) {
    const int periods = Platform::ActiveTimerPeriods(1);
    std::int32_t seconds = 0, milliseconds = 0;
    std::int16_t zone = 0;
    clock_.SetWallClock(100, 700);
    clock_.SetTimeZone(120, true);
    {
        MMTiming timing;
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods + 1);
        clock_.AdvanceMilliseconds(1500);
        timing.GetTime(seconds, milliseconds, zone);
        EXPECT_EQ(std::tuple(seconds, milliseconds, zone), std::tuple(102 + 3600, 200, 120));
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods);
    clock_.SetTimerTicks(0xFFFFFFFFu - 1000);
    clock_.SetWallClock(5000, 0);
    clock_.SetTimeZone(0, false);
    MMTiming timing;
    clock_.AdvanceMilliseconds(3000);  // the timer wraps
    timing.GetTime(seconds, milliseconds, zone);
    EXPECT_EQ(std::pair(seconds, milliseconds), std::pair(5003, 0));
}

// Which camera frame each arrival is: late by most of a period is still the next frame, a whole
// period past its time is a later one (the ones between were dropped); early arrivals (a burst)
// take the next frame each.
TEST(ClockRecoveryTest, NumbersCameraFramesCountingTheDroppedOnes) {
    struct Case {
        const char* name;
        std::vector<double> arrivals;  // in periods
        std::vector<std::int64_t> frames;
    };
    const Case cases[] = {
        {"on time", {0, 1, 2, 3}, {0, 1, 2, 3}},
        {"late by most of a period", {0, 1.7, 2.95, 3.1}, {0, 1, 2, 3}},
        {"a period late is the frame after", {0, 1, 3.0, 4.0}, {0, 1, 3, 4}},
        {"a stall drops seven frames", {0, 1, 2, 10, 11}, {0, 1, 2, 10, 11}},
        {"samples all at once", {0, 1, 1, 1, 1}, {0, 1, 2, 3, 4}},
        {"an hour's gap", {0, 1, 108002}, {0, 1, 108002}},
        // A frame 1.5 periods late, the next at once: taken for frame 3 at first, the burst
        // shows it was 2, and the count goes on from there.
        {"a burst of two", {0, 1, 3.5, 3.5, 4, 5}, {0, 1, 3, 3, 4, 5}},
        // Frame 2 held past frame 9's due time, then 3 to 5 at once, 6 to 9 dropped: only the
        // burst's first sample keeps the later frame it was taken for.
        {"a burst of four after a long hold",
         {0, 1, 9.5, 9.5, 9.5, 9.5, 10, 11},
         {0, 1, 9, 3, 4, 5, 10, 11}},
        // A sample a little early (jitter) does not show the frames taken as dropped were:
        // the burst after it still takes them back.
        {"jitter between a hold and its burst", {0, 1, 4, 4.95, 5.0, 6}, {0, 1, 4, 5, 4, 6}},
    };
    for (const Case& c : cases) {
        ClockRecovery recovery;
        recovery.Reset(1000.0 / 30);
        // A line's first samples are consecutive frames: eight on time before each case.
        const int before = ClockRecovery::kAcquireSamples;
        for (int k = 0; k < before; ++k) recovery.Add(k * 1000.0 / 30);
        std::vector<std::int64_t> frames;
        for (double a : c.arrivals)
            frames.push_back(recovery.Add((a + before) * 1000.0 / 30) - before);
        EXPECT_EQ(frames, c.frames) << c.name;
    }
}

// The fitted period is the camera's, whichever side of the expected one it runs; samples far off
// the line do not move it; a camera that moves its phase is followed after a short run.
TEST(ClockRecoveryTest, FitsTheCamerasPeriodAndFollowsAMovedPhase) {
    for (double ratio : {1.0, 1.02, 0.98, 1.0 + 50e-6, 29.97 / 29.9}) {
        ClockRecovery recovery;
        const double expected = 1000.0 / 30, actual = expected / ratio;
        recovery.Reset(expected);
        for (int k = 0; k < 300; ++k) recovery.Add(k * actual + (k % 5) * 0.5);
        EXPECT_TRUE(recovery.Settled()) << ratio;
        EXPECT_NEAR(recovery.Period(), actual, actual * 1e-5) << ratio;
        EXPECT_NEAR(recovery.Expected(300), 300 * actual + 1.0, 1.0) << ratio;
    }
    ClockRecovery recovery;
    recovery.Reset(10.0);
    for (int k = 0; k < 100; ++k) recovery.Add(k * 10.0);
    recovery.Add(1000.0 + 5.0);  // half a period late: the next frame, left out of the fit
    EXPECT_NEAR(recovery.Expected(100), 1000.0, 0.01);
    for (int k = 101; k < 101 + ClockRecovery::kOffLineRun; ++k) recovery.Add(k * 10.0 + 5.0);
    EXPECT_NEAR(recovery.Expected(110), 1105.0, 0.5);  // the camera moved half a period
}

// Frames queued before the start come at once: they are frames, but the line starts after them,
// so its period is the camera's. A camera silent for ten minutes is found where it is: the line
// keeps what it knew across the silence.
TEST(ClockRecoveryTest, QueuedFramesAndSilencesLeaveTheLineRight) {
    const double p = 1000.0 / 30;
    {
        ClockRecovery recovery;
        recovery.Reset(p);
        for (int k = 0; k < 8; ++k) EXPECT_EQ(recovery.Add(0.001 * k), k);
        for (int k = 8; k < 100; ++k) EXPECT_EQ(recovery.Add((k - 7 + 0.5) * p), k) << k;
        EXPECT_NEAR(recovery.Period(), p, p * 1e-4);
    }
    {
        ClockRecovery recovery;
        const double fast = p / 1.02;
        recovery.Reset(p);
        for (int k = 0; k < 300; ++k) recovery.Add(k * fast);
        const double after = 600'000.0;
        const auto frame = static_cast<std::int64_t>(std::ceil(after / fast));
        EXPECT_EQ(recovery.Add(frame * fast), frame);
        EXPECT_EQ(recovery.Add((frame + 1) * fast), frame + 1);
    }
}

// Whatever the arrivals, the period stays within a factor two of the expected one, and nothing
// divides by zero.
TEST(ClockRecoveryTest, HostileArrivalsKeepThePeriodSane) {
    ClockRecovery recovery;
    recovery.Reset(0.0);  // no period: a millisecond
    EXPECT_GT(recovery.Period(), 0.0);
    recovery.Reset(33.3);
    for (int k = 0; k < 1000; ++k) recovery.Add(5.0);  // all at once
    EXPECT_GE(recovery.Period(), 33.3 / 2);
    EXPECT_LE(recovery.Period(), 33.3 * 2);
    recovery.Reset(33.3);
    for (int k = 0; k < 100; ++k) recovery.Add(k * 1000.0);  // thirty times slower
    EXPECT_LE(recovery.Period(), 33.3 * 2);
}

}  // namespace
