#pragma once
// How imperfect the simulated cameras of a run are, as the user asks on the command line:
// --drift PPM (the sensor's crystal, "+50" fast, "-20" slow), --jitter MS (samples late by up
// to MS), --stall MS/SECONDS (the bus stalls for MS every SECONDS; the frames then are dropped)
// and --glitch N (one sample in N cut short or damaged). grab and serve take the same.
#include <string>

namespace zrfgrab {

class CameraImperfections {
  public:
    // Whether `option` is one of the four.
    static bool Takes(const std::string& option);
    // Reads one of them; throws UsageError naming the option for a value it cannot take.
    void Read(const std::string& option, const std::string& value);
    bool Any() const { return !changes_.empty(); }
    // As the simulated cameras take changes ("drift=+50;jitter=3").
    const std::string& Changes() const { return changes_; }

  private:
    std::string changes_;
};

}  // namespace zrfgrab
