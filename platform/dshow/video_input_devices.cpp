#include "platform/dshow/video_input_devices.h"

#include <mutex>

namespace zrf::dshow {
namespace {

struct Devices {
    std::mutex mutex;
    std::vector<std::pair<VideoInputDevices::Id, VideoInputDevice>> entries;
    VideoInputDevices::Id next_id = 1;
    int hidden = 0;
};

Devices& TheDevices() {
    static Devices devices;
    return devices;
}

VideoInputDevice* Find(Devices& d, VideoInputDevices::Id id) {
    for (auto& entry : d.entries) {
        if (entry.first == id) return &entry.second;
    }
    return nullptr;
}

}  // namespace

VideoInputDevice VideoInputDevice::Of(const CLSID& filter_class, std::wstring friendly_name,
                                      std::optional<std::wstring> device_path,
                                      std::wstring display_name) {
    VideoInputDevice device;
    device.display_name = std::move(display_name);
    OLECHAR clsid[40] = {};
    StringFromGUID2(filter_class, clsid, 40);
    device.values[L"CLSID"] = std::wstring(clsid);
    device.values[L"FriendlyName"] = std::move(friendly_name);
    if (device_path) device.values[L"DevicePath"] = std::move(*device_path);
    return device;
}

VideoInputDevices::Id VideoInputDevices::Add(VideoInputDevice device) {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    Id id = d.next_id++;
    d.entries.emplace_back(id, std::move(device));
    return id;
}

void VideoInputDevices::Remove(Id id) {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    std::erase_if(d.entries, [id](const auto& entry) { return entry.first == id; });
}

std::vector<std::pair<VideoInputDevices::Id, std::wstring>> VideoInputDevices::Listed() {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    std::vector<std::pair<Id, std::wstring>> result;
    if (d.hidden > 0) return result;
    for (const auto& entry : d.entries) result.emplace_back(entry.first, entry.second.display_name);
    return result;
}

std::optional<DeviceValue> VideoInputDevices::Read(Id id, const std::wstring& name) {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    const VideoInputDevice* device = Find(d, id);
    if (device == nullptr) return std::nullopt;
    auto value = device->values.find(name);
    if (value == device->values.end()) return std::nullopt;
    return value->second;
}

bool VideoInputDevices::Write(Id id, const std::wstring& name, DeviceValue value) {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    VideoInputDevice* device = Find(d, id);
    if (device == nullptr) return false;
    device->values[name] = std::move(value);
    return true;
}

ScopedEmptyVideoInputCategory::ScopedEmptyVideoInputCategory() {
    std::lock_guard lock(TheDevices().mutex);
    ++TheDevices().hidden;
}

ScopedEmptyVideoInputCategory::~ScopedEmptyVideoInputCategory() {
    std::lock_guard lock(TheDevices().mutex);
    --TheDevices().hidden;
}

}  // namespace zrf::dshow
