#pragma once
// A simulated camera's imperfections as people write them, read one way for whoever takes them
// (a camera's changes, zrfgrab's options): each false, leaving the value, for text it refuses.
#include <cstdint>
#include <string_view>

namespace zrf::sim {

// The sensor clock's offset in parts per million, sign allowed: "+50", "-20"; at most 500000
// either way.
bool ReadClockPpm(std::string_view text, double& ppm);
// Milliseconds a sample may be late: 0 to 10000.
bool ReadJitterMs(std::string_view text, double& ms);
// "MS/SECONDS": a stall of MS milliseconds (a whole number from 1 to 10^7) every SECONDS
// seconds (0.001 to 10^6, whole milliseconds), the stall shorter than its period.
bool ReadStall(std::string_view text, std::int64_t& ms, std::int64_t& everyMs);
// One sample in this many glitched: a whole number up to 4 * 10^9 (0: none).
bool ReadGlitchEvery(std::string_view text, std::uint32_t& every);

}  // namespace zrf::sim
