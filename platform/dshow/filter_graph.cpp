#include "platform/dshow/filter_graph.h"

#include <algorithm>

namespace zrf::dshow {
namespace {

com::ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
    PIN_INFO info{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return com::ComPtr<IBaseFilter>::Attach(info.pFilter);
}

std::vector<com::ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<com::ComPtr<IPin>> pins;
    com::ComPtr<IEnumPins> pin_enum;
    if (FAILED(filter->EnumPins(pin_enum.Receive())) || !pin_enum) return pins;
    IPin* pin = nullptr;
    while (pin_enum->Next(1, &pin, nullptr) == S_OK) pins.push_back(com::ComPtr<IPin>::Attach(pin));
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
    for (const Entry& entry : filters_) DisconnectAll(entry.filter.Get());
    for (const Entry& entry : filters_) entry.filter->JoinFilterGraph(nullptr, nullptr);
    filters_.clear();
}

void* FilterGraph::FindInterface(REFIID riid) {
    if (riid == IID_IGraphBuilder || riid == IID_IFilterGraph) {
        return static_cast<IGraphBuilder*>(this);
    }
    if (riid == IID_IMediaControl) return static_cast<IMediaControl*>(this);
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

// As the platform does: every filter is paused, then run, downstream filters first. A live
// source cannot cue while paused (VFW_S_CANT_CUE), so the graph does not wait for samples to
// reach the renderers before it runs.
HRESULT FilterGraph::Run() {
    std::lock_guard lock(mutex_);
    if (state_ == State_Running) return S_OK;
    HRESULT hr = state_ == State_Stopped ? PauseLocked() : S_OK;
    if (SUCCEEDED(hr)) {
        for (const auto& filter : DownstreamFirst()) {
            hr = filter->Run(0);
            if (FAILED(hr)) break;
        }
    }
    if (FAILED(hr)) {
        // The platform leaves a graph that failed to run stopped, code unchanged.
        state_ = State_Running;
        StopLocked();
        return hr;
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::PauseLocked() {
    for (const auto& filter : DownstreamFirst()) {
        HRESULT hr = filter->Pause();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT FilterGraph::Pause() {
    std::lock_guard lock(mutex_);
    HRESULT hr = PauseLocked();
    if (FAILED(hr)) StopLocked();
    return hr;
}

// Running filters are paused first, then every filter is stopped; downstream filters first.
// A source's Stop waits for its streaming thread, so once Stop returns nothing is delivered.
HRESULT FilterGraph::StopLocked() {
    const std::vector<com::ComPtr<IBaseFilter>> order = DownstreamFirst();
    if (state_ == State_Running) {
        for (const auto& filter : order) filter->Pause();
    }
    for (const auto& filter : order) filter->Stop();
    state_ = State_Stopped;
    return S_OK;
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

}  // namespace zrf::dshow
