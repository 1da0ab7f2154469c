// A simulated camera as imperfect as a real one, and every imperfection as counted: its sensor
// keeps its own rate, samples come late but the rhythm stays, a stall's frames are dropped, and
// every glitched sample is one its receiver refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/control/resource_tree.h"
#include "sim/video/format_blocks.h"
#include "sim/video/fourcc.h"
#include "sim/video/frame_pacer.h"
#include "sim/video/sample_glitches.h"
#include "sim/video/simulated_time.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace zrf::sim;
using std::chrono::nanoseconds;

// Simulated time the pacer moves on by itself.
class CountingTime final : public SimulatedTime {
  public:
    std::int64_t Now() override { return now_; }
    void AdvanceTo(std::int64_t ns) override { now_ = std::max(now_, ns); }

  private:
    std::int64_t now_ = 1'000'000'000;
};

struct Paced {
    std::vector<std::int64_t> delivered;  // ns
    std::uint64_t skipped = 0, stalled = 0;
};

// A camera's pacer on a clock the test moves, with the stop that reads it.
struct PacedRig {
    explicit PacedRig(const CameraImperfections& imperfections) : pacer(Pacing::RealTime, imperfections, &time) {
        stop.SetTime(&time);
    }
    CountingTime time;
    StopSignal stop;
    FramePacer pacer;
};

Paced Pace(const CameraImperfections& imperfections, REFERENCE_TIME interval, int frames) {
    PacedRig rig(imperfections);
    auto& [time, stop, pacer] = rig;
    Paced p;
    for (int k = 0; k < frames; ++k) {
        EXPECT_TRUE(pacer.WaitForNextFrame(interval, stop));
        p.delivered.push_back(time.Now());
        p.skipped += pacer.LastSkipped();
        p.stalled += pacer.LastStalled();
    }
    return p;
}

