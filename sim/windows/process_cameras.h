#pragma once
// The cameras of the process that loaded the filter DLL (sim/cameras/process_cameras.h): a
// camera the program started through the camera service the DLL exports, or else one made from
// the property bag of the first bind, kept while a filter holds it.
#include <memory>
#include <string>

#include "platform/dshow/dshow.h"

namespace zrf::sim {

class SimulatedCamera;

// The cameras this DLL registers as video input devices; the instance name is the preset's name.
inline constexpr const char* kRegisteredCameras[] = {"usb-ir", "usb-ir-field", "fw-ir", "webcam"};

// The camera the bag's device path names (made from the bag's values when none lives); fails
// with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a bag naming no known preset and
// E_INVALIDARG for windowing the camera refuses.
HRESULT ProcessCameraFor(IPropertyBag* bag, std::shared_ptr<SimulatedCamera>& camera);

}  // namespace zrf::sim
