// A program's cameras, one per device path: a second start of a running camera is refused
// (it would take the first one's device and tree), binds meet the running camera, and a failed
// start leaves the path free.
#include "sim/handle/simulated_camera_handle.h"

#include <gtest/gtest.h>

#include "host/control/camera_tree.h"
#include "host/system/exceptions.h"
#include "sim/cameras/process_cameras.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"

using Vorn::Zephra::Simulation::SimulatedCameraHandle;
using Vorn::Zephra::Simulation::SimulatedCameraOptions;
namespace control = Vorn::Zephra::Net::Communication;

TEST(CameraHandle, EachRefusalHasItsOwnKindOfError) {
    SimulatedCameraOptions bad;
    bad.changes = "no-such-key=1";
    EXPECT_THROW(SimulatedCameraHandle::Start("no-such-camera", {}), System::ArgumentException);
    EXPECT_THROW(SimulatedCameraHandle::Start("usb-ir", bad), System::ArgumentException);
    EXPECT_THROW(SimulatedCameraHandle::Replay("/nonexistent/recording.zrec", {}),
                 System::IOException);
    try {
        SimulatedCameraHandle::Start("no-such-camera", {});
    } catch (const System::ArgumentException& e) {
        EXPECT_NE(std::string(e.what()).find("(known: "), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("usb-ir"), std::string::npos) << e.what();
    }
}

TEST(CameraHandle, ARunningCameraIsNotStartedTwiceAndItsPathIsFreeOnceItStops) {
    for (const char* preset : {"usb-ir", "fw-ir", "webcam"}) {
        SCOPED_TRACE(preset);
        auto first = SimulatedCameraHandle::Start(preset, {});
        const std::string host = first->Info().hostname;
        EXPECT_THROW(SimulatedCameraHandle::Start(preset, {}), System::InvalidOperationException);
        // The refused start took nothing from the running camera.
        EXPECT_EQ(control::CameraTreeRegistry::Find(host) != nullptr,
                  preset != std::string("webcam"));
        first.reset();
        EXPECT_EQ(control::CameraTreeRegistry::Find(host), nullptr);
        EXPECT_NO_THROW(SimulatedCameraHandle::Start(preset, {}));
    }
}

TEST(ProcessCameras, BindsMeetTheLivingCameraAndAFailedMakeLeavesThePathFree) {
    using zrf::sim::ProcessCameras;
    using zrf::sim::SimulatedCamera;
    const std::wstring path = L"\\\\?\\usb#vid_2f1e&pid_0aff#process-test";
    zrf::sim::CameraOptions options;
    options.device_path = path;
    int made = 0;
    const ProcessCameras::Maker make = [&](std::shared_ptr<SimulatedCamera>& camera) -> HRESULT {
        ++made;
        camera = SimulatedCamera::FromPreset("usb-ir", options);
        return S_OK;
    };
    const ProcessCameras::Maker fail = [](std::shared_ptr<SimulatedCamera>& camera) -> HRESULT {
        camera = SimulatedCamera::FromPreset("usb-ir");
        return E_INVALIDARG;
    };

    std::shared_ptr<SimulatedCamera> camera, again, other;
    EXPECT_EQ(ProcessCameras::FindOrMake(path, fail, camera), E_INVALIDARG);
    EXPECT_EQ(camera, nullptr);
    ASSERT_EQ(ProcessCameras::FindOrMake(path, make, camera), S_OK);
    // Case does not make another device.
    ASSERT_EQ(ProcessCameras::FindOrMake(L"\\\\?\\USB#VID_2F1E&PID_0AFF#PROCESS-TEST", make, again),
              S_OK);
    EXPECT_EQ(again, camera);
    EXPECT_EQ(ProcessCameras::MakeIfFree(path, make, other), S_FALSE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(made, 1);
    camera.reset();
    again.reset();
    EXPECT_EQ(ProcessCameras::MakeIfFree(path, make, other), S_OK);
    EXPECT_NE(other, nullptr);
    EXPECT_EQ(made, 2);
}

TEST(CameraHandle, FurtherCamerasOfAKindHaveDevicePathsAndTreesOfTheirOwn) {
    SimulatedCameraOptions second;
    second.instance = 1;
    SimulatedCameraOptions third;
    third.instance = 2;
    auto a = SimulatedCameraHandle::Start("fw-ir", {});
    auto b = SimulatedCameraHandle::Start("fw-ir", second);
    auto c = SimulatedCameraHandle::Start("fw-ir", third);
    const std::string paths[] = {a->Info().hostname, b->Info().hostname, c->Info().hostname};
    EXPECT_NE(paths[0], paths[1]);
    EXPECT_NE(paths[1], paths[2]);
    EXPECT_NE(paths[0], paths[2]);
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        EXPECT_NE(control::CameraTreeRegistry::Find(path), nullptr);
    }
    // Each tree is its own: a correction on one leaves the others as they were.
    control::CameraTreeRegistry::Find(paths[1])->Nuc();
    EXPECT_EQ(std::get<std::int32_t>(
                  control::CameraTreeRegistry::Find(paths[0])->Get(zrf::sim::nodes::kNucCount)),
              0);
    EXPECT_EQ(std::get<std::int32_t>(
                  control::CameraTreeRegistry::Find(paths[1])->Get(zrf::sim::nodes::kNucCount)),
              1);
    EXPECT_THROW(SimulatedCameraHandle::Start("fw-ir", second), System::InvalidOperationException);
}
