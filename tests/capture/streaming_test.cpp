// A running graph on a simulated camera: samples reach the stream until Stop returns or the
// graph goes without a Stop, and the graph's clock holds none of them back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "platform/com/com_object.h"
#include "sim/video/capture_source_filter.h"
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

// A clock that stands still: it never reaches a time it is asked to signal.
class StillClock final : public zrf::com::ComObject<IReferenceClock> {
  public:
    HRESULT GetTime(REFERENCE_TIME* time) override {
        *time = 10'000'000;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) override {
        *cookie = 1;
        return S_OK;
    }
    HRESULT Unadvise(DWORD_PTR) override { return S_OK; }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IReferenceClock ? static_cast<IReferenceClock*>(this) : nullptr;
    }
};

const zrf::sim::Pacing kPacings[] = {zrf::sim::Pacing::AsFastAsPossible,
                                     zrf::sim::Pacing::RealTime};

// Renderers hold a sample until the graph's clock reaches its time. A camera stamps each sample
// with the moment it was captured, which the clock has passed, so even a clock that stands
// still holds none back, fast or in real time.
TEST(StreamingTest, ACameraStampsSamplesAsCapturedSoNoClockHoldsThemBack) {
    for (auto pacing : kPacings) {
        DevicePtr device = AddDevice(zrf::sim::UsbIrPreset());
        device->SetPacing(pacing);
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, graph.ReceiveVoid()));
        auto source = zrf::com::MakeCom<zrf::sim::CaptureSourceFilter>(device);
        ComPtr<IBaseFilter> renderer;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, renderer.ReceiveVoid()));
        graph->AddFilter(source.Get(), L"camera");
        graph->AddFilter(renderer.Get(), L"renderer");
        ComPtr<IPin> out, in;
        ASSERT_EQ(S_OK, source->FindPin(L"Capture", out.Receive()));
        ASSERT_EQ(S_OK, renderer->FindPin(L"In", in.Receive()));
        ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), in.Get(), nullptr));
        ComPtr<IMediaFilter> filter;
        ASSERT_EQ(S_OK, graph.As(IID_IMediaFilter, filter));
        ASSERT_EQ(S_OK, filter->SetSyncSource(zrf::com::MakeCom<StillClock>().Get()));
        ComPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, graph.As(IID_IMediaControl, control));
        ASSERT_EQ(S_OK, control->Run());
        bool flowed = false;
        for (int i = 0; i < 20000 && !flowed; ++i) {
            flowed = device->FramesDelivered() >= 5;
            if (!flowed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(flowed);
        EXPECT_EQ(S_OK, control->Stop());
    }
}

// The capture graph runs without a clock, so not even a camera that stamps its samples ahead of
// every clock (by frame count from 0) is held back by one set on the graph before.
TEST(StreamingTest, TheCaptureGraphRunsWithoutAClock) {
    for (auto pacing : kPacings) {
        auto settings = zrf::sim::UsbIrPreset();
        settings.should_stamp_by_frame_count = true;
        DevicePtr device = AddDevice(settings);
        device->SetPacing(pacing);
        CreatedObjects created({CLSID_FilterGraph});
        CountingStream stream;
        CMtxGraph graph;
        graph.AttachStream(&stream);
        ASSERT_EQ(S_OK, graph.SelectDevice(device->Settings().device_path, L"0", false));
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph.BuildCaptureGraph(false));
        ComPtr<IMediaFilter> filter;
        ASSERT_EQ(S_OK, created.First(CLSID_FilterGraph)->QueryInterface(IID_IMediaFilter,
                                                                           filter.ReceiveVoid()));
        ASSERT_EQ(S_OK, filter->SetSyncSource(zrf::com::MakeCom<StillClock>().Get()));
        ASSERT_EQ(S_OK, graph.Run());
        EXPECT_TRUE(WaitForMore(stream, 5));
        ComPtr<IReferenceClock> clock;
        EXPECT_EQ(S_OK, filter->GetSyncSource(clock.Receive()));
        EXPECT_FALSE(clock);
        EXPECT_EQ(S_OK, graph.Stop());
    }
}

