#pragma once
// What a recording's time stamps say about its camera, whatever frames are missing from it:
// the frame rate, and times made to go forward for players that need them so. Stamps come from a
// file: any values, in any order.
#include <cstdint>
#include <optional>
#include <span>

namespace zrfgrab {

// No camera delivers faster: a rate above it comes of frame numbers that jump, not of a camera.
inline constexpr double kFastestCameraFps = 100000.0;

struct StampedFrame {
    std::uint64_t number;  // the recording's frame number
    std::int64_t ticks;    // its time stamp, in 100 ns
};

// Camera frames per second: the slope of the line through camera frame numbers and times (or,
// where the stamps keep no one rhythm, camera frames over the time they took). The
// camera frames between two recorded ones are told by the time between them in typical frame
// periods (the period from the steps between consecutively numbered frames): frames the
// recording left out and frames the camera dropped before they were numbered both count, and a
// damaged or repeated number misleads nothing. Where the stamps keep no one rhythm (frames in
// bursts, a rate that changes) or have no such steps, the frame numbers tell.
// Steps back in time are left out. None without two frames a positive time apart. Pass only
// frames whose checksums hold.
std::optional<double> CameraFrameRate(std::span<const StampedFrame> frames);

// Times for frames in order that never go back: a stamp not later than the last time given
// moves, and every later stamp with it, just far enough to follow that time by `least`. The
// frames after a step back keep their spacing; a recording without one keeps its times.
class IncreasingTimes {
  public:
    explicit IncreasingTimes(std::int64_t least = 1) : least_(least) {}
    std::int64_t Next(std::int64_t stamp);
    // Steps back met so far.
    std::uint64_t Moved() const { return moved_; }

  private:
    std::int64_t least_;
    std::int64_t shift_ = 0;
    std::int64_t last_ = 0;
    bool any_ = false;
    std::uint64_t moved_ = 0;
};

}  // namespace zrfgrab
