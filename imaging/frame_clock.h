#pragma once
// Stamps frames on a fixed grid of frame periods counted from the moment the clock started,
// so consecutive stamps stay evenly spaced however unevenly samples arrive. The wall clock is
// read only at Start; per frame only the performance counter is read.
//
// The stream's streaming thread stamps while a host thread may stop the clock (a frame-rate
// change); a small guard keeps the two apart.
#include <atomic>
#include <cstdint>
#include <mutex>

struct FrameStamp {
    std::uint32_t seconds = 0;
    std::uint32_t milliseconds = 0;
    std::int16_t timeZoneMinutes = 0;
};

class FrameClock {
  public:
    // Rates outside this range are not a camera's; a clock started at such a rate (0, a rate
    // that is not a number, one frame in hours) stamps the elapsed time without a frame grid.
    static constexpr double kMinFrameRate = 0.001;
    static constexpr double kMaxFrameRate = 100000.0;
    static bool IsUsableFrameRate(double rate) {
        return rate >= kMinFrameRate && rate <= kMaxFrameRate;
    }

    FrameClock();
    ~FrameClock();
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    void Start(float frameRate);
    // Only on a started clock.
    FrameStamp GetTime() const;
    void Stop();
    bool IsStarted() const;
    // The rate the clock was last started with.
    double FrameRate() const;

    // Stamps one sample. Starts the clock with `frameRate` if it is stopped, then stamps: one
    // step, so a Stop from another thread cannot fall between the start test and the stamp. The
    // rate is read under the guard too: a rate stored just before a Stop is the one the restart
    // uses.
    //
    // Samples paced at the clock's own rate arrive right on the grid's edges, where truncation
    // puts two of them in one period now and then; and the first counts as frame 1, so the
    // second always shares it. A sample therefore never takes the period of the one before
    // (stamps of a sample's fields, offset within its period, would go backwards), as long as
    // that keeps it within kMaxLead periods of its own.
    static constexpr std::int64_t kMaxLead = 2;
    FrameStamp Stamp(const std::atomic<float>& frameRate);
    FrameStamp Stamp(float frameRate);

  private:
    void StartLocked(float frameRate);
    void StopLocked();
    FrameStamp GetTimeLocked() const;
    FrameStamp NextSampleLocked();
    std::uint32_t ElapsedLocked() const;
    FrameStamp GridStamp(std::int64_t frame) const;

    bool started_ = false;
    std::int64_t counterFrequency_ = 0;
    std::int64_t startCounter_ = 0;
    std::int32_t baseSeconds_ = 0;
    std::int16_t timeZoneMinutes_ = 0;
    double frameRate_ = 0.0;
    double framePeriod_ = 0.0;
    std::int64_t lastFrame_ = 0;  // of the last sample stamped since the start
    mutable std::mutex guard_;
};
