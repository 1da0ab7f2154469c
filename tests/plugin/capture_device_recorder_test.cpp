#include <cstring>
#include <functional>
#include <mutex>
#include <tuple>

#include "device_fixture.h"
#include "expect_exception.h"
#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "imaging/visual_frame_header.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

class RecorderBridgeTest : public DeviceTest {
  protected:
    XElement Settings(bool preRecording = false) {
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(dir.File("rec.zrec"));
        settings.SetIsPreRecordingEnabled(preRecording);
        return settings.XMLData();
    }
    TempDir dir;
};

TEST_F(RecorderBridgeTest, OnlyTheRadiometricFormatGetsARecorder) {
    MakeCamera("usb-ir");
    identity.selected_format_id = zrf::sim::kFormatIdYuy2;
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    device->GrabContinous_Stop();
    EXPECT_FALSE(State().HasRecorder());

    MakeCamera("usb-ir");
    identity.selected_format_id = zrf::sim::kFormatIdInfrared;
    for (char& c : identity.selected_format_id) c = static_cast<char>(std::tolower(c));
    Connect();
    device->Recorder_Setup(Settings(true));
    ASSERT_TRUE(State().HasRecorder());
    device->GrabContinous_Start();  // pre-recording: the ring fills before any start
    ASSERT_TRUE(events->WaitForImages(3));
    device->GrabContinous_Stop();
    EXPECT_GE(static_cast<Recorder::ZRFRecorder*>(State().TheRecorder())->PreRecordedImages(), 3u);
    device->Recorder_Setup(XElement());  // a broken setup is swallowed; the recorder stays
    EXPECT_TRUE(State().HasRecorder());
}

TEST_F(RecorderBridgeTest, ARecordingHoldsEveryDeliveredImageWithItsNumberAndTime) {
    MakeCamera("usb-ir");
    std::vector<RecordingStatus> statuses;
    device->RecordingStatus().Subscribe([&](const void* sender, const RecordingStatusEventArgs& e) {
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
    Recorder::RecordingReader::End ending;
    const auto frames = ReadAll(dir.File("rec.zrec"), &ending);
    EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
    EXPECT_GE(frames.size(), 10u);
    for (const Recorder::RecordedFrame& frame : frames) {
        ASSERT_TRUE(frame.checksumOk);
        // The delivered image with this frame number (numbers count from 1): the same bytes.
        ASSERT_TRUE(frame.frameNumber >= 1 && frame.frameNumber <= images.size());
        const auto& delivered = images[frame.frameNumber - 1];
        EXPECT_EQ(frame.image, delivered);
        // The time is the image's stamp: 1970 + seconds + milliseconds, in ticks.
        std::uint32_t seconds = 0, millis = 0;
        std::int16_t zone = 0;
        std::memcpy(&seconds, delivered.data() + 128 + 900, 4);
        std::memcpy(&millis, delivered.data() + 128 + 904, 4);
        std::memcpy(&zone, delivered.data() + 128 + 908, 2);
        EXPECT_EQ(frame.ticks, 621355968000000000 - std::int64_t{zone} * 600000000 +
                                   std::int64_t{seconds} * 10000000 + std::int64_t{millis} * 10000);
    }
    // Delivered frame numbers are the recorder's count, consecutive from the start.
    for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], i + 1);
    // A new connection forgets the size: a radiometric one is known only inside a sample.
    EXPECT_EQ(State().TheRecorder()->GetImageSize(), static_cast<int>(images.front().size()));
    device->Device_Disconnect();
    Connect();
    EXPECT_EQ(State().TheRecorder()->GetImageSize(), 0);
}

TEST_F(RecorderBridgeTest, TheRecorderFollowsTheImageSizeAcrossWindowing) {
    MakeCamera("fw-ir");
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    const auto n = static_cast<int>(device->Control_GetFrameRates().Elements("Range").size()) - 2;
    device->Control_SetFrameRate(n + 1);  // 120: four fields of 480 / 4 rows per sample
    EXPECT_EQ(device->Control_GetFrameRate(), n + 1);
    const std::size_t before = events->ImageCount();
    ASSERT_TRUE(events->WaitForImages(before + 8));
    device->GrabContinous_Stop();
    const auto images = events->Images();
    EXPECT_EQ(State().TheRecorder()->GetImageSize(), static_cast<int>(640 * 120 * 2 + 2588));
    for (const auto& image : images) {
        EXPECT_EQ(image.size(), images.front().size());  // the buffer never shrinks
        EXPECT_EQ(std::memcmp(image.data(), "ZRF", 4), 0);
    }
}

// The pre-recording size the host sets up stays whatever the device learns of the image size
// later (from its first images, from a windowing change): the host asked for that many images.
TEST_F(RecorderBridgeTest, TheHostsPreRecordingSizeOutlivesImageSizeChanges) {
    constexpr int kAsked = 205;  // more than a recorder of the device's own making keeps
    for (const bool windowing : {false, true}) {
        MakeCamera(windowing ? "fw-ir" : "usb-ir");
        Connect();
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(dir.File("rec.zrec"));
        settings.SetIsPreRecordingEnabled(true);
        settings.SetMaxNumberOfFramesInPreRecording(kAsked);
        device->Recorder_Setup(settings.XMLData());
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(2));
        if (windowing) {
            const auto n = static_cast<int>(device->Control_GetFrameRates().Elements("Range").size()) - 2;
            device->Control_SetFrameRate(n);  // 60: two fields a sample, each an image of its own size
        }
        ASSERT_TRUE(events->WaitForImages(events->ImageCount() + kAsked + 5));
        device->GrabContinous_Stop();
        EXPECT_EQ(static_cast<Recorder::ZRFRecorder*>(State().TheRecorder())->PreRecordedImages(),
                  static_cast<std::size_t>(kAsked))
            << (windowing ? "after a windowing change" : "from the first images");
    }
}