// Holds the camera's thread once, on the third sample, for `hold`, noting what the camera had
// dropped before (a loaded machine may have held it up already).
struct HoldingStream final : ImgSrcStream {
    HoldingStream(std::chrono::milliseconds hold, const zrf::sim::SimulatedVideoDevice& device)
        : hold(hold), device(device) {}
    void OnNewSample(const std::uint8_t*, std::int32_t, ImageSize) override {
        if (samples + 1 == 3) skippedBefore = device.FramesSkipped();
        if (++samples == 3) std::this_thread::sleep_for(hold);
    }
    std::chrono::milliseconds hold;
    const zrf::sim::SimulatedVideoDevice& device;
    std::atomic<int> samples{0};
    std::atomic<std::uint64_t> skippedBefore{0};
};

// A camera whose delivery fell behind drops the frames it came back too late for, keeping its
// rhythm, and says so through the pin's dropped count, as a driver does; one that keeps up
// drops none. A stop that comes during the hold takes the frames due after it, and a camera
// already gone (unplugged after its third frame) drops nothing more.
TEST(StreamingTest, FramesACameraCameBackTooLateForAreDroppedAndCounted) {
    using std::chrono::milliseconds;
    struct Case {
        const char* name;
        milliseconds hold;    // on the third sample
        bool stopInHold;      // stopped 100 ms into the hold
        long disappearAfter;  // frames, or -1
        long fewest;          // dropped in and after the hold at least: a later return only drops more
        long most;            // dropped in and after the hold at most, or -1 for what the run's time allows
    };
    const Case cases[] = {
        {"keeps up", milliseconds(0), false, -1, 0, -1},
        // 400 ms at 30 fps: twelve frames' time, the last of which comes at once, so eleven gone.
        {"held 400 ms", milliseconds(400), false, -1, 11, -1},
        // Three frames' time before the stop: two dropped at least (how many more depends on
        // when the stop comes; the stop's own arithmetic has its table in the pacer's tests).
        {"stopped 100 ms into the hold", milliseconds(400), true, -1, 2, -1},
        {"gone, then stopped in the hold", milliseconds(400), true, 3, 0, 0},
    };
    for (const Case& c : cases) {
        auto settings = zrf::sim::UsbIrPreset();
        settings.should_disappear_after_frames = c.disappearAfter;
        DevicePtr device = AddDevice(settings);
        device->SetPacing(zrf::sim::Pacing::RealTime);
        device->SetDroppedFrames(2);  // the driver's own count before this run
        HoldingStream stream(c.hold, *device);
        CMtxGraph graph;
        graph.AttachStream(&stream);
        ASSERT_EQ(S_OK, graph.SelectDevice(device->Settings().device_path, L"0", false)) << c.name;
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph.BuildCaptureGraph(false));
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(S_OK, graph.Run());
        const int awaited = c.stopInHold ? 3 : 6;
        for (int i = 0; i < 20000 && stream.samples < awaited; ++i) std::this_thread::sleep_for(milliseconds(1));
        if (c.stopInHold) std::this_thread::sleep_for(milliseconds(100));
        const float rate = stream.FrameRate();
        const HRESULT stopped = graph.Stop();
        if (!c.stopInHold && c.disappearAfter < 0) {
            EXPECT_EQ(S_OK, stopped) << c.name;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const auto skipped = static_cast<long>(device->FramesSkipped());
        const auto sinceHold = skipped - static_cast<long>(stream.skippedBefore.load());
        EXPECT_GE(sinceHold, c.fewest) << c.name;
        if (c.most >= 0) {
            EXPECT_LE(sinceHold, c.most) << c.name;
        }
        // Never more frames sent and dropped than the run's time held: none counted twice.
        EXPECT_LE(static_cast<double>(skipped + device->FramesDelivered()), seconds * rate + 1) << c.name;
        LONG dropped = -1;
        ASSERT_EQ(S_OK, graph.GetDroppedFrames(&dropped));
        EXPECT_EQ(2 + skipped, dropped) << c.name;
    }
}

}  // namespace
}  // namespace CaptureTest
