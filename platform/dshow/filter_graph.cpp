#include "platform/dshow/filter_graph.h"

#include <algorithm>

namespace zrf::dshow {
namespace {

// How far ahead of the clock a run's stream starts.
constexpr REFERENCE_TIME kStartDelay = 200 * 10000;

com::ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
    PIN_INFO info{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return com::ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// A filter's pins; an enumeration overtaken by a change of pins starts again, a bounded
// number of times.
std::vector<com::ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<com::ComPtr<IPin>> pins;
    com::ComPtr<IEnumPins> pin_enum;
    if (FAILED(filter->EnumPins(pin_enum.Receive())) || !pin_enum) return pins;
    IPin* pin = nullptr;
    HRESULT hr = S_OK;
    for (int restarts = 0; restarts < 8; ++restarts) {
        while ((hr = pin_enum->Next(1, &pin, nullptr)) == S_OK) {
            pins.push_back(com::ComPtr<IPin>::Attach(pin));
        }
        if (hr != VFW_E_ENUM_OUT_OF_SYNC) break;
        pins.clear();
        pin_enum->Reset();
    }
    return pins;
}

bool HasConnectedInput(IBaseFilter* filter) {
    for (const auto& pin : PinsOf(filter)) {
        PIN_DIRECTION dir = PINDIR_OUTPUT;
        com::ComPtr<IPin> peer;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_INPUT &&
            SUCCEEDED(pin->ConnectedTo(peer.Receive()))) {
            return true;
        }
    }
    return false;
}

}  // namespace

FilterGraph::~FilterGraph() {
    std::lock_guard lock(mutex_);
    StopLocked();
    for (const Entry& entry : filters_) entry.filter->SetSyncSource(nullptr);
    for (const Entry& entry : filters_) DisconnectAll(entry.filter.Get());
    for (const Entry& entry : filters_) entry.filter->JoinFilterGraph(nullptr, nullptr);
    filters_.clear();
}

void* FilterGraph::FindInterface(REFIID riid) {
    if (riid == IID_IGraphBuilder || riid == IID_IFilterGraph) {
        return static_cast<IGraphBuilder*>(this);
    }
    if (riid == IID_IMediaControl) return static_cast<IMediaControl*>(this);
    if (riid == IID_IMediaFilter || riid == IID_IPersist) return static_cast<IMediaFilter*>(this);
    return nullptr;
}

bool FilterGraph::NameTaken(const std::wstring& name) const {
    return std::any_of(filters_.begin(), filters_.end(),
                       [&](const Entry& e) { return e.name == name; });
}

HRESULT FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    if (pFilter == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    for (const Entry& entry : filters_) {
        if (entry.filter.Get() == pFilter) return E_INVALIDARG;
    }
    std::wstring name = pName != nullptr ? pName : L"";
    HRESULT result = S_OK;
    if (NameTaken(name)) {
        // The platform keeps both and tells the caller the name was changed.
        int n = 1;
        while (NameTaken(name + L" " + std::to_wstring(n))) ++n;
        name += L" " + std::to_wstring(n);
        result = VFW_S_DUPLICATE_NAME;
    }
    HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
    if (FAILED(hr)) return hr;
    if (clock_) pFilter->SetSyncSource(clock_.Get());
    filters_.push_back({com::ComPtr<IBaseFilter>(pFilter), name});
    return result;
}

