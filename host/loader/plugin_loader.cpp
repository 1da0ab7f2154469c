#include "host/loader/plugin_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "host/resources/embedded_resource.h"
#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices {

namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size : 1, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    out.pop_back();
    return out;
}

// The library's own folder is searched for what it links, as for a library beside a program.
void* OpenLibrary(const std::string& path) {
    return LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string OpenError() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string why(text, length);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) why.pop_back();
    return why.empty() ? "error " + std::to_string(code) : why;
}

void* EntryPoint(void* handle) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), ZRF_PLUGIN_ENTRY_POINT));
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

constexpr const char* kPluginFile = "Vorn.CaptureDevice.dll";
#else
void* OpenLibrary(const std::string& path) {
    dlerror();
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string OpenError() {
    const char* why = dlerror();
    return why ? why : "unknown error";
}

void* EntryPoint(void* handle) { return dlsym(handle, ZRF_PLUGIN_ENTRY_POINT); }

void CloseLibrary(void* handle) { dlclose(handle); }

constexpr const char* kPluginFile = "Vorn.CaptureDevice.so";
#endif

}  // namespace

class PluginLibrary {
  public:
    PluginLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
    ~PluginLibrary() { CloseLibrary(handle_); }
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
    void* handle = OpenLibrary(path);
    if (handle == nullptr)
        throw System::FileNotFoundException("Could not load the plug-in '" + path + "': " + OpenError());
    auto library = std::make_shared<PluginLibrary>(path, handle);
    auto entry = reinterpret_cast<ZrfCreateDevicePluginFn>(EntryPoint(handle));
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
    return (self.parent_path() / "plugin" / kPluginFile).string();
}

}  // namespace Vorn::Zephra::Net::Devices
