#include "sim/video/listed_capture_filter.h"

#include "platform/com/class_registry.h"

namespace zrf::sim {
namespace {

const com::ClassRegistration kRegistration{
    CLSID_SimulatedCaptureFilter, [](REFIID riid, void** ppv) {
        auto filter = com::MakeCom<ListedCaptureFilter>();
        return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, ppv);
    }};

}  // namespace

ListedCaptureFilter::ListedCaptureFilter() : CaptureSourceFilter(nullptr) {}

void* ListedCaptureFilter::FindInterface(REFIID riid) {
    if (riid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    return CaptureSourceFilter::FindInterface(riid);
}

HRESULT ListedCaptureFilter::GetClassID(CLSID* pClassID) {
    return CaptureSourceFilter::GetClassID(pClassID);
}

HRESULT ListedCaptureFilter::InitNew() {
    return S_OK;
}

HRESULT ListedCaptureFilter::Load(IPropertyBag* pPropBag, IErrorLog*) {
    if (pPropBag == nullptr) return E_POINTER;
    std::lock_guard lock(load_mutex_);
    if (loaded_) return E_UNEXPECTED;
    VARIANT instance{};
    instance.vt = VT_I4;
    const HRESULT hr = pPropBag->Read(kDeviceInstanceValue, &instance, nullptr);
    if (FAILED(hr)) return hr;
    std::shared_ptr<SimulatedVideoDevice> device = SimulatedVideoDevice::Listed(instance.lVal);
    if (!device || device->HasDisappeared()) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    AttachDevice(std::move(device));
    loaded_ = true;
    return S_OK;
}

HRESULT ListedCaptureFilter::Save(IPropertyBag*, BOOL, BOOL) {
    return E_NOTIMPL;
}

}  // namespace zrf::sim
