// A running graph on a simulated camera: samples reach the stream until Stop returns or the
// graph goes without a Stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

// Counts the samples, and those that came after the test marked the graph stopped.
struct CountingStream final : ImgSrcStream {
    void OnNewSample(const std::uint8_t*, std::int32_t, ImageSize) override {
        ++samples;
        if (stopped) ++late;
    }
    std::atomic<int> samples{0};
    std::atomic<int> late{0};
    std::atomic<bool> stopped{false};
};

// Waits in real time (samples flow on the camera's thread) for more samples.
bool WaitForMore(const CountingStream& stream, int than) {
    for (int i = 0; i < 20000 && stream.samples <= than + 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return stream.samples > than + 2;
}

TEST(StreamingTest, NoSampleArrivesOnceStopReturnsOrTheGraphIsGone) {
    for (auto preset : {zrf::sim::UsbIrPreset, zrf::sim::FwIrPreset}) {
        DevicePtr device = AddDevice(preset());
        device->SetPacing(zrf::sim::Pacing::AsFastAsPossible);
        CountingStream stream;
        auto graph = std::make_unique<CMtxGraph>();
        graph->AttachStream(&stream);
        ASSERT_EQ(S_OK, graph->SelectDevice(device->Settings().device_path, L"0", false));
        ASSERT_EQ(S_OK, graph->SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph->BuildCaptureGraph(false));
        for (int run = 0; run < 3; ++run) {
            stream.stopped = false;
            ASSERT_EQ(S_OK, graph->Run());
            EXPECT_NE(0.0f, stream.FrameRate());  // Run tells the stream the device's rate
            ASSERT_TRUE(WaitForMore(stream, stream.samples));
            // The last run ends without a Stop: the destructor must not leave the grabber
            // calling in.
            ASSERT_EQ(S_OK, run < 2 ? graph->Stop() : (graph.reset(), S_OK));
            stream.stopped = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(0, stream.late);
    }
}

}  // namespace
}  // namespace CaptureTest
