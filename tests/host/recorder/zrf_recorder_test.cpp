#include "host/recorder/zrf_recorder.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "recorder_test_support.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

constexpr std::size_t kSize = 256;

class ZRFRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        RecorderXml settings;
        settings.SetPath(dir.File("rec.zrec"));
        recorder.Setup(settings.XMLData());
        recorder.SetImageSize(kSize);
        recorder.RecorderStatusChanged.Subscribe(
            [this](const void*, const RecorderStatusEventArgs& e) { states.push_back(e.State); });
    }

    std::uint64_t Add(std::uint64_t seed, std::int64_t ticks) {
        auto image = TestImage(kSize, seed);
        return recorder.AddImage(image, 0, ticks);
    }

    std::vector<RecordedFrame> Read() {
        RecordingReader reader(recorder.CurrentPath());
        std::vector<RecordedFrame> frames;
        RecordedFrame f;
        while (reader.Next(f)) frames.push_back(f);
        return frames;
    }

    TempDir dir;
    ZRFRecorder recorder;
    std::vector<RECORDING_STATE> states;
};

TEST_F(ZRFRecorderTest, CountsEveryImageAndRecordsOnlyBetweenStartAndStop) {
    recorder.SetFrameCounter(10);
    EXPECT_EQ(Add(1, 100), 11u);
    recorder.Start(0);
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(Add(2, 200), 12u);
    EXPECT_EQ(Add(3, 300), 13u);
    recorder.Stop(0);
    EXPECT_EQ(Add(4, 400), 14u);
    EXPECT_FALSE(recorder.IsRecording());

    auto frames = Read();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frameNumber, 12u);
    EXPECT_EQ(frames[0].ticks, 200);
    EXPECT_EQ(frames[0].image, TestImage(kSize, 2));
    EXPECT_EQ(frames[1].frameNumber, 13u);
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, PreRecordingRingIsWrittenFirstOldestImageFirst) {
    recorder.SetSizeImageBufferPreRecording(3);
    recorder.SetIsPreRecordingEnabled(true);
    for (int i = 1; i <= 5; ++i) Add(i, i);
    EXPECT_EQ(recorder.PreRecordedImages(), 3u);
    recorder.Start(0);
    Add(6, 6);
    recorder.Stop(0);
    auto frames = Read();
    ASSERT_EQ(frames.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i].frameNumber, 3u + i);
        EXPECT_EQ(frames[i].image, TestImage(kSize, 3 + i));
    }
    EXPECT_EQ(recorder.PreRecordedImages(), 0u);
}

TEST_F(ZRFRecorderTest, StartWithACountStopsByItselfAndPauseSkipsImages) {
    recorder.Start(3);
    Add(1, 1);
    recorder.Pause(1);
    Add(2, 2);  // paused: counted, not recorded
    recorder.Pause(0);
    Add(3, 3);
    Add(4, 4);
    Add(5, 5);  // after the third recorded image the recorder stopped
    EXPECT_FALSE(recorder.IsRecording());
    auto frames = Read();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].frameNumber, 1u);
    EXPECT_EQ(frames[1].frameNumber, 3u);
    EXPECT_EQ(frames[2].frameNumber, 4u);
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::PAUSED,
                                   RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, ADirectoryPathGetsNumberedFiles) {
    RecorderXml settings;
    settings.SetPath(dir.Path().string() + "/");
    recorder.Setup(settings.XMLData());
    recorder.Start(0);
    Add(1, 1);
    recorder.Stop(0);
    const std::string first = recorder.CurrentPath();
    recorder.Start(0);
    recorder.Stop(0);
    EXPECT_NE(recorder.CurrentPath(), first);
    EXPECT_NE(first.find("recording_0001.zrec"), std::string::npos);
}

TEST_F(ZRFRecorderTest, AFileThatCannotBeCreatedFailsStartAndLeavesItStopped) {
    RecorderXml settings;
    settings.SetPath(dir.File("missing/dir/rec.zrec"));
    recorder.Setup(settings.XMLData());
    EXPECT_THROW(recorder.Start(0), System::IOException);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(Add(1, 1), 1u);  // still counts
}

TEST_F(ZRFRecorderTest, ImagesThatDoNotFitTheirBufferAreCountedButNotRecorded) {
    recorder.Start(0);
    std::vector<std::uint8_t> small(kSize - 1);
    EXPECT_EQ(recorder.AddImage(small, 0, 1), 1u);
    std::vector<std::uint8_t> exact(kSize + 8);
    EXPECT_EQ(recorder.AddImage(exact, 9, 2), 2u);
    EXPECT_EQ(recorder.AddImage(exact, -1, 3), 3u);
    EXPECT_EQ(recorder.AddImage(exact, 8, 4), 4u);
    recorder.Stop(0);
    auto frames = Read();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frameNumber, 4u);
}

TEST_F(ZRFRecorderTest, SettingsCarryWhatWasSetUp) {
    RecorderXml settings;
    settings.SetPath(dir.File("x.zrec"));
    settings.SetIsPreRecordingEnabled(true);
    settings.SetMaxNumberOfFramesInPreRecording(7);
    recorder.Setup(settings.XMLData());
    RecorderXml back;
    back.SetXMLData(recorder.Settings());
    EXPECT_TRUE(back.IsPreRecordingEnabled());
    EXPECT_EQ(back.MaxNumberOfFramesInPreRecording(), 7);
    EXPECT_EQ(back.ImageSize(), static_cast<int>(kSize));
    EXPECT_EQ(back.Path(), dir.File("x.zrec"));
}

TEST_F(ZRFRecorderTest, ImagesFromAStreamingThreadMeetControlCallsSafely) {
    std::atomic<bool> stop{false};
    std::thread stream([&] {
        auto image = TestImage(kSize, 1);
        std::int64_t t = 0;
        while (!stop) {
            std::lock_guard lock(recorder.SyncRoot());  // as the device does
            recorder.AddImage(image, 0, ++t);
        }
    });
    for (int i = 0; i < 50; ++i) {
        recorder.Start(0);
        recorder.Pause(1);
        recorder.Pause(0);
        recorder.Stop(0);
    }
    stop = true;
    stream.join();
    for (const auto& f : Read()) EXPECT_TRUE(f.checksumOk);
}

TEST_F(ZRFRecorderTest, DisposeEndsTheRecordingAndRefusesNewOnes) {
    recorder.Start(0);
    Add(1, 1);
    recorder.Dispose();
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Read().size(), 1u);
    EXPECT_THROW(recorder.Start(0), System::ObjectDisposedException);
}

}  // namespace
