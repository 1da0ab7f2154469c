#pragma once
// Stamps frames on a grid of frame periods, so consecutive stamps stay evenly spaced however
// unevenly samples arrive. The wall clock is read only at Start; per frame only the performance
// counter is read.
//
// What a stamp promises, per clock and across its restarts (the stream keeps one clock for a
// connection; the device hands the last stamp on to the next connection's), "arrival" being the
// sample's arrival on the wall clock:
// - Every stamp published (each field of each sample) is later than the one before, whatever
//   the camera's rate, however often the clock restarts.
// - A sample's stamp is at most two periods (plus the millisecond it is written in) ahead of
//   its arrival; its fields follow at their fixed offsets within its period.
// - It is at most the base's lost fraction of a second plus three periods behind its arrival.
// - Over any ten seconds or more, from ten seconds after a start, the stamps advance by the
//   camera's own period for every frame the camera made (the ones it dropped included), within
//   0.1 %: they keep the camera's pace, not the programmed one, whichever side of it the
//   camera's crystal runs.
// - While the camera keeps the rate the clock was given, stamps are one period apart (to the
//   millisecond they are written in), exactly on the grid counted from the start.
//
// How:
// - The first sample after a start takes the grid's frame of its elapsed time, the first
//   counting as 1; the stamps lead arrivals by about a period from there (the programmed one,
//   for a camera slower than it runs: the lead stays clear of the two-period limit).
// - ClockRecovery tells which camera frame each later sample is and fits the camera's true
//   period and phase. The grid steps by its period for every camera frame; a period more than
//   20 ppm off the fit's (and more than three of the fit's standard errors) is replaced by it.
// - The grid stays within 2 ms of the fitted phase (plus the period's lead): beyond that it is
//   moved back towards it by a quarter millisecond a sample, so spacing stays even (more than
//   5 ms off, by a twentieth of the way).
//   A grid a period behind its arrival (the camera moved) jumps to the fit at once.
// - A stamp is never published more than two periods ahead of its arrival: a burst of samples
//   is held there, and the later ones follow a millisecond apart.
// - A fresh start reads a whole-second base, which may lie before stamps already published.
//   The grid then moves forward so its first stamp continues one millisecond after the last, by
//   at most what the base lost of the wall clock; stamps past that (a slow run's lead handed to a
//   fast one) follow a millisecond apart until the grid passes them.
// - Fields are offset by their period within the sample (the camera's period, as the grid
//   follows it), a millisecond each at least; a sample that waits for the last stamp published
//   takes its fields a millisecond apart.
//
// Where the promises cannot all hold, increasing wins: above a thousand stamps a second (rate
// times fields) the millisecond stamps run ahead of arrival; after the wall clock is set back
// between two runs (daylight saving ending, say), or a run follows one whose stamps led by more
// than its own periods, stamps lead until the grid passes the last one published. Samples
// delivered late in a burst (a driver's buffers after the host held the thread for a period or
// more) show themselves only with the burst's second sample: the first keeps the later frame it
// was taken for, the next ones follow it a millisecond apart (with several fields, a millisecond
// a field, which the two samples after the burst may still carry), the count goes on right, and the
// samples of a burst longer than three periods cannot all lie within three periods of their
// arrival. A lasting step in when samples arrive
// (a camera whose delivery takes longer from some moment on) is followed within the 2 ms band, so
// windows across it advance by the step too.
//
// The stream's streaming thread stamps while a host thread may stop the clock (a frame-rate
// change); a small guard keeps the two apart.
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>

#include "imaging/clock_recovery.h"

struct FrameStamp {
    std::uint32_t seconds = 0;
    std::uint32_t milliseconds = 0;
    std::int16_t timeZoneMinutes = 0;
    double frameRate =
        0.0;  // the camera's rate as the clock follows it: fields are offset by its periods
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
    static constexpr std::int64_t kMaxLeadPeriods = 2;

    FrameClock();
    ~FrameClock();
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    void Start(float frameRate);
    // Only on a started clock; publishes nothing.
    FrameStamp GetTime() const;
    void Stop();
    bool IsStarted() const;
    // The rate the clock was last started with.
    double FrameRate() const;

    // Stamps one sample of `fieldCount` fields (see FieldStamp). Starts the clock with
    // `frameRate` if it is stopped, then stamps: one step, so a Stop from another thread cannot
    // fall between the start test and the stamp. The rate is read under the guard too: a rate
    // stored just before a Stop is the one the restart uses.
    FrameStamp Stamp(const std::atomic<float>& frameRate, std::int32_t fieldCount = 1);
    FrameStamp Stamp(float frameRate, std::int32_t fieldCount = 1);

    // Field `index` of a sample stamped `sample`: the field period (rounded to single
    // precision, in whole milliseconds) times the index later, kLatestStamp at the latest.
    static FrameStamp FieldStamp(const FrameStamp& sample, std::int32_t fieldCount,
                                 std::int32_t index);
    static std::int64_t FieldOffsetMilliseconds(std::int32_t fieldCount, double rate,
                                                std::int32_t index);

    // The last stamp published, in milliseconds since 1970 on the stamps' own scale; stamps
    // continue after `milliseconds` from now on.
    static constexpr std::int64_t kNothingPublished = std::numeric_limits<std::int64_t>::min();
    // The last instant the stamps' 32-bit seconds hold (2106); later ones stay there.
    static constexpr std::int64_t kLatestStamp = std::int64_t{0xFFFFFFFF} * 1000 + 999;
    std::int64_t LastPublished() const;
    void ContinueAfter(std::int64_t milliseconds);

  private:
    void StartLocked(float frameRate);
    void StopLocked();
    FrameStamp GetTimeLocked() const;
    FrameStamp NextSampleLocked(std::int32_t fieldCount);
    std::int64_t ElapsedLocked() const;
    double ElapsedExactLocked() const;
    std::int64_t GridMilliseconds(std::int64_t frame) const;
    // The sample's stamp on the grid, in milliseconds since the start (before the base).
    double GridStampLocked(double elapsed);
    double GridAt(std::int64_t frame) const;
    void MoveGrid(std::int64_t frame, double to);
    FrameStamp ToStamp(std::int64_t milliseconds) const;
    double FieldRateLocked() const;

    bool started_ = false;
    std::int64_t counterFrequency_ = 0;
    std::int64_t startCounter_ = 0;
    std::int64_t baseMs_ = 0;  // stamp of elapsed time 0: whole wall seconds, then moved
    std::int64_t lostMs_ = 0;  // what the whole seconds left out of the wall clock at the start
    std::int16_t timeZoneMinutes_ = 0;
    double frameRate_ = 0.0;
    double framePeriod_ = 0.0;
    // Since the start: samples stamped, and whether the next must continue after the last stamp.
    std::int64_t samples_ = 0;
    bool continuing_ = true;
    // The grid: anchorMs_ at grid frame anchorFrame_, one gridPeriod_ a frame. Grid frames are
    // the recovery's camera frames plus the first sample's grid frame.
    ClockRecovery recovery_;
    std::int64_t firstFrame_ = 0;
    std::int64_t anchorFrame_ = 0;
    double anchorMs_ = 0.0;
    double gridPeriod_ = 0.0;
    bool moving_ = false;  // the grid is being moved back to the fitted phase
    std::int64_t lastPublished_ = kNothingPublished;  // survives restarts
    mutable std::mutex guard_;
};
