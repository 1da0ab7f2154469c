#include <gtest/gtest.h>

#include <chrono>
#include <ostream>

#include "sim/video/frame_pacer.h"

namespace {

using zrf::sim::FramePacer;
using Clock = FramePacer::Clock;
using std::chrono::milliseconds;

struct PaceCase {
    const char* name;
    int due;      // ms, the frame just delivered was due then
    int now;      // ms, when the streaming thread is back
    int step;     // ms
    int next;     // ms, when the next frame is due
    int skipped;  // frames whose time passed between the two: dropped
};
void PrintTo(const PaceCase& c, std::ostream* os) {
    *os << c.name;
}

class FramePacerTest : public ::testing::TestWithParam<PaceCase> {};

TEST_P(FramePacerTest, KeepsTheSensorsRhythm) {
    const PaceCase& c = GetParam();
    const Clock::time_point origin{};
    const Clock::time_point next = FramePacer::NextDue(
        origin + milliseconds(c.due), origin + milliseconds(c.now), milliseconds(c.step));
    EXPECT_EQ(std::chrono::duration_cast<milliseconds>(next - origin).count(), c.next);
    EXPECT_EQ(FramePacer::FramesBetween(origin + milliseconds(c.due), next, milliseconds(c.step)),
              static_cast<std::uint64_t>(c.skipped));
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, FramePacerTest,
    ::testing::Values(
        PaceCase{"OnTime", 100, 101, 33, 133, 0},
        // Late by less than a frame: the next frame keeps the rhythm, however often that happens.
        PaceCase{"LateWithinAFrame", 100, 120, 33, 133, 0},
        PaceCase{"LateAlmostAFrame", 100, 165, 33, 133, 0},
        // A whole frame's time gone: that frame is skipped, the rhythm kept.
        PaceCase{"LateAFrameAndMore", 100, 170, 33, 166, 1},
        PaceCase{"StalledTenFrames", 100, 460, 33, 430, 9},
        PaceCase{"ExactlyOnTheNextButOne", 100, 166, 33, 166, 1},
        PaceCase{"NoStepAtAll", 100, 120, 0, 120, 0}),
    [](const ::testing::TestParamInfo<PaceCase>& info) { return std::string(info.param.name); });

// Wake-ups late now and then (a write that waited for the disk) do not add up: after a minute
// at 30 fps the frames sent and dropped are as many as the minute holds. Late by more than a
// frame but less than two, none is dropped; by more than two, the one whose time it spanned.
TEST(FramePacer, LateWakeUpsDoNotSlowTheCamera) {
    for (const int stall : {40, 80}) {
        const Clock::time_point origin{};
        const auto step =
            std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(33333));
        Clock::time_point due = origin + step;
        int frames = 0;
        std::uint64_t skipped = 0;
        while (due < origin + std::chrono::seconds(60)) {
            ++frames;
            const Clock::time_point now =
                due + milliseconds(frames % 50 == 0 ? stall : 2);  // woken late
            const Clock::time_point next = FramePacer::NextDue(due, now, step);
            skipped += FramePacer::FramesBetween(due, next, step);
            due = next;
        }
        EXPECT_EQ(skipped, stall == 40 ? 0u : static_cast<std::uint64_t>(frames / 50)) << stall;
        EXPECT_EQ(frames + skipped, 1800u) << stall;
    }
}

// A stall that ends in a stop: the frames whose time passed before the stop was asked for are
// dropped, by the rhythm's rule; those due after it, and the one that would have come at once
// then, are the stop's.
TEST(FramePacer, AStopTakesTheFramesDueAfterIt) {
    struct Case {
        const char* name;
        int stopAt;  // ms; the frame just delivered was due at 100, the thread is back at 400, 33
                     // ms a frame
        std::uint64_t skipped;
    };
    const Case cases[] = {
        {"before the frame was due", 90, 0},
        {"when it was due", 100, 0},
        {"within a frame of it", 132, 0},
        {"a frame and a half after: the late frame is the stop's", 150, 0},
        {"on the next frame but one's time", 166, 1},
        {"past it", 170, 1},
        {"at the thread's return", 400, 8},
        {"after the thread's return", 500, 8},
    };
    const Clock::time_point origin{};
    for (const Case& c : cases) {
        EXPECT_EQ(FramePacer::SkippedAtStop(origin + milliseconds(100), origin + milliseconds(400),
                                            origin + milliseconds(c.stopAt), milliseconds(33)),
                  c.skipped)
            << c.name;
    }
}

}  // namespace
