#pragma once
// A recorded frame's time: ticks of 100 ns since 0001-01-01 in the capturing host's local time
// (the recorder counts them so), and how the images' zones label such times. Any 64-bit value
// may come from a file; none overflows here.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zrfgrab {

// Whole milliseconds since 1970-01-01 on the same clock, rounded down.
std::int64_t TicksToUnixMilliseconds(std::int64_t ticks);

// "2026-12-07 20:29:00.033".
std::string FrameTimeText(std::int64_t ticks);
// "2026:12:07 20:29:00", the form a TIFF DateTime tag takes.
std::string TiffDateTimeText(std::int64_t ticks);

// What the times of frames carrying these zones are: "local time of the capturing host,
// standard zone UTC+01:00", or that the zone is not recorded or differs between frames.
std::string TimesText(std::span<const std::optional<int>> zones);

}  // namespace zrfgrab
