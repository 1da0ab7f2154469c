#include "imaging/clock_recovery.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// How strongly the expected period holds the slope while few samples are fitted, in the units
// of the fit's spread of frame numbers (frames squared): a first pair of samples does not decide
// it, a handful do (a camera may run far off the rate it reports).
constexpr double kPriorWeight = 2.0;
// The fit speaks for the camera once its period is known this well (a share of the period).
constexpr double kSettledUncertainty = 1e-4;
// A camera more than twice as fast or slow as it says is not taken at the fit's word.
constexpr double kMostOff = 2.0;
// Frames skipped at once are bounded so frame numbers cannot overflow, whatever the times.
constexpr double kMostSkipped = 1e12;
// A sample this share of a period short of the next frame's due time is still the frame before.
constexpr double kDueMargin = 0.02;
// While a line is acquired, a gap this many expected periods long or longer left frames out.
constexpr double kAcquireGap = 2.5;
// Samples closer than this share of a period came back to back (a burst), not a period apart.
constexpr double kBackToBack = 0.25;
// A sample this share of a period before the next frame's due time is early: a burst.
constexpr double kEarly = 0.1;

}  // namespace

void ClockRecovery::Reset(double period) {
    guess_ = period > 0 && std::isfinite(period) ? period : 1.0;
    refPeriod_ = guess_;
    period_ = guess_;
    empty_ = true;
    frame_ = 0;
    offLine_ = 0;
    recentCount_ = recentNext_ = 0;
    credit_ = 0;
    acquired_ = 0;
    bursting_ = false;
    restartAfterBurst_ = false;
    refFrame_ = 0;
    refArrival_ = 0.0;
    w_ = u_ = v_ = uu_ = uv_ = vv_ = 0.0;
}

std::int64_t ClockRecovery::Add(double arrival) {
    if (empty_) {
        empty_ = false;
        lastArrival_ = arrival;
        StartLine(0, arrival, guess_);
        return frame_;
    }
    const double gap = arrival - lastArrival_;
    lastArrival_ = arrival;
    fitted_ = false;
    // The fit forgets by samples, not by time: a silence tells nothing new of the camera's period.
    // (1 - x for e^-x: x is a period over the memory, a thousandth or less.)
    Forget(1.0 - std::min(Period() / kMemoryMilliseconds, 0.5));
    const double period = Period();
    if (acquired_ < kAcquireSamples) return Acquire(gap, arrival);
    if (bursting_) {
        // Back to back, before any frame could fall due that was not yet made when the burst
        // came: the burst's next frame, late as the burst is; it tells nothing of the line.
        if (gap < kBackToBack * period && arrival < burstEnd_) return ++frame_;
        bursting_ = false;
    }
    const double late = arrival - (Expected(frame_ + 1) + Early());
    double skipped = 0.0;
    if (late >= (1.0 - kDueMargin) * period) {
        // Late past the next frame's due time: the frames between were dropped.
        skipped = std::min(std::floor(late / period + kDueMargin), kMostSkipped);
    } else if (late < -kEarly * period && credit_ > 0) {
        // Well before the next frame could fall due: the frames last taken as dropped came late,
        // in a burst from a driver's buffers. They all come back; this is the burst's second. The
        // burst holds no frame that fell due after its first sample came.
        const double early = Early();
        burstEnd_ = Expected(frame_) + early > creditArrival_ ? Expected(frame_) + early
                                                              : Expected(frame_ + 1) + early;
        frame_ -= credit_;
        credit_ = 0;
        bursting_ = true;
        return ++frame_;
    } else if (late >= -kDueMargin * period) {
        credit_ = 0;  // on time: the frames taken as dropped were
    }
    if (skipped > 0) {
        credit_ = static_cast<std::int64_t>(skipped);
        creditArrival_ = arrival;
    }
    frame_ += 1 + static_cast<std::int64_t>(skipped);
    const double off = arrival - Expected(frame_);
    if (skipped == 0 && std::abs(off) <= 0.25 * period) {
        Include(frame_, arrival);
        offLine_ = 0;
    } else if (++offLine_ >= kOffLineRun) {
        // A run of samples off the line, or each after frames taken as dropped (a line whose
        // period is a fraction of the camera's): the camera is not where the line says.
        StartLine(frame_, arrival, period);
    }
    return frame_;
}

