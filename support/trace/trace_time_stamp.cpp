#include "support/trace/trace_time_stamp.h"

#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

std::string FormatTraceTimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // Floor, not truncation towards zero, so instants before 1970 keep a valid fraction.
    const auto seconds = floor<std::chrono::seconds>(when);
    const auto ticks =
        duration_cast<duration<long long, std::ratio<1, 10'000'000>>>(when - seconds);
    const std::time_t time = system_clock::to_time_t(seconds);
    std::tm local{};
    localtime_r(&time, &local);

    // The short date follows the global C++ locale ("%x"), as a culture's short date would.
    std::ostringstream date;
    date << std::put_time(&local, "%x");

    char clock[32];
    std::snprintf(clock, sizeof clock, " %02d:%02d:%02d.%07lld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(ticks.count()));
    return date.str() + clock;
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
