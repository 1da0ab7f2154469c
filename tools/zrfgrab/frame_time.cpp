#include "tools/zrfgrab/frame_time.h"

#include <cstdio>
#include <ctime>

#include "tools/zrfgrab/zrf_image_view.h"

namespace zrfgrab {
namespace {

constexpr std::int64_t kUnixEpochTicks = 621355968000000000;

struct Broken {
    std::tm tm{};
    int milliseconds = 0;
};

Broken BreakDown(std::int64_t ticks) {
    const std::int64_t ms = TicksToUnixMilliseconds(ticks);
    const std::int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    Broken b;
    const std::time_t t = static_cast<std::time_t>(seconds);
    gmtime_r(&t, &b.tm);
    b.milliseconds = static_cast<int>(ms - seconds * 1000);
    return b;
}

}  // namespace

std::int64_t TicksToUnixMilliseconds(std::int64_t ticks) {
    // Divide before subtracting: nothing overflows. Rounded down, so that times before 1970
    // keep their order.
    const std::int64_t ms = ticks / 10000 - (ticks % 10000 < 0 ? 1 : 0);
    return ms - kUnixEpochTicks / 10000;
}

std::string FrameTimeText(std::int64_t ticks) {
    const Broken b = BreakDown(ticks);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", b.tm.tm_year + 1900,
                  b.tm.tm_mon + 1, b.tm.tm_mday, b.tm.tm_hour, b.tm.tm_min, b.tm.tm_sec, b.milliseconds);
    return text;
}

std::string TiffDateTimeText(std::int64_t ticks) {
    const Broken b = BreakDown(ticks);
    char text[64];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", b.tm.tm_year + 1900,
                  b.tm.tm_mon + 1, b.tm.tm_mday, b.tm.tm_hour, b.tm.tm_min, b.tm.tm_sec);
    return text;
}

std::string TimesText(std::span<const std::optional<int>> zones) {
    std::optional<int> zone;
    bool unknown = false, vary = false;
    for (const auto& z : zones) {
        if (!z) unknown = true;
        else if (zone && *zone != *z) vary = true;
        else zone = z;
    }
    std::string text = "local time of the capturing host";
    if (!zone) return text + " (its zone is not recorded)";
    if (vary) return text + " (zones differ between frames)";
    // The zone is the standard one: in daylight saving time the times are an hour later.
    return text + ", standard zone " + ZoneText(*zone) + (unknown ? " where recorded" : "");
}

}  // namespace zrfgrab
