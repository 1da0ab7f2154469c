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

}  // namespace

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

std::vector<VideoInputDevice> VideoInputDevices::Listed() {
    Devices& d = TheDevices();
    std::lock_guard lock(d.mutex);
    std::vector<VideoInputDevice> result;
    if (d.hidden > 0) return result;
    for (const auto& entry : d.entries) result.push_back(entry.second);
    return result;
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
