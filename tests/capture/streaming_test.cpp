// Running graphs on simulated cameras: real camera samples through the grabber into the
// stream, decoded inside the stream's callback as the device does; stopping and reading the
// frame rate while samples flow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "tests/capture/camera_sample_source.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

// What the stream's callback saw; the callback has no parameters, so it finds this here.
struct Decoding {
    ImgSrcStream* stream = nullptr;
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(8 << 20);
    std::mutex mutex;
    std::condition_variable changed;
    int ok = 0;
    int failed = 0;
    bool stopped = false;
    int afterStop = 0;
};
Decoding* g_decoding = nullptr;

void DecodeInCallback() {
    Decoding& d = *g_decoding;
    const std::int32_t size = d.stream->GetImageBufferSize();
    const bool fits = size > 0 && static_cast<std::size_t>(size) <= d.out.size();
    const DecodeResult result =
        fits ? d.stream->DecodeImage(0, d.out.data()) : DecodeResult::BadFrame;
    std::lock_guard lock(d.mutex);
    if (d.stopped) ++d.afterStop;
    (result == DecodeResult::Ok ? d.ok : d.failed) += 1;
    d.changed.notify_all();
}

struct Camera {
    const char* name;
    zrf::sim::VideoDeviceSettings (*preset)();
    GUID subtype;
    bool radiometricUsb;
    SourceKind kind;
    SampleKind samples;
    ImageSize picture;
};

const Camera kCameras[] = {
    {"usb_ir_raw",
     zrf::sim::UsbIrPreset,
     kSubtypeF7M0,
     true,
     SourceKind::Usb,
     SampleKind::UsbRaw,
     {640, 480}},
    {"usb_ir_jls",
     zrf::sim::UsbIrJlsPreset,
     kSubtypeMJLS,
     true,
     SourceKind::Usb,
     SampleKind::UsbJpegLs,
     {320, 240}},
    {"fw_ir",
     zrf::sim::FwIrPreset,
     kSubtypeF7M2,
     false,
     SourceKind::Ieee1394,
     SampleKind::Ieee1394,
     {640, 480}},
    {"webcam_yuy2",
     zrf::sim::WebcamPreset,
     kSubtypeYUY2,
     false,
     SourceKind::Usb,
     SampleKind::Yuy2,
     {640, 480}},
    {"webcam_mjpg",
     zrf::sim::WebcamPreset,
     kSubtypeMJPG,
     false,
     SourceKind::Usb,
     SampleKind::Mjpg,
     {640, 480}},
};

class StreamingTest : public ::testing::TestWithParam<Camera> {
  protected:
    void SetUp() override {
        const Camera& c = GetParam();
        device_ = AddDevice(c.preset(), std::make_shared<CameraSampleSource>(c.samples, c.picture));
        device_->SetPacing(zrf::sim::Pacing::AsFastAsPossible);
        stream_.SetSourceKind(c.kind);
        stream_.SetFieldCount(1);
        stream_.SetNewImageCallback(&DecodeInCallback);
        decoding_.stream = &stream_;
        g_decoding = &decoding_;
        graph_ = std::make_unique<CMtxGraph>();
        graph_->AttachStream(&stream_);
        ASSERT_EQ(S_OK,
                  graph_->SelectDevice(device_->Settings().device_path, L"0", c.radiometricUsb));
        ASSERT_TRUE(graph_->IsMediaTypeAvailable(c.subtype));
        ASSERT_EQ(S_OK, graph_->SetMediaType(c.subtype));
        ASSERT_EQ(S_OK, graph_->BuildCaptureGraph(false));
    }
    void TearDown() override {
        graph_.reset();
        g_decoding = nullptr;
    }

    // Waits for more decoded frames; the bound only keeps a broken build from hanging.
    bool WaitForOk(int count) {
        std::unique_lock lock(decoding_.mutex);
        return decoding_.changed.wait_for(lock, std::chrono::seconds(30),
                                          [&] { return decoding_.ok >= count; });
    }
    void MarkStopped(bool stopped) {
        std::lock_guard lock(decoding_.mutex);
        decoding_.stopped = stopped;
    }

    DevicePtr device_;
    ImgSrcStream stream_;
    Decoding decoding_;
    std::unique_ptr<CMtxGraph> graph_;
};

TEST_P(StreamingTest, SamplesDecodeToOkImages) {
    ASSERT_EQ(S_OK, graph_->Run());
    EXPECT_TRUE(WaitForOk(5));
    EXPECT_EQ(S_OK, graph_->Stop());
    MarkStopped(true);
    std::lock_guard lock(decoding_.mutex);
    EXPECT_EQ(0, decoding_.failed);
}

TEST_P(StreamingTest, NoSampleArrivesOnceStopReturns) {
    for (int run = 1; run <= 4; ++run) {
        MarkStopped(false);
        ASSERT_EQ(S_OK, graph_->Run());
        EXPECT_TRUE(WaitForOk(run * 2));
        ASSERT_EQ(S_OK, graph_->Stop());
        MarkStopped(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(decoding_.mutex);
    EXPECT_EQ(0, decoding_.afterStop);
    EXPECT_EQ(0, decoding_.failed);
}

TEST_P(StreamingTest, FrameRateIsReadWhileSamplesFlow) {
    ASSERT_EQ(S_OK, graph_->Run());
    const double rate = graph_->GetFrameRate();
    EXPECT_GE(rate, 29.9);
    std::atomic<bool> done{false};
    std::thread host([&] {
        while (!done.load()) EXPECT_EQ(rate, graph_->GetFrameRate());
    });
    EXPECT_TRUE(WaitForOk(10));
    done.store(true);
    host.join();
    EXPECT_EQ(S_OK, graph_->Stop());
    EXPECT_EQ(static_cast<float>(rate), stream_.FrameRate());
}

TEST_P(StreamingTest, TeardownWhileRunningStopsTheSamplesFirst) {
    ASSERT_EQ(S_OK, graph_->Run());
    EXPECT_TRUE(WaitForOk(2));
    graph_.reset();  // no Stop: the destructor must not leave the grabber calling in
    MarkStopped(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(decoding_.mutex);
    EXPECT_EQ(0, decoding_.afterStop);
}

INSTANTIATE_TEST_SUITE_P(Cameras, StreamingTest, ::testing::ValuesIn(kCameras),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamingFailureTest, DeviceInUseIsReportedAndTheGraphStaysStopped) {
    auto settings = zrf::sim::UsbIrPreset();
    DevicePtr device = AddDevice(settings);
    CMtxGraph first;
    CMtxGraph second;
    for (CMtxGraph* graph : {&first, &second}) {
        ASSERT_EQ(S_OK, graph->SelectDevice(settings.device_path, L"0", true));
        ASSERT_EQ(S_OK, graph->SetMediaType(kSubtypeF7M0));
        ASSERT_EQ(S_OK, graph->BuildCaptureGraph(false));
    }
    ASSERT_EQ(S_OK, first.Run());
    EXPECT_EQ(MakeHResult(0x800705AAu), second.Run());
    EXPECT_EQ(S_OK, first.Stop());
    EXPECT_EQ(S_OK, second.Run());  // free again
    EXPECT_EQ(S_OK, second.Stop());
}

}  // namespace
}  // namespace CaptureTest
