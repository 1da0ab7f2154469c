#include "imaging/frame_clock.h"

#include <algorithm>
#include <cmath>

#include "platform/time/windows_time.h"

namespace {

// (delta * 1000 / frequency) without overflowing for large deltas.
std::int64_t ElapsedMilliseconds(std::int64_t delta, std::int64_t frequency) {
    if (frequency <= 0) return 0;
    return delta / frequency * 1000 + delta % frequency * 1000 / frequency;
}

// Frame numbers are truncated from the elapsed time; the first counts as 1.
std::int64_t FrameOf(std::int64_t elapsed, double rate) {
    const auto frame = static_cast<std::int64_t>(static_cast<double>(elapsed) * rate / 1000.0);
    return frame == 0 ? 1 : frame;
}

// The grid keeps within this of the fitted phase, and is moved back by at most this a sample.
constexpr double kPhaseBand = 2.0;
constexpr double kPhaseStep = 0.25;
constexpr double kPhaseReturn = 20.0;
// The grid's period follows the fit once they differ by more than this.
constexpr double kPeriodTolerance = 20e-6;
// Grid times a hair under a whole millisecond (the sum of a period's rounding) are that
// millisecond.
constexpr double kRounding = 1e-6;

}  // namespace

FrameClock::FrameClock() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    counterFrequency_ = frequency.QuadPart;
}

FrameClock::~FrameClock() {
    StopLocked();
}

void FrameClock::Start(float frameRate) {
    std::lock_guard lock(guard_);
    StartLocked(frameRate);
}

FrameStamp FrameClock::GetTime() const {
    std::lock_guard lock(guard_);
    return GetTimeLocked();
}

void FrameClock::Stop() {
    std::lock_guard lock(guard_);
    StopLocked();
}

bool FrameClock::IsStarted() const {
    std::lock_guard lock(guard_);
    return started_;
}

double FrameClock::FrameRate() const {
    std::lock_guard lock(guard_);
    return frameRate_;
}

FrameStamp FrameClock::Stamp(const std::atomic<float>& frameRate, std::int32_t fieldCount) {
    std::lock_guard lock(guard_);
    if (!started_) StartLocked(frameRate.load(std::memory_order_relaxed));
    return NextSampleLocked(fieldCount);
}

FrameStamp FrameClock::Stamp(float frameRate, std::int32_t fieldCount) {
    std::lock_guard lock(guard_);
    if (!started_) StartLocked(frameRate);
    return NextSampleLocked(fieldCount);
}

std::int64_t FrameClock::LastPublished() const {
    std::lock_guard lock(guard_);
    return lastPublished_;
}

void FrameClock::ContinueAfter(std::int64_t milliseconds) {
    std::lock_guard lock(guard_);
    lastPublished_ = std::max(lastPublished_, std::min(milliseconds, kLatestStamp));
    continuing_ = true;
}

std::int64_t FrameClock::FieldOffsetMilliseconds(std::int32_t fieldCount, double rate,
                                                 std::int32_t index) {
    if (fieldCount <= 1 || index <= 0) return 0;
    // A millisecond a field at least: fields shorter than that, or of a rate no one gave, must
    // not share a stamp.
    if (!IsUsableFrameRate(rate)) return index;
    const float fieldPeriod = static_cast<float>(1000.0 / (static_cast<float>(fieldCount) * rate));
    return std::max<std::int64_t>(
        static_cast<std::int64_t>(static_cast<double>(fieldPeriod) * index), index);
}

FrameStamp FrameClock::FieldStamp(const FrameStamp& sample, std::int32_t fieldCount,
                                  std::int32_t index) {
    FrameStamp field = sample;
    // Past the last instant the seconds hold, a field stays there: carried on, it would wrap to
    // 1970.
    const std::int64_t ms =
        std::min(std::int64_t{sample.seconds} * 1000 + sample.milliseconds +
                     FieldOffsetMilliseconds(fieldCount, sample.frameRate, index),
                 kLatestStamp);
    field.seconds = static_cast<std::uint32_t>(ms / 1000);
    field.milliseconds = static_cast<std::uint32_t>(ms % 1000);
    return field;
}

void FrameClock::StartLocked(float frameRate) {
    // A restart must not take a second timer period.
    StopLocked();
    frameRate_ = frameRate;
    framePeriod_ = 1.0 / frameRate_;
    samples_ = 0;
    continuing_ = true;
    timeBeginPeriod(1);

    const DWORD before = timeGetTime();
    __timeb32 wall{};
    _ftime32(&wall);
    const DWORD after = timeGetTime() + wall.millitm;
    // The wall clock's milliseconds and the time spent reading it carry into the seconds.
    std::uint32_t base = static_cast<std::uint32_t>(wall.time) + (after - before) / 1000;
    lostMs_ = (after - before) % 1000;
    timeZoneMinutes_ = wall.timezone;
    if (wall.dstflag != 0) base += 3600;
    baseMs_ = std::int64_t{base} * 1000;

    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    startCounter_ = counter.QuadPart;
    started_ = true;
}

void FrameClock::StopLocked() {
    if (!started_) return;
    timeEndPeriod(1);
    started_ = false;
}

std::int64_t FrameClock::ElapsedLocked() const {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return std::max<std::int64_t>(
        0, ElapsedMilliseconds(counter.QuadPart - startCounter_, counterFrequency_));
}

double FrameClock::ElapsedExactLocked() const {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const std::int64_t delta = counter.QuadPart - startCounter_;
    if (counterFrequency_ <= 0 || delta <= 0) return 0.0;
    return static_cast<double>(delta / counterFrequency_) * 1000.0 +
           static_cast<double>(delta % counterFrequency_) * 1000.0 /
               static_cast<double>(counterFrequency_);
}

