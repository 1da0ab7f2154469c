#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tools/zrfgrab/stall_watch.h"

namespace {

struct Look {
    double now;
    std::uint64_t delivered;
    bool calibrating = false;
    bool through = false;
};

struct StallCase {
    const char* name;
    std::vector<Look> looks;
    std::string verdict;  // after the last look; empty: still waiting
    double firstSaidAt;   // the first look whose answer was not empty; -1 when none
    double period = 0;    // the period the camera was set to
};

// Names the case in test listings, instead of its bytes.
void PrintTo(const StallCase& c, std::ostream* os) {
    *os << c.name;
}

// Looks every 0.1 s from `from` to `to` at an unchanged state.
std::vector<Look> Still(double from, double to, std::uint64_t delivered, bool calibrating = false,
                        bool through = false) {
    std::vector<Look> looks;
    for (int i = 0; from + i * 0.1 <= to + 1e-9; ++i)
        looks.push_back({from + i * 0.1, delivered, calibrating, through});
    return looks;
}

// A camera at `fps` from `from`, seen every 0.1 s, until it has delivered `frames`.
std::vector<Look> Streaming(double from, double fps, std::uint64_t frames) {
    std::vector<Look> looks;
    for (int i = 0;; ++i) {
        const double now = from + i * 0.1;
        const auto delivered =
            std::min<std::uint64_t>(frames, static_cast<std::uint64_t>((now - from) * fps) + 1);
        looks.push_back({now, delivered});
        if (delivered == frames) return looks;
    }
}

std::vector<Look> Then(std::vector<Look> a, const std::vector<Look>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class StallWatchTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(StallWatchTest, GivesUpOnlyOnACameraThatStopped) {
    const StallCase& c = GetParam();
    zrfgrab::StallWatch watch(1);
    watch.SetPeriod(0, c.period);
    std::string said;
    double firstSaidAt = -1;
    for (const Look& l : c.looks) {
        said = watch.Check(0, l.delivered, l.calibrating, l.through, l.now);
        if (!said.empty() && firstSaidAt < 0) firstSaidAt = l.now;
    }
    EXPECT_EQ(said, c.verdict);
    EXPECT_NEAR(firstSaidAt, c.firstSaidAt, 0.101);
}

const double kLast = 30.0;

INSTANTIATE_TEST_SUITE_P(
    Cameras, StallWatchTest,
    ::testing::Values(
        StallCase{"NothingAtAll", Still(0, 12, 0), "the camera delivers no images", 10.1},
        StallCase{"NothingYetWithinTheAllowance", Still(0, 9.9, 0), "", -1},
        // A long grab gives up on a dead camera as soon as a short one does.
        StallCase{"FramesThenSilence", Then(Streaming(0, 30, 60), Still(2.0, 8.0, 60)),
                  "the camera stopped delivering images after 60 frames", 7.1},
        StallCase{"OneFrameThenSilence", Then(Streaming(0, 30, 1), Still(0.1, 6.0, 1)),
                  "the camera stopped delivering images after 1 frame", 5.1},
        StallCase{"ShortPauseIsNoStall",
                  Then(Then(Streaming(0, 30, 60), Still(2.0, 6.5, 60)), Streaming(6.6, 30, 30)), "",
                  -1},
        // A camera at one frame in two seconds may be silent for five of its periods.
        StallCase{"SlowCameraKeepsItsPace",
                  Then(Then(Streaming(0, 0.5, 5), Still(8.1, 17.9, 5)), {{18.0, 6}}), "", -1},
        StallCase{"SlowCameraStopped", Then(Streaming(0, 0.5, 5), Still(8.1, 20.0, 5)),
                  "the camera stopped delivering images after 5 frames", 18.1},
        // Calibration pauses the stream; the allowance counts from its end.
        StallCase{
            "CalibrationIsProgress",
            Then(Then(Streaming(0, 30, 30), Still(1.0, 20.0, 30, true)), Still(20.1, 24.9, 30)), "",
            -1},
        StallCase{
            "SilenceAfterCalibration",
            Then(Then(Streaming(0, 30, 30), Still(1.0, 20.0, 30, true)), Still(20.1, 26.0, 30)),
            "the camera stopped delivering images after 30 frames", 25.1},
        StallCase{"CalibratingBeforeTheFirstFrame",
                  Then(Still(0, 15, 0, true), Still(15.1, 24.9, 0)), "", -1},
        // The period it was set to holds until a second frame shows the camera's pace.
        StallCase{"VerySlowCameraBetweenItsFirstFrames",
                  Then(Then(Streaming(0, 30, 1), Still(0.1, 9.9, 1)), {{10.0, 2}}), "", -1, 10.0},
        StallCase{"VerySlowCameraStopped", Then(Streaming(0, 30, 1), Still(0.1, 51.0, 1)),
                  "the camera stopped delivering images after 1 frame", 50.1, 10.0},
        StallCase{"VerySlowCameraFirstFrame", Still(0, 99.9, 0), "", -1, 10.0},
        // A calibration is not part of the pace: silence after it is judged by the frames.
        StallCase{"CalibrationDoesNotSlowThePace",
                  Then(Then(Streaming(0, 30, 3), Still(0.1, 30.0, 3, true)), Still(30.1, 36.0, 3)),
                  "the camera stopped delivering images after 3 frames", 35.1},
        // A camera that stops while calibrating is given up a while after any calibration ends.
        StallCase{
            "StuckCalibrating", Then(Streaming(0, 30, 30), Still(1.0, 70.0, 30, true)),
            "the camera stopped delivering images after 30 frames (it has been calibrating since)",
            66.1},
        // Frames seen first in a burst: the pace counts from the burst, not from nothing.
        StallCase{"BurstThenSteadySlowPace",
                  Then(Then({{0.0, 10}, {2.0, 11}, {4.0, 12}, {6.0, 13}}, Still(6.1, 15.9, 13)),
                       {{16.0, 14}}),
                  "", -1},
        // A camera that has all it was asked for may stop: the others are waited for.
        StallCase{"ThroughMayStop", Then(Streaming(0, 30, 30), Still(1.0, kLast, 30, false, true)),
                  "", -1}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

TEST(StallWatch, JudgesEachCameraByItsOwnFrames) {
    zrfgrab::StallWatch watch(2);
    std::string first, second;
    for (int i = 0; i <= 80; ++i) {
        const double now = i * 0.1;
        first = watch.Check(0, 10, false, false, now);  // ten frames at once, then none
        second = watch.Check(1, 10 + static_cast<std::uint64_t>(i), false, false, now);
    }
    EXPECT_EQ(first, "the camera stopped delivering images after 10 frames");
    EXPECT_EQ(second, "");
}

}  // namespace
