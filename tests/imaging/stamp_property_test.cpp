// The stamps a stream publishes for cameras as real ones are, on the test clock: a sensor that
// keeps time on a crystal of its own (ppm off, or another rate than the one read back), delivery
// late by a random fraction of a period, stalls whose frames the camera drops, several fields,
// rate reads and restarts. Every field's stamp is later than the one before and lies between
// three periods (plus the whole-second base) behind its arrival and two periods ahead; over
// every window of ten seconds or more, from ten seconds after a start, the stamps advance by the
// camera's own period per camera frame within 0.1 %; a camera at the programmed rate gets stamps
// one period apart. Hours of camera time run in seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;

constexpr double kWindowSeconds = 10.0;
constexpr double kWindowTolerance = 0.001;

struct CameraKind {
    const char* name;
    float clockRate = 30.0f;   // what the stream is told (the rate read back)
    double cameraRate = 30.0;  // what the sensor keeps
    std::int32_t fields = 1;
    int seconds = 120;
    double jitter = 0.25;       // each sample late by up to this share of a period
    int stallMs = 0;            // the transport takes nothing for this long ...
    int stallEverySeconds = 0;  // ... this often; the frames due meanwhile are dropped
    int rateReadEvery = 0;      // samples between reads of the unchanged rate
    int restartEverySeconds = 0;
    bool onRate = false;  // stamps one period apart
    int seeds = 3;
    int hostLateEvery = 0;  // one sample in this many comes up to 0.9 periods late (a busy host)
    int burstEvery = 0;     // one sample in this many 1 to 1.9 periods late, the next at once
    float slowRate = 0;     // first this rate (camera and stream) for slowSeconds, then a restart
    int slowSeconds = 0;
    bool windowing = false;  // each restart switches between one field and `fields`
    // The host holds the streaming thread for holdPeriods periods every holdEverySeconds (from
    // 0: frames queued before the start); the driver keeps queueDepth frames, delivered back to
    // back when the thread is back, and drops the rest.
    int holdEverySeconds = -1;
    double holdPeriods = 0;
    int queueDepth = 0;
    // The camera says nothing for silenceSeconds from silenceAtSeconds (unplugged a while).
    int silenceAtSeconds = 0;
    int silenceSeconds = 0;
};

double Ppm(double rate, double ppm) {
    return rate * (1.0 + ppm * 1e-6);
}

