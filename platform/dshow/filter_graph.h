#pragma once
// The filter graph: holds its filters by name, connects their pins, and runs and stops them
// together, as the platform's graph does: through the paused state, downstream filters
// before the ones that feed them.
#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class FilterGraph final : public com::ComObject<IGraphBuilder, IMediaControl> {
  public:
    FilterGraph() = default;
    ~FilterGraph() override;

    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override;

    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    struct Entry {
        com::ComPtr<IBaseFilter> filter;
        std::wstring name;
    };

    bool Contains(IPin* pin) const;
    bool NameTaken(const std::wstring& name) const;
    // Sources (no connected input) first.
    std::vector<com::ComPtr<IBaseFilter>> UpstreamFirst() const;
    std::vector<com::ComPtr<IBaseFilter>> DownstreamFirst() const;
    HRESULT PauseLocked();
    HRESULT CheckPins(IPin* out, IPin* in) const;
    void DisconnectAll(IBaseFilter* filter);
    HRESULT StopLocked();

    mutable std::recursive_mutex mutex_;
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
};

}  // namespace zrf::dshow
