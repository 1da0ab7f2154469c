#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "device_fixture.h"
#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

class RecorderBridgeTest : public DeviceTest {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("zrf_device_rec_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        DeviceTest::TearDown();
        std::filesystem::remove_all(dir);
    }
    XElement Settings(bool preRecording = false) {
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath((dir / "rec.zrec").string());
        settings.SetIsPreRecordingEnabled(preRecording);
        return settings.XMLData();
    }
    std::filesystem::path dir;
};

TEST_F(RecorderBridgeTest, WithoutARecorderEverythingIsQuiet) {
    MakeCamera("usb-ir");
    device->Recorder_Start(0);
    device->Recorder_Pause(1);
    device->Recorder_Stop(0);
    EXPECT_FALSE(device->Recorder_IsRecording());
    EXPECT_FALSE(State().HasRecorder());
}

TEST_F(RecorderBridgeTest, OnlyTheRadiometricFormatGetsARecorder) {
    MakeCamera("usb-ir");
    identity.selected_format_id = zrf::sim::kFormatIdYuy2;
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    device->GrabContinous_Stop();
    EXPECT_FALSE(State().HasRecorder());

    MakeCamera("usb-ir");
    std::string lower = zrf::sim::kFormatIdInfrared;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    identity.selected_format_id = lower;
    Connect();
    device->Recorder_Setup(Settings(true));
    ASSERT_TRUE(State().HasRecorder());
    device->Recorder_Setup(XElement());  // a broken setup is swallowed; the recorder stays
    EXPECT_TRUE(State().HasRecorder());
}

TEST_F(RecorderBridgeTest, ARecordingHoldsEveryDeliveredImageWithItsNumberAndTime) {
    MakeCamera("usb-ir");
    std::vector<RecordingStatus> statuses;
    device->RecordingStatus().Subscribe(
        [&](const void* sender, const RecordingStatusEventArgs& e) {
            EXPECT_EQ(sender, device.get());
            statuses.push_back(e.Status);
        });
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device->Recorder_Start(0);
    EXPECT_TRUE(device->Recorder_IsRecording());
    const std::size_t first = events->ImageCount();
    ASSERT_TRUE(events->WaitForImages(first + 10));
    device->GrabContinous_Stop();  // no image after this: the recording ends with the last one
    device->Recorder_Stop(0);
    EXPECT_EQ(statuses, (std::vector{RecordingStatus::Recording, RecordingStatus::Stopped}));

    const auto images = events->Images();
    const auto numbers = events->FrameNumbers();
    Recorder::RecordingReader reader((dir / "rec.zrec").string());
    Recorder::RecordedFrame frame;
    std::size_t recorded = 0;
    while (reader.Next(frame)) {
        ASSERT_TRUE(frame.checksumOk);
        // Find the delivered image with this frame number: the bytes must be the same.
        auto it = std::find(numbers.begin(), numbers.end(), frame.frameNumber);
        ASSERT_NE(it, numbers.end()) << frame.frameNumber;
        const auto& delivered = images[static_cast<std::size_t>(it - numbers.begin())];
        ASSERT_EQ(frame.image.size(), delivered.size());
        EXPECT_EQ(frame.image, delivered);
        // The time is the image's stamp: 1970 + seconds + milliseconds, in ticks.
        std::uint32_t seconds = 0, millis = 0;
        std::memcpy(&seconds, delivered.data() + 128 + 900, 4);
        std::memcpy(&millis, delivered.data() + 128 + 904, 4);
        std::int16_t zone = 0;
        std::memcpy(&zone, delivered.data() + 128 + 908, 2);
        const std::int64_t ticks = 621355968000000000 - std::int64_t{zone} * 600000000 +
                                   std::int64_t{seconds} * 10000000 + std::int64_t{millis} * 10000;
        EXPECT_EQ(frame.ticks, ticks);
        ++recorded;
    }
    EXPECT_EQ(reader.Ending(), Recorder::RecordingReader::End::Clean);
    EXPECT_GE(recorded, 10u);
    // Delivered frame numbers are the recorder's count, consecutive from the start.
    for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], i + 1);
}

TEST_F(RecorderBridgeTest, TheRecorderFollowsTheImageSizeAcrossWindowing) {
    MakeCamera("fw-ir");
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    const auto n = static_cast<int>(device->Control_GetFrameRates().Elements("Range").size()) - 2;
    device->Control_SetFrameRate(n);  // two fields: half the rows per image
    const std::size_t before = events->ImageCount();
    ASSERT_TRUE(events->WaitForImages(before + 4));
    device->GrabContinous_Stop();
    const auto images = events->Images();
    EXPECT_EQ(State().TheRecorder()->GetImageSize(), static_cast<int>(640 * 240 * 2 + 2588));
    EXPECT_EQ(images.back().size(), images.front().size());  // the buffer never shrinks
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
