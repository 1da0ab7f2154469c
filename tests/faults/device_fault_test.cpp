// A streaming device meets a camera, a graph or a disk that misbehaves. It keeps running or
// fails with its documented error, counts what it lost, keeps what it already delivered, and
// touches nothing outside its buffers (these tests also run under AddressSanitizer).
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include "host/devices/framework_exceptions.h"
#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "tests/faults/faulty_source.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"
#include "tests/plugin/expect_exception.h"
#include "tests/plugin/device_fixture.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using zrf::faults::FaultySource;
using zrf::faults::Spoil;

class DeviceFaultTest : public DeviceTest {
  protected:
    void TearDown() override {
        if (limited) ::setrlimit(RLIMIT_FSIZE, &saved);
        DeviceTest::TearDown();
    }
    // The process may write files of at most `bytes`; a write beyond fails instead of killing it.
    void LimitFileSize(rlim_t bytes) {
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        limited = true;
    }

    // Waits in real time (samples flow on their own thread) until the condition holds.
    template <typename Condition>
    static bool WaitUntil(Condition condition) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool WaitUntilGone() {
        return WaitUntil([&] { return Simulated().Video().HasDisappeared(); });
    }
    // A start that fails with the documented error.
    static void ExpectStartFails(CaptureDevice& d) {
        ExpectThrowsMessage<DeviceConnectionFailedException>([&] { d.GrabContinous_Start(); },
                                                             "Start failed");
    }

    // Records to `path` while the device streams.
    void StartRecording(const std::filesystem::path& path) {
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(path.string());
        device->Recorder_Setup(settings.XMLData());
        device->Recorder_Start(0);
    }
    // The device streams on after what went wrong and stops without a loss; returns what the
    // camera had sent right before the stop.
    std::size_t ExpectStreamsOnAndStops() {
        EXPECT_TRUE(events->WaitForImages(events->ImageCount() + 5)) << "the device stopped";
        const auto sent = static_cast<std::size_t>(Simulated().Video().FramesDelivered());
        device->GrabContinous_Stop();
        EXPECT_EQ(device->GrabContinous_LostFrames(), 0);
        return sent;
    }

    // Reads the recording back: it ends cleanly, and every frame is good and is, byte for
    // byte, the image delivered with its number.
    std::vector<Recorder::RecordedFrame> ReadBackAsDelivered(const std::filesystem::path& path) {
        Recorder::RecordingReader::End ending;
        const auto frames = ReadAll(path.string(), &ending);
        EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
        const auto numbers = events->FrameNumbers();
        const auto images = events->Images();
        for (const auto& frame : frames) {
            EXPECT_TRUE(frame.checksumOk) << "frame " << frame.frameNumber;
            const auto at = std::find(numbers.begin(), numbers.end(), frame.frameNumber);
            if (at == numbers.end()) {
                ADD_FAILURE() << "frame " << frame.frameNumber << " was never delivered";
                continue;
            }
            const auto& image = images[static_cast<std::size_t>(at - numbers.begin())];
            EXPECT_TRUE(image.size() >= frame.image.size() &&
                        std::equal(frame.image.begin(), frame.image.end(), image.begin()))
                << "frame " << frame.frameNumber;
        }
        return frames;
    }

    TempDir tempDir;
    std::filesystem::path dir{tempDir.Path()};
    rlimit saved{};
    bool limited = false;
};

class SpoiledSampleTest : public DeviceFaultTest,
                          public ::testing::WithParamInterface<std::tuple<const char*, Spoil>> {};

// Good samples first, then every other one spoiled, all recorded. The camera stops sending by
// itself (a stopping graph drops what is in flight), so every sample it sent reached the device.
TEST_P(SpoiledSampleTest, LostAreCountedAndWhatWasDeliveredStays) {
    constexpr std::uint64_t kGood = 8;
    constexpr long kSent = 60;
    const auto [preset, spoil] = GetParam();
    MakeCamera(preset, "disappear-after=" + std::to_string(kSent));
    auto source = std::make_shared<FaultySource>(Simulated().Source(), spoil, kGood);
    Simulated().VideoDevice()->SetSampleSource(source);
    Connect();
    const auto recording = dir / "spoiled.zrec";
    StartRecording(recording);
    device->GrabContinous_Start();
    ASSERT_TRUE(WaitUntilGone());
    device->GrabContinous_Stop();
    device->Recorder_Stop(0);

    const auto sent = static_cast<std::size_t>(Simulated().Video().FramesDelivered());
    const auto spoiled = static_cast<std::size_t>(source->Spoiled());
    const auto lost = static_cast<std::size_t>(device->GrabContinous_LostFrames());
    const std::size_t images = events->ImageCount();
    ASSERT_EQ(sent, static_cast<std::size_t>(kSent));
    ASSERT_EQ(spoiled, (kSent - kGood) / 2);
    switch (spoil) {
        case Spoil::Truncate:   // no image can be made of a part of a sample
        case Spoil::Unstamped:  // nor of a frame without the camera's stamp
            EXPECT_EQ(images, sent - spoiled);
            EXPECT_EQ(lost, spoiled);
            break;
        case Spoil::Pad:  // bytes behind the layout are not part of it
            EXPECT_EQ(images, sent);
            EXPECT_EQ(lost, 0u);
            break;
        default:  // a changed pixel still makes an image; a forged calibrating flag is neither
            EXPECT_GE(images, sent - spoiled);
            EXPECT_LE(images + lost, sent);
            break;
    }

    EXPECT_EQ(ReadBackAsDelivered(recording).size(), images);
}

