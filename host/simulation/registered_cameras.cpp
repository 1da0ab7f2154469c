// The application stand-in's cameras on Windows: those of the registered source filter DLL
// (scripts/windows-run.sh registers it). The DLL is found through the registration of its
// cameras as video input devices and started in this process, so the plug-in's binds and its
// control channel meet the camera started here.
#include <windows.h>

#include <mutex>

#include "host/simulation/simulated_cameras.h"
#include "host/system/exceptions.h"
#include "sim/windows/camera_service.h"

namespace Vorn::Zephra::Simulation {

struct SimulatedCameraHandle::Impl {
    std::unique_ptr<zrf::sim::ServiceCamera> camera;
    std::string name;
    std::string description;
};

SimulatedCameraHandle::SimulatedCameraHandle(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SimulatedCameraHandle::~SimulatedCameraHandle() = default;

namespace {

// CLSID_VideoInputDeviceCategory's devices.
constexpr const wchar_t* kInstances =
    L"CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance";

std::wstring ReadString(HKEY key, const wchar_t* subkey, const wchar_t* value) {
    wchar_t text[MAX_PATH * 2] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(key, subkey, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return text;
}

// The DLL that serves the first registered camera with a preset (the simulated ones).
std::wstring FilterDllPath() {
    HKEY instances = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstances, 0, KEY_READ, &instances) != ERROR_SUCCESS)
        return {};
    std::wstring path;
    wchar_t name[256];
    for (DWORD i = 0; path.empty(); ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(instances, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (ReadString(instances, name, L"Preset").empty()) continue;
        const std::wstring clsid = ReadString(instances, name, L"CLSID");
        if (!clsid.empty())
            path = ReadString(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid + L"\\InprocServer32").c_str(), nullptr);
    }
    RegCloseKey(instances);
    return path;
}

// Loaded once and kept: COM loads the same DLL for the binds.
zrf::sim::CameraService& Service() {
    static std::mutex mutex;
    static zrf::sim::CameraService* service = nullptr;
    std::lock_guard lock(mutex);
    if (service) return *service;
    const std::wstring path = FilterDllPath();
    if (path.empty())
        throw System::InvalidOperationException(
            "no simulated cameras are registered here (regsvr32 zrf_simcam.dll registers them)");
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    auto entry = module ? reinterpret_cast<ZrfSimulatedCameraServiceFn>(
                              GetProcAddress(module, ZRF_CAMERA_SERVICE_ENTRY_POINT))
                        : nullptr;
    if (!entry || !(service = entry()))
        throw System::InvalidOperationException(
            "the registered simulated cameras' DLL cannot be loaded (error " +
            std::to_string(GetLastError()) + ")");
    return *service;
}

zrf::sim::ServiceCameraOptions OptionsOf(const SimulatedCameraOptions& options) {
    return {options.seed, options.asFastAsPossible, options.loop};
}

}  // namespace

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Start(
    const std::string& preset, const SimulatedCameraOptions& options) {
    std::string known;
    const zrf::sim::ServedCamera* served = nullptr;
    const auto cameras = Service().Cameras();
    for (const auto& c : cameras) {
        if (c.name == preset) served = &c;
        known += (known.empty() ? "" : ", ") + c.name;
    }
    if (!served)
        throw System::ArgumentException("unknown camera '" + preset + "' (known: " + known + ")",
                                        "preset");
    auto impl = std::make_unique<Impl>();
    std::string error;
    impl->camera = Service().Start(preset, OptionsOf(options), error);
    if (!impl->camera) throw System::InvalidOperationException("cannot start '" + preset + "': " + error);
    impl->name = served->name;
    impl->description = served->description;
    return std::unique_ptr<SimulatedCameraHandle>(new SimulatedCameraHandle(std::move(impl)));
}

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Replay(
    const std::string& recording, const SimulatedCameraOptions& options) {
    auto impl = std::make_unique<Impl>();
    std::string error;
    impl->camera = Service().Replay(recording, OptionsOf(options), error);
    if (!impl->camera) throw System::IOException("cannot replay '" + recording + "': " + error);
    impl->name = "replay";
    impl->description = "plays " + recording;
    return std::unique_ptr<SimulatedCameraHandle>(new SimulatedCameraHandle(std::move(impl)));
}

Entities::XmlUtils::IdentityXml SimulatedCameraHandle::Identity(
    const std::string& selectedFormatId) const {
    Entities::XmlUtils::IdentityXml xml;
    zrf::sim::CameraIdentity identity = impl_->camera->Identity();
    if (!selectedFormatId.empty()) identity.selected_format_id = selectedFormatId;
    zrf::sim::FillIdentityXml(identity, xml);
    return xml;
}

SimulatedCameraInfo SimulatedCameraHandle::Info() const {
    const auto id = impl_->camera->Identity();
    return {impl_->name, impl_->description, id.identifier, id.hostname, id.model_name};
}

std::uint64_t SimulatedCameraHandle::SamplesSent() const {
    return impl_->camera->SamplesSent();
}

std::vector<SimulatedCameraInfo> ListSimulatedCameras() {
    std::vector<SimulatedCameraInfo> out;
    for (const auto& c : Service().Cameras())
        out.push_back({c.name, c.description, c.identity.identifier, c.identity.hostname,
                       c.identity.model_name});
    return out;
}

}  // namespace Vorn::Zephra::Simulation
