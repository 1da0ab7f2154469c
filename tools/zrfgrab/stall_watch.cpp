#include "tools/zrfgrab/stall_watch.h"

#include <algorithm>

namespace zrfgrab {

StallWatch::StallWatch(std::size_t cameras) : cameras_(cameras) {}

std::string StallWatch::Check(std::size_t camera, const std::string& label, std::uint64_t delivered,
                              bool calibrating, bool through, double now) {
    Camera& c = cameras_.at(camera);
    if (delivered != c.delivered || calibrating || through) {
        if (c.firstFrame < 0 && delivered > 0) c.firstFrame = now;
        c.delivered = delivered;
        c.lastProgress = now;
        return {};
    }
    const double waited = now - c.lastProgress;
    if (delivered == 0)
        return waited > kFirstFrameSeconds ? label + " delivers no images" : std::string();
    // The camera's own pace so far; a single frame gives no period, so the plain allowance holds.
    const double period = delivered > 1 ? (c.lastProgress - c.firstFrame) / static_cast<double>(delivered - 1) : 0.0;
    const double allowance = std::max(kStallSeconds, kStallPeriods * period);
    if (waited <= allowance) return {};
    return label + " stopped delivering images after " + std::to_string(delivered) +
           (delivered == 1 ? " frame" : " frames");
}

}  // namespace zrfgrab
