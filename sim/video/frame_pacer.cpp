#include "sim/video/frame_pacer.h"

#include <algorithm>

namespace zrf::sim {

void StopSignal::Request() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    changed_.notify_all();
}

void StopSignal::Reset() {
    std::lock_guard lock(mutex_);
    requested_ = false;
}

bool StopSignal::Requested() const {
    std::lock_guard lock(mutex_);
    return requested_;
}

bool FramePacer::WaitForNextFrame(REFERENCE_TIME interval, StopSignal& stop) {
    if (pacing_ == Pacing::AsFastAsPossible) return !stop.Requested();
    interval = std::clamp(interval, kShortestInterval, kLongestInterval);
    auto now = Clock::now();
    auto step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(interval * 100));
    if (!started_) {
        // The first frame comes one interval after the start, as from a sensor.
        started_ = true;
        next_due_ = now + step;
    } else {
        next_due_ += step;
        // After a stall, resume the rhythm instead of delivering a burst.
        if (next_due_ < now) next_due_ = now;
    }
    std::unique_lock lock(stop.mutex_);
    return !stop.changed_.wait_until(lock, next_due_, [&] { return stop.requested_; });
}

}  // namespace zrf::sim
