#include "sim/video/frame_pacer.h"

#include <algorithm>

namespace zrf::sim {

void StopSignal::Request() {
    {
        std::lock_guard lock(mutex_);
        if (!requested_) requested_at_ = std::chrono::steady_clock::now();
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

FramePacer::Clock::time_point FramePacer::NextDue(Clock::time_point due, Clock::time_point now,
                                                  Clock::duration step) {
    if (step <= Clock::duration::zero()) return now;
    Clock::time_point next = due + step;
    // Whole frames missed: skipped, keeping the rhythm. (Re-anchoring on `now` instead would
    // move the rhythm by every wake-up that came late, and a busy host would see its camera slow.)
    if (now - next >= step) next += ((now - next) / step) * step;
    return next;
}

std::uint64_t FramePacer::FramesBetween(Clock::time_point due, Clock::time_point next,
                                         Clock::duration step) {
    if (step <= Clock::duration::zero() || next - due <= step) return 0;
    return static_cast<std::uint64_t>((next - due) / step - 1);
}

std::uint64_t FramePacer::SkippedAtStop(Clock::time_point due, Clock::time_point now, Clock::time_point stopAt,
                                         Clock::duration step) {
    return FramesBetween(due, NextDue(due, std::min(now, stopAt), step), step);
}

std::uint64_t FramePacer::SkippedBeforeStop(const StopSignal& stop) const {
    if (pacing_ == Pacing::AsFastAsPossible || !started_) return 0;
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(stop.mutex_);
    return stop.requested_ ? SkippedAtStop(next_due_, now, stop.requested_at_, step_) : 0;
}

bool FramePacer::WaitForNextFrame(REFERENCE_TIME interval, StopSignal& stop) {
    if (pacing_ == Pacing::AsFastAsPossible) return !stop.Requested();
    interval = std::clamp(interval, kShortestInterval, kLongestInterval);
    auto now = Clock::now();
    auto step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(interval * 100));
    last_skipped_ = 0;
    step_ = step;
    const Clock::time_point due = next_due_;
    if (!started_) {
        // The first frame comes one interval after the start, as from a sensor.
        started_ = true;
        next_due_ = now + step;
    } else {
        next_due_ = NextDue(due, now, step);
        last_skipped_ = FramesBetween(due, next_due_, step);
    }
    std::unique_lock lock(stop.mutex_);
    if (!stop.changed_.wait_until(lock, next_due_, [&] { return stop.requested_; })) return true;
    // Frames due after the stop was asked for are not the thread's to have delivered.
    if (last_skipped_ > 0) last_skipped_ = SkippedAtStop(due, now, stop.requested_at_, step);
    return false;
}

}  // namespace zrf::sim
