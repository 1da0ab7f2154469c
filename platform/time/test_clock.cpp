#include "platform/time/test_clock.h"

#include <algorithm>
#include <atomic>

namespace Platform {
namespace {

std::atomic<TestClock*> g_installed{nullptr};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

void TestClock::SetWallClock(std::int32_t seconds, std::uint16_t milliseconds) {
    std::lock_guard lock(mutex_);
    wallBaseMs_ = std::int64_t{seconds} * 1000 + milliseconds - FloorDiv(elapsedNs_, 1'000'000);
}

void TestClock::SetTimeZone(std::int16_t minutesWest, bool daylightSaving) {
    std::lock_guard lock(mutex_);
    timeZone_ = minutesWest;
    daylightSaving_ = daylightSaving;
}

void TestClock::SetTimerTicks(DWORD milliseconds) {
    std::lock_guard lock(mutex_);
    timerBaseMs_ = std::int64_t{milliseconds} - FloorDiv(elapsedNs_, 1'000'000);
}

void TestClock::Advance(std::chrono::nanoseconds step) {
    std::lock_guard lock(mutex_);
    elapsedNs_ += step.count();
}

std::chrono::nanoseconds TestClock::Elapsed() const {
    std::lock_guard lock(mutex_);
    return std::chrono::nanoseconds(elapsedNs_);
}

void TestClock::AdvanceTo(std::chrono::nanoseconds sinceConstruction) {
    std::lock_guard lock(mutex_);
    elapsedNs_ = std::max(elapsedNs_, sinceConstruction.count());
}

std::chrono::milliseconds TestClock::SleptFor() const {
    std::lock_guard lock(mutex_);
    return std::chrono::milliseconds(sleptMs_);
}

DWORD TestClock::TimerTicks() const {
    std::lock_guard lock(mutex_);
    // The timer wraps at 2^32 ms like the platform's.
    return static_cast<DWORD>(
        static_cast<std::uint64_t>(timerBaseMs_ + FloorDiv(elapsedNs_, 1'000'000)));
}

LONGLONG TestClock::Counter() const {
    std::lock_guard lock(mutex_);
    return FloorDiv(elapsedNs_, 100);
}

__timeb32 TestClock::TimeOfDay() const {
    std::lock_guard lock(mutex_);
    const std::int64_t nowMs = wallBaseMs_ + FloorDiv(elapsedNs_, 1'000'000);
    __timeb32 t{};
    t.time = static_cast<__time32_t>(FloorDiv(nowMs, 1000));
    t.millitm = static_cast<unsigned short>(nowMs - FloorDiv(nowMs, 1000) * 1000);
    t.timezone = timeZone_;
    t.dstflag = daylightSaving_ ? 1 : 0;
    return t;
}

void TestClock::SleepFor(DWORD milliseconds) {
    std::lock_guard lock(mutex_);
    sleptMs_ += milliseconds;
    elapsedNs_ += std::int64_t{milliseconds} * 1'000'000;
}

TestClockScope::TestClockScope(TestClock& clock) : previous_(g_installed.exchange(&clock)) {}

TestClockScope::~TestClockScope() {
    g_installed.store(previous_);
}

TestClock* InstalledTestClock() {
    return g_installed.load(std::memory_order_acquire);
}

}  // namespace Platform
