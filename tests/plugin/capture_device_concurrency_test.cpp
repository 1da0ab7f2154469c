#include <atomic>
#include <filesystem>
#include <thread>

#include "device_fixture.h"
#include "host/commands/device_command.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

// Host threads control, command, record and disconnect while the camera streams; nothing may
// crash or race, and the counters must add up.
TEST_F(DeviceTest, HostCallsMeetTheStreamingThreadSafely) {
    MakeCamera("usb-ir");
    Connect();
    Entities::XmlUtils::RecorderXml settings;
    const auto path = std::filesystem::temp_directory_path() /
                      ("zrf_concurrency_" + std::to_string(::getpid()) + ".zrec");
    settings.SetPath(path.string());
    device->Recorder_Setup(settings.XMLData());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));

    std::atomic<bool> stop{false};
    std::thread queries([&] {
        while (!stop) {
            device->Device_IsConnected();
            device->Device_XMLData();
            device->Grab_EnumImageFormats();
            device->GrabContinous_LostFrames();
            device->Recorder_IsRecording();
        }
    });
    for (int round = 0; round < 5; ++round) {
        device->Control_GetFrameRates();
        device->Control_SetFrameRate(round % 3);
        device->IRControl_SetShutter(round % 2 == 0);
        device->IRControl_SetTemperatureRange(round % 2);
        device->Recorder_Start(0);
        auto command = DeviceCommand::Create(41, "FrameRate");
        DeviceCommand reply(device->Device_ExecuteCommand(command.XmlData()));
        EXPECT_EQ(reply.Error(), "");
        device->IRControl_Nuc();
        device->Recorder_Stop(0);
    }
    device->Device_Disconnect();  // while streaming
    stop = true;
    queries.join();
    std::filesystem::remove(path);
    EXPECT_FALSE(device->Device_IsConnected());
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
