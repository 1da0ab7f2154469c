#pragma once
// What a registered camera's moniker says of it in its property bag: its preset, device path,
// content seed and windowing fields.
#include <memory>
#include <optional>
#include <string>

#include "platform/dshow/dshow.h"
#include "sim/cameras/camera_presets.h"

namespace zrf::sim {

class ResourceTree;

// A text value of the bag (empty when it has none), and a number value (or `fallback`).
std::wstring ReadBagText(IPropertyBag* bag, const wchar_t* name);
LONG ReadBagNumber(IPropertyBag* bag, const wchar_t* name, LONG fallback);

// The preset the bag names, with the bag's device path and seed; none for an unknown name.
std::optional<CameraPreset> PresetFromBag(IPropertyBag* bag);

// The bag's windowing fields set in the camera's tree; E_INVALIDARG for a camera without
// windowing (no tree) or a count it refuses.
HRESULT SetWindowingFromBag(IPropertyBag* bag, ResourceTree* tree);

}  // namespace zrf::sim