const CameraKind kKinds[] = {
    {"on rate, 1 field", 30.0f, 30.0, 1, 120, 0.25, 0, 0, 0, 0, true},
    {"on rate, 2 fields", 30.0f, 30.0, 2, 120, 0.25, 0, 0, 0, 0, true},
    {"on rate, 4 fields", 30.0f, 30.0, 4, 120, 0.25, 0, 0, 0, 0, true},
    {"on rate, rate reads", 30.0f, 30.0, 1, 120, 0.25, 0, 0, 41, 0, true},
    {"4 fields at 200 Hz", 200.0f, 200.0, 4, 30, 0.25, 0, 0, 0, 0, true},
    {"20 ppm fast, an hour", 30.0f, Ppm(30, 20), 1, 3600, 0.25, 0, 0, 0, 0, false, 1},
    {"20 ppm slow, an hour", 30.0f, Ppm(30, -20), 1, 3600, 0.25, 0, 0, 0, 0, false, 1},
    {"50 ppm fast, 2 fields, an hour", 30.0f, Ppm(30, 50), 2, 3600, 0.25, 0, 0, 0, 0, false, 1},
    {"50 ppm slow, an hour", 30.0f, Ppm(30, -50), 1, 3600, 0.25, 0, 0, 0, 0, false, 1},
    {"100 ppm fast at 60 Hz, half an hour", 60.0f, Ppm(60, 100), 1, 1800, 0.25, 0, 0, 0, 0, false,
     1},
    {"100 ppm slow, an hour", 30.0f, Ppm(30, -100), 1, 3600, 0.25, 0, 0, 0, 0, false, 1},
    {"29.97 Hz read back as 29.9", 29.9f, 29.97, 1, 600},
    {"29.97 Hz reporting 30", 30.0f, 29.97, 1, 600},
    {"2 % fast", 30.0f, 30.6, 1, 120},
    {"2 % slow", 30.0f, 29.4, 1, 120},
    {"2 % fast, 4 fields", 30.0f, 30.6, 4, 120},
    {"stalls of 250 ms", 30.0f, 30.0, 1, 300, 0.25, 250, 7},
    {"stalls, 50 ppm fast, 2 fields", 30.0f, Ppm(30, 50), 2, 600, 0.25, 250, 11},
    {"rate reads, 2 % slow", 30.0f, 29.4, 1, 120, 0.25, 0, 0, 37},
    {"restarts, 2 % fast, 4 fields", 30.0f, 30.6, 4, 180, 0.25, 0, 0, 0, 45},
    {"restarts, stalls, 100 ppm slow", 30.0f, Ppm(30, -100), 1, 300, 0.25, 250, 13, 0, 40},
    {"windowing on and off, 50 ppm fast", 30.0f, Ppm(30, 50), 4, 300, 0.25, 0, 0, 0, 31, false, 3,
     0, 0, 0, 0, true},
    {"no jitter, 2 % slow", 30.0f, 29.4, 1, 120, 0.0},
    {"a busy host, 2 % fast", 30.0f, 30.6, 1, 300, 0.1, 0, 0, 0, 0, false, 3, 20},
    {"a busy host, stalls, 50 ppm slow", 30.0f, Ppm(30, -50), 1, 600, 0.1, 250, 17, 0, 0, false, 3,
     7},
    {"bursts from a driver's buffers", 30.0f, 30.0, 1, 600, 0.1, 0, 0, 0, 0, false, 3, 0, 97},
    {"bursts, stalls, 2 % slow, 2 fields", 30.0f, 29.4, 2, 600, 0.1, 250, 13, 0, 0, false, 3, 0,
     53},
    {"bursts at 200 Hz", 200.0f, 200.0, 1, 300, 0.1, 0, 0, 0, 0, false, 3, 0, 211},
    // Cameras far off the rate they report, and one whose rate changes from slow to fast.
    {"25 fps read back as 30", 30.0f, 25.0, 1, 120},
    {"42 fps read back as 30", 30.0f, 42.0, 1, 120},
    {"10 % fast", 30.0f, 33.0, 1, 120},
    {"half the rate read back", 30.0f, 15.0, 1, 120},
    {"1.34 times the rate, 4 fields", 30.0f, 40.2, 4, 120},
    {"1.9 times the rate, 4 fields", 30.0f, 57.0, 4, 120},
    // Frames queued before the start, held by the host, a camera silent for ten minutes.
    {"3 frames queued at the start",
     30.0f,
     30.0,
     1,
     60,
     0.1,
     0,
     0,
     0,
     0,
     false,
     3,
     0,
     0,
     0,
     0,
     false,
     0,
     2.5,
     8},
    {"8 frames queued at the start",
     30.0f,
     30.0,
     1,
     60,
     0.25,
     0,
     0,
     0,
     0,
     false,
     3,
     0,
     0,
     0,
     0,
     false,
     0,
     8.5,
     8},
    {"holds of 9.5 periods, 10 buffers",
     30.0f,
     30.0,
     1,
     300,
     0.1,
     0,
     0,
     0,
     0,
     false,
     3,
     0,
     0,
     0,
     0,
     false,
     20,
     9.5,
     10},
    {"holds of 6 periods, 4 buffers, 4 fields, 2 % fast",
     30.0f,
     30.6,
     4,
     300,
     0.1,
     0,
     0,
     0,
     0,
     false,
     3,
     0,
     0,
     0,
     0,
     false,
     13,
     6.0,
     4},
    {"holds of 3 periods at 200 Hz",
     200.0f,
     200.0,
     1,
     120,
     0.1,
     0,
     0,
     0,
     0,
     false,
     3,
     0,
     0,
     0,
     0,
     false,
     7,
     3.0,
     8},
    {"ten minutes silent, 2 % fast",
     30.0f,
     30.6,
     1,
     900,
     0.1,
     0,
     0,
     0,
     0,
     false,
     1,
     0,
     0,
     0,
     0,
     false,
     -1,
     0,
     0,
     120,
     600},
    // A slow run's stamps lead by a slow period; the fast run after it catches up within a second.
    {"1 fps, then 30", 30.0f, 30.0, 1, 60, 0.1, 0, 0, 0, 0, false, 3, 0, 0, 1.0f, 20},
    {"5 fps, then 60, 2 fields", 60.0f, 60.0, 2, 60, 0.1, 0, 0, 0, 0, false, 3, 0, 0, 5.0f, 20},
};

std::int64_t StampMs(const std::vector<std::uint8_t>& image) {
    const std::uint8_t* block = image.data() + 128;  // the frame information
    return std::int64_t{Zrf::Load<std::uint32_t>(block + Zrf::Info::kSeconds)} * 1000 +
           Zrf::Load<std::uint32_t>(block + Zrf::Info::kMilliseconds);
}

