// The presets as tools know them, and a camera's two sides living exactly as long as it does.
#include <gtest/gtest.h>

#include "host/xml/documents.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::sim;

bool Listed(const std::wstring& path) {
    for (const auto& moniker : zrf::testing::VideoInputMonikers()) {
        if (zrf::testing::ReadProperty(moniker.Get(), L"DevicePath") == path) return true;
    }
    return false;
}

TEST(CameraPresets, NamesFindTheirPresetsAndNothingElse) {
    EXPECT_EQ(CameraPresetNames(),
              (std::vector<std::string>{"usb-ir", "usb-ir-jls", "fw-ir", "webcam"}));
    for (const std::string& name : CameraPresetNames()) {
        const auto preset = FindCameraPreset(name);
        ASSERT_TRUE(preset.has_value()) << name;
        EXPECT_EQ(preset->name, name);
        EXPECT_FALSE(preset->description.empty());
        EXPECT_EQ(preset->identity.hostname, NarrowPath(preset->video.device_path));
    }
    EXPECT_FALSE(FindCameraPreset("USB-IR").has_value());
    EXPECT_FALSE(FindCameraPreset("").has_value());
    EXPECT_EQ(SimulatedCamera::FromPreset("replay"), nullptr);
    EXPECT_EQ(CameraPresets().size(), CameraPresetNames().size());
}

TEST(CameraIdentity, FillsTheHostsIdentityDocument) {
    auto identity = FindCameraPreset("webcam")->identity;
    identity.interface_index = 3;
    Vorn::Zephra::Entities::XmlUtils::IdentityXml xml;
    FillIdentityXml(identity, xml);
    EXPECT_EQ(xml.Name(), identity.name);
    EXPECT_EQ(xml.Hostname(), identity.hostname);
    EXPECT_EQ(xml.Identifier(), identity.identifier);
    EXPECT_EQ(xml.InterfaceIndex(), 3);
    EXPECT_EQ(xml.SelectedFormatId(), kFormatIdYuy2);
    EXPECT_EQ(xml.ModelName(), "WEBCAM");
}

TEST(SimulatedCameraLifetime, BothSidesAreFoundByTheDevicePathWhileTheCameraLives) {
    const auto preset = *FindCameraPreset("fw-ir");
    std::string upper = preset.identity.hostname;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    {
        SimulatedCamera camera(preset);
        ASSERT_NE(camera.Tree(), nullptr);
        EXPECT_EQ(zrf::sim::TreeRegistry::Find(camera.HostName()), camera.Tree());
        EXPECT_EQ(zrf::sim::TreeRegistry::Find(upper), camera.Tree());
        EXPECT_TRUE(Listed(preset.video.device_path));
        EXPECT_EQ(camera.Identity().hostname, preset.identity.hostname);
    }
    EXPECT_EQ(zrf::sim::TreeRegistry::Find(preset.identity.hostname), nullptr);
    EXPECT_FALSE(Listed(preset.video.device_path));
}

TEST(SimulatedCameraLifetime, VideoDeviceHeldByAGraphStillLeavesWithTheCamera) {
    auto camera = SimulatedCamera::FromPreset("usb-ir");
    const std::wstring path = camera->Video().Settings().device_path;
    auto filter = zrf::testing::BindDevice(camera->Video());
    ASSERT_TRUE(filter);
    SimulatedVideoDevicePtr device = camera->VideoDevice();
    camera.reset();
    EXPECT_FALSE(Listed(path));
    EXPECT_TRUE(device->HasDisappeared());
}

}  // namespace
