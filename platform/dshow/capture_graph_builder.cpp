#include "platform/dshow/capture_graph_builder.h"

namespace zrf::dshow {
namespace {

// Bounds for what filters report: a pin offering types without end, pins changing under every
// enumeration, or a graph that leads back into itself.
constexpr int kMaxTypesLooked = 1024;
constexpr int kMaxRestarts = 8;
constexpr int kMaxDepth = 32;

bool HasMajorType(IPin* pin, const GUID& majortype) {
    com::ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Receive())) || !types) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    for (int n = 0; n < kMaxTypesLooked && types->Next(1, &mt, nullptr) == S_OK; ++n) {
        if (mt == nullptr) continue;
        const bool match = mt->majortype == majortype;
        DeleteMediaType(mt);
        mt = nullptr;
        if (match) return true;
    }
    return false;
}

// The pin's own answer for its category; GUID_NULL when it gives none.
GUID CategoryOf(IPin* pin) {
    GUID category = GUID_NULL;
    com::ComPtr<IKsPropertySet> properties;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, properties.ReceiveVoid())) || !properties) {
        return GUID_NULL;
    }
    DWORD returned = 0;
    if (FAILED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                               sizeof category, &returned))) {
        return GUID_NULL;
    }
    return category;
}

bool PinMatches(IPin* pin, PIN_DIRECTION pindir, const GUID* pCategory, const GUID* pType,
                BOOL fUnconnected) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (FAILED(pin->QueryDirection(&dir)) || dir != pindir) return false;
    if (fUnconnected) {
        com::ComPtr<IPin> peer;
        if (pin->ConnectedTo(peer.Receive()) == S_OK && peer) return false;
    }
    if (pCategory != nullptr && CategoryOf(pin) != *pCategory) return false;
    return pType == nullptr || HasMajorType(pin, *pType);
}

com::ComPtr<IBaseFilter> FilterOf(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return com::ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// Pins of `dir` matching the category and type, then what they are connected to and beyond.
HRESULT FindInterfaceFrom(PIN_DIRECTION dir, const GUID* pCategory, const GUID* pType,
                          IBaseFilter* filter, REFIID riid, void** ppint, int depth) {
    com::ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Receive());
    if (FAILED(hr)) return hr;
    if (!pins) return E_FAIL;
    bool found_category = false;
    IPin* next = nullptr;
    while (pins->Next(1, &next, nullptr) == S_OK) {
        com::ComPtr<IPin> pin = com::ComPtr<IPin>::Attach(next);
        if (!pin || !PinMatches(pin.Get(), dir, pCategory, pType, FALSE)) continue;
        if (pCategory != nullptr) found_category = true;
        if (pin->QueryInterface(riid, ppint) == S_OK) return S_OK;
        com::ComPtr<IPin> peer;
        if (pin->ConnectedTo(peer.Receive()) != S_OK || !peer) continue;
        if (peer->QueryInterface(riid, ppint) == S_OK) return S_OK;
        com::ComPtr<IBaseFilter> beyond = FilterOf(peer.Get());
        if (!beyond) continue;
        if (beyond->QueryInterface(riid, ppint) == S_OK) return S_OK;
        if (depth < kMaxDepth &&
            FindInterfaceFrom(dir, nullptr, nullptr, beyond.Get(), riid, ppint, depth + 1) == S_OK) {
            return S_OK;
        }
    }
    *ppint = nullptr;
    return pCategory != nullptr && !found_category ? E_NOINTERFACE : E_FAIL;
}

}  // namespace

void* CaptureGraphBuilder::FindInterface(REFIID riid) {
    return riid == IID_ICaptureGraphBuilder2 ? static_cast<ICaptureGraphBuilder2*>(this) : nullptr;
}

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* pfg) {
    // The platform refuses a second graph.
    if (graph_) return E_UNEXPECTED;
    if (pfg == nullptr) return E_POINTER;
    graph_ = com::ComPtr<IGraphBuilder>(pfg);
    return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** ppfg) {
    if (ppfg == nullptr) return E_POINTER;
    *ppfg = graph_.Get();
    if (*ppfg == nullptr) return E_UNEXPECTED;
    (*ppfg)->AddRef();
    return S_OK;
}

HRESULT CaptureGraphBuilder::FindInterface(const GUID* pCategory, const GUID* pType,
                                           IBaseFilter* pf, REFIID riid, void** ppint) {
    if (ppint == nullptr) return E_POINTER;
    *ppint = nullptr;
    if (pf == nullptr) return E_POINTER;
    if (pCategory != nullptr && *pCategory == LOOK_DOWNSTREAM_ONLY) {
        return FindInterfaceFrom(PINDIR_OUTPUT, nullptr, nullptr, pf, riid, ppint, 0);
    }
    if (pCategory != nullptr && *pCategory == LOOK_UPSTREAM_ONLY) {
        return FindInterfaceFrom(PINDIR_INPUT, nullptr, nullptr, pf, riid, ppint, 0);
    }
    if (pf->QueryInterface(riid, ppint) == S_OK) return S_OK;
    *ppint = nullptr;
    // The type narrows the search only together with a category.
    if (pCategory == nullptr) pType = nullptr;
    const HRESULT hr = FindInterfaceFrom(PINDIR_OUTPUT, pCategory, pType, pf, riid, ppint, 0);
    if (hr == S_OK || hr == E_NOINTERFACE) return hr;
    return FindInterfaceFrom(PINDIR_INPUT, nullptr, nullptr, pf, riid, ppint, 0);
}

HRESULT CaptureGraphBuilder::FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                                     const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) {
    if (pSource == nullptr || ppPin == nullptr) return E_POINTER;
    *ppPin = nullptr;
    com::ComPtr<IPin> as_pin;
    if (SUCCEEDED(pSource->QueryInterface(IID_IPin, as_pin.ReceiveVoid())) && as_pin) {
        // The index matters only among a filter's pins.
        if (!PinMatches(as_pin.Get(), pindir, pCategory, pType, fUnconnected)) return E_FAIL;
        *ppPin = as_pin.Detach();
        return S_OK;
    }
    com::ComPtr<IBaseFilter> filter;
    if (FAILED(pSource->QueryInterface(IID_IBaseFilter, filter.ReceiveVoid())) || !filter) {
        return E_NOINTERFACE;
    }
    com::ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Receive());
    if (FAILED(hr)) return hr;
    if (!pins) return E_FAIL;
    // Pins that change under the enumeration start it again, counting from the first.
    int matched = 0;
    int restarts = 0;
    IPin* next = nullptr;
    ULONG fetched = 0;
    while (true) {
        next = nullptr;
        fetched = 0;
        hr = pins->Next(1, &next, &fetched);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC && restarts++ < kMaxRestarts) {
            matched = 0;
            pins->Reset();
            continue;
        }
        com::ComPtr<IPin> pin = com::ComPtr<IPin>::Attach(hr == S_OK ? next : nullptr);
        if (hr != S_OK || fetched != 1 || !pin) return E_FAIL;
        if (PinMatches(pin.Get(), pindir, pCategory, pType, fUnconnected) && matched++ == num) {
            *ppPin = pin.Detach();
            return S_OK;
        }
    }
}

}  // namespace zrf::dshow
