#pragma once
// The video-input devices installed in this process, as the system device enumerator lists
// them: each with the values of its property bag, which stand for its registry key. A moniker
// binds to the filter class its "CLSID" value names, then loads the filter from the bag; values
// written through any moniker of a device are read back through every other. Device
// implementations (the simulated cameras) add themselves here.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/dshow/dshow.h"

namespace zrf::dshow {

// Text (VT_BSTR) or a 32-bit number (VT_I4), as the registry keeps a bag's values.
using DeviceValue = std::variant<std::wstring, LONG>;

struct VideoInputDevice {
    std::wstring display_name;
    std::map<std::wstring, DeviceValue> values;

    // A device bound by the given filter class, with a "FriendlyName" and, when given, a
    // "DevicePath".
    static VideoInputDevice Of(const CLSID& filter_class, std::wstring friendly_name,
                               std::optional<std::wstring> device_path,
                               std::wstring display_name);
};

class VideoInputDevices {
  public:
    using Id = std::uint64_t;

    static Id Add(VideoInputDevice device);
    static void Remove(Id id);
    // The devices in the order they were added; none while the category is hidden.
    static std::vector<std::pair<Id, std::wstring>> Listed();
    // A value of a listed device's bag; null when the device or the value is not there.
    static std::optional<DeviceValue> Read(Id id, const std::wstring& name);
    // False when the device is no longer listed.
    static bool Write(Id id, const std::wstring& name, DeviceValue value);
};

// Hides every video-input device while it lives: the category is empty.
class ScopedEmptyVideoInputCategory {
  public:
    ScopedEmptyVideoInputCategory();
    ~ScopedEmptyVideoInputCategory();
    ScopedEmptyVideoInputCategory(const ScopedEmptyVideoInputCategory&) = delete;
    ScopedEmptyVideoInputCategory& operator=(const ScopedEmptyVideoInputCategory&) = delete;
};

}  // namespace zrf::dshow
