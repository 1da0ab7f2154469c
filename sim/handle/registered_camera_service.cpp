// On Windows a program's simulated cameras are those of the registered source filter DLL
// (scripts/windows-run.sh registers it). The DLL is found through the registration of its
// cameras as video input devices and loaded in this process, so the plug-in's binds and its
// control channel meet the cameras its service starts.
#include <windows.h>

#include <mutex>

#include "host/system/exceptions.h"
#include "sim/cameras/camera_service.h"
#include "sim/handle/simulated_camera_handle.h"

namespace zrf::sim {
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
CameraService& LoadedService() {
    static std::mutex mutex;
    static CameraService* service = nullptr;
    std::lock_guard lock(mutex);
    if (service) return *service;
    const std::wstring path = FilterDllPath();
    if (path.empty())
        throw System::InvalidOperationException(
            "no simulated cameras are registered here (regsvr32 zrf_simcam.dll registers them)");
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        throw System::InvalidOperationException(
            "the registered simulated cameras' DLL cannot be loaded (error " +
            std::to_string(GetLastError()) + ")");
    // A DLL that cannot serve is let go: the next call tries again, holding nothing.
    auto entry = reinterpret_cast<ZrfSimulatedCameraServiceFn>(
        reinterpret_cast<void*>(GetProcAddress(module, ZRF_CAMERA_SERVICE_ENTRY_POINT)));
    if (!entry) {
        FreeLibrary(module);
        throw System::InvalidOperationException(
            "the registered simulated cameras' DLL is of another build (regsvr32 this build's zrf_simcam.dll)");
    }
    if (!(service = entry())) {
        FreeLibrary(module);
        throw System::InvalidOperationException("the registered simulated cameras' DLL serves no cameras");
    }
    return *service;
}

}  // namespace

CameraService& ProgramCameraService() { return LoadedService(); }

}  // namespace zrf::sim
