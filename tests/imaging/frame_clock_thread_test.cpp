// The frame rate may change on a host thread while the streaming thread stamps frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"
#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;

struct Streaming {
    ImgSrcStream* stream;
    std::vector<std::uint8_t>* out;
    std::atomic<int> ok{0};
    std::atomic<int> unsound{0};
};
Streaming* g_streaming = nullptr;

void DecodeAndCheck() {
    ImgSrcStream& s = *g_streaming->stream;
    const std::int32_t size = s.GetImageBufferSize();
    if (size <= 0 || s.DecodeImage(0, g_streaming->out->data()) != DecodeResult::Ok) return;
    ++g_streaming->ok;
    if (s.TimeMilliseconds() >= 1000) ++g_streaming->unsound;
}

void StreamWhileRatesChange(const GUID& subtype, const std::vector<std::uint8_t>& sample,
                            ImageSize size) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    ImgSrcStream stream;
    stream.SetSourceKind(SourceKind::Usb);
    stream.SetSubtype(subtype);
    stream.SetFrameRate(30.0f);
    std::vector<std::uint8_t> out(1 << 16);
    Streaming streaming{&stream, &out};
    g_streaming = &streaming;
    stream.SetNewImageCallback(&DecodeAndCheck);
    const int before = Platform::ActiveTimerPeriods(1);

    std::atomic<bool> done{false};
    std::thread graph([&] {
        while (!done.load()) {
            stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), size);
            clock.AdvanceMilliseconds(33);
        }
    });
    const float rates[] = {30.0f, 0.0f, 25.0f, 9.0f, 60.0f};
    for (int i = 0; i < 3000; ++i) {
        stream.SetFrameRate(rates[i % 5]);
        stream.GetImageBufferSize();  // a host-thread size query never sees the sample
    }
    // The last rate set while frames flow is the one the clock runs at afterwards.
    stream.SetFrameRate(25.0f);
    const int seen = streaming.ok.load();
    while (streaming.ok.load() < std::max(seen + 3, 50)) std::this_thread::yield();
    done = true;
    graph.join();
    EXPECT_EQ(stream.ClockFrameRate(), 25.0);
    stream.SetNewImageCallback(nullptr);
    stream.SetFrameRate(30.0f);
    EXPECT_EQ(streaming.unsound.load(), 0);
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);  // a stopped clock holds no period
    g_streaming = nullptr;
}

TEST(FrameClockThreads, StampingMeetsNoConcurrentStop) {
    zrf::sim::SampleSettings s;
    s.size = {32, 16};
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbRawSample(RampPicture(s.size).data(), s, sample);
    StreamWhileRatesChange(kSubtypeF7M0, sample, s.size);
    StreamWhileRatesChange(kSubtypeYUY2, std::vector<std::uint8_t>(32 * 16 * 2), s.size);
}

}  // namespace
