// The seam of platform/time/windows_clock_seam.h, built without it: here the names are the
// platform's own.
#include <windows.h>
#include <mmsystem.h>
#include <sys/timeb.h>

#include "platform/time/test_clock.h"

namespace Platform::ClockSeam {

MMRESULT BeginPeriod(UINT period) { return timeBeginPeriod(period); }
MMRESULT EndPeriod(UINT period) { return timeEndPeriod(period); }

DWORD TimerTicks() {
    if (auto* clock = InstalledTestClock()) return clock->TimerTicks();
    return timeGetTime();
}

BOOL CounterFrequency(LARGE_INTEGER* frequency) {
    if (InstalledTestClock() == nullptr) return QueryPerformanceFrequency(frequency);
    if (frequency == nullptr) return FALSE;
    frequency->QuadPart = TestClock::kCounterFrequency;
    return TRUE;
}

BOOL Counter(LARGE_INTEGER* count) {
    auto* clock = InstalledTestClock();
    if (clock == nullptr) return QueryPerformanceCounter(count);
    if (count == nullptr) return FALSE;
    count->QuadPart = clock->Counter();
    return TRUE;
}

void TimeOfDay(__timeb32* time) {
    if (auto* clock = InstalledTestClock(); clock != nullptr && time != nullptr)
        *time = clock->TimeOfDay();
    else
        _ftime32(time);
}

void Wait(DWORD milliseconds) {
    if (auto* clock = InstalledTestClock()) return clock->SleepFor(milliseconds);
    Sleep(milliseconds);
}

}  // namespace Platform::ClockSeam
