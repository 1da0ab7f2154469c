#include "platform/dshow/system_device_enum.h"

#include <cwchar>
#include <memory>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/uuids.h"
#include "platform/dshow/video_input_devices.h"

namespace zrf::dshow {
namespace {

using DeviceRef = std::shared_ptr<const VideoInputDevice>;

class DevicePropertyBag final : public com::ComObject<IPropertyBag> {
  public:
    explicit DevicePropertyBag(DeviceRef device) : device_(std::move(device)) {}

    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        const std::wstring name = pszPropName;
        const std::wstring* value = nullptr;
        if (name == L"FriendlyName") {
            value = &device_->friendly_name;
        } else if (name == L"DevicePath" && device_->device_path) {
            value = &*device_->device_path;
        }
        if (value == nullptr) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (pVar->vt != VT_EMPTY && pVar->vt != VT_BSTR) return E_INVALIDARG;
        pVar->vt = VT_BSTR;
        pVar->bstrVal = SysAllocString(value->c_str());
        return pVar->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Write(LPCOLESTR, VARIANT*) override { return E_FAIL; }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
    }

  private:
    DeviceRef device_;
};

class DeviceMoniker final : public com::ComObject<IMoniker> {
  public:
    explicit DeviceMoniker(DeviceRef device) : device_(std::move(device)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) override {
        if (ppvResult == nullptr) return E_POINTER;
        *ppvResult = nullptr;
        com::ComPtr<IBaseFilter> filter;
        HRESULT hr = device_->create_filter(filter.Receive());
        if (FAILED(hr)) return hr;
        return filter->QueryInterface(riidResult, ppvResult);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) override {
        if (ppvObj == nullptr) return E_POINTER;
        *ppvObj = nullptr;
        auto bag = com::MakeCom<DevicePropertyBag>(device_);
        return bag->QueryInterface(riid, ppvObj);
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName) override {
        if (ppszDisplayName == nullptr) return E_POINTER;
        const std::wstring& name = device_->display_name;
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
    DeviceRef device_;
};

class MonikerEnumerator final : public com::ComObject<IEnumMoniker> {
  public:
    MonikerEnumerator(std::shared_ptr<const std::vector<DeviceRef>> devices, std::size_t position)
        : devices_(std::move(devices)), position_(position) {}

    HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override {
        if (rgelt == nullptr) return E_POINTER;
        if (celt != 1 && pceltFetched == nullptr) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < celt && position_ < devices_->size()) {
            rgelt[fetched++] = new DeviceMoniker((*devices_)[position_++]);
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
    std::shared_ptr<const std::vector<DeviceRef>> devices_;
    std::size_t position_;
};

class SystemDeviceEnum final : public com::ComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                  DWORD) override {
        if (ppEnumMoniker == nullptr) return E_POINTER;
        *ppEnumMoniker = nullptr;
        if (clsidDeviceClass != CLSID_VideoInputDeviceCategory) return S_FALSE;
        auto devices = std::make_shared<std::vector<DeviceRef>>();
        for (VideoInputDevice& device : VideoInputDevices::Listed()) {
            devices->push_back(std::make_shared<const VideoInputDevice>(std::move(device)));
        }
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
