#include "tools/zrfgrab/stall_watch.h"

#include <algorithm>

namespace zrfgrab {

StallWatch::StallWatch(std::size_t cameras) : cameras_(cameras) {}

void StallWatch::SetPeriod(std::size_t camera, double seconds) {
    cameras_.at(camera).period = seconds > 0 ? seconds : 0;
}

// The camera's own pace from the frames seen (a calibration between them is not counted: it
// moves no frame time), or the period it was set to, whichever is longer.
double StallWatch::Period(const Camera& c) const {
    double measured = 0;
    if (c.firstSeen >= 0 && c.delivered > c.firstCount)
        measured = (c.lastFrame - c.firstSeen) / static_cast<double>(c.delivered - c.firstCount);
    return std::max(measured, c.period);
}

std::string StallWatch::Check(std::size_t camera, std::uint64_t delivered, bool calibrating, bool through,
                              double now) {
    Camera& c = cameras_.at(camera);
    if (delivered != c.delivered) {
        if (c.firstSeen < 0) {
            c.firstSeen = now;
            c.firstCount = delivered;
        }
        c.delivered = delivered;
        c.lastFrame = c.lastProgress = now;
    }
    if (through) c.lastProgress = now;
    if (!calibrating) {
        c.calibratingSince = -1;
    } else {
        if (c.calibratingSince < 0) c.calibratingSince = now;
        if (now - c.calibratingSince <= kCalibrationSeconds) c.lastProgress = now;
    }
    const double waited = now - c.lastProgress;
    const double period = Period(c);
    const double allowance = delivered == 0 ? std::max(kFirstFrameSeconds, 2 * kStallPeriods * period)
                                            : std::max(kStallSeconds, kStallPeriods * period);
    if (waited <= allowance) return {};
    const std::string calibratingNote = c.calibratingSince >= 0 ? " (it has been calibrating since)" : "";
    if (delivered == 0) return "the camera delivers no images" + calibratingNote;
    return "the camera stopped delivering images after " + std::to_string(delivered) +
           (delivered == 1 ? " frame" : " frames") + calibratingNote;
}

}  // namespace zrfgrab