std::int64_t WallMs() {
    __timeb32 wall{};
    _ftime32(&wall);
    return std::int64_t{wall.time} * 1000 + wall.millitm;
}

// One sample as the camera made and delivered it.
struct Arrival {
    std::int64_t frame;  // the sensor's frame number: dropped ones count
    double wallMs;       // exact, on the wall clock
    int run;             // restarts begin a new run
    double runStartMs;
    bool burst = false;  // the first two of a burst: the first's stamp may be a later frame's, and
                         // the second follows it with its fields
};

struct Published {
    Arrival arrival;
    std::int64_t stamp;  // field 0
};

struct Outcome {
    std::size_t stamps = 0, notIncreasing = 0, ahead = 0, behind = 0, windowsOff = 0, uneven = 0;
    std::size_t windows = 0;
    double worstAhead = -1e18, worstBehind = -1e18, worstWindow = 0;
    std::string worstWhere;
    double stepSum = 0;
    std::size_t steps = 0;
    std::string first;
};

// Every window of at least ten seconds that starts ten seconds or more into a run: from each
// sample to the first one ten seconds later, and to the run's last.
void CheckWindows(const std::vector<Published>& run, double period, Outcome& o) {
    if (run.empty()) return;
    const double from = run.front().arrival.runStartMs + kWindowSeconds * 1000;
    std::size_t j = 0;
    for (std::size_t i = 0; i < run.size(); ++i) {
        const Published& a = run[i];
        if (a.arrival.wallMs < from || a.arrival.burst) continue;
        j = std::max(j, i + 1);
        while (j < run.size() && run[j].arrival.wallMs - a.arrival.wallMs < kWindowSeconds * 1000)
            ++j;
        for (std::size_t k : {j, run.size() - 1}) {
            if (k >= run.size() || run[k].arrival.burst ||
                run[k].arrival.wallMs - a.arrival.wallMs < kWindowSeconds * 1000)
                continue;
            const Published& b = run[k];
            const double expected = static_cast<double>(b.arrival.frame - a.arrival.frame) * period;
            const double off = std::abs(static_cast<double>(b.stamp - a.stamp) - expected);
            const double allowed = kWindowTolerance * expected;
            ++o.windows;
            if (off / expected > o.worstWindow) {
                o.worstWindow = off / expected;
                o.worstWhere = "frames " + std::to_string(a.arrival.frame) + " to " +
                               std::to_string(b.arrival.frame);
            }
            if (off > allowed && o.windowsOff++ == 0 && o.first.empty()) {
                o.first = "window of frames " + std::to_string(a.arrival.frame) + " to " +
                          std::to_string(b.arrival.frame) + " advanced " +
                          std::to_string(b.stamp - a.stamp) + " ms for " +
                          std::to_string(expected) + " ms";
            }
        }
    }
}

