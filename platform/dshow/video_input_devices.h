#pragma once
// The video-input devices installed in this process, as the system device enumerator lists
// them. Device implementations (the simulated cameras) add themselves here.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"

namespace zrf::dshow {

struct VideoInputDevice {
    std::wstring friendly_name;
    // Absent: the device's property bag has no "DevicePath".
    std::optional<std::wstring> device_path;
    std::wstring display_name;
    // Binds the device's moniker to a new capture filter (a counted reference).
    std::function<HRESULT(IBaseFilter** filter)> create_filter;
};

class VideoInputDevices {
  public:
    using Id = std::uint64_t;

    static Id Add(VideoInputDevice device);
    static void Remove(Id id);
    // The devices in the order they were added; none while the category is hidden.
    static std::vector<VideoInputDevice> Listed();
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
