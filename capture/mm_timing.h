#pragma once
// A millisecond wall clock: the time of day read once at an anchor, advanced by the multimedia
// timer. Holds a 1-ms timer period while it exists.
#include <cstdint>

#include "platform/time/windows_time.h"

class MMTiming {
public:
    MMTiming();
    virtual ~MMTiming();
    MMTiming(const MMTiming&) = delete;
    MMTiming& operator=(const MMTiming&) = delete;

    void GetTime(std::int32_t& seconds, std::int32_t& milliseconds, std::int16_t& timeZone);

private:
    void Anchor();

    DWORD anchorTick_ = 0;
    // The runtime's time-of-day record, in its own order.
    std::int32_t anchorSeconds_ = 0;
    std::uint16_t anchorMilliseconds_ = 0;
    std::int16_t timeZone_ = 0;
    std::int16_t daylightSaving_ = 0;
};
