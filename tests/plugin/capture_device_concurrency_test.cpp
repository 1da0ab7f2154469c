#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "host/commands/device_command.h"
#include "tests/host/recorder/temp_dir.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

// Controls, commands, queries and recorder calls from host threads while another thread
// reconnects a streaming camera: every call either works or fails with the device's own errors,
// and nothing races.
TEST_F(DeviceTest, HostCallsInterleaveWithReconnectsOfAStreamingCamera) {
    MakeCamera("fw-ir");
    Connect();
    TempDir dir;
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath(dir.Path() + "/");
    device->Recorder_Setup(settings.XMLData());
    device->GrabContinous_Start();
    std::atomic<bool> done{false};
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& m) {
        std::lock_guard lock(failuresMutex);
        failures.push_back(m);
    };
    auto expectedOnly = [&](const std::function<void()>& call) {
        try {
            call();
        } catch (const System::Exception& e) {
            const std::string& m = e.Message();
            if (m != "Not connected" && m != System::ArgumentOutOfRangeException().Message()) fail(m);
        }
    };
    std::thread controls([&] {
        for (int i = 0; !done; ++i) {
            expectedOnly([&] { device->Control_SetFrameRate(i % 5); });  // 4 is out of range
            expectedOnly([&] { device->Control_GetFrameRates(); });
            expectedOnly([&] { device->IRControl_SetShutter(i % 2 == 0); });
            expectedOnly([&] { device->IRControl_SetTemperatureRange(i % 2); });
            expectedOnly([&] { device->Control_GetFocusPosition(); });
            device->Grab_EnumImageFormats();  // the soak test's reader makes the other queries
        }
    });
    std::thread rangeChecks([&] {  // refused by the range check alone
        while (!done) expectedOnly([&] { device->Control_SetFrameRate(99); });
    });
    std::thread commands([&] {
        while (!done) {
            for (std::int32_t id : {1, 40, 41, 120, 21}) {
                auto command = DeviceCommand::Create(id, "Concurrent");
                command.AddParameter("Cmd", "String", zrf::sim::nodes::kShutterClosed);
                device->Device_ExecuteCommand(command.XmlData());
                if (!command.Error().empty() && command.Error() != "Not connected") fail(command.Error());
            }
        }
    });
    for (int i = 0; i < 20; ++i) {
        device->Recorder_Start(0);
        device->Device_Disconnect();
        device->Recorder_Stop(0);
        Connect();
        device->GrabContinous_Start();
    }
    done = true;
    for (std::thread* t : {&controls, &rangeChecks, &commands}) t->join();
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_TRUE(device->Device_IsConnected());
    device->Dispose();
}

// Recorder calls and the information document hold the recorder for the call: disposal on
// another thread never frees it under them.
TEST_F(DeviceTest, RecorderCallsRacingDisposalMeetNoFreedRecorder) {
    TempDir dir;
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath(dir.File("rec.zrec"));
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
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