// A line's first samples are consecutive frames, however far off the expected period the camera
// runs; only a gap of whole expected periods, longer than any camera's own period still taken for
// one, says frames were left out. Samples back to back (frames queued before the start, a burst)
// are frames but tell nothing of the period: the line starts again after them.
std::int64_t ClockRecovery::Acquire(double gap, double arrival) {
    if (gap < kBackToBack * guess_) {
        ++frame_;
        restartAfterBurst_ = true;
        return frame_;
    }
    const double skipped = gap >= kAcquireGap * guess_
                               ? std::min(std::floor(gap / guess_ + 0.5) - 1, kMostSkipped)
                               : 0.0;
    frame_ += 1 + static_cast<std::int64_t>(skipped);
    if (restartAfterBurst_) {
        StartLine(frame_, arrival, guess_);
        return frame_;
    }
    Include(frame_, arrival);
    ++acquired_;
    return frame_;
}

// The slope is read several times a sample; it is made once each time the sums change.
void ClockRecovery::Refit() { period_ = Slope(); }

double ClockRecovery::Slope() const {
    const double prior = refPeriod_;
    if (w_ <= 0) return prior;
    const double spreadUU = uu_ - u_ * u_ / w_;
    const double spreadUV = uv_ - u_ * v_ / w_;
    const double slope = (spreadUV + kPriorWeight * prior) / (spreadUU + kPriorWeight);
    if (!std::isfinite(slope)) return guess_;
    return std::clamp(slope, guess_ / kMostOff, guess_ * kMostOff);
}

double ClockRecovery::Uncertainty() const {
    if (w_ <= 2) return std::numeric_limits<double>::infinity();
    const double spreadUU = uu_ - u_ * u_ / w_;
    const double spreadUV = uv_ - u_ * v_ / w_;
    const double spreadVV = vv_ - v_ * v_ / w_;
    if (!(spreadUU > 0)) return std::numeric_limits<double>::infinity();
    const double residual = std::max(0.0, spreadVV - spreadUV * spreadUV / spreadUU) / (w_ - 2);
    return std::sqrt(residual / spreadUU);
}

bool ClockRecovery::Settled() const {
    return acquired_ >= kAcquireSamples && Uncertainty() <= kSettledUncertainty * Period() &&
           w_ > kAcquireSamples / 2;
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
    vv_ *= factor;
    Refit();
}

// Sums kept around the newest sample keep their numbers small however long the camera runs.
void ClockRecovery::Recenter(std::int64_t frame, double arrival) {
    const double d = static_cast<double>(frame - refFrame_);
    const double c = arrival - refArrival_;
    uu_ += -2 * d * u_ + d * d * w_;
    uv_ += -d * v_ - c * u_ + d * c * w_;
    vv_ += -2 * c * v_ + c * c * w_;
    u_ -= d * w_;
    v_ -= c * w_;
    refFrame_ = frame;
    refArrival_ = arrival;
}

void ClockRecovery::Include(std::int64_t frame, double arrival) {
    fitted_ = true;
    Recenter(frame, arrival);
    w_ += 1.0;
    recent_[recentNext_] = {frame, arrival};
    recentNext_ = (recentNext_ + 1) % kRecent;
    recentCount_ = std::min(recentCount_ + 1, kRecent);
    Refit();
}

double ClockRecovery::Early() const {
    if (recentCount_ == 0 || w_ <= 0) return 0.0;
    // The line once, then each sample against it.
    const double slope = Period(), meanU = u_ / w_, meanV = v_ / w_;
    double early = 0.0;
    for (std::size_t i = 0; i < recentCount_; ++i) {
        const double offset = static_cast<double>(recent_[i].first - refFrame_);
        early =
            std::min(early, recent_[i].second - (refArrival_ + meanV + slope * (offset - meanU)));
    }
    return early;
}

void ClockRecovery::StartLine(std::int64_t frame, double arrival, double period) {
    refPeriod_ = period;
    credit_ = 0;
    offLine_ = 0;
    bursting_ = false;
    restartAfterBurst_ = false;
    acquired_ = 1;
    refFrame_ = frame;
    refArrival_ = arrival;
    w_ = 0.0;
    u_ = v_ = uu_ = uv_ = vv_ = 0.0;
    recentCount_ = recentNext_ = 0;
    Include(frame, arrival);
}
