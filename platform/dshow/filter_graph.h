#pragma once
// The filter graph: holds its filters by name, connects their pins, and runs and stops them
// together, as the platform's graph does: through the paused state, downstream filters before
// the ones that feed them, every filter asked even after one has failed.
//
// Its reference clock: the one set through IMediaFilter::SetSyncSource (null: none), else at
// the first Run or Pause the system clock, which every filter is given. A run's stream starts
// 200 ms after the clock's time at Run, as the platform's graph gives its filters time to
// start; without a clock the start is 0.
//
// A Run whose pause fails leaves the graph as it was (its filters as far as they got); a Run in
// which a filter fails to run leaves the graph and the other filters running. Stopping either
// is the caller's job; Stop on a stopped graph does nothing.
#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class FilterGraph final : public com::ComObject<IGraphBuilder, IMediaControl, IMediaFilter> {
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

    // IMediaControl, and IMediaFilter where the names meet (Stop and Pause serve both).
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;

    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;

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
    HRESULT CheckPins(IPin* out, IPin* in) const;
    void DisconnectAll(IBaseFilter* filter);
    void TakeDefaultClock();
    HRESULT SetClockLocked(IReferenceClock* clock);
    HRESULT PauseLocked();
    HRESULT StartLocked(REFERENCE_TIME start);
    HRESULT StopLocked();

    mutable std::recursive_mutex mutex_;
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;
    com::ComPtr<IReferenceClock> clock_;
    bool default_clock_ = true;
    REFERENCE_TIME stream_start_ = 0;
    REFERENCE_TIME stream_elapsed_ = 0;  // stream time run before a pause
};

}  // namespace zrf::dshow
