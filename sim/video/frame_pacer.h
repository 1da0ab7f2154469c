#pragma once
// Paces a streaming thread: one frame per frame interval in real time, or as fast as
// possible. Waiting ends at once when the stream is told to stop. All waiting for the next
// frame happens in WaitForNextFrame, the one place that reads the clock.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sim/video/video_device_settings.h"

namespace zrf::sim {

class StopSignal {
  public:
    void Request();
    void Reset();
    bool Requested() const;

  private:
    friend class FramePacer;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    std::chrono::steady_clock::time_point requested_at_;  // when requested_ was set
};

class FramePacer {
  public:
    explicit FramePacer(Pacing pacing) : pacing_(pacing) {}
    // False when a stop was requested before the frame became due.
    bool WaitForNextFrame(REFERENCE_TIME interval, StopSignal& stop);
    // The frames the last wait passed over because the thread came back too late for them:
    // what a driver whose delivery fell behind drops. A wait that ends in a stop counts those
    // the thread was too late for when the stop came; the stop took the rest.
    std::uint64_t LastSkipped() const { return last_skipped_; }
    // For a thread a stop ended while it still worked on the frame due last (waiting for a
    // buffer, or for the receiver): the frames it was too late for when the stop came.
    std::uint64_t SkippedBeforeStop(const StopSignal& stop) const;

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
    static Clock::time_point NextDue(Clock::time_point due, Clock::time_point now, Clock::duration step);
    // How many frames lie between one due at `due` and the next due at `next`.
    static std::uint64_t FramesBetween(Clock::time_point due, Clock::time_point next, Clock::duration step);
    // The frames dropped after one due at `due`, the thread being back at `now` and a stop
    // asked for at `stopAt`: those it was too late for by the earlier of the two (the frame
    // that would have come at once then, and every later one, are the stop's).
    static std::uint64_t SkippedAtStop(Clock::time_point due, Clock::time_point now, Clock::time_point stopAt,
                                       Clock::duration step);

  private:
    Pacing pacing_;
    bool started_ = false;
    Clock::time_point next_due_;
    Clock::duration step_{};
    std::uint64_t last_skipped_ = 0;
};

}  // namespace zrf::sim
