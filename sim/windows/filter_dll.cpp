// The simulated cameras' source filter DLL: the class factory, and the registration that lists
// each camera in the video input device category, configured through its moniker's property
// bag (what BindToObject loads into the filter).
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/dshow/dshow.h"
#include "sim/cameras/camera_presets.h"
#include "sim/windows/process_cameras.h"
#include "sim/windows/registered_camera_filter.h"

using zrf::com::ComPtr;
using zrf::sim::CLSID_SimulatedCaptureFilter;
using zrf::sim::RegisteredCameraFilter;

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_locks{0};

constexpr const auto& kCameras = zrf::sim::kRegisteredCameras;
constexpr const wchar_t* kFilterName = L"Simulated Camera Source";

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: its count decides nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto filter = zrf::com::MakeCom<RegisteredCameraFilter>();
        return filter->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            --g_locks;
        }
        return S_OK;
    }
};

ClassFactory g_factory;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring ClassKey() {
    wchar_t clsid[64] = {};
    StringFromGUID2(CLSID_SimulatedCaptureFilter, clsid, 64);
    return std::wstring(L"CLSID\\") + clsid;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const LSTATUS status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// HKCR\CLSID\{class} and its in-process server: what BindToObject's CoCreateInstance needs.
HRESULT RegisterClass() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (ClassKey() + L"\\InprocServer32").c_str(), 0,
                        nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return E_ACCESSDENIED;
    }
    HRESULT hr = SetString(key, nullptr, path);
    if (SUCCEEDED(hr)) hr = SetString(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    if (FAILED(hr)) return hr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, KEY_WRITE, &key) !=
        ERROR_SUCCESS) {
        return E_ACCESSDENIED;
    }
    hr = SetString(key, nullptr, kFilterName);
    RegCloseKey(key);
    return hr;
}

HRESULT WriteText(IPropertyBag* bag, const wchar_t* name, const std::wstring& text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.c_str());
    if (value.bstrVal == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = bag->Write(name, &value);
    VariantClear(&value);
    return hr;
}

// One capture device per camera, with one video output pin of the capture category.
HRESULT RegisterCameras(IFilterMapper2* mapper) {
    const REGPINTYPES type{&MEDIATYPE_Video, &GUID_NULL};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    for (const char* name : kCameras) {
        std::optional<zrf::sim::CameraPreset> preset = zrf::sim::FindCameraPreset(name);
        if (!preset) return E_UNEXPECTED;
        ComPtr<IMoniker> moniker;
        HRESULT hr = mapper->RegisterFilter(CLSID_SimulatedCaptureFilter,
                                            preset->video.friendly_name.c_str(),
                                            moniker.Receive(), &CLSID_VideoInputDeviceCategory,
                                            Wide(name).c_str(), &filter);
        if (FAILED(hr)) return hr;
        if (!moniker) return E_FAIL;
        ComPtr<IPropertyBag> bag;
        hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid());
        if (FAILED(hr)) return hr;
        hr = WriteText(bag.Get(), L"DevicePath", preset->video.device_path);
        if (SUCCEEDED(hr)) hr = WriteText(bag.Get(), L"Preset", Wide(name));
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

ComPtr<IFilterMapper2> Mapper(HRESULT& hr) {
    ComPtr<IFilterMapper2> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          mapper.ReceiveVoid());
    return mapper;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_SimulatedCaptureFilter) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

// Every object this DLL handed out counts, enumerators and samples too, until its last
// destructor has run (a filter's joins its streaming thread first).
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return zrf::com::LiveObjects().load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    HRESULT hr = RegisterClass();
    if (FAILED(hr)) return hr;
    ComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (FAILED(hr)) return hr;
    return RegisterCameras(mapper.Get());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    HRESULT hr = S_OK;
    ComPtr<IFilterMapper2> mapper = Mapper(hr);
    if (SUCCEEDED(hr)) {
        for (const char* name : kCameras) {
            mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, Wide(name).c_str(),
                                     CLSID_SimulatedCaptureFilter);
        }
    }
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK
                                                                     : HRESULT_FROM_WIN32(status);
}
