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
std::int64_t FrameOf(std::uint32_t elapsed, double rate) {
    const auto frame = static_cast<std::int64_t>(static_cast<double>(elapsed) * rate / 1000.0);
    return frame == 0 ? 1 : frame;
}

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

FrameStamp FrameClock::Stamp(const std::atomic<float>& frameRate) {
    std::lock_guard lock(guard_);
    if (!started_) StartLocked(frameRate.load(std::memory_order_relaxed));
    return NextSampleLocked();
}

FrameStamp FrameClock::Stamp(float frameRate) {
    std::lock_guard lock(guard_);
    if (!started_) StartLocked(frameRate);
    return NextSampleLocked();
}

void FrameClock::StartLocked(float frameRate) {
    // A restart must not take a second timer period.
    StopLocked();
    frameRate_ = frameRate;
    framePeriod_ = 1.0 / frameRate_;
    lastFrame_ = 0;
    timeBeginPeriod(1);

    const DWORD before = timeGetTime();
    __timeb32 wall{};
    _ftime32(&wall);
    const DWORD after = timeGetTime() + wall.millitm;
    // The wall clock's milliseconds and the time spent reading it carry into the seconds.
    std::uint32_t base = static_cast<std::uint32_t>(wall.time) + (after - before) / 1000;
    timeZoneMinutes_ = wall.timezone;
    if (wall.dstflag != 0) base += 3600;
    baseSeconds_ = static_cast<std::int32_t>(base);

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

std::uint32_t FrameClock::ElapsedLocked() const {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint32_t>(
        ElapsedMilliseconds(counter.QuadPart - startCounter_, counterFrequency_));
}

FrameStamp FrameClock::GridStamp(std::int64_t frame) const {
    FrameStamp stamp;
    stamp.timeZoneMinutes = timeZoneMinutes_;
    const double offset = framePeriod_ * static_cast<double>(frame);
    stamp.seconds = static_cast<std::uint32_t>(static_cast<std::int64_t>(offset + baseSeconds_));
    stamp.milliseconds =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset * 1000.0) % 1000);
    return stamp;
}

FrameStamp FrameClock::GetTimeLocked() const {
    const std::uint32_t elapsed = ElapsedLocked();
    if (!IsUsableFrameRate(frameRate_)) {
        // No usable frame period: the elapsed time itself.
        FrameStamp stamp;
        stamp.timeZoneMinutes = timeZoneMinutes_;
        stamp.seconds = static_cast<std::uint32_t>(baseSeconds_) + elapsed / 1000;
        stamp.milliseconds = elapsed % 1000;
        return stamp;
    }
    return GridStamp(FrameOf(elapsed, frameRate_));
}

FrameStamp FrameClock::NextSampleLocked() {
    if (!IsUsableFrameRate(frameRate_)) return GetTimeLocked();
    std::int64_t frame = FrameOf(ElapsedLocked(), frameRate_);
    if (frame <= lastFrame_) frame = std::min(lastFrame_ + 1, frame + kMaxLead);
    lastFrame_ = frame;
    return GridStamp(frame);
}