// The sensor's rhythm is its own crystal's: 1 + ppm / 10^6 times the programmed rate, whatever
// the jitter, and a stall takes exactly the frames due while it lasts.
TEST(CameraImperfections, TheSensorKeepsItsOwnRhythm) {
    struct Case {
        const char* name;
        CameraImperfections imperfections;
        double rate;  // the sensor's, frames a second
    };
    const double programmed = 1e7 / 333333;  // the interval's rate: 30.00003
    const auto with = [](double ppm, double jitter, std::int64_t stall, std::int64_t every) {
        CameraImperfections i;
        i.clock_ppm = ppm;
        i.jitter_ms = jitter;
        i.stall_ms = stall;
        i.stall_every_ms = every;
        return i;
    };
    const Case cases[] = {
        {"jitter of a period", with(0, 33.4, 0, 0), programmed},
        {"jitter of three periods", with(0, 100, 0, 0), programmed},
        {"perfect", with(0, 0, 0, 0), programmed},
        {"50 ppm fast", with(50, 0, 0, 0), programmed * (1 + 50e-6)},
        {"2 % slow", with(-20000, 0, 0, 0), programmed * 0.98},
        {"jitter of 8 ms", with(0, 8, 0, 0), programmed},
        {"stalls of 250 ms every 2 s", with(0, 3, 250, 2000), programmed},
    };
    for (const Case& c : cases) {
        const int frames = 3000;
        const Paced p = Pace(c.imperfections, 333333, frames);
        // The sensor's frames fall due a period apart from the start (the clock's 1 s), the
        // first a period in; each delivery is its frame's due time plus at most the jitter.
        const std::int64_t step =
            nanoseconds(FramePacer::SensorStep(333333, c.imperfections.clock_ppm)).count();
        EXPECT_NEAR(1e9 / static_cast<double>(step), c.rate, c.rate * 1e-7) << c.name;
        // Late by nine tenths of a period at most, or the rhythm could not be kept.
        const std::int64_t jitter =
            std::min(static_cast<std::int64_t>(c.imperfections.jitter_ms * 1e6), step * 9 / 10);
        std::int64_t previous = 0, between = 0, worstLate = 0;
        for (int k = 0; k < frames; ++k) {
            const std::int64_t frame = (p.delivered[k] - 1'000'000'000 - jitter) / step;
            const std::int64_t due = 1'000'000'000 + std::max<std::int64_t>(frame, 1) * step;
            const std::int64_t made =
                p.delivered[k] >= due + step ? frame + 1 : std::max<std::int64_t>(frame, 1);
            const std::int64_t late = p.delivered[k] - (1'000'000'000 + made * step);
            worstLate = std::max(worstLate, late);
            EXPECT_GE(late, 0) << c.name << ", frame " << k;
            if (k > 0) between += made - previous - 1;
            previous = made;
        }
        EXPECT_LE(worstLate, jitter) << c.name;
        EXPECT_EQ(p.skipped, p.stalled) << c.name;  // the simulated clock is never late
        EXPECT_EQ(static_cast<std::uint64_t>(between), p.stalled)
            << c.name;  // made = delivered + dropped
        if (c.imperfections.stall_ms > 0) {
            // A stall of 250 ms at 30 fps drops 7 or 8 frames; 100 s hold 49 or 50 stalls.
            EXPECT_GE(p.stalled, 48u * 7) << c.name;
            EXPECT_LE(p.stalled, 50u * 8) << c.name;
        } else {
            EXPECT_EQ(p.stalled, 0u) << c.name;
        }
    }
}

// A sensor period under a millisecond: a stall still takes every frame due in it.
TEST(CameraImperfections, AStallTakesEveryFrameDueInItAtAnyRate) {
    for (const double ppm : {0.0, 5000.0, -5000.0}) {
        CameraImperfections i;
        i.clock_ppm = ppm;
        i.stall_ms = 250;
        i.stall_every_ms = 1000;
        PacedRig rig(i);
        auto& [time, stop, pacer] = rig;
        for (int k = 0; k < 20000; ++k) {
            ASSERT_TRUE(pacer.WaitForNextFrame(FramePacer::kShortestInterval, stop));
            EXPECT_FALSE(FramePacer::InStall(nanoseconds(time.Now()), i)) << ppm << ", frame " << k;
        }
    }
}

// Stalls less than a frame period apart: no frame that falls due in one is delivered (the bus is
// stalled nearly always), and the camera still goes on.
TEST(CameraImperfections, StallsCloserThanAFrameLetNoStalledFrameThrough) {
    CameraImperfections i;
    i.stall_ms = 999;
    i.stall_every_ms = 1000;
    PacedRig rig(i);
    auto& [time, stop, pacer] = rig;
    for (int k = 0; k < 200; ++k) {
        ASSERT_TRUE(pacer.WaitForNextFrame(333333, stop));
        EXPECT_FALSE(FramePacer::InStall(nanoseconds(time.Now()), i)) << k;
    }
}

// A thread that came back late across a stall, waiting for its next frame or stopped: the
// frames the stall took are the stall's either way.
TEST(CameraImperfections, FramesAStallTookAreTheStallsOnEveryPath) {
    CameraImperfections i;
    i.stall_ms = 250;
    i.stall_every_ms = 1000;
    for (const bool stopping : {false, true}) {
        PacedRig rig(i);
        auto& [time, stop, pacer] = rig;
        while (time.Now() < 1'950'000'000) ASSERT_TRUE(pacer.WaitForNextFrame(333333, stop));
        time.AdvanceTo(2'300'000'000);  // back from 1.95 s past the stall of 2.0 s to 2.25 s
        if (stopping) stop.Request();
        EXPECT_EQ(pacer.WaitForNextFrame(333333, stop), !stopping);
        // 2.0 s to 2.25 s at 30 fps: 7 or 8 frames, whichever path counted them.
        EXPECT_GE(pacer.LastStalled(), 7u) << stopping;
        EXPECT_LE(pacer.LastStalled(), 8u) << stopping;
        EXPECT_GT(pacer.LastSkipped(), pacer.LastStalled()) << stopping;  // and the late ones
    }
}

// A thread that held its frame (waiting for a buffer) through a stall when the stop came: the
// frames due meanwhile are dropped, the stall's counted as the stall's.
TEST(CameraImperfections, FramesAStallTookWhileTheThreadHeldItsFrameAreTheStalls) {
    CameraImperfections i;
    i.stall_ms = 250;
    i.stall_every_ms = 10000;
    PacedRig rig(i);
    auto& [time, stop, pacer] = rig;
    while (time.Now() < 9'900'000'000) ASSERT_TRUE(pacer.WaitForNextFrame(333333, stop));
    const std::int64_t lastDue = time.Now();
    time.AdvanceTo(10'300'000'000);  // held from 9.9 s to past the stall's end at 10.25 s
    stop.Request();
    const FramePacer::Dropped dropped = pacer.SkippedBeforeStop(stop);
    // Every frame due after the held one up to the stop, but the one that would have come at
    // once then (the stop's); of those, the ones due from 10.0 s to 10.25 s.
    const std::int64_t step = 33'333'300;
    std::uint64_t frames = 0, stalled = 0;
    for (std::int64_t due = lastDue + step; due + step <= 10'300'000'000; due += step) {
        ++frames;
        if (due >= 10'000'000'000 && due < 10'250'000'000) ++stalled;
    }
    EXPECT_EQ(dropped.frames, frames);
    EXPECT_EQ(dropped.stalled, stalled);
    EXPECT_GE(stalled, 7u);
}

// A stop asked for while the thread was away, a stall under way: the frames due before the stop
// are the camera's drops (the stall's among them), those due after it the stop's.
// A stop counts the frames due before it: those due in a stall as the stall's, the others as
// skipped; the stall's own schedule (every so long on the pacer's clock, from its zero) is the
// oracle, for a stall of many periods and for the shortest stall there is.
TEST(CameraImperfections, AStopCountsOnlyTheFramesDueBeforeIt) {
    struct Row {
        int stallMs;
        double everyMs;
        std::int64_t interval;  // 100 ns units
        std::int64_t comeBack;  // ns on the pacer's clock, after the stall began at 10 s
    };
    const Row rows[] = {{1000, 10000, 333333, 10'100'000'000},
                        {1, 10000, 10000, 10'000'900'000},
                        {2, 5000, 10000, 10'001'500'000},
                        {3, 5000, 15000, 10'002'500'000}};
    for (const Row& row : rows) {
        CameraImperfections i;
        i.stall_ms = row.stallMs;
        i.stall_every_ms = row.everyMs;
        PacedRig rig(i);
        auto& [time, stop, pacer] = rig;
        while (time.Now() < 9'990'000'000) ASSERT_TRUE(pacer.WaitForNextFrame(row.interval, stop));
        const std::int64_t lastDue = time.Now();
        time.AdvanceTo(row.comeBack);  // the thread comes back inside the stall
        stop.Request();
        EXPECT_FALSE(pacer.WaitForNextFrame(row.interval, stop));
        const std::int64_t step = row.interval * 100;
        const auto every = static_cast<std::int64_t>(row.everyMs * 1e6);
        std::uint64_t due = 0, inStall = 0;
        for (std::int64_t t = lastDue + step; t < row.comeBack; t += step) {
            ++due;
            if (t % every < std::int64_t{row.stallMs} * 1'000'000) ++inStall;
        }
        EXPECT_GT(inStall, 0u) << row.stallMs;
        EXPECT_EQ(pacer.LastStalled(), inStall) << row.stallMs << " ms every " << row.everyMs;
        EXPECT_EQ(pacer.LastSkipped(), due) << row.stallMs << " ms every " << row.everyMs;
    }
}

struct GlitchCase {
    const char* preset;
    char subtype[5];
    ImagingTest::Path path;
};

// Every glitch the camera injects is one its receiver refuses: cut short or damaged, the
// sample decodes to a bad frame in every field; formats in which nothing is checked get none.
TEST(CameraImperfections, EveryGlitchIsAFrameTheReceiverRefuses) {
    const GlitchCase cases[] = {
        {"usb-ir", "F7M0", ImagingTest::kUsbRaw},
        {"usb-ir", "MJLS", ImagingTest::kUsbJpegLs},
        {"usb-ir", "YUY2", ImagingTest::kYuy2},
        {"usb-ir", "MJPG", ImagingTest::kMjpg},
        {"usb-ir-jls", "MJLS", ImagingTest::kUsbJpegLs},
        {"fw-ir", "F7M2", ImagingTest::kIeee1394},
        {"webcam", "YUY2", ImagingTest::kYuy2},
    };
    for (const GlitchCase& c : cases) {
        CameraPreset preset = *FindCameraPreset(c.preset);
        VideoFormat format;
        for (const auto& f : preset.video.formats)
            if (f.subtype == FourCCSubtype(c.subtype)) format = f;
        ASSERT_GT(format.width, 0) << c.preset << " " << c.subtype;
        ThermalSourceSettings content = preset.content;
        if (preset.tree) content.tree = std::make_shared<ResourceTree>(*preset.tree);
        ThermalSampleSource source(preset.video.formats, content);
        const auto type = MediaTypeFor(format, format.frame_intervals.front());
        const ImageSize size = ThermalSampleSource::PictureSize(content.bus, format.subtype,
                                                                format.width, format.height);
        CameraImperfections every;
        every.glitch_every = 1;
        SampleGlitches glitches(every);
        int cut = 0, damaged = 0;
        for (std::uint64_t frame = 0; frame < 4; ++frame) {
            std::vector<std::uint8_t> sample(source.Capacity(type.Get()));
            std::size_t length = source.Fill(type.Get(), frame, sample.data(), sample.size());
            ImgSrcStream stream;
            ImagingTest::Use(stream, c.path, 1, 30.0f);
            {
                const std::vector<std::uint8_t> whole(sample.begin(),
                                                      sample.begin() + static_cast<long>(length));
                const auto d = ImagingTest::Deliver(stream, whole, size);
                ASSERT_EQ(d.results.front(), DecodeResult::Ok)
                    << c.preset << " " << c.subtype << ": whole";
            }
            const SampleGlitches::Kind kind =
                glitches.Apply(type.Get(), source, sample.data(), length);
            if (std::string(c.subtype) == "MJPG") {
                EXPECT_EQ(kind, SampleGlitches::Kind::None);
                continue;
            }
            ASSERT_NE(kind, SampleGlitches::Kind::None) << c.preset << " " << c.subtype;
            (kind == SampleGlitches::Kind::CutShort ? cut : damaged)++;
            const std::vector<std::uint8_t> glitched(sample.begin(),
                                                     sample.begin() + static_cast<long>(length));
            const auto d = ImagingTest::Deliver(stream, glitched, size);
            EXPECT_EQ(d.results.front(), DecodeResult::BadFrame)
                << c.preset << " " << c.subtype << ": "
                << (kind == SampleGlitches::Kind::CutShort ? "cut short" : "damaged");
        }
        const bool radiometric =
            std::string(c.subtype) != "YUY2" && std::string(c.subtype) != "MJPG";
        if (radiometric) {
            EXPECT_EQ(std::pair(cut, damaged), std::pair(2, 2)) << c.preset << " " << c.subtype;
        }
    }
}

}  // namespace
