#include <gtest/gtest.h>

#include "sim/video/frame_pacer.h"

namespace {

using zrf::sim::FramePacer;
using zrf::sim::Pacing;
using zrf::sim::StopSignal;

TEST(FramePacer, AsFastAsPossibleNeverWaits) {
    FramePacer pacer(Pacing::AsFastAsPossible);
    StopSignal stop;
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(pacer.WaitForNextFrame(100000000, stop));
    stop.Request();
    EXPECT_FALSE(pacer.WaitForNextFrame(0, stop));
}

TEST(FramePacer, AStopRequestEndsAWaitAtOnce) {
    // A ten-second interval: the test would take that long if the request did not end it.
    FramePacer pacer(Pacing::RealTime);
    StopSignal stop;
    stop.Request();
    EXPECT_FALSE(pacer.WaitForNextFrame(100000000, stop));
    stop.Reset();
    EXPECT_FALSE(stop.Requested());
}

TEST(FramePacer, AbsurdIntervalsAreBounded) {
    // Zero and negative intervals must not spin; huge ones must not overflow the clock.
    FramePacer pacer(Pacing::RealTime);
    StopSignal stop;
    EXPECT_TRUE(pacer.WaitForNextFrame(0, stop));
    EXPECT_TRUE(pacer.WaitForNextFrame(-5, stop));
    stop.Request();
    EXPECT_FALSE(pacer.WaitForNextFrame(std::numeric_limits<REFERENCE_TIME>::max(), stop));
}

}  // namespace
