#pragma once
// The simulated cameras by name: "usb-ir", "usb-ir-jls", "fw-ir" and "webcam". A preset holds
// everything a camera is made from: the video device's settings (every misbehaviour switch
// included), the control side's tree settings, the content's settings and the identity a host
// passes at connect.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/cameras/camera_identity.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

struct CameraOptions {
    Pacing pacing = Pacing::RealTime;
    std::uint32_t seed = 1;
    // Another device path (and host name), so that two cameras of one preset can live at once.
    std::wstring device_path;
    // With no device path given: 0 the preset's own; n > 0 the preset's path marked as its
    // n-th further camera (InstancePath).
    int instance = 0;
};

struct CameraPreset {
    std::string name;
    std::string description;
    CameraIdentity identity;
    VideoDeviceSettings video;
    std::optional<TreeSettings> tree;         // absent: no control side
    ThermalSourceSettings content;            // its tree is the camera's own, set at creation
};

std::vector<std::string> CameraPresetNames();
std::optional<CameraPreset> FindCameraPreset(std::string_view name,
                                             const CameraOptions& options = {});
// Every preset, in the order of CameraPresetNames.
std::vector<CameraPreset> CameraPresets(const CameraOptions& options = {});

// A device path for the n-th further camera of a kind: "&n" ends its instance part (the part
// before the last '#'), as the platform numbers two devices of one model.
std::wstring InstancePath(const std::wstring& path, int instance);

// Device paths are plain ASCII; host names are their narrow form.
std::string NarrowPath(const std::wstring& path);

}  // namespace zrf::sim
