#pragma once
// The simulated capture filter as the stand-in's device enumerator binds a listed simulated
// device: created by its class, then loaded from the moniker's property bag, whose
// "DeviceInstance" names the device. Until it is loaded it has no pin. The Windows build's
// registered filter is configured the same way, through its own bag's values.
#include "sim/video/capture_source_filter.h"

namespace zrf::sim {

class ListedCaptureFilter final : public CaptureSourceFilter, public IPersistPropertyBag {
  public:
    ListedCaptureFilter();
    ZRF_COM_FORWARD_UNKNOWN(CaptureSourceFilter)

    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT InitNew() override;
    // E_UNEXPECTED when loaded before; HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) for a
    // device that is gone.
    HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    std::mutex load_mutex_;
    bool loaded_ = false;
};

}  // namespace zrf::sim
