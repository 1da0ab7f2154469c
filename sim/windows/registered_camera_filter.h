#pragma once
// The simulated cameras' capture filter as a registered Windows source filter: one class for
// every camera. Binding a camera's moniker creates the filter and loads the moniker's
// property bag, which names the camera ("Preset", "DevicePath", optional "Seed" and
// "WindowingFields"); only then does the filter have its camera and its pin. Where the host
// framework is built, the camera is the process's camera of that device path
// (sim/windows/process_cameras.h); otherwise each bind makes a camera of its own.
#include "sim/video/capture_source_filter.h"

namespace zrf::sim {

class RegisteredCameraFilter final : public CaptureSourceFilter,
                                     public IPersistPropertyBag,
                                     public IAMFilterMiscFlags {
  public:
    RegisteredCameraFilter();
    ~RegisteredCameraFilter() override;
    ZRF_COM_FORWARD_UNKNOWN(CaptureSourceFilter)

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* pPropBag, BOOL fClearDirty,
                                   BOOL fSaveAllProperties) override;
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    bool loaded_ = false;
    // The process's camera of this device path: its tree stays registered while it streams.
    std::shared_ptr<class SimulatedCamera> camera_;
};

}  // namespace zrf::sim
