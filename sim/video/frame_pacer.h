#pragma once
// Paces a streaming thread: one frame per frame interval of the sensor's own clock, in real time
// or on a simulated clock, or as fast as possible. The sensor's clock may run off the programmed
// rate, a sample may reach the host late (jitter), and the transport may stall, dropping the
// frames that fall due meanwhile (CameraImperfections). Waiting ends at once when the stream is
// told to stop. All waiting for the next frame happens in WaitForNextFrame, the one place that
// reads the clock.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>

#include "sim/video/video_device_settings.h"

namespace zrf::sim {

class StopSignal {
  public:
    // The clock the request's time is read on: the pacer's (null: the host's steady clock).
    void SetTime(SimulatedTime* time);
    void Request();
    void Reset();
    bool Requested() const;

  private:
    friend class FramePacer;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    SimulatedTime* time_ = nullptr;
    std::chrono::steady_clock::time_point requested_at_;  // when requested_ was set
};

class FramePacer {
  public:
    explicit FramePacer(Pacing pacing, const CameraImperfections& imperfections = {},
                        SimulatedTime* time = nullptr);
    // False when a stop was requested before the frame became due.
    bool WaitForNextFrame(REFERENCE_TIME interval, StopSignal& stop);
    // The frames the last wait passed over: those the thread came back too late for (what a
    // driver whose delivery fell behind drops) and those a stall took. A wait that ends in a
    // stop counts those the thread was too late for when the stop came; the stop took the rest.
    std::uint64_t LastSkipped() const { return last_skipped_; }
    // Of LastSkipped, the frames a stall of the transport took.
    std::uint64_t LastStalled() const { return last_stalled_; }
    // For a thread a stop ended while it still worked on the frame due last (waiting for a
    // buffer, or for the receiver): the frames due between it and the stop, all dropped, and
    // how many of them fell in a stall of the transport.
    struct Dropped {
        std::uint64_t frames = 0, stalled = 0;
    };
    Dropped SkippedBeforeStop(const StopSignal& stop) const;

    // Intervals outside this range are treated as their nearest bound: a device may report
    // 0 or an absurd value.
    static constexpr REFERENCE_TIME kShortestInterval = 10000;     // 1 ms
    static constexpr REFERENCE_TIME kLongestInterval = 100000000;  // 10 s

    using Clock = std::chrono::steady_clock;
    // When the frame after one due at `due` is due, the streaming thread being back at `now`.
    // A sensor keeps its own rhythm: a thread late by less than a frame gets the next frame on
    // the rhythm (at once, if that has passed too); after a longer stall the frames whose time
    // passed are gone: the late frame comes at once and the next on the rhythm, so at most two
    // come closer than a step, never a burst.
    static Clock::time_point NextDue(Clock::time_point due, Clock::time_point now,
                                     Clock::duration step);
    // How many frames lie between one due at `due` and the next due at `next`.
    static std::uint64_t FramesBetween(Clock::time_point due, Clock::time_point next,
                                       Clock::duration step);
    // The frames dropped after one due at `due`, the thread being back at `now` and a stop
    // asked for at `stopAt`: those it was too late for by the earlier of the two (the frame
    // that would have come at once then, and every later one, are the stop's).
    static std::uint64_t SkippedAtStop(Clock::time_point due, Clock::time_point now,
                                       Clock::time_point stopAt, Clock::duration step);
    // The sensor's frame period for a programmed interval, on a crystal `ppm` off.
    static Clock::duration SensorStep(REFERENCE_TIME interval, double ppm);
    // Whether a frame due at `time` (on the pacer's clock, from its epoch) falls in a stall of
    // the transport: the bus stalls on its own schedule, whoever streams.
    static bool InStall(Clock::duration time, const CameraImperfections& imperfections);

  private:
    Clock::time_point Now() const;
    // False when a stop was requested before `when`.
    bool WaitUntil(Clock::time_point when, StopSignal& stop);
    // Moves next_due_ past a stall, counting the frames it takes.
    void SkipStall();
    // Of the `frames` frames due after `due`, those that fall in a stall.
    std::uint64_t StalledAfter(Clock::time_point due, std::uint64_t frames) const;
    Clock::duration Jitter();

    Pacing pacing_;
    CameraImperfections imperfections_;
    SimulatedTime* time_;
    std::mt19937 random_;
    bool started_ = false;
    Clock::time_point next_due_;
    Clock::duration step_{};
    std::uint64_t last_skipped_ = 0;
    std::uint64_t last_stalled_ = 0;
};

}  // namespace zrf::sim
