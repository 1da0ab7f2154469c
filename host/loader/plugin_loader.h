#pragma once
// Loads a device plug-in library by path and obtains its DevicePlugin through the one entry
// point every plug-in exports.
#include <memory>
#include <string>

#include "host/devices/device_interfaces.h"

// The entry point a plug-in library exports: a new plug-in object, owned by the caller.
#define ZRF_PLUGIN_ENTRY_POINT "ZrfCreateDevicePlugin"
extern "C" {
using ZrfCreateDevicePluginFn = Vorn::Zephra::Net::Devices::IDevicePlugin* (*)();
}

namespace Vorn::Zephra::Net::Devices {

class PluginLibrary;

// A loaded plug-in. The library stays loaded while this object or any device it created
// through CreateDevice lives.
class LoadedPlugin {
  public:
    IDevicePlugin& Plugin() const { return *plugin_; }
    const std::string& Path() const;

    // Create through the plug-in, with the device keeping the library loaded.
    std::shared_ptr<IDevice> CreateDevice(const std::string& identifier) const;

    ~LoadedPlugin();
    LoadedPlugin(LoadedPlugin&&) noexcept;

  private:
    friend class PluginLoader;
    LoadedPlugin(std::shared_ptr<PluginLibrary> library, std::unique_ptr<IDevicePlugin> plugin);

    std::shared_ptr<PluginLibrary> library_;
    std::unique_ptr<IDevicePlugin> plugin_;
};

class PluginLoader {
  public:
    // Throws System::IO::FileNotFoundException when the library cannot be opened and
    // System::InvalidOperationException when it lacks the entry point or it returns null.
    static LoadedPlugin Load(const std::string& path);

    // Where the build put the capture plug-in: next to this library, or $ZRF_PLUGIN.
    static std::string DefaultPluginPath();
};

}  // namespace Vorn::Zephra::Net::Devices
