#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zrfgrab {

// Decides when a grab gives up on a camera: one that delivers nothing within the first-frame
// allowance, or one that delivered some frames and then stopped for longer than its stall
// allowance. The allowances are in seconds and in the camera's own frame periods, never in
// frames asked for: a long grab must not wait longer for a dead camera than a short one, nor a
// slow camera be given up between two of its frames. A calibration is progress (a camera sends
// no image while it calibrates) for a bounded time, and so is a camera that has delivered all it
// was asked.
class StallWatch {
public:
    static constexpr double kFirstFrameSeconds = 10.0;
    // After the first frame: this long, or this many of the camera's periods if it is slower.
    static constexpr double kStallSeconds = 5.0;
    static constexpr double kStallPeriods = 5.0;
    // A calibration longer than this is a camera that stopped while calibrating.
    static constexpr double kCalibrationSeconds = 60.0;

    explicit StallWatch(std::size_t cameras);

    // The period the camera was set to, in seconds (0: unknown): the allowance before a second
    // frame shows the camera's own pace.
    void SetPeriod(std::size_t camera, double seconds);

    // Notes one camera's state at `now` (seconds since the streams began). Returns what went
    // wrong, in the words of that camera's summary, or an empty string while the camera is fine.
    std::string Check(std::size_t camera, std::uint64_t delivered, bool calibrating, bool through, double now);

private:
    struct Camera {
        double period = 0;              // as set; 0 unknown
        std::uint64_t delivered = 0;
        double lastProgress = 0;        // when a frame last came, a calibration went on, or it got through
        double calibratingSince = -1;   // -1 while not calibrating
        std::uint64_t firstCount = 0;   // the count and time when frames were first seen
        double firstSeen = -1;
        double lastFrame = 0;           // when `delivered` last grew
    };
    double Period(const Camera& c) const;
    std::vector<Camera> cameras_;
};

}  // namespace zrfgrab
