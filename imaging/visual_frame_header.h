#pragma once
// The 28-byte header in front of a visual frame's pixels; all numbers little-endian.
#include <cstdint>

struct VisualFrameHeader {
    char fourCc[4];              // "YUY2" or "I420"
    std::int32_t width;
    std::int32_t height;
    std::int32_t stride;         // always width * 2
    std::int32_t timeZoneMinutes;
    std::uint32_t seconds;
    std::uint32_t milliseconds;
};
static_assert(sizeof(VisualFrameHeader) == 28);