std::string SpoilCaseName(const ::testing::TestParamInfo<std::tuple<const char*, Spoil>>& info) {
    static const char* const kSpoils[] = {"Nothing", "Truncated", "Padded", "Corrupted", "Unstamped"};
    std::string name = std::get<0>(info.param);
    std::erase(name, '-');
    return name + kSpoils[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Cameras, SpoiledSampleTest,
                         ::testing::Combine(::testing::Values("usb-ir", "usb-ir-jls", "fw-ir"),
                                            ::testing::Values(Spoil::Truncate, Spoil::Pad,
                                                              Spoil::Corrupt)),
                         SpoilCaseName);
INSTANTIATE_TEST_SUITE_P(FrameInformationLast, SpoiledSampleTest,
                         ::testing::Values(std::make_tuple("fw-ir", Spoil::Unstamped)), SpoilCaseName);

// Samples the graph cannot read never reach the device: nothing arrives, nothing is counted,
// and the device still stops.
TEST_F(DeviceFaultTest, WithheldSampleBuffersDeliverNothingAndStopCleanly) {
    MakeCamera("usb-ir", "withhold-buffers=1");
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(WaitUntil([&] { return Simulated().Video().FramesDelivered() >= 20; }));
    EXPECT_TRUE(device->GrabContinous_IsGrabbing());
    device->GrabContinous_Stop();
    EXPECT_EQ(events->ImageCount(), 0u);
    EXPECT_EQ(device->GrabContinous_LostFrames(), 0);
}

// A camera unplugged while streaming and recording: everything it sent was delivered and
// recorded, the device stops and disconnects, and a new start fails with its documented error.
TEST_F(DeviceFaultTest, ACameraThatDisappearsWhileStreaming) {
    constexpr long kSent = 12;
    MakeCamera("usb-ir", "disappear-after=" + std::to_string(kSent));
    Connect();
    const auto recording = dir / "unplugged.zrec";
    StartRecording(recording);
    device->GrabContinous_Start();
    ASSERT_TRUE(WaitUntilGone());
    EXPECT_EQ(Simulated().Video().FramesDelivered(), kSent);
    EXPECT_EQ(events->ImageCount(), static_cast<std::size_t>(kSent));
    EXPECT_EQ(device->GrabContinous_LostFrames(), 0);

    device->GrabContinous_Stop();
    ExpectStartFails(*device);  // a camera that is gone cannot start
    EXPECT_FALSE(device->GrabContinous_IsGrabbing());
    device->Recorder_Stop(0);
    device->Device_Disconnect();
    EXPECT_FALSE(device->Device_IsConnected());

    EXPECT_EQ(ReadBackAsDelivered(recording).size(), static_cast<std::size_t>(kSent));
}

// A camera unplugged while streaming and plugged in again: once the device lets go of the stream
// it saw vanish, a reconnect finds the camera and streams it as before.
TEST_F(DeviceFaultTest, ACameraThatComesBackStreamsAgainAfterAReconnect) {
    constexpr long kSent = 12;
    MakeCamera("usb-ir", "disappear-after=" + std::to_string(kSent) + ";return-after-disappearing=1");
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(WaitUntilGone());
    device->GrabContinous_Stop();
    device->Device_Disconnect();
    EXPECT_FALSE(Simulated().Video().HasDisappeared());  // plugged in again

    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(WaitUntil([&] { return events->ImageCount() >= 2 * kSent; }));
    device->GrabContinous_Stop();
    EXPECT_EQ(events->ImageCount(), static_cast<std::size_t>(2 * kSent));
    EXPECT_EQ(device->GrabContinous_LostFrames(), 0);
}

// Every control that restarts the stream tells the host when the camera refuses the restart
// (it is gone), as a failed start does: the device is never left silently not streaming.
TEST_F(DeviceFaultTest, ARestartTheCameraRefusesIsReportedByEveryControlThatRestarts) {
    enum class Restart { FrameRate, WindowingOn, WindowingOff };
    struct Case {
        const char* name;
        const char* camera;
        Restart restart;
    };
    const Case cases[] = {
        {"a frame-rate change", "usb-ir", Restart::FrameRate},
        {"windowing switched on", "fw-ir", Restart::WindowingOn},
        {"windowing switched off", "fw-ir", Restart::WindowingOff},
    };
    for (const Case& c : cases) {
        MakeCamera(c.camera, "disappear-after=30");
        Connect();
        device->GrabContinous_Start();
        const int n = static_cast<int>(device->Control_GetFrameRates().Elements("Range").size()) -
                      (c.restart == Restart::FrameRate ? 0 : 2);
        if (c.restart == Restart::WindowingOff) device->Control_SetFrameRate(n);  // on, streaming again
        ASSERT_TRUE(WaitUntilGone()) << c.name;
        ExpectThrowsMessage<DeviceConnectionFailedException>(
            [&] { device->Control_SetFrameRate(c.restart == Restart::WindowingOn ? n : 0); }, "Start failed");
        device->GrabContinous_Stop();
        device->Device_Disconnect();
    }
}

// A second device on a camera that already streams is told the camera is in use; the first
// one streams on and loses nothing.
TEST_F(DeviceFaultTest, ASecondDeviceOnAStreamingCameraIsRefused) {
    MakeCamera("usb-ir");
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));

    CaptureDevice second(identity.identifier);
    second.Device_Connect(IdentityElement());
    ExpectStartFails(second);
    EXPECT_TRUE(log.HasUserError("CAMERA_ERROR_ALREADY_STREAMING"));
    EXPECT_FALSE(second.GrabContinous_IsGrabbing());
    second.Dispose();

    const std::size_t sentBeforeStop = ExpectStreamsOnAndStops();
    // Every sample up to the stop arrived; samples the camera sends while the graph stops
    // (the callback is removed first) never reach the device.
    EXPECT_GE(events->ImageCount() + 1, sentBeforeStop);
    EXPECT_LE(events->ImageCount(), static_cast<std::size_t>(Simulated().Video().FramesDelivered()));
}

