#pragma once
// The platform's multimedia timer, high-resolution counter, time of day and sleep, with the
// few basic types they use. Backed by the real clocks unless a TestClock is installed
// (platform/time/test_clock.h).
#include <cstdint>

#ifdef _WIN32
// The platform's own declarations (link with winmm).
#include <windows.h>
#include <mmsystem.h>
#include <sys/timeb.h>
#else
#ifndef ZRF_WINDOWS_BASIC_TYPES
#define ZRF_WINDOWS_BASIC_TYPES
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::int64_t LONGLONG;
typedef std::uint32_t UINT;
typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#endif

typedef UINT MMRESULT;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

#ifndef ZRF_LARGE_INTEGER_DEFINED
#define ZRF_LARGE_INTEGER_DEFINED
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
#endif

typedef std::int32_t __time32_t;

// The runtime's 32-bit time-of-day record.
struct __timeb32 {
    __time32_t time;         // seconds since 1970-01-01 UTC
    unsigned short millitm;  // milliseconds within that second
    short timezone;          // minutes west of UTC, standard time
    short dstflag;           // nonzero while daylight-saving time is in effect
};

MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD timeGetTime();
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
void _ftime32(__timeb32* timeptr);
void Sleep(DWORD milliseconds);
#endif
