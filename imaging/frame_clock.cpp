#include "imaging/frame_clock.h"

#include <cmath>

#include "platform/time/windows_time.h"

namespace {

// (delta * 1000 / frequency) without overflowing for large deltas.
std::int64_t ElapsedMilliseconds(std::int64_t delta, std::int64_t frequency) {
    if (frequency <= 0) return 0;
    return delta / frequency * 1000 + delta % frequency * 1000 / frequency;
}

}  // namespace

FrameClock::FrameClock() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    counterFrequency_ = frequency.QuadPart;
}

FrameClock::~FrameClock() { StopLocked(); }

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

FrameStamp FrameClock::Stamp(float frameRate) {
    std::lock_guard lock(guard_);
    if (!started_) StartLocked(frameRate);
    return GetTimeLocked();
}

void FrameClock::StartLocked(float frameRate) {
    // A restart must not take a second timer period.
    StopLocked();
    frameRate_ = frameRate;
    framePeriod_ = 1.0 / frameRate_;
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

FrameStamp FrameClock::GetTimeLocked() const {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto elapsed = static_cast<std::uint32_t>(
        ElapsedMilliseconds(counter.QuadPart - startCounter_, counterFrequency_));

    FrameStamp stamp;
    stamp.timeZoneMinutes = timeZoneMinutes_;
    if (!IsUsableFrameRate(frameRate_)) {
        // No usable frame period: the elapsed time itself.
        stamp.seconds = static_cast<std::uint32_t>(baseSeconds_) + elapsed / 1000;
        stamp.milliseconds = elapsed % 1000;
        return stamp;
    }
    auto frame = static_cast<std::int64_t>(static_cast<double>(elapsed) * frameRate_ / 1000.0);
    if (frame == 0) frame = 1;
    const double offset = framePeriod_ * static_cast<double>(frame);
    stamp.seconds = static_cast<std::uint32_t>(static_cast<std::int64_t>(offset + baseSeconds_));
    stamp.milliseconds = static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset * 1000.0) % 1000);
    return stamp;
}
