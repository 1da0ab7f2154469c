// A recording of a camera's decoded images played back by the replay camera through the graph
// decodes to the recorded images again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "host/recorder/recording_file.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"
#include "tests/sim/cameras/camera_capture.h"

namespace {

using namespace zrf::testing;
using Vorn::Zephra::Net::Devices::Recorder::RecordingWriter;
using zrf::sim::Pacing;
using zrf::sim::ReplayOptions;
using zrf::sim::SimulatedCamera;

constexpr int kRecorded = 5;

class ReplayStreaming : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() /
                 ("sim_cameras_replay_" + std::to_string(::getpid()) + ".zrec"))
                    .string();
        zrf::sim::CameraOptions options;
        options.pacing = Pacing::AsFastAsPossible;
        options.seed = 11;
        auto camera = SimulatedCamera::FromPreset("usb-ir", options);
        RecordingWriter writer(path_, 1, 640 * 480 * 2 + 2588);
        std::uint64_t frame = 100;
        for (const Sample& sample : CaptureSamples(*camera, zrf::sim::kSubtypeF7M0, kRecorded)) {
            const auto d = DecodeSample(kSetup, sample);
            ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
            recorded_.push_back(d.images[0]);
            ASSERT_TRUE(writer.Append(frame, static_cast<std::int64_t>(frame) * 333333,
                                      d.images[0].data(),
                                      static_cast<std::uint32_t>(d.images[0].size())));
            ++frame;
        }
    }
    void TearDown() override { std::filesystem::remove(path_); }

    std::unique_ptr<SimulatedCamera> Replay(bool loop) {
        std::unique_ptr<SimulatedCamera> camera;
        std::string error;
        EXPECT_EQ(S_OK,
                  SimulatedCamera::Replay(path_, ReplayOptions{Pacing::AsFastAsPossible, loop, {}},
                                          camera, error))
            << error;
        return camera;
    }

    static inline const StreamSetup kSetup{SourceKind::Usb, zrf::sim::kSubtypeF7M0, {640, 480}};
    std::string path_;
    std::vector<Sample> recorded_;
};

TEST_F(ReplayStreaming, LoopingReplayReproducesEveryRecordedImageByteForByte) {
    auto camera = Replay(true);
    ASSERT_NE(camera, nullptr);
    // The recording's size with the region's rows below, as a USB camera offers it.
    ASSERT_EQ(camera->Video().Settings().formats.size(), 1u);
    EXPECT_EQ(camera->Video().Settings().formats[0].height, 483);
    const auto samples = CaptureSamples(*camera, zrf::sim::kSubtypeF7M0, 2 * kRecorded + 1);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(2 * kRecorded + 1));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto d = DecodeSample(kSetup, samples[i]);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok}) << i;
        EXPECT_TRUE(d.images[0] == recorded_[i % kRecorded]) << i;
    }
}

TEST_F(ReplayStreaming, ReplayThatDoesNotLoopEndsAfterTheLastFrame) {
    auto camera = Replay(false);
    ASSERT_NE(camera, nullptr);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(camera->Video(), zrf::sim::kSubtypeF7M0));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    ASSERT_EQ(S_OK, g.sample_grabber->SetCallback(callback.Get(), 0));
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(callback->WaitForSamples(kRecorded));
    // Bounded only so that a broken build fails instead of hanging.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!camera->Video().HasDisappeared() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(camera->Video().HasDisappeared());
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(callback->Samples(), kRecorded);
}

TEST_F(ReplayStreaming, CorrectionOnTheReplayTreeMakesSamplesCalibrating) {
    auto camera = Replay(true);
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(zrf::sim::TreeRegistry::Find(camera->HostName()), camera->Tree());
    const int calibrating = camera->Tree()->Settings().samplesPerCorrection;
    camera->Tree()->Nuc();
    const auto samples = CaptureSamples(*camera, zrf::sim::kSubtypeF7M0, calibrating + 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto d = DecodeSample(kSetup, samples[i]);
        if (static_cast<int>(i) < calibrating) {
            EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Calibrating}) << i;
        } else {
            ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok}) << i;
            EXPECT_TRUE(d.images[0] == recorded_[i % kRecorded]) << i;
        }
    }
}

}  // namespace
