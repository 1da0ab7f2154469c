#include "host/recorder/zrf_recorder.h"

#include <ctime>

#include <gtest/gtest.h>

#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

constexpr std::size_t kSize = 256;

class ZRFRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPath(dir.File("rec.zrec"));
        recorder.SetImageSize(kSize);
        recorder.RecorderStatusChanged.Subscribe(
            [this](const void*, const RecorderStatusEventArgs& e) { states.push_back(e.State); });
    }
    void SetPath(const std::string& path) {
        RecorderXml settings;
        settings.SetPath(path);
        ASSERT_TRUE(recorder.Setup(settings.XMLData()));
    }
    // An image made from its time stamp, so that the recording shows which image went where.
    std::uint64_t Add(std::int64_t ticks) {
        return recorder.AddImage(TestImage(kSize, ticks), 0, ticks);
    }
    // Frame numbers of the last recording, each image checked against its time stamp.
    std::vector<std::uint64_t> Recorded() {
        RecordingReader reader(recorder.CurrentPath());
        std::vector<std::uint64_t> numbers;
        for (RecordedFrame f; reader.Next(f); numbers.push_back(f.frameNumber))
            EXPECT_TRUE(f.checksumOk && f.image == TestImage(kSize, f.ticks)) << f.frameNumber;
        return numbers;
    }

    TempDir dir;
    ZRFRecorder recorder;
    std::vector<RECORDING_STATE> states;
};

TEST_F(ZRFRecorderTest, CountsEveryImageAndRecordsOnlyBetweenStartAndStop) {
    recorder.SetFrameCounter(10);
    EXPECT_EQ(Add(100), 11u);
    const std::int64_t kUnixEpoch = 621355968000000000,
                       before = kUnixEpoch + std::time(nullptr) * 10'000'000;
    recorder.Start(0);
    const std::int64_t after = kUnixEpoch + (std::time(nullptr) + 1) * 10'000'000;
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(Add(200), 12u);
    EXPECT_EQ(Add(300), 13u);
    recorder.Stop(0);
    EXPECT_EQ(Add(400), 14u);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{12, 13}));
    const std::int64_t created = RecordingReader(recorder.CurrentPath()).Header().createdTicks;
    EXPECT_GE(created, before);
    EXPECT_LE(created, after);
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, PreRecordingRingIsWrittenFirstOldestImageFirst) {
    RecorderXml settings;
    settings.SetPath(dir.File("rec.zrec"));
    settings.SetMaxNumberOfFramesInPreRecording(3);
    recorder.Setup(settings.XMLData());
    recorder.SetIsPreRecordingEnabled(true);
    for (int i = 1; i <= 5; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 3u);
    settings.SetXMLData(recorder.Settings());
    EXPECT_TRUE(settings.IsPreRecordingEnabled());
    EXPECT_EQ(settings.ImageSize(), static_cast<int>(kSize));
    recorder.Start(0);
    Add(6);
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{3, 4, 5, 6}));
    EXPECT_EQ(recorder.PreRecordedImages(), 0u);
    recorder.SetSizeImageBufferPreRecording(2);
    for (int i = 7; i <= 9; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 2u);
}

TEST_F(ZRFRecorderTest, StartWithACountStopsByItselfAndPauseSkipsImages) {
    recorder.Start(3);
    Add(1);
    recorder.Pause(1);
    Add(2);  // paused: counted, not recorded
    recorder.Pause(0);
    for (int i = 3; i <= 5; ++i) Add(i);  // the recorder stops after the third image it wrote
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{1, 3, 4}));
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::PAUSED,
                                   RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, ADirectoryPathGetsANewNumberedFileEachTime) {
    SetPath(dir.Path() + "/");
    recorder.Start(0);
    recorder.Stop(0);
    EXPECT_EQ(recorder.CurrentPath(), dir.File("recording_0001.zrec"));
    recorder.Start(0);
    recorder.Stop(0);
    EXPECT_EQ(recorder.CurrentPath(), dir.File("recording_0002.zrec"));
}

TEST_F(ZRFRecorderTest, ImagesThatDoNotFitTheirBufferAreCountedButNotRecorded) {
    recorder.Start(0);
    std::vector<std::uint8_t> larger(8, 0);
    const auto image = TestImage(kSize, 4);
    larger.insert(larger.end(), image.begin(), image.end());
    EXPECT_EQ(recorder.AddImage(std::span(image).first(kSize - 1), 0, 1), 1u);
    EXPECT_EQ(recorder.AddImage(larger, 9, 2), 2u);
    EXPECT_EQ(recorder.AddImage(larger, -1, 3), 3u);
    EXPECT_EQ(recorder.AddImage(larger, 8, 4), 4u);
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{4});
}

TEST_F(ZRFRecorderTest, DisposeEndsTheRecordingAndRefusesNewOnes) {
    recorder.Start(0);
    Add(1);
    recorder.Dispose();
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{1});
    EXPECT_THROW(recorder.Start(0), System::ObjectDisposedException);
}

}  // namespace