void FilterGraph::DisconnectAll(IBaseFilter* filter) {
    for (const auto& pin : PinsOf(filter)) {
        com::ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.Receive()))) {
            peer->Disconnect();
            pin->Disconnect();
        }
    }
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (pFilter == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(filters_.begin(), filters_.end(),
                           [&](const Entry& e) { return e.filter.Get() == pFilter; });
    if (it == filters_.end()) return VFW_E_NOT_FOUND;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    com::ComPtr<IBaseFilter> keep = it->filter;
    DisconnectAll(pFilter);
    pFilter->SetSyncSource(nullptr);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    filters_.erase(it);
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    if (pName == nullptr || ppFilter == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *ppFilter = nullptr;
    for (const Entry& entry : filters_) {
        if (entry.name == pName) {
            *ppFilter = entry.filter.Get();
            (*ppFilter)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

bool FilterGraph::Contains(IPin* pin) const {
    com::ComPtr<IBaseFilter> owner = OwnerOf(pin);
    return std::any_of(filters_.begin(), filters_.end(),
                       [&](const Entry& e) { return e.filter.Get() == owner.Get(); });
}

HRESULT FilterGraph::CheckPins(IPin* out, IPin* in) const {
    if (out == nullptr || in == nullptr) return E_POINTER;
    if (!Contains(out) || !Contains(in)) return VFW_E_NOT_IN_GRAPH;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir_out = PINDIR_INPUT;
    PIN_DIRECTION dir_in = PINDIR_OUTPUT;
    out->QueryDirection(&dir_out);
    in->QueryDirection(&dir_in);
    if (dir_out != PINDIR_OUTPUT || dir_in != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    return S_OK;
}

HRESULT FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    std::lock_guard lock(mutex_);
    HRESULT hr = CheckPins(ppinOut, ppinIn);
    if (FAILED(hr)) return hr;
    return ppinOut->Connect(ppinIn, pmt);
}

HRESULT FilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    std::lock_guard lock(mutex_);
    HRESULT hr = CheckPins(ppinOut, ppinIn);
    if (FAILED(hr)) return hr;
    // No conversion filters are available here: intelligent connection is a direct one.
    hr = ppinOut->Connect(ppinIn, nullptr);
    return SUCCEEDED(hr) ? S_OK : VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Reconnect(IPin* ppin) {
    if (ppin == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    com::ComPtr<IPin> peer;
    if (FAILED(ppin->ConnectedTo(peer.Receive())) || !peer) return VFW_E_NOT_CONNECTED;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction = PINDIR_INPUT;
    ppin->QueryDirection(&direction);
    com::ComPtr<IPin> out(direction == PINDIR_OUTPUT ? ppin : peer.Get());
    com::ComPtr<IPin> in(direction == PINDIR_OUTPUT ? peer.Get() : ppin);
    out->Disconnect();
    in->Disconnect();
    return out->Connect(in.Get(), nullptr);
}

HRESULT FilterGraph::Disconnect(IPin* ppin) {
    if (ppin == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    return ppin->Disconnect();
}

std::vector<com::ComPtr<IBaseFilter>> FilterGraph::UpstreamFirst() const {
    std::vector<com::ComPtr<IBaseFilter>> sources;
    std::vector<com::ComPtr<IBaseFilter>> others;
    for (const Entry& entry : filters_) {
        (HasConnectedInput(entry.filter.Get()) ? others : sources).push_back(entry.filter);
    }
    sources.insert(sources.end(), others.begin(), others.end());
    return sources;
}

HRESULT FilterGraph::GetClassID(CLSID* pClassID) {
    if (pClassID == nullptr) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

HRESULT FilterGraph::SetClockLocked(IReferenceClock* clock) {
    HRESULT hr = S_OK;
    for (const Entry& entry : filters_) {
        hr = entry.filter->SetSyncSource(clock);
        if (FAILED(hr)) break;
    }
    if (FAILED(hr)) {
        for (const Entry& entry : filters_) entry.filter->SetSyncSource(clock_.Get());
        return hr;
    }
    clock_ = com::ComPtr<IReferenceClock>(clock);
    return S_OK;
}

// A clock set by the caller, even none, stays; otherwise the system clock, when it can be made.
void FilterGraph::TakeDefaultClock() {
    if (!default_clock_ || clock_) return;
    com::ComPtr<IReferenceClock> clock;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IReferenceClock, clock.ReceiveVoid())) &&
        clock) {
        SetClockLocked(clock.Get());
    }
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* pClock) {
    std::lock_guard lock(mutex_);
    const HRESULT hr = SetClockLocked(pClock);
    if (SUCCEEDED(hr)) default_clock_ = false;
    return hr;
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pClock = clock_.Get();
    if (*pClock != nullptr) (*pClock)->AddRef();
    return S_OK;
}

// Every filter is asked; the first failure is the answer.
HRESULT FilterGraph::PauseLocked() {
    HRESULT hr = S_OK;
    for (const auto& filter : DownstreamFirst()) {
        const HRESULT filter_hr = filter->Pause();
        if (hr == S_OK) hr = filter_hr;
    }
    return hr;
}

HRESULT FilterGraph::StartLocked(REFERENCE_TIME start) {
    if (start == 0 && clock_) {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        start = now - stream_elapsed_ + kStartDelay;
    }
    stream_start_ = start;
    HRESULT hr = S_OK;
    for (const auto& filter : DownstreamFirst()) {
        const HRESULT filter_hr = filter->Run(start);
        if (hr == S_OK) hr = filter_hr;
    }
    return hr;
}

// A live source cannot cue while paused (VFW_S_CANT_CUE), so the graph does not wait for
// samples to reach the renderers before it runs.
HRESULT FilterGraph::Run() {
    std::lock_guard lock(mutex_);
    if (state_ == State_Running) return S_OK;
    if (state_ == State_Stopped) {
        TakeDefaultClock();
        const HRESULT hr = PauseLocked();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Running;
    return StartLocked(0);
}

HRESULT FilterGraph::Run(REFERENCE_TIME tStart) {
    std::lock_guard lock(mutex_);
    if (state_ == State_Running) return S_OK;
    const HRESULT hr = StartLocked(tStart);
    state_ = State_Running;
    return hr;
}

HRESULT FilterGraph::Pause() {
    std::lock_guard lock(mutex_);
    if (state_ == State_Paused) return S_OK;
    TakeDefaultClock();
    if (state_ == State_Running && clock_) {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        stream_elapsed_ += now - stream_start_;
    }
    const HRESULT hr = PauseLocked();
    state_ = State_Paused;
    return hr;
}

// Running filters are paused first, then every filter is stopped; downstream filters first.
// A source's Stop waits for its streaming thread, so once Stop returns nothing is delivered.
HRESULT FilterGraph::StopLocked() {
    if (state_ == State_Stopped) return S_OK;
    const std::vector<com::ComPtr<IBaseFilter>> order = DownstreamFirst();
    HRESULT hr = S_OK;
    if (state_ == State_Running) {
        for (const auto& filter : order) {
            const HRESULT filter_hr = filter->Pause();
            if (hr == S_OK) hr = filter_hr;
        }
    }
    for (const auto& filter : order) {
        const HRESULT filter_hr = filter->Stop();
        if (hr == S_OK) hr = filter_hr;
    }
    state_ = State_Stopped;
    stream_elapsed_ = 0;
    return hr;
}

std::vector<com::ComPtr<IBaseFilter>> FilterGraph::DownstreamFirst() const {
    std::vector<com::ComPtr<IBaseFilter>> order = UpstreamFirst();
    std::reverse(order.begin(), order.end());
    return order;
}

HRESULT FilterGraph::Stop() {
    std::lock_guard lock(mutex_);
    return StopLocked();
}

HRESULT FilterGraph::GetState(LONG, OAFilterState* pfs) {
    if (pfs == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pfs = state_;
    return S_OK;
}

HRESULT FilterGraph::GetState(DWORD, FILTER_STATE* State) {
    if (State == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *State = state_;
    return S_OK;
}

}  // namespace zrf::dshow
