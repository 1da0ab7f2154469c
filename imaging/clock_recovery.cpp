#include "imaging/clock_recovery.h"

#include <algorithm>
#include <cmath>

namespace {

// How strongly the expected period holds the slope while few samples are fitted, in the units
// of the fit's spread of frame numbers (frames squared): a handful of samples late by up to a
// quarter period must not swing it.
constexpr double kPriorWeight = 8.0;
// The fit has spoken once the spread of its frame numbers outweighs the prior this many times
// (about twenty samples).
constexpr double kSettledSpread = 100.0 * kPriorWeight;
// A camera more than twice as fast or slow as it says is not taken at the fit's word.
constexpr double kMostOff = 2.0;
// Frames skipped at once are bounded so frame numbers cannot overflow, whatever the times.
constexpr double kMostSkipped = 1e12;
// A sample this share of a period short of the next frame's due time is still the frame before.
constexpr double kDueMargin = 0.02;
// The earliest samples' mark rises by this share of a period a sample, so it follows a camera
// whose delivery settles later, yet stays within a few thousandths of the true edge.
constexpr double kEarlyCreep = 0.0001;

}  // namespace

void ClockRecovery::Reset(double period) {
    guess_ = period > 0 && std::isfinite(period) ? period : 1.0;
    refPeriod_ = guess_;
    empty_ = true;
    frame_ = 0;
    offLine_ = 0;
    early_ = 0.0;
    refFrame_ = 0;
    refArrival_ = 0.0;
    w_ = u_ = v_ = uu_ = uv_ = 0.0;
}

std::int64_t ClockRecovery::Add(double arrival) {
    if (empty_) {
        empty_ = false;
        StartLine(0, arrival, guess_);
        return frame_;
    }
    const double period = Period();
    // Late past the next frame's due time: the frames between were dropped.
    const double late = arrival - (Expected(frame_ + 1) + early_);
    double skipped = 0.0;
    if (late >= (1.0 - kDueMargin) * period) {
        skipped = std::min(std::floor(late / period + kDueMargin), kMostSkipped);
    }
    frame_ += 1 + static_cast<std::int64_t>(skipped);
    Forget(std::exp(-(1.0 + skipped) * period / kMemoryMilliseconds));
    const double off = arrival - Expected(frame_);
    if (std::abs(off) <= 0.25 * period) {
        early_ = std::min(early_ + kEarlyCreep * period, std::min(off, 0.0));
        Include(frame_, arrival);
        offLine_ = 0;
    } else if (++offLine_ >= kOffLineRun) {
        StartLine(frame_, arrival, period);
        offLine_ = 0;
    }
    return frame_;
}

double ClockRecovery::Period() const {
    const double prior = refPeriod_;
    if (w_ <= 0) return prior;
    const double spreadUU = uu_ - u_ * u_ / w_;
    const double spreadUV = uv_ - u_ * v_ / w_;
    const double slope = (spreadUV + kPriorWeight * prior) / (spreadUU + kPriorWeight);
    if (!std::isfinite(slope)) return guess_;
    return std::clamp(slope, guess_ / kMostOff, guess_ * kMostOff);
}

bool ClockRecovery::Settled() const {
    return w_ > 0 && uu_ - u_ * u_ / w_ >= kSettledSpread;
}

double ClockRecovery::Expected(std::int64_t frame) const {
    const double offset = static_cast<double>(frame - refFrame_);
    if (w_ <= 0) return refArrival_ + offset * Period();
    const double meanU = u_ / w_, meanV = v_ / w_;
    return refArrival_ + meanV + Period() * (offset - meanU);
}

void ClockRecovery::Forget(double factor) {
    w_ *= factor;
    u_ *= factor;
    v_ *= factor;
    uu_ *= factor;
    uv_ *= factor;
}

// Sums kept around the newest sample keep their numbers small however long the camera runs.
void ClockRecovery::Recenter(std::int64_t frame, double arrival) {
    const double d = static_cast<double>(frame - refFrame_);
    const double c = arrival - refArrival_;
    uu_ += -2 * d * u_ + d * d * w_;
    uv_ += -d * v_ - c * u_ + d * c * w_;
    u_ -= d * w_;
    v_ -= c * w_;
    refFrame_ = frame;
    refArrival_ = arrival;
}

void ClockRecovery::Include(std::int64_t frame, double arrival) {
    Recenter(frame, arrival);
    w_ += 1.0;
}

void ClockRecovery::StartLine(std::int64_t frame, double arrival, double period) {
    refPeriod_ = period;
    early_ = 0.0;
    refFrame_ = frame;
    refArrival_ = arrival;
    w_ = 1.0;
    u_ = v_ = uu_ = uv_ = 0.0;
}
