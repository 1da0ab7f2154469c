#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrfgrab {

// Decides when a grab that waits for a number of frames gives up on a camera: one that delivers
// nothing within the first-frame allowance, or one that delivered some frames and then stopped
// for longer than its stall allowance. The allowances are in seconds, not frames: a long grab
// must not wait longer for a dead camera than a short one. A calibration is progress (a camera
// stops sending while it calibrates), and so is a camera that has delivered all it was asked.
class StallWatch {
public:
    static constexpr double kFirstFrameSeconds = 10.0;
    // After the first frame: this long, or this many of the camera's own periods if it is slower.
    static constexpr double kStallSeconds = 5.0;
    static constexpr double kStallPeriods = 5.0;

    explicit StallWatch(std::size_t cameras);

    // Notes one camera's state at `now` (seconds since the streams began). Returns what went
    // wrong, in the words of the summary, or an empty string while the camera is fine.
    std::string Check(std::size_t camera, const std::string& label, std::uint64_t delivered, bool calibrating,
                      bool through, double now);

private:
    struct Camera {
        std::uint64_t delivered = 0;
        double lastProgress = 0;  // when `delivered` last grew or the camera calibrated
        double firstFrame = -1;   // when the first frame was seen; -1 before
    };
    std::vector<Camera> cameras_;
};

}  // namespace zrfgrab
