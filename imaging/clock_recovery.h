#pragma once
// Recovers a camera's frame rhythm from the times its samples arrive: which sensor frame each
// sample is (frames the camera dropped count), and the line through frame numbers and arrival
// times, fitted over the last half minute or so with older samples weighing less. A camera keeps
// time on its own crystal, tens of ppm (or a whole rate step) off the host's, so only the
// arrivals tell its true period.
//
// Samples arrive late (transport jitter, a streaming thread that came back late), never before
// their frame falls due, and a stall loses whole frames. The line runs through the samples' mean
// arrival; the earliest of them (the lowest the line's last 64 samples lie below it) tell when
// the sensor's frames fall due. A sample is taken as the frame after the last one unless it
// comes a whole period (less 2 %) or more after that frame fell due; then it is a later frame,
// the frames between dropped. A sample that comes a tenth of a period or more before the next
// frame could fall due shows that the frames last taken as dropped came late instead, in a burst
// from a driver's buffers: they all come back (the burst's first sample keeps the later frame it
// was given), and the samples that follow back to back are the burst's next frames, fitted not,
// until one comes when a frame falls due that was not made when the burst came.
// Samples that land far off the line (more than a quarter period), or each after frames taken as
// dropped, do not move it; a run of eight means the camera is not where the line says (it moved,
// or the line's period is a fraction of the camera's), and the line starts again from there. The
// first samples of a line are taken as consecutive frames unless two and a half expected periods
// or more lie between them, so a camera far off the rate it reports (up to twice or half of it)
// is found; samples back to back then (frames queued before the start) are frames the line
// starts after. The fit forgets by samples, so a silence leaves the line as it was.
//
// No allocation, no clock reading: the caller passes the arrival times.
#include <array>
#include <cstdint>
#include <utility>

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
    double Period() const { return period_; }
    // The standard error of Period (infinite before three samples are fitted).
    double Uncertainty() const;
    // Period is the camera's to a ten-thousandth, not the guess.
    bool Settled() const;
    std::int64_t Frame() const { return frame_; }
    // Whether the last sample was fitted (on the line, not in a burst, not after dropped frames).
    bool Fitted() const { return fitted_; }

    // A run of samples this long off the line starts the line again.
    static constexpr int kOffLineRun = 8;
    // A line's first samples, taken as consecutive frames.
    static constexpr int kAcquireSamples = 8;
    // The fit forgets with a time constant of this many milliseconds of samples (at the fitted
    // period; a silence forgets nothing).
    static constexpr double kMemoryMilliseconds = 30000.0;

  private:
    void Forget(double factor);
    void Refit();
    double Slope() const;
    void Include(std::int64_t frame, double arrival);
    void Recenter(std::int64_t frame, double arrival);
    void StartLine(std::int64_t frame, double arrival, double period);
    std::int64_t Acquire(double gap, double arrival);
    // How far the earliest of the line's latest samples lie below it (<= 0).
    double Early() const;

    double guess_ = 0.0;      // the period the camera says it keeps
    double refPeriod_ = 0.0;  // the slope a new line starts from
    double period_ = 0.0;     // Slope() of the sums as they are
    bool empty_ = true;
    std::int64_t frame_ = 0;
    int offLine_ = 0;
    int acquired_ = 0;  // samples of the line taken as consecutive frames
    double lastArrival_ = 0.0;
    std::int64_t credit_ = 0;     // frames last taken as dropped, not yet shown to have been
    double creditArrival_ = 0.0;  // when the sample came after which they were taken as dropped
    bool bursting_ = false;       // in a burst: samples back to back are its next frames
    double burstEnd_ = 0.0;       // when the first frame falls due that the burst cannot hold
    bool fitted_ = false;
    bool restartAfterBurst_ = false;  // frames queued before the start came: a line after them
    // The line's latest samples: the earliest of them tell when frames fall due.
    static constexpr std::size_t kRecent = 64;
    std::array<std::pair<std::int64_t, double>, kRecent> recent_{};
    std::size_t recentCount_ = 0, recentNext_ = 0;
    // Weighted sums over (frame - refFrame_, arrival - refArrival_).
    std::int64_t refFrame_ = 0;
    double refArrival_ = 0.0;
    double w_ = 0, u_ = 0, v_ = 0, uu_ = 0, uv_ = 0, vv_ = 0;
};
