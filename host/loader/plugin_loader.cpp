#include "host/loader/plugin_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "host/resources/embedded_resource.h"
#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices {

class PluginLibrary {
public:
    PluginLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
    ~PluginLibrary() { dlclose(handle_); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    const std::string& Path() const { return path_; }
    void* Handle() const { return handle_; }

private:
    std::string path_;
    void* handle_;
};

LoadedPlugin::LoadedPlugin(std::shared_ptr<PluginLibrary> library,
                           std::unique_ptr<IDevicePlugin> plugin)
    : library_(std::move(library)), plugin_(std::move(plugin)) {}

LoadedPlugin::LoadedPlugin(LoadedPlugin&&) noexcept = default;

LoadedPlugin::~LoadedPlugin() {
    plugin_.reset();  // before the library can go
}

const std::string& LoadedPlugin::Path() const { return library_->Path(); }

std::shared_ptr<IDevice> LoadedPlugin::CreateDevice(const std::string& identifier) const {
    std::unique_ptr<IDevice> device = plugin_->Create(identifier);
    if (!device) return nullptr;
    auto library = library_;
    return std::shared_ptr<IDevice>(device.release(), [library](IDevice* d) { delete d; });
}

LoadedPlugin PluginLoader::Load(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        throw System::FileNotFoundException("Could not load the plug-in '" + path +
                                            "': " + (why ? why : "unknown error"));
    }
    auto library = std::make_shared<PluginLibrary>(path, handle);
    auto entry = reinterpret_cast<ZrfCreateDevicePluginFn>(dlsym(handle, ZRF_PLUGIN_ENTRY_POINT));
    if (entry == nullptr)
        throw System::InvalidOperationException("The library '" + path +
                                                "' is not a device plug-in: it exports no " +
                                                ZRF_PLUGIN_ENTRY_POINT + ".");
    std::unique_ptr<IDevicePlugin> plugin(entry());
    if (!plugin)
        throw System::InvalidOperationException("The plug-in '" + path +
                                                "' returned no DevicePlugin.");
    return LoadedPlugin(std::move(library), std::move(plugin));
}

std::string PluginLoader::DefaultPluginPath() {
    if (const char* env = std::getenv("ZRF_PLUGIN"); env && *env) return env;
    // The build puts the plug-in beside the framework library.
    namespace fs = std::filesystem;
    static const int anchor = 0;
    fs::path self = Vorn::Resources::ModulePathOf(&anchor);
    return (self.parent_path() / "plugin" / "Vorn.CaptureDevice.so").string();
}

}  // namespace Vorn::Zephra::Net::Devices
