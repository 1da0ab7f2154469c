#pragma once
// The resource names of a camera's tree that the control channel reads and writes.
#include <string>

namespace Vorn::Zephra::Net::Communication::nodes {

inline constexpr const char* kName = "Camera.Name";
inline constexpr const char* kSerialNumber = "Camera.SerialNumber";
inline constexpr const char* kArticle = "Camera.Article";
inline constexpr const char* kSWVersion = "Camera.SWVersion";
inline constexpr const char* kHWArticle = "Camera.HWArticle";
inline constexpr const char* kFamilyTula = "Camera.Family.TULA";
inline constexpr const char* kLensId = "Camera.Lens.Id";
inline constexpr const char* kShutterClosed = "Camera.Shutter.Closed";
inline constexpr const char* kRangeIndex = "Camera.TemperatureRange.Index";
inline constexpr const char* kRangeCount = "Camera.TemperatureRange.Count";
inline constexpr const char* kRangeSetTula = "Camera.TemperatureRange.TULA";
inline constexpr const char* kFocusType = "Camera.Focus.Type";
inline constexpr const char* kFocusSupported = "Camera.Focus.Supported";
inline constexpr const char* kFocusMin = "Camera.Focus.Min";
inline constexpr const char* kFocusMax = "Camera.Focus.Max";
inline constexpr const char* kFocusPosition = "Camera.Focus.Position";
inline constexpr const char* kFocusMode = "Camera.Focus.LastMode";  // -1 none, 0..2, 3 = auto
inline constexpr const char* kWindowingAvailable = "Camera.Windowing.Available";
inline constexpr const char* kWindowingActive = "Camera.Windowing.Active";
inline constexpr const char* kWindowingFields = "Camera.Windowing.Fields";
inline constexpr const char* kNucCount = "Camera.Nuc.Count";
inline constexpr const char* kCalibratingSamples = "Camera.Nuc.CalibratingSamples";

inline std::string RangeMin(int index) {
    return "Camera.TemperatureRange." + std::to_string(index) + ".Min";
}
inline std::string RangeMax(int index) {
    return "Camera.TemperatureRange." + std::to_string(index) + ".Max";
}

}  // namespace Vorn::Zephra::Net::Communication::nodes
