#include "sim/video/frame_pacer.h"

#include <algorithm>
#include <cmath>

#include "sim/video/simulated_time.h"

namespace zrf::sim {
namespace {

// Crystals are off by ppm, a misreported rate by a few per cent; beyond half the rate either way
// nothing is a camera.
constexpr double kMostPpm = 500000.0;

FramePacer::Clock::time_point TimeOf(SimulatedTime* time) {
    if (time == nullptr) return FramePacer::Clock::now();
    return FramePacer::Clock::time_point(std::chrono::duration_cast<FramePacer::Clock::duration>(
        std::chrono::nanoseconds(time->Now())));
}

}  // namespace

void StopSignal::SetTime(SimulatedTime* time) {
    std::lock_guard lock(mutex_);
    time_ = time;
}

void StopSignal::Request() {
    {
        std::lock_guard lock(mutex_);
        if (!requested_) requested_at_ = TimeOf(time_);
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

std::uint64_t FramePacer::SkippedAtStop(Clock::time_point due, Clock::time_point now,
                                        Clock::time_point stopAt, Clock::duration step) {
    return FramesBetween(due, NextDue(due, std::min(now, stopAt), step), step);
}

FramePacer::Clock::duration FramePacer::SensorStep(REFERENCE_TIME interval, double ppm) {
    if (!std::isfinite(ppm)) ppm = 0.0;
    const double factor = 1.0 + std::clamp(ppm, -kMostPpm, kMostPpm) * 1e-6;
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(std::llround(static_cast<double>(interval) * 100.0 / factor)));
}

bool FramePacer::InStall(Clock::duration sinceStart, const CameraImperfections& imperfections) {
    const std::chrono::milliseconds stall(imperfections.stall_ms),
        every(imperfections.stall_every_ms);
    if (stall <= Clock::duration::zero() || every <= stall || sinceStart < every) return false;
    return sinceStart % every < stall;
}

FramePacer::FramePacer(Pacing pacing, const CameraImperfections& imperfections, SimulatedTime* time)
    : pacing_(pacing), imperfections_(imperfections), time_(time), random_(imperfections.seed) {}

FramePacer::Clock::time_point FramePacer::Now() const {
    return TimeOf(time_);
}

bool FramePacer::WaitUntil(Clock::time_point when, StopSignal& stop) {
    if (time_ != nullptr) {
        // Simulated time: the camera moves it on, and is never late by waiting.
        if (stop.Requested()) return false;
        time_->AdvanceTo(
            std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count());
        return true;
    }
    std::unique_lock lock(stop.mutex_);
    return !stop.changed_.wait_until(lock, when, [&] { return stop.requested_; });
}

void FramePacer::SkipStall() {
    const std::chrono::milliseconds stall(imperfections_.stall_ms),
        every(imperfections_.stall_every_ms);
    // Stall by stall, each at once to its end; a thousand in a row (stalls closer together than a
    // frame period) let the next frame through rather than none ever again.
    for (int stalls = 0; stalls < 1000 && InStall(next_due_.time_since_epoch(), imperfections_);
         ++stalls) {
        const Clock::duration into = next_due_.time_since_epoch() % every;
        const Clock::duration left = std::chrono::duration_cast<Clock::duration>(stall) - into;
        const auto frames = static_cast<std::uint64_t>((left + step_ - Clock::duration(1)) / step_);
        next_due_ += step_ * static_cast<Clock::rep>(frames);
        last_stalled_ += frames;
        last_skipped_ += frames;
    }
}

// Late by at most nine tenths of a period: later, a sample would meet the next one, and the
// rhythm could only be kept by dropping frames.
FramePacer::Clock::duration FramePacer::Jitter() {
    if (!(imperfections_.jitter_ms > 0.0)) return Clock::duration::zero();
    const double most = std::chrono::duration<double, std::milli>(step_).count() * 0.9;
    std::uniform_real_distribution<double> late(0.0, std::min(imperfections_.jitter_ms, most));
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(late(random_)));
}

std::uint64_t FramePacer::StalledAfter(Clock::time_point due, std::uint64_t frames) const {
    if (imperfections_.stall_ms <= 0 || step_ <= Clock::duration::zero()) return 0;
    std::uint64_t stalled = 0;
    // Bounded by the frames themselves (a stop an hour on walks an hour of frames, once).
    for (std::uint64_t i = 1; i <= frames; ++i) {
        if (InStall((due + step_ * static_cast<Clock::rep>(i)).time_since_epoch(), imperfections_))
            ++stalled;
    }
    return stalled;
}

FramePacer::Dropped FramePacer::SkippedBeforeStop(const StopSignal& stop) const {
    if (pacing_ == Pacing::AsFastAsPossible || !started_) return {};
    const Clock::time_point now = Now();
    Clock::time_point stopAt;
    {
        std::lock_guard lock(stop.mutex_);
        if (!stop.requested_) return {};
        stopAt = stop.requested_at_;
    }
    Dropped dropped;
    dropped.frames = SkippedAtStop(next_due_, now, stopAt, step_);
    dropped.stalled = StalledAfter(next_due_, dropped.frames);
    return dropped;
}

bool FramePacer::WaitForNextFrame(REFERENCE_TIME interval, StopSignal& stop) {
    if (pacing_ == Pacing::AsFastAsPossible) return !stop.Requested();
    interval = std::clamp(interval, kShortestInterval, kLongestInterval);
    const Clock::time_point now = Now();
    const Clock::duration step = SensorStep(interval, imperfections_.clock_ppm);
    last_skipped_ = 0;
    last_stalled_ = 0;
    step_ = step;
    const Clock::time_point due = next_due_;
    if (!started_) {
        // The first frame comes one interval after the start, as from a sensor.
        started_ = true;
        next_due_ = now + step;
    } else {
        next_due_ = NextDue(due, now, step);
        last_skipped_ = FramesBetween(due, next_due_, step);
        // Of the frames the thread came back too late for, those in a stall are the stall's.
        last_stalled_ = StalledAfter(due, last_skipped_);
    }
    const Clock::time_point stallFrom = next_due_;
    const std::uint64_t stalledLate = last_stalled_;
    SkipStall();
    if (WaitUntil(next_due_ + Jitter(), stop)) return true;
    // Frames due after the stop was asked for are not the thread's to have delivered, nor the
    // stall's to have taken.
    Clock::time_point stopAt;
    {
        std::lock_guard lock(stop.mutex_);
        stopAt = stop.requested_at_;
    }
    const std::uint64_t stallTaken =
        last_stalled_ - stalledLate;  // by SkipStall, from stallFrom on
    const std::uint64_t late = last_skipped_ - stallTaken;
    const std::uint64_t lateBeforeStop = late > 0 ? SkippedAtStop(due, now, stopAt, step) : 0;
    std::uint64_t stalledBeforeStop = 0;
    if (stallTaken > 0 && stopAt > stallFrom) {
        const auto dueBeforeStop =
            static_cast<std::uint64_t>((stopAt - stallFrom + step - Clock::duration(1)) / step);
        stalledBeforeStop = std::min(stallTaken, dueBeforeStop);
    }
    last_stalled_ = StalledAfter(due, lateBeforeStop) + stalledBeforeStop;
    last_skipped_ = lateBeforeStop + stalledBeforeStop;
    return false;
}

}  // namespace zrf::sim