Outcome Play(const CameraKind& kind, std::uint32_t seed) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    // The whole-second base loses the wall clock's fraction when the clock starts (at the first
    // sample): the most, none, half.
    const std::uint16_t fractions[] = {999, 0, 500};
    const std::uint16_t fraction = fractions[(seed - 1) % 3];
    ImgSrcStream stream;
    Use(stream, kIeee1394, kind.fields, kind.slowRate > 0 ? kind.slowRate : kind.clockRate);
    zrf::sim::SampleSettings settings;
    settings.size = {8, 4 * kind.fields};
    settings.fieldCount = kind.fields;
    const Sample fieldsSample = BuildSample(kIeee1394, RampPicture(settings.size), settings);
    settings.fieldCount = 1;
    const Sample wholeSample = BuildSample(kIeee1394, RampPicture(settings.size), settings);
    const Sample* sample = &fieldsSample;

    std::mt19937 random(seed);
    std::uniform_real_distribution<double> late(0.0, kind.jitter);
    const double periodNs = 1e9 / kind.cameraRate;
    const double programmedMs = 1000.0 / kind.clockRate;
    const double periodMs = periodNs / 1e6;
    const double longerMs = std::max(programmedMs, periodMs);
    double wallZeroMs = 0;
    double nowNs = 0;
    int run = 0;
    double runStartMs = 0;
    std::int64_t delivered = 0, last = 0;
    bool haveLast = false;
    std::vector<Published> published;
    Outcome o;
    auto note = [&](std::size_t& count, const std::string& what) {
        if (count++ == 0 && o.first.empty()) o.first = what;
    };
    bool slowPhase = kind.slowRate > 0;
    int sinceHeld = 2;
    double dueNs = 0, switchedMs = -1e18;
    for (std::int64_t f = 1;; ++f) {
        const bool slow = slowPhase && dueNs < kind.slowSeconds * 1e9;
        const double framePeriodNs = slow ? 1e9 / kind.slowRate : periodNs;
        const double framePeriodMs = framePeriodNs / 1e6;
        dueNs += framePeriodNs;
        if (dueNs > kind.seconds * 1e9) break;
        if (dueNs >= kind.silenceAtSeconds * 1e9 &&
            dueNs < (kind.silenceAtSeconds + kind.silenceSeconds) * 1e9)
            continue;
        // A host hold: frames due in it are queued (the first queueDepth) or dropped.
        bool held = false;
        double heldUntilNs = 0;
        if (kind.holdEverySeconds >= 0) {
            const double every = kind.holdEverySeconds > 0 ? kind.holdEverySeconds * 1e9 : 1e30;
            const double holdStart = std::floor(dueNs / every) * every;
            heldUntilNs = holdStart + kind.holdPeriods * periodNs;
            if (dueNs < heldUntilNs) {
                if (dueNs - holdStart >= kind.queueDepth * framePeriodNs)
                    continue;  // no buffer left
                held = true;
            }
        }
        if (kind.stallEverySeconds > 0) {
            const double every = kind.stallEverySeconds * 1e9;
            if (std::fmod(dueNs, every) < kind.stallMs * 1e6 && dueNs >= every)
                continue;  // dropped
        }
        double lateness = late(random);
        const double unit = late(random) / std::max(kind.jitter, 1e-9);  // 0..1
        if (kind.hostLateEvery > 0 && f % kind.hostLateEvery == 0) lateness = 0.5 + 0.4 * unit;
        const bool burstLead = kind.burstEvery > 0 && f % kind.burstEvery == 0;
        // A burst's first sample may keep a later frame's stamp; its second, and with several
        // fields the one after, follow it by the fields' span.
        const bool burst =
            burstLead || (kind.burstEvery > 0 && (f % kind.burstEvery == 1 ||
                                                  (kind.fields > 1 && f % kind.burstEvery == 2)));
        if (burstLead) lateness = 1.0 + 0.9 * unit;
        double arrivalNs = std::max(nowNs, dueNs + lateness * framePeriodNs);
        if (held)
            arrivalNs =
                std::max(nowNs + 1000, heldUntilNs);  // back to back once the thread is back
        // The samples of a hold's burst, and the two after it, may carry the burst's pushes.
        const bool afterHold = held || (kind.holdEverySeconds >= 0 && sinceHeld < 2);
        sinceHeld = held ? 0 : sinceHeld + 1;
        clock.Advance(std::chrono::nanoseconds(static_cast<std::int64_t>(arrivalNs - nowNs)));
        nowNs = arrivalNs;
        if (delivered == 0) {
            clock.SetWallClock(1'700'000'000, fraction);
            wallZeroMs = 1'700'000'000'000.0 + fraction - std::floor(nowNs / 1e6);
            runStartMs = wallZeroMs + nowNs / 1e6;
        }
        const double wallMs = wallZeroMs + arrivalNs / 1e6;
        if (slowPhase && !slow) {  // the first frame at the new rate
            CheckWindows(published, 1000.0 / kind.slowRate, o);
            published.clear();
            stream.SetFrameRate(kind.clockRate);
            ++run;
            runStartMs = switchedMs = wallMs;
            slowPhase = false;
        }
        if (kind.restartEverySeconds > 0 &&
            wallMs - runStartMs >= kind.restartEverySeconds * 1000.0) {
            CheckWindows(published, periodMs, o);
            published.clear();
            if (kind.windowing) {  // as the device switches windowing: the stream stopped, its
                                   // fields changed
                sample = sample == &fieldsSample ? &wholeSample : &fieldsSample;
                stream.SetFieldCount(sample == &fieldsSample ? kind.fields : 1);
            }
            stream.SetFrameRate(kind.clockRate * 2);
            stream.SetFrameRate(kind.clockRate);
            ++run;
            runStartMs = wallMs;
        }
        if (kind.rateReadEvery > 0 && delivered % kind.rateReadEvery == 0)
            stream.SetFrameRate(kind.clockRate);
        ++delivered;
        const Delivery d = Deliver(stream, *sample, settings.size);
        const Arrival arrival{f, wallMs, run, runStartMs, burst || afterHold};
        const auto arrivalMs = static_cast<std::int64_t>(std::floor(wallMs));
        for (std::size_t field = 0; field < d.images.size(); ++field) {
            if (d.results[field] != DecodeResult::Ok) continue;
            const std::int64_t stamp = StampMs(d.images[field]);
            ++o.stamps;
            const std::string where = " at frame " + std::to_string(f) + ", field " +
                                      std::to_string(field) + ": stamp " + std::to_string(stamp) +
                                      ", arrival " + std::to_string(arrivalMs);
            if (haveLast && stamp <= last) note(o.notIncreasing, "not increasing" + where);
            last = stamp;
            haveLast = true;
            if (field != 0) continue;
            const double ahead = static_cast<double>(stamp - arrivalMs);
            // Right after a slow run, stamps continue after its last, which led by its period.
            const bool catchingUp = wallMs - switchedMs < 1500;
            if (!catchingUp) o.worstAhead = std::max(o.worstAhead, ahead);
            o.worstBehind = std::max(o.worstBehind, -ahead);
            const double programmedNow = slow ? 1000.0 / kind.slowRate : programmedMs;
            // A burst's samples follow its first a millisecond (a field span) apart.
            if (ahead > 2 * programmedNow + 1 && !catchingUp && !arrival.burst)
                note(o.ahead, "more than two periods ahead" + where);
            if (-ahead > 1000 + 3 * std::max(longerMs, framePeriodMs) + 1)
                note(o.behind, "more than a second and three periods behind" + where);
            if (!published.empty() && published.back().arrival.frame == f - 1) {
                const double step = static_cast<double>(stamp - published.back().stamp);
                o.stepSum += step;
                ++o.steps;
                if (kind.onRate && std::abs(step - programmedNow) > 1.0)
                    note(o.uneven, "uneven" + where);
            }
            published.push_back({arrival, stamp});
        }
    }
    CheckWindows(published, periodMs, o);
    return o;
}

