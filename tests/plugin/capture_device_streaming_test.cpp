#include <cstring>
#include <functional>
#include <thread>

#include "device_fixture.h"
#ifdef _WIN32
#include <objbase.h>
#else
#include "platform/com/class_registry.h"
#endif
#include "expect_exception.h"
#include "host/devices/framework_exceptions.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

bool IsZrfImage(const std::vector<std::uint8_t>& image) {
    return image.size() > 64 && std::memcmp(image.data(), "ZRF", 4) == 0;
}

TEST_F(DeviceTest, EveryPresetConnectsStreamsAndDeliversDecodedImages) {
    for (const auto& [preset, format, radiometric] :
         {std::tuple{"usb-ir", "", true}, {"usb-ir-jls", "", true}, {"fw-ir", "", true},
          {"webcam", zrf::sim::kFormatIdYuy2, false}}) {
        SCOPED_TRACE(preset);
        if (!CameraOfThisBuild(preset)) continue;
        MakeCamera(preset);
        if (*format) identity.selected_format_id = format;
        Connect();
        EXPECT_TRUE(device->Device_IsConnected());
        EXPECT_EQ(device->Device_Heartbeat(), HeartbeatState::Alive);
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(5));
        device->GrabContinous_Stop();
        for (const auto& image : events->Images()) EXPECT_EQ(IsZrfImage(image), radiometric);
        EXPECT_TRUE(radiometric || std::memcmp(events->Images()[0].data(), "YUY2", 4) == 0);
        device->Device_Disconnect();
        EXPECT_FALSE(device->Device_IsConnected());
        TearDown();
    }
}

// After a stop the fault tests look; after a disconnect, through a reconnect and a rate change.
TEST_F(DeviceTest, NoImageArrivesAfterDisconnectReturns) {
    MakeCamera("usb-ir");
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device->Device_Disconnect();
    const std::size_t afterDisconnect = events->ImageCount();
    Connect();
    device->Control_SetFrameRate(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(events->ImageCount(), afterDisconnect);
    // Disconnect leaves the grabbing flag; stopping now must not touch the released graph.
    EXPECT_TRUE(device->GrabContinous_IsGrabbing());
    EXPECT_NO_THROW(device->GrabContinous_Stop());
    EXPECT_FALSE(device->GrabContinous_IsGrabbing());
}

TEST_F(DeviceTest, StartAndStopRules) {
    MakeCamera("usb-ir");
    ExpectThrowsMessage<System::InvalidOperationException>([&] { device->GrabContinous_Start(); },
                                                           "Not connected");
    Connect();
    ExpectThrowsMessage<System::InvalidOperationException>([&] { device->GrabContinous_Stop(); },
                                                           "Grabbing not started");
}

TEST_F(DeviceTest, CorrectionReportsCalibratingThenImagesFollow) {
    MakeCamera("usb-ir");
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    device->IRControl_Nuc();  // the camera calibrates for a few samples
    ASSERT_TRUE(events->WaitForCalibrating(2));
    EXPECT_EQ(events->CalibratingChanges(), (std::vector<bool>{true, false}));
    const std::size_t before = events->ImageCount();
    ASSERT_TRUE(events->WaitForImages(before + 2));
    device->GrabContinous_Stop();
    EXPECT_EQ(clock_.SleptFor(), std::chrono::milliseconds(3000));
    EXPECT_EQ(device->GrabContinous_LostFrames(), 0);
}

// A camera that refuses to run (in use elsewhere): the start fails with the user told why, and
// nothing is left running, on every platform.
TEST_F(DeviceTest, ACameraThatRefusesToRunFailsTheStartAndIsLeftStopped) {
    MakeCamera("usb-ir", "fail-run=0x800705AA");
    Connect();
    ExpectThrowsMessage<DeviceConnectionFailedException>([&] { device->GrabContinous_Start(); },
                                                         "Start failed");
    EXPECT_TRUE(log.HasUserError("CAMERA_ERROR_ALREADY_STREAMING"));
    EXPECT_FALSE(device->GrabContinous_IsGrabbing());
    EXPECT_FALSE(CameraStreaming());
    EXPECT_EQ(events->ImageCount(), 0u);
    device->Device_Disconnect();
}

// Host threads in single-threaded apartments (an application's UI threads): one connects and
// starts, another stops and disconnects, as such hosts do.
TEST_F(DeviceTest, HostThreadsInSingleThreadedApartmentsDriveTheDevice) {
    MakeCamera("usb-ir");
    auto inApartment = [](const std::function<void()>& body) {
        std::thread thread([&] {
            const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            body();
            if (SUCCEEDED(joined)) CoUninitialize();
        });
        thread.join();
    };
    inApartment([&] {
        Connect();
        device->GrabContinous_Start();
    });
    ASSERT_TRUE(events->WaitForImages(3));
    inApartment([&] {
        device->GrabContinous_Stop();
        device->Device_Disconnect();
    });
    EXPECT_FALSE(device->Device_IsConnected());
    const std::size_t after = events->ImageCount();
    inApartment([&] { device->Dispose(); });
    EXPECT_EQ(events->ImageCount(), after);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
