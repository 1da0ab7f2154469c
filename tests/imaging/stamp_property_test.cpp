// The stamps a stream publishes, over random arrival sequences on the test clock: every field's
// stamp is later than the one before, no sample's is more than two periods ahead of its
// arrival, and the samples of a camera at the programmed rate are stamped one period apart.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

struct Sequence {
    const char* name;
    std::int32_t fields = 1;
    float clockRate = 30.0f;       // the rate the stream is given
    double cameraRate = 30.0;      // the rate the camera keeps
    double jitter = 0.25;          // of a period, either way
    int seconds = 120;
    int pauseEvery = 0;            // samples between one-second pauses
    int rateReadEvery = 0;         // samples between reads of the unchanged rate
    int restartEvery = 0;          // samples between restarts at a changed rate and back
    bool evenlySpaced = false;     // the camera keeps the programmed rate: check the spacing
};

const Sequence kSequences[] = {
    {"steady, 1 field", 1, 30.0f, 30.0, 0.25, 120, 0, 0, 0, true},
    {"steady, 2 fields", 2, 30.0f, 30.0, 0.25, 120, 0, 0, 0, true},
    {"steady, 4 fields", 4, 30.0f, 30.0, 0.25, 120, 0, 0, 0, true},
    {"camera 2 % fast", 1, 30.0f, 30.6, 0.25, 120},
    {"camera 2 % slow", 1, 30.0f, 29.4, 0.25, 120},
    {"camera 2 % fast, 4 fields", 4, 30.0f, 30.6, 0.25, 120},
    {"29.97 Hz camera, 29.9 Hz clock", 1, 29.9f, 29.97, 0.1, 600},
    {"camera 50 ppm fast, 2 fields, an hour", 2, 30.0f, 30.0 * 1.00005, 0.0, 3600},
    {"pauses of a second", 1, 30.0f, 30.0, 0.25, 120, 97},
    {"rate reads mid-stream", 1, 30.0f, 30.0, 0.25, 120, 0, 41, 0, true},
    {"restarts mid-stream", 1, 30.0f, 30.0, 0.25, 120, 0, 0, 211},
    {"restarts mid-stream, 4 fields, fast", 4, 30.0f, 30.6, 0.25, 120, 0, 0, 173},
    // Fields shorter than a millisecond's truncation, and a stream never told its rate.
    {"4 fields at 200 Hz", 4, 200.0f, 200.0, 0.25, 20, 0, 0, 0, true},
    {"4 fields, no rate given", 4, 0.0f, 30.0, 0.25, 20},
};

struct Violations {
    std::size_t stamps = 0, notIncreasing = 0, tooEarly = 0, uneven = 0;
    std::string first;
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

Violations Play(const Sequence& q, std::uint32_t seed) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetWallClock(1'700'000'000, 0);
    ImgSrcStream stream;
    stream.SetSourceKind(SourceKind::Ieee1394);
    stream.SetSubtype(kSubtypeF7M0);
    stream.SetFieldCount(q.fields);
    stream.SetFrameRate(q.clockRate);
    zrf::sim::SampleSettings settings;
    settings.size = {8, 4 * q.fields};
    settings.fieldCount = q.fields;
    const Sample sample = BuildSample(kIeee1394, RampPicture(settings.size), settings);

    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-q.jitter, q.jitter);
    const double cameraPeriodNs = 1e9 / q.cameraRate;
    const double periodMs = 1000.0 / q.clockRate;
    const auto samples = static_cast<std::int64_t>(q.seconds * q.cameraRate);
    double nowNs = 0, pausedNs = 0;
    Violations v;
    std::int64_t last = 0, lastSample = 0;
    bool haveLast = false, haveLastSample = false, afterBreak = true;
    for (std::int64_t k = 0; k < samples; ++k) {
        if (q.pauseEvery && k % q.pauseEvery == q.pauseEvery - 1) {
            pausedNs += 1e9;
            afterBreak = true;
        }
        if (q.restartEvery && k % q.restartEvery == q.restartEvery - 1) {
            stream.SetFrameRate(q.clockRate * 2);
            stream.SetFrameRate(q.clockRate);
            afterBreak = true;
        }
        if (q.rateReadEvery && k % q.rateReadEvery == 0) stream.SetFrameRate(q.clockRate);
        const double arrivalNs = std::max(
            nowNs, pausedNs + (static_cast<double>(k) + jitter(random)) * cameraPeriodNs);
        clock.Advance(std::chrono::nanoseconds(static_cast<std::int64_t>(arrivalNs - nowNs)));
        nowNs = arrivalNs;
        const std::int64_t arrival = WallMs();
        const Delivery d = Deliver(stream, sample, settings.size);
        for (std::size_t f = 0; f < d.images.size(); ++f) {
            if (d.results[f] != DecodeResult::Ok) continue;
            const std::int64_t stamp = StampMs(d.images[f]);
            ++v.stamps;
            auto note = [&](std::size_t& count, const char* what) {
                if (count++ == 0)
                    v.first = std::string(what) + " at sample " + std::to_string(k) + ", field " +
                              std::to_string(f) + ": stamp " + std::to_string(stamp) + ", before " +
                              std::to_string(last) + ", arrival " + std::to_string(arrival);
            };
            if (haveLast && stamp <= last) note(v.notIncreasing, "not increasing");
            if (f == 0 && q.clockRate > 0 && stamp > arrival + static_cast<std::int64_t>(2 * periodMs) + 1)
                note(v.tooEarly, "too early");
            // A sample's fields sit at fixed offsets within its period; the samples themselves
            // are one period apart.
            if (f == 0) {
                if (q.evenlySpaced && haveLastSample && !afterBreak &&
                    std::abs(static_cast<double>(stamp - lastSample) - periodMs) > 1.0)
                    note(v.uneven, "uneven");
                lastSample = stamp;
                haveLastSample = true;
            }
            last = stamp;
            haveLast = true;
            afterBreak = false;
        }
    }
    return v;
}

class StampProperty : public ::testing::TestWithParam<Sequence> {};

TEST_P(StampProperty, IncreasingCloseToArrivalAndEvenAtTheProgrammedRate) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const Violations v = Play(GetParam(), seed);
        ASSERT_GT(v.stamps, 0u);
        EXPECT_EQ(v.notIncreasing + v.tooEarly + v.uneven, 0u)
            << GetParam().name << " (seed " << seed << "): of " << v.stamps << " stamps, "
            << v.notIncreasing << " not increasing, " << v.tooEarly
            << " more than two periods ahead, " << v.uneven << " unevenly spaced; first: " << v.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, StampProperty, ::testing::ValuesIn(kSequences),
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
