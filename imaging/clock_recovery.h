#pragma once
// Recovers a camera's frame rhythm from the times its samples arrive: which sensor frame each
// sample is (frames the camera dropped count), and the line through frame numbers and arrival
// times, fitted over the last half minute or so with older samples weighing less. A camera keeps
// time on its own crystal, tens of ppm (or a whole rate step) off the host's, so only the
// arrivals tell its true period.
//
// Samples arrive late by up to most of a period (transport jitter, a streaming thread that came
// back late), never early, and a stall loses whole frames. The line runs through the samples'
// mean arrival; the earliest of them (the lowest the line's samples lie below it) tell when the
// sensor's frames fall due. A sample is taken as the frame after the last one unless it comes a
// whole period (less 2 %) or more after that frame fell due; then it is a later frame. Samples
// that land far off the line (more than a quarter period) do not move it; a run of them means
// the camera itself moved, and the line starts again from there.
//
// No allocation, no clock reading: the caller passes the arrival times.
#include <cstdint>

class ClockRecovery {
  public:
    // Starts over for a camera expected to send a frame every `period` milliseconds (> 0).
    void Reset(double period);
    // The frame number of a sample arriving at `arrival` (milliseconds on any steady scale,
    // never earlier than the sample before): 0 for the first after Reset.
    std::int64_t Add(double arrival);

    // The expected arrival of `frame` on the fitted line.
    double Expected(std::int64_t frame) const;
    // The fitted period in milliseconds: the expected one until the arrivals say otherwise.
    double Period() const;
    // Enough samples have been fitted for Period to be the camera's rather than the guess.
    bool Settled() const;
    std::int64_t Frame() const { return frame_; }

    // A run of samples this long off the line starts the line again.
    static constexpr int kOffLineRun = 8;
    // The fit forgets with a time constant of this many milliseconds of camera time.
    static constexpr double kMemoryMilliseconds = 30000.0;

  private:
    void Forget(double factor);
    void Include(std::int64_t frame, double arrival);
    void Recenter(std::int64_t frame, double arrival);
    void StartLine(std::int64_t frame, double arrival, double period);

    double guess_ = 0.0;      // the period the camera says it keeps
    double refPeriod_ = 0.0;  // the slope a new line starts from
    bool empty_ = true;
    std::int64_t frame_ = 0;
    int offLine_ = 0;
    double early_ = 0.0;  // how far the line's earliest samples lie below it (<= 0)
    // Weighted sums over (frame - refFrame_, arrival - refArrival_).
    std::int64_t refFrame_ = 0;
    double refArrival_ = 0.0;
    double w_ = 0, u_ = 0, v_ = 0, uu_ = 0, uv_ = 0;
};
