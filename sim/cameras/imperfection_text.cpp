#include "sim/cameras/imperfection_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zrf::sim {
namespace {

// A decimal in [low, high], written as a person would ("+50", "-20", "3", "0.5"); nothing else
// around it, no second sign, nothing out of a double's range.
bool Decimal(std::string_view text, double low, double high, double& value) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return false;
    }
    if (text.empty() || text.starts_with('+')) return false;
    double parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || !(parsed >= low && parsed <= high))
        return false;
    value = parsed;
    return true;
}

}  // namespace

bool ReadClockPpm(std::string_view text, double& ppm) {
    return Decimal(text, -500000, 500000, ppm);
}

bool ReadJitterMs(std::string_view text, double& ms) {
    return Decimal(text, 0, 10000, ms);
}

bool ReadStall(std::string_view text, std::int64_t& ms, std::int64_t& everyMs) {
    const auto slash = text.find('/');
    double stall = 0, seconds = 0;
    // Whole milliseconds both: a stall the pacer would round to nothing is refused, not ignored.
    if (slash == std::string_view::npos || !Decimal(text.substr(0, slash), 1, 1e7, stall) ||
        !Decimal(text.substr(slash + 1), 0.001, 1e6, seconds) || stall != std::floor(stall) ||
        seconds * 1000 != std::floor(seconds * 1000) || stall >= seconds * 1000) {
        return false;
    }
    ms = static_cast<std::int64_t>(stall);
    everyMs = static_cast<std::int64_t>(seconds * 1000);
    return true;
}

bool ReadGlitchEvery(std::string_view text, std::uint32_t& every) {
    double value = 0;
    if (!Decimal(text, 0, 4e9, value) || value != std::floor(value)) return false;
    every = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace zrf::sim
