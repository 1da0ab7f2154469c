#include <atomic>
#include <chrono>
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

// Recorder calls and the information document hold the recorder for the call: disposal on
// another thread never frees it under them.
TEST_F(DeviceTest, RecorderCallsRacingDisposalMeetNoFreedRecorder) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zrf_dispose_race_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath((dir / "rec.zrec").string());
    for (int round = 0; round < 20; ++round) {
        MakeCamera("usb-ir");
        Connect();
        device->Recorder_Setup(settings.XMLData());
        device->Recorder_Start(0);
        std::atomic<bool> stop{false};
        std::thread host([&] {
            while (!stop) {
                try {
                    device->Recorder_IsRecording();
                    device->Device_XMLData();
                    device->Recorder_Pause(0);
                    device->Recorder_Stop(0);
                } catch (const System::ObjectDisposedException&) {
                    // the recorder was closed during the call: an answer, not a crash
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
        device->Dispose();
        stop = true;
        host.join();
        EXPECT_FALSE(device->Recorder_IsRecording());
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
