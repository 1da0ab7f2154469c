#include "plugin/device_plugin.h"

#include "host/loader/plugin_loader.h"
#include "host/resources/resource_manager.h"
#include "plugin/capture_device.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

const int kResourceAnchor = 0;  // any address inside this library

}  // namespace

std::vector<std::string> DevicePlugin::SplitList(const std::string& text) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto bar = text.find('|', start);
        pieces.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos) return pieces;
        start = bar + 1;
    }
}

DevicePlugin::DevicePlugin() {
    System::Resources::ResourceManager resources("CaptureDevice.Resources", &kResourceAnchor);
    identifiers_ = SplitList(resources.GetString("ID"));
    formats_ = SplitList(resources.GetString("FORMAT"));
}

std::unique_ptr<IDevice> DevicePlugin::Create(const std::string& identifier) {
    for (const std::string& entry : identifiers_)
        if (entry == identifier) return std::make_unique<CaptureDevice>(identifier);
    return nullptr;
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR

// The library's one export (on Windows the only one: the rest stays inside the DLL).
#ifdef _WIN32
#define ZRF_PLUGIN_EXPORT __declspec(dllexport)
#else
#define ZRF_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" ZRF_PLUGIN_EXPORT Vorn::Zephra::Net::Devices::IDevicePlugin* ZrfCreateDevicePlugin() {
    return new Vorn::Zephra::Net::Devices::Camera::IR::DevicePlugin();
}