std::int64_t FrameClock::GridMilliseconds(std::int64_t frame) const {
    return baseMs_ + static_cast<std::int64_t>(framePeriod_ * static_cast<double>(frame) * 1000.0);
}

// The rate the fields of a sample are spread over: the camera's own, once the grid follows it
// (the programmed rate's longer fields would run a fast camera's stamps ahead without bound).
double FrameClock::FieldRateLocked() const {
    if (!IsUsableFrameRate(frameRate_) || samples_ == 0 || !(gridPeriod_ > 0)) return frameRate_;
    return 1000.0 / gridPeriod_;
}

FrameStamp FrameClock::ToStamp(std::int64_t milliseconds) const {
    milliseconds = std::clamp<std::int64_t>(milliseconds, 0, kLatestStamp);
    FrameStamp stamp;
    stamp.timeZoneMinutes = timeZoneMinutes_;
    stamp.frameRate = FieldRateLocked();
    // The stamp's fields are unsigned 32-bit seconds and milliseconds, as the frames carry them.
    stamp.seconds = static_cast<std::uint32_t>(milliseconds / 1000);
    stamp.milliseconds = static_cast<std::uint32_t>(milliseconds % 1000);
    return stamp;
}

FrameStamp FrameClock::GetTimeLocked() const {
    const std::int64_t elapsed = ElapsedLocked();
    // No usable frame period: the elapsed time itself.
    if (!IsUsableFrameRate(frameRate_)) return ToStamp(baseMs_ + elapsed);
    return ToStamp(GridMilliseconds(FrameOf(elapsed, frameRate_)));
}

double FrameClock::GridAt(std::int64_t frame) const {
    return anchorMs_ + gridPeriod_ * static_cast<double>(frame - anchorFrame_);
}

void FrameClock::MoveGrid(std::int64_t frame, double to) {
    anchorFrame_ = frame;
    anchorMs_ = to;
}

double FrameClock::GridStampLocked(double elapsed) {
    const double nominal = 1000.0 / frameRate_;
    if (samples_ == 0) {
        recovery_.Reset(nominal);
        recovery_.Add(elapsed);
        firstFrame_ = FrameOf(static_cast<std::int64_t>(elapsed), frameRate_);
        gridPeriod_ = nominal;
        anchorFrame_ = 0;
        anchorMs_ = 0.0;
        moving_ = false;
        return GridAt(firstFrame_);
    }
    const std::int64_t frame = firstFrame_ + recovery_.Add(elapsed);
    // The fit's period replaces the grid's once they differ by more than the fit can be wrong.
    const double fitted = recovery_.Period();
    const double tolerance =
        std::max(kPeriodTolerance * gridPeriod_, 3.0 * recovery_.Uncertainty());
    if (std::abs(fitted - gridPeriod_) > tolerance) {
        MoveGrid(frame, GridAt(frame));
        gridPeriod_ = fitted;
    }
    // Where the grid belongs: the fitted arrival of this frame, a period on (the programmed one
    // for a camera slower than that, so the lead stays clear of the two-period limit).
    const double lead = std::min(gridPeriod_, nominal);
    const double target = recovery_.Expected(frame - firstFrame_) + lead;
    const double off = GridAt(frame) - target;
    if (GridAt(frame) < elapsed - lead) {
        MoveGrid(frame, target);
        moving_ = false;
    } else if (recovery_.Fitted() && (moving_ || std::abs(off) > kPhaseBand)) {
        // Only a sample on the line says where the grid belongs (not one of a burst, nor one
        // late past a stall).
        // A quarter millisecond a sample keeps the spacing even; a grid far off (a camera far
        // off its rate at the start) comes back a twentieth of the way a sample.
        const double most = std::max(kPhaseStep, std::abs(off) / kPhaseReturn);
        const double step = std::clamp(-off, -most, most);
        MoveGrid(frame, GridAt(frame) + step);
        moving_ = std::abs(off + step) > kPhaseBand / 4;
    }
    const double latest = elapsed + 2.0 * std::min(gridPeriod_, nominal);
    return std::min(GridAt(frame), latest);
}

FrameStamp FrameClock::NextSampleLocked(std::int32_t fieldCount) {
    const double elapsed = ElapsedExactLocked();
    const double sinceStart =
        IsUsableFrameRate(frameRate_) ? GridStampLocked(elapsed) : std::floor(elapsed);
    ++samples_;
    double fieldRate = FieldRateLocked();
    std::int64_t stamp = baseMs_ + static_cast<std::int64_t>(std::floor(sinceStart + kRounding));
    // Later than everything published, even when that leads by more than two periods: a
    // stamp that repeats or goes back is worse than one a little early. A run's first stamp
    // moves the whole run forward by as much of that as its base lost of the wall clock (so it
    // goes on evenly, never ahead of the wall); the rest, and later stamps, only wait.
    if (lastPublished_ != kNothingPublished && stamp <= lastPublished_) {
        if (continuing_) {
            const std::int64_t shift = std::min<std::int64_t>(lastPublished_ + 1 - stamp, lostMs_);
            baseMs_ += shift;
            stamp += shift;
        }
        // A sample that waits for the last stamp takes its fields a millisecond apart, so a
        // burst's samples do not push the ones after them ahead by whole periods.
        if (stamp <= lastPublished_) fieldRate = kMaxFrameRate;
        stamp = std::max(stamp, lastPublished_ + 1);
    }
    continuing_ = false;
    const std::int64_t span = FieldOffsetMilliseconds(fieldCount, fieldRate, fieldCount - 1);
    lastPublished_ = std::min(stamp + span, kLatestStamp);
    FrameStamp published = ToStamp(stamp);
    published.frameRate = fieldRate;
    return published;
}
