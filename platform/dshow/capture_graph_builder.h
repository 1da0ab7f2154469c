#pragma once
// The capture graph builder's lookups: pins by direction, category and media type, and
// interfaces on a capture pin or its filter.
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
