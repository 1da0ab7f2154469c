#include "platform/dshow/system_device_enum.h"

#include <cwchar>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/uuids.h"
#include "platform/dshow/video_input_devices.h"

namespace zrf::dshow {
namespace {

using DeviceId = VideoInputDevices::Id;
using Listing = std::vector<std::pair<DeviceId, std::wstring>>;

// Reads and writes the device's values as the platform's moniker bags do its registry key: a
// value comes back as the type it was written (VT_EMPTY asks for that type, any other type
// must match), and only text and 32-bit numbers are written.
class DevicePropertyBag final : public com::ComObject<IPropertyBag> {
  public:
    explicit DevicePropertyBag(DeviceId device) : device_(device) {}

    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        const std::optional<DeviceValue> value = VideoInputDevices::Read(device_, pszPropName);
        if (!value) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (const auto* text = std::get_if<std::wstring>(&*value)) {
            if (pVar->vt == VT_EMPTY) pVar->vt = VT_BSTR;
            if (pVar->vt != VT_BSTR) return E_INVALIDARG;
            pVar->bstrVal = SysAllocString(text->c_str());
            return pVar->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        if (pVar->vt == VT_EMPTY) pVar->vt = VT_I4;
        if (pVar->vt != VT_I4) return E_INVALIDARG;
        pVar->lVal = std::get<LONG>(*value);
        return S_OK;
    }

    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        DeviceValue value;
        if (pVar->vt == VT_BSTR) {
            // A null string is an empty one.
            value = std::wstring(pVar->bstrVal != nullptr ? pVar->bstrVal : L"");
        } else if (pVar->vt == VT_I4) {
            value = pVar->lVal;
        } else {
            return E_INVALIDARG;
        }
        return VideoInputDevices::Write(device_, pszPropName, std::move(value))
                   ? S_OK
                   : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
    }

  private:
    DeviceId device_;
};

// Binds as the platform's device monikers do: the filter class the bag's "CLSID" names is
// created, then loaded from the bag when it can be (IPersistPropertyBag).
class DeviceMoniker final : public com::ComObject<IMoniker> {
  public:
    DeviceMoniker(DeviceId device, std::wstring display_name)
        : device_(device), display_name_(std::move(display_name)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) override {
        if (ppvResult == nullptr) return E_POINTER;
        *ppvResult = nullptr;
        auto bag = com::MakeCom<DevicePropertyBag>(device_);
        VARIANT text{};
        text.vt = VT_BSTR;
        HRESULT hr = bag->Read(L"CLSID", &text, nullptr);
        if (FAILED(hr)) return hr;
        CLSID clsid = GUID_NULL;
        hr = CLSIDFromString(text.bstrVal, &clsid);
        VariantClear(&text);
        if (FAILED(hr)) return hr;
        com::ComPtr<IUnknown> object;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              object.ReceiveVoid());
        if (FAILED(hr)) return hr;
        if (!object) return E_FAIL;
        com::ComPtr<IPersistPropertyBag> persist;
        if (SUCCEEDED(object->QueryInterface(IID_IPersistPropertyBag, persist.ReceiveVoid())) &&
            persist) {
            hr = persist->Load(bag.Get(), nullptr);
            if (FAILED(hr)) return hr;
        }
        return object->QueryInterface(riidResult, ppvResult);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) override {
        if (ppvObj == nullptr) return E_POINTER;
        *ppvObj = nullptr;
        if (pmkToLeft != nullptr || riid != IID_IPropertyBag) return MK_E_NOSTORAGE;
        auto bag = com::MakeCom<DevicePropertyBag>(device_);
        return bag->QueryInterface(riid, ppvObj);
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName) override {
        if (ppszDisplayName == nullptr) return E_POINTER;
        const std::wstring& name = display_name_;
        auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
        if (text == nullptr) return E_OUTOFMEMORY;
        std::wmemcpy(text, name.c_str(), name.size() + 1);
        *ppszDisplayName = text;
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IMoniker ? static_cast<IMoniker*>(this) : nullptr;
    }

  private:
    DeviceId device_;
    std::wstring display_name_;
};

class MonikerEnumerator final : public com::ComObject<IEnumMoniker> {
  public:
    MonikerEnumerator(std::shared_ptr<const Listing> devices, std::size_t position)
        : devices_(std::move(devices)), position_(position) {}

    HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override {
        if (rgelt == nullptr) return E_POINTER;
        if (celt != 1 && pceltFetched == nullptr) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < celt && position_ < devices_->size()) {
            const auto& [id, display_name] = (*devices_)[position_++];
            rgelt[fetched++] = new DeviceMoniker(id, display_name);
        }
        if (pceltFetched != nullptr) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override {
        position_ += celt;
        if (position_ > devices_->size()) {
            position_ = devices_->size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** ppenum) override {
        if (ppenum == nullptr) return E_POINTER;
        *ppenum = new MonikerEnumerator(devices_, position_);
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IEnumMoniker ? static_cast<IEnumMoniker*>(this) : nullptr;
    }

  private:
    std::shared_ptr<const Listing> devices_;
    std::size_t position_;
};

class SystemDeviceEnum final : public com::ComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                  DWORD) override {
        if (ppEnumMoniker == nullptr) return E_POINTER;
        *ppEnumMoniker = nullptr;
        if (clsidDeviceClass != CLSID_VideoInputDeviceCategory) return S_FALSE;
        auto devices = std::make_shared<const Listing>(VideoInputDevices::Listed());
        // An empty category yields success without an enumerator, as on the platform.
        if (devices->empty()) return S_FALSE;
        *ppEnumMoniker = new MonikerEnumerator(std::move(devices), 0);
        return S_OK;
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_ICreateDevEnum ? static_cast<ICreateDevEnum*>(this) : nullptr;
    }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) {
    auto devenum = com::MakeCom<SystemDeviceEnum>();
    return devenum->QueryInterface(riid, ppv);
}

}  // namespace zrf::dshow
