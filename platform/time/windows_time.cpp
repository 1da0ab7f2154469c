#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/time/test_clock.h"
#include "platform/time/windows_time.h"

namespace Platform {
namespace {

// Periods the platform accepts; each counted separately so a test sees an unbalanced pair.
constexpr UINT kMaxPeriod = 1000;
std::array<std::atomic<int>, kMaxPeriod + 1> g_activePeriods{};

std::int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

__timeb32 RealTimeOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    __timeb32 t{};
    t.time = static_cast<__time32_t>(now.tv_sec);
    t.millitm = static_cast<unsigned short>(now.tv_nsec / 1'000'000);
    t.dstflag = local.tm_isdst > 0 ? 1 : 0;
    // The platform reports the standard-time offset and the daylight flag apart.
    const long standardOffset = local.tm_gmtoff - (t.dstflag ? 3600 : 0);
    t.timezone = static_cast<short>(-standardOffset / 60);
    return t;
}

}  // namespace

int ActiveTimerPeriods(UINT period) {
    return period >= 1 && period <= kMaxPeriod ? g_activePeriods[period].load() : 0;
}

}  // namespace Platform

MMRESULT timeBeginPeriod(UINT period) {
    if (period < 1 || period > Platform::kMaxPeriod) return TIMERR_NOCANDO;
    Platform::g_activePeriods[period].fetch_add(1);
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
    if (period < 1 || period > Platform::kMaxPeriod) return TIMERR_NOCANDO;
    // An end without a matching begin is refused, as the platform does.
    int active = Platform::g_activePeriods[period].load();
    while (active > 0 &&
           !Platform::g_activePeriods[period].compare_exchange_weak(active, active - 1)) {
    }
    return active > 0 ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

DWORD timeGetTime() {
    if (auto* clock = Platform::InstalledTestClock()) return clock->TimerTicks();
    return static_cast<DWORD>(
        static_cast<std::uint64_t>(Platform::SteadyNanoseconds() / 1'000'000));
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = Platform::TestClock::kCounterFrequency;
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) return FALSE;
    if (auto* clock = Platform::InstalledTestClock()) {
        count->QuadPart = clock->Counter();
    } else {
        count->QuadPart = Platform::SteadyNanoseconds() / 100;
    }
    return TRUE;
}

void _ftime32(__timeb32* timeptr) {
    if (!timeptr) return;
    if (auto* clock = Platform::InstalledTestClock()) {
        *timeptr = clock->TimeOfDay();
    } else {
        *timeptr = Platform::RealTimeOfDay();
    }
}

void Sleep(DWORD milliseconds) {
    if (auto* clock = Platform::InstalledTestClock()) {
        clock->SleepFor(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
