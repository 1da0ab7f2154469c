#pragma once
// A clock that tests set and advance. While a TestClockScope holds one, the platform's timer,
// counter, time of day and Sleep all read it, so time stamps and settling waits are exact and
// instant. Safe to read from one thread while another advances it.
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/time/windows_time.h"

namespace Platform {

class TestClock {
  public:
    // The counter ticks in 100-ns units, as on the platform.
    static constexpr std::int64_t kCounterFrequency = 10'000'000;

    TestClock() = default;
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    // Wall time at the current instant.
    void SetWallClock(std::int32_t seconds, std::uint16_t milliseconds);
    // Minutes west of UTC (standard time) and the daylight-saving flag.
    void SetTimeZone(std::int16_t minutesWest, bool daylightSaving);
    // Multimedia timer reading at the current instant (to test its wrap-around).
    void SetTimerTicks(DWORD milliseconds);
    void Advance(std::chrono::nanoseconds step);
    void AdvanceMilliseconds(std::int64_t milliseconds) {
        Advance(std::chrono::milliseconds(milliseconds));
    }
    // Time since construction, and moving it on to a later such time (never back).
    std::chrono::nanoseconds Elapsed() const;
    void AdvanceTo(std::chrono::nanoseconds sinceConstruction);

    // Time Sleep has been asked to wait in total.
    std::chrono::milliseconds SleptFor() const;

    DWORD TimerTicks() const;
    LONGLONG Counter() const;
    __timeb32 TimeOfDay() const;
    void SleepFor(DWORD milliseconds);

  private:
    mutable std::mutex mutex_;
    std::int64_t elapsedNs_ = 0;                   // since construction
    std::int64_t wallBaseMs_ = 1'700'000'000'000;  // wall time when elapsed was 0
    std::int64_t timerBaseMs_ = 1'000'000;         // timer reading when elapsed was 0
    std::int16_t timeZone_ = 0;
    bool daylightSaving_ = false;
    std::int64_t sleptMs_ = 0;
};

// Installs a clock for its lifetime and restores the previous one afterwards.
class TestClockScope {
  public:
    explicit TestClockScope(TestClock& clock);
    ~TestClockScope();
    TestClockScope(const TestClockScope&) = delete;
    TestClockScope& operator=(const TestClockScope&) = delete;

  private:
    TestClock* previous_;
};

// The installed test clock, or null when the real clocks are in use.
TestClock* InstalledTestClock();

// Number of timeBeginPeriod(period) calls not yet matched by timeEndPeriod(period).
int ActiveTimerPeriods(UINT period = 1);

}  // namespace Platform
