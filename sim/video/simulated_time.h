#pragma once
// Time a simulated camera can be paced by instead of the host's: a test's clock, on which an
// hour of camera time passes in seconds. The camera's streaming thread moves it on to each
// frame's time, so one camera at a time should be paced by one clock (two would race each other
// ahead and find their frames late). Crosses into the registered cameras' DLL on Windows, so the
// interface is abstract and holds nothing.
#include <cstdint>

#include "platform/time/test_clock.h"

namespace zrf::sim {

class SimulatedTime {
  public:
    // Nanoseconds, never decreasing.
    virtual std::int64_t Now() = 0;
    // Moves the clock on to `nanoseconds`; a clock already past it stays where it is.
    virtual void AdvanceTo(std::int64_t nanoseconds) = 0;

  protected:
    ~SimulatedTime() = default;
};

// The platform's test clock as a camera's time: the platform's time functions (stamps, timers)
// and the camera then read one clock.
class TestClockTime final : public SimulatedTime {
  public:
    explicit TestClockTime(Platform::TestClock& clock) : clock_(clock) {}
    std::int64_t Now() override { return clock_.Elapsed().count(); }
    void AdvanceTo(std::int64_t nanoseconds) override {
        clock_.AdvanceTo(std::chrono::nanoseconds(nanoseconds));
    }

  private:
    Platform::TestClock& clock_;
};

}  // namespace zrf::sim
