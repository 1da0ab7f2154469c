#include "platform/dshow/capture_graph_builder.h"

namespace zrf::dshow {
namespace {

bool PinMatches(IPin* pin, PIN_DIRECTION pindir, const GUID* pCategory, const GUID* pType,
                BOOL fUnconnected) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (FAILED(pin->QueryDirection(&dir)) || dir != pindir) return false;
    com::ComPtr<IPin> peer;
    bool connected = SUCCEEDED(pin->ConnectedTo(peer.Receive()));
    if (fUnconnected && connected) return false;
    if (pCategory != nullptr) {
        auto* ours = dynamic_cast<PinBase*>(pin);
        if (ours == nullptr || ours->Category() != *pCategory) return false;
    }
    if (pType == nullptr) return true;
    if (connected) {
        AM_MEDIA_TYPE mt{};
        if (FAILED(pin->ConnectionMediaType(&mt))) return false;
        bool match = mt.majortype == *pType;
        FreeMediaType(mt);
        return match;
    }
    com::ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Receive())) || !types) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        bool match = mt->majortype == *pType;
        DeleteMediaType(mt);
        if (match) return true;
    }
    return false;
}

}  // namespace

void* CaptureGraphBuilder::FindInterface(REFIID riid) {
    return riid == IID_ICaptureGraphBuilder2 ? static_cast<ICaptureGraphBuilder2*>(this) : nullptr;
}

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* pfg) {
    if (pfg == nullptr) return E_POINTER;
    // The platform refuses a second graph.
    if (graph_) return E_UNEXPECTED;
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
    if (pCategory != nullptr) {
        // As the platform looks: the filter itself, then the pin of that category, then what
        // is connected downstream of it. No pin of the category: E_NOINTERFACE; a pin of the
        // category but the interface nowhere: E_FAIL.
        if (SUCCEEDED(pf->QueryInterface(riid, ppint))) return S_OK;
        com::ComPtr<IPin> pin;
        if (FAILED(FindPin(pf, PINDIR_OUTPUT, pCategory, pType, FALSE, 0, pin.Receive()))) {
            return E_NOINTERFACE;
        }
        if (SUCCEEDED(pin->QueryInterface(riid, ppint))) return S_OK;
        com::ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.Receive())) && peer) {
            if (SUCCEEDED(peer->QueryInterface(riid, ppint))) return S_OK;
            PIN_INFO info{};
            if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter != nullptr) {
                com::ComPtr<IBaseFilter> downstream = com::ComPtr<IBaseFilter>::Attach(info.pFilter);
                if (SUCCEEDED(downstream->QueryInterface(riid, ppint))) return S_OK;
            }
        }
        *ppint = nullptr;
        return E_FAIL;
    }
    if (SUCCEEDED(pf->QueryInterface(riid, ppint))) return S_OK;
    com::ComPtr<IEnumPins> pins;
    if (SUCCEEDED(pf->EnumPins(pins.Receive())) && pins) {
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            com::ComPtr<IPin> held = com::ComPtr<IPin>::Attach(pin);
            if (SUCCEEDED(held->QueryInterface(riid, ppint))) return S_OK;
        }
    }
    return E_NOINTERFACE;
}

HRESULT CaptureGraphBuilder::FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                                     const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) {
    if (pSource == nullptr || ppPin == nullptr) return E_POINTER;
    *ppPin = nullptr;
    com::ComPtr<IPin> as_pin;
    if (SUCCEEDED(pSource->QueryInterface(IID_IPin, as_pin.ReceiveVoid()))) {
        if (num != 0 || !PinMatches(as_pin.Get(), pindir, pCategory, pType, fUnconnected)) {
            return E_FAIL;
        }
        *ppPin = as_pin.Detach();
        return S_OK;
    }
    com::ComPtr<IBaseFilter> filter;
    if (FAILED(pSource->QueryInterface(IID_IBaseFilter, filter.ReceiveVoid())))
        return E_NOINTERFACE;
    com::ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Receive());
    if (FAILED(hr)) return hr;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        com::ComPtr<IPin> held = com::ComPtr<IPin>::Attach(pin);
        if (!PinMatches(held.Get(), pindir, pCategory, pType, fUnconnected)) continue;
        if (num-- == 0) {
            *ppPin = held.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

}  // namespace zrf::dshow