class StampProperty : public ::testing::TestWithParam<CameraKind> {};

TEST_P(StampProperty, IncreasingBoundedBothWaysAndAtTheCamerasPace) {
    const CameraKind& kind = GetParam();
    for (int seed = 1; seed <= kind.seeds; ++seed) {
        const Outcome o = Play(kind, static_cast<std::uint32_t>(seed));
        ASSERT_GT(o.stamps, 0u);
        std::printf(
            "[ stamps   ] %-40s seed %d: worst behind %.0f ms, worst ahead %.0f ms, mean step %.3f "
            "ms, "
            "worst window %.4f %% of %zu (%s)\n",
            kind.name, seed, o.worstBehind, o.worstAhead, o.steps ? o.stepSum / o.steps : 0.0,
            o.worstWindow * 100, o.windows, o.worstWhere.c_str());
        EXPECT_EQ(o.notIncreasing + o.ahead + o.behind + o.windowsOff + o.uneven, 0u)
            << kind.name << " (seed " << seed << "): of " << o.stamps << " stamps, "
            << o.notIncreasing << " not increasing, " << o.ahead << " too far ahead, " << o.behind
            << " too far behind, " << o.uneven << " unevenly spaced; " << o.windowsOff << " of "
            << o.windows << " windows off the camera's pace; first: " << o.first;
        if (kind.seconds >= 2 * kWindowSeconds + 1 && kind.restartEverySeconds == 0) {
            EXPECT_GT(o.windows, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cameras, StampProperty, ::testing::ValuesIn(kKinds), [](const auto& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
});

// A stream never told its rate stamps the elapsed time: later each time, never ahead.
TEST(StampPropertyWithoutRate, ElapsedTimeIncreasingAndNeverAhead) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    ImgSrcStream stream;
    Use(stream, kIeee1394, 4, 0.0f);
    zrf::sim::SampleSettings settings;
    settings.size = {8, 16};
    settings.fieldCount = 4;
    const Sample sample = BuildSample(kIeee1394, RampPicture(settings.size), settings);
    std::int64_t last = 0;
    for (int k = 0; k < 600; ++k) {
        clock.Advance(std::chrono::microseconds(k % 7 == 0 ? 0 : 33'333));
        const Delivery d = Deliver(stream, sample, settings.size);
        for (const auto& image : d.images) {
            const std::int64_t stamp = StampMs(image);
            EXPECT_GT(stamp, last) << k;
            last = stamp;
        }
        EXPECT_LE(StampMs(d.images.front()), WallMs() + 4) << k;  // a millisecond a field at most
    }
}

}  // namespace
