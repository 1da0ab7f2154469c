// Running graphs on simulated cameras: real camera samples through the grabber into the
// stream, decoded inside the stream's callback as the device does, until Stop returns or the
// graph goes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/capture/camera_streaming.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

class StreamingTest : public ::testing::TestWithParam<StreamingCamera> {
  protected:
    void SetUp() override {
        const StreamingCamera& c = GetParam();
        device_ = AddDevice(c.preset(), std::make_shared<CameraSampleSource>(c.samples, c.picture));
        device_->SetPacing(zrf::sim::Pacing::AsFastAsPossible);
        stream_.SetSourceKind(c.kind);
        graph_->AttachStream(&stream_);
        ASSERT_EQ(S_OK,
                  graph_->SelectDevice(device_->Settings().device_path, L"0", c.radiometricUsb));
        ASSERT_EQ(S_OK, graph_->SetMediaType(c.subtype));
        ASSERT_EQ(S_OK, graph_->BuildCaptureGraph(false));
    }

    DevicePtr device_;
    ImgSrcStream stream_;
    CallbackDecoder decoder_{stream_};
    std::unique_ptr<CMtxGraph> graph_ = std::make_unique<CMtxGraph>();
};

// Run after run, samples decode while the host reads the rate; none arrives once Stop returns.
TEST_P(StreamingTest, SamplesDecodeUntilStopReturns) {
    for (long run = 1; run <= 3; ++run) {
        decoder_.MarkStopped(false);
        ASSERT_EQ(S_OK, graph_->Run());
        EXPECT_NE(0.0f, stream_.FrameRate());  // Run tells the stream the device's rate
        const double rate = graph_->GetFrameRate();
        std::atomic<bool> done{false};
        std::thread host([&] {
            while (!done.load()) EXPECT_EQ(rate, graph_->GetFrameRate());
        });
        EXPECT_TRUE(decoder_.WaitForOk(run * 5));
        done = true;
        host.join();
        ASSERT_EQ(S_OK, graph_->Stop());
        decoder_.MarkStopped(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(0, decoder_.AfterStop());
    EXPECT_EQ(0, decoder_.Failed());
}

TEST_P(StreamingTest, TeardownWhileRunningStopsTheSamplesFirst) {
    ASSERT_EQ(S_OK, graph_->Run());
    EXPECT_TRUE(decoder_.WaitForOk(2));
    graph_.reset();  // no Stop: the destructor must not leave the grabber calling in
    decoder_.MarkStopped(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(0, decoder_.AfterStop());
}

INSTANTIATE_TEST_SUITE_P(Cameras, StreamingTest, ::testing::ValuesIn(kStreamingCameras),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace CaptureTest