// Changing the frame rate restarts the graph only for a device that grabs: no image reaches the
// host before a start or after a stop.
TEST_F(DeviceFaultTest, NoImageOutsideStartAndStop) {
    MakeCamera("usb-ir");
    Connect();
    device->Control_SetFrameRate(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Simulated().Video().FramesDelivered(), 0);
    EXPECT_EQ(events->ImageCount(), 0u);

    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device->GrabContinous_Stop();
    const std::size_t stopped = events->ImageCount();
    device->Control_SetFrameRate(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(events->ImageCount(), stopped);
}

TEST_F(DeviceFaultTest, ARecordingFileThatCannotBeCreatedFailsTheStartOnly) {
    MakeCamera("usb-ir");
    Connect();
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath((dir / "missing" / "rec.zrec").string());
    device->Recorder_Setup(settings.XMLData());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    EXPECT_THROW(device->Recorder_Start(0), System::IOException);
    EXPECT_FALSE(device->Recorder_IsRecording());
    ExpectStreamsOnAndStops();
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// The disk fills up mid-recording: the recording stops and reads back whole up to its last
// complete image, and the device streams on.
TEST_F(DeviceFaultTest, AFullDiskEndsTheRecordingAtItsLastCompleteImage) {
    constexpr rlim_t kDisk = 2'000'000;  // a few images of 640 x 480
    MakeCamera("usb-ir");
    std::atomic<int> stopped{0};
    device->RecordingStatus().Subscribe([&](const void*, const RecordingStatusEventArgs& e) {
        if (e.Status == RecordingStatus::Stopped) ++stopped;
    });
    Connect();
    const auto recording = dir / "full.zrec";
    LimitFileSize(kDisk);
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    StartRecording(recording);
    ASSERT_TRUE(WaitUntil([&] { return !device->Recorder_IsRecording(); }))
        << "the disk never filled up";
    // The status is raised once the recorder has let go of its lock, a moment after.
    EXPECT_TRUE(WaitUntil([&] { return stopped.load() > 0; }));
    ExpectStreamsOnAndStops();
    EXPECT_EQ(stopped.load(), 1);

    EXPECT_LE(std::filesystem::file_size(recording), kDisk);
    const auto frames = ReadBackAsDelivered(recording);
    EXPECT_GE(frames.size(), 2u);
    for (std::size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].frameNumber, frames[i - 1].frameNumber + 1) << "a gap at " << i;
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
