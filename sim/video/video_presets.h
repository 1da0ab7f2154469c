#pragma once
// The simulated cameras by name, as later tools and checks know them: "usb-ir", "usb-ir-jls",
// "fw-ir" and "webcam". Each preset is a settings struct; content sources come separately.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/video/fourcc.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

inline constexpr GUID kSubtypeF7M0 = FourCCSubtype("F7M0");
inline constexpr GUID kSubtypeF7M2 = FourCCSubtype("F7M2");
inline constexpr GUID kSubtypeMJLS = FourCCSubtype("MJLS");
inline constexpr GUID kSubtypeYUY2 = FourCCSubtype("YUY2");
inline constexpr GUID kSubtypeMJPG = FourCCSubtype("MJPG");

VideoDeviceSettings UsbIrPreset();
VideoDeviceSettings UsbIrJlsPreset();
VideoDeviceSettings FwIrPreset();
VideoDeviceSettings WebcamPreset();

std::vector<std::string> PresetNames();
std::optional<VideoDeviceSettings> PresetByName(std::string_view name);

}  // namespace zrf::sim