// Ticks of the stamp an image carries: a ZRF image's frame information, a visual image's header.
std::int64_t StampTicks(const std::vector<std::uint8_t>& image) {
    std::uint32_t seconds = 0, millis = 0;
    std::int32_t zone = 0;
    if (std::memcmp(image.data(), "ZRF", 4) == 0) {
        std::int16_t zone16 = 0;
        std::memcpy(&seconds, image.data() + 128 + 900, 4);
        std::memcpy(&millis, image.data() + 128 + 904, 4);
        std::memcpy(&zone16, image.data() + 128 + 908, 2);
        zone = zone16;
    } else {
        VisualFrameHeader header{};
        std::memcpy(&header, image.data(), sizeof header);
        std::tie(seconds, millis, zone) = std::tuple(header.seconds, header.milliseconds, header.timeZoneMinutes);
    }
    return 621355968000000000 - std::int64_t{zone} * 600000000 + std::int64_t{seconds} * 10000000 +
           std::int64_t{millis} * 10000;
}

// A recording through a rate read, a frame-rate change and a windowing change, each a moment
// into a second (a fresh clock's base is the whole second before): no stamp goes back, and each
// is the stamp its image carries.
TEST_F(RecorderBridgeTest, StampsInARecordingNeverGoBackThroughRateReadsAndRestarts) {
    MakeCamera("fw-ir");
    clock_.SetWallClock(1'700'000'000, 0);
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    device->Recorder_Start(0);
    const auto n = static_cast<int>(device->Control_GetFrameRates().Elements("Range").size()) - 2;
    const std::vector<std::pair<int, std::function<void()>>> steps = {
        {700, [&] { device->Control_GetFrameRate(); }},
        {600, [&] { device->Control_GetFrameRates(); }},
        {400, [&] { device->Control_SetFrameRate(0); }},
        {300, [&] { device->Control_SetFrameRate(n); }},  // two fields a sample
        {800, [&] { device->Control_SetFrameRate(n - 1); }},
    };
    for (const auto& [advance, step] : steps) {
        ASSERT_TRUE(events->WaitForImages(events->ImageCount() + 5));
        clock_.AdvanceMilliseconds(advance);
        step();
    }
    ASSERT_TRUE(events->WaitForImages(events->ImageCount() + 5));
    device->Recorder_Stop(0);
    device->GrabContinous_Stop();
    const auto frames = ReadAll(dir.File("rec.zrec"));
    ASSERT_GE(frames.size(), 30u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].ticks, StampTicks(frames[i].image)) << i;
        if (i > 0) {
            EXPECT_GT(frames[i].ticks, frames[i - 1].ticks) << "frame " << i;
        }
    }
}

// The recorder outlives a reconnect to a visual format and records its images with the stamps
// their headers carry, after the radiometric ones.
TEST_F(RecorderBridgeTest, VisualImagesAfterAReconnectAreRecordedWithTheirOwnStamps) {
    MakeCamera("usb-ir");
    clock_.SetWallClock(1'700'000'000, 0);
    Connect();
    device->Recorder_Setup(Settings());
    device->GrabContinous_Start();
    device->Recorder_Start(0);
    ASSERT_TRUE(events->WaitForImages(3));
    identity.selected_format_id = zrf::sim::kFormatIdYuy2;
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(events->ImageCount() + 3));
    device->Recorder_Stop(0);
    device->GrabContinous_Stop();
    const auto frames = ReadAll(dir.File("rec.zrec"));
    std::size_t visual = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        visual += std::memcmp(frames[i].image.data(), "YUY2", 4) == 0;
        EXPECT_EQ(frames[i].ticks, StampTicks(frames[i].image)) << i;
        if (i > 0) {
            EXPECT_GT(frames[i].ticks, frames[i - 1].ticks) << "frame " << i;
        }
    }
    EXPECT_GE(visual, 3u);
}

// A host that drops its last reference mid-recording: the device goes without Dispose.
TEST_F(RecorderBridgeTest, ADeviceDestroyedWhileRecordingClosesTheRecordingQuietly) {
    MakeCamera("usb-ir");
    int statuses = 0;
    device->RecordingStatus().Subscribe(
        [&](const void*, const RecordingStatusEventArgs&) { ++statuses; });
    Connect();
    device->Recorder_Setup(Settings());
    device->Recorder_Start(0);
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device.reset();
    EXPECT_EQ(statuses, 1);  // the start; the closing is not reported to a device that is gone

    Recorder::RecordingReader::End ending;
    const auto frames = ReadAll(dir.File("rec.zrec"), &ending);
    EXPECT_GE(std::count_if(frames.begin(), frames.end(), [](auto& f) { return f.checksumOk; }), 3);
    EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
}

TEST_F(RecorderBridgeTest, WithoutARecorderEverythingIsQuietAndADisposedDeviceRefusesOne) {
    MakeCamera("usb-ir");
    device->Recorder_Start(0);
    device->Recorder_Pause(1);
    device->Recorder_Stop(0);
    EXPECT_FALSE(device->Recorder_IsRecording());
    Connect();
    device->Dispose();
    ExpectThrowsMessage<System::ObjectDisposedException>(
        [&] { device->Recorder_Setup(Settings()); }, "The device is disposed; create a new one.");
    device->Recorder_Start(0);
    EXPECT_FALSE(State().HasRecorder());
    EXPECT_EQ(dir.Count(), 0u);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
