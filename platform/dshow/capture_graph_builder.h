#pragma once
// The capture graph builder's lookups, in the platform's search order. A pin's category is what
// the pin itself answers through IKsPropertySet (AMPROPSETID_Pin); a pin that cannot say has
// none. FindInterface asks the filter, then each output pin of the category and type, the pin
// connected to it, that pin's filter and everything further downstream; where that finds
// nothing (E_FAIL), everything upstream. With a category but no pin of it the answer is
// E_NOINTERFACE, otherwise E_FAIL.
#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class CaptureGraphBuilder final : public com::ComObject<ICaptureGraphBuilder2> {
  public:
    HRESULT SetFiltergraph(IGraphBuilder* pfg) override;
    HRESULT GetFiltergraph(IGraphBuilder** ppfg) override;
    HRESULT FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf, REFIID riid,
                          void** ppint) override;
    HRESULT FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                    const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    com::ComPtr<IGraphBuilder> graph_;
};

}  // namespace zrf::dshow
