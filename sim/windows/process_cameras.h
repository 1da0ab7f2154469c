#pragma once
// The cameras of the process that loaded the filter DLL, one per device path: a camera the
// program started through the camera service, or else one made from the property bag of the
// first bind (its preset, seed and windowing), kept while a filter holds it. Every bind of a
// device path meanwhile streams from that one camera, and while it lives the host framework's
// control channel reaches its resource tree, as it does a Linux camera's.
#include <memory>
#include <string>

#include "platform/dshow/dshow.h"

namespace zrf::sim {

class SimulatedCamera;

// The cameras this DLL registers as video input devices; the instance name is the preset's name.
inline constexpr const char* kRegisteredCameras[] = {"usb-ir", "fw-ir", "webcam"};

// The camera the bag's device path names (made from the bag's values when none lives); fails
// with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a bag naming no known preset and
// E_INVALIDARG for windowing the camera refuses.
HRESULT ProcessCameraFor(IPropertyBag* bag, std::shared_ptr<SimulatedCamera>& camera);

// A text value of a moniker's property bag (empty when it has none), and a number value (or
// `fallback`).
std::wstring ReadBagText(IPropertyBag* bag, const wchar_t* name);
LONG ReadBagNumber(IPropertyBag* bag, const wchar_t* name, LONG fallback);

}  // namespace zrf::sim
