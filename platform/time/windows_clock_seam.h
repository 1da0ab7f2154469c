#pragma once
// Windows test programs only, included before every source of theirs that runs the project's
// code: the platform's time functions, as that code calls them, read an installed TestClock
// first, as the stand-in's do on Linux. The platform's own callers (its threads library, the
// runtime, the filter DLL) keep the real functions: a steady clock or a wait of theirs must not
// stand still with the test clock.
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#include <sys/timeb.h>

namespace Platform::ClockSeam {
MMRESULT BeginPeriod(UINT period);
MMRESULT EndPeriod(UINT period);
DWORD TimerTicks();
BOOL CounterFrequency(LARGE_INTEGER* frequency);
BOOL Counter(LARGE_INTEGER* count);
void TimeOfDay(__timeb32* time);
void Wait(DWORD milliseconds);
}  // namespace Platform::ClockSeam

#define timeBeginPeriod Platform::ClockSeam::BeginPeriod
#define timeEndPeriod Platform::ClockSeam::EndPeriod
#define timeGetTime Platform::ClockSeam::TimerTicks
#define QueryPerformanceFrequency Platform::ClockSeam::CounterFrequency
#define QueryPerformanceCounter Platform::ClockSeam::Counter
#define _ftime32 Platform::ClockSeam::TimeOfDay
#define Sleep Platform::ClockSeam::Wait
#endif
