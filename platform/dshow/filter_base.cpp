#include "platform/dshow/filter_base.h"

#include <algorithm>
#include <cwchar>

#include "platform/dshow/enumerators.h"

namespace zrf::dshow {

bool MediaTypeMatches(const AM_MEDIA_TYPE& pattern, const AM_MEDIA_TYPE& candidate) {
    if (pattern.majortype != GUID_NULL && pattern.majortype != candidate.majortype) return false;
    if (pattern.subtype != GUID_NULL && pattern.subtype != candidate.subtype) return false;
    if (pattern.formattype != GUID_NULL && pattern.formattype != candidate.formattype) {
        return false;
    }
    return true;
}

bool IsFullySpecified(const AM_MEDIA_TYPE& mt) {
    return mt.majortype != GUID_NULL && mt.subtype != GUID_NULL && mt.formattype != GUID_NULL;
}

void CopyName(const std::wstring& from, WCHAR* to, std::size_t capacity) {
    std::size_t n = std::min(from.size(), capacity - 1);
    std::wmemcpy(to, from.data(), n);
    to[n] = L'\0';
}

// ---- PinBase ----

PinBase::PinBase(FilterBase& owner, PIN_DIRECTION direction, std::wstring name,
                 const GUID& category)
    : owner_(owner), direction_(direction), name_(std::move(name)), category_(category) {}

PinBase::~PinBase() = default;

HRESULT PinBase::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    void* found = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        found = static_cast<IPin*>(this);
    } else if (riid == IID_IMemInputPin && direction_ == PINDIR_INPUT) {
        found = static_cast<IMemInputPin*>(this);
    } else {
        found = FindExtraInterface(riid);
    }
    if (found == nullptr) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *ppv = found;
    return S_OK;
}

ULONG PinBase::AddRef() {
    return owner_.AddRef();
}
ULONG PinBase::Release() {
    return owner_.Release();
}

bool PinBase::IsConnected() const {
    std::lock_guard lock(mutex_);
    return peer_ != nullptr;
}

MediaType PinBase::ConnectedType() const {
    std::lock_guard lock(mutex_);
    return connected_type_;
}

void PinBase::SetConnection(IPin* peer, const AM_MEDIA_TYPE& mt) {
    {
        std::lock_guard lock(mutex_);
        peer_ = com::ComPtr<IPin>(peer);
        connected_type_ = MediaType(mt);
    }
    owner_.OnConnected(*this);
}

HRESULT PinBase::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (pReceivePin == nullptr) return E_POINTER;
    if (direction_ != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (owner_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION other = PINDIR_OUTPUT;
    if (FAILED(pReceivePin->QueryDirection(&other)) || other != PINDIR_INPUT) {
        return VFW_E_INVALID_DIRECTION;
    }
    if (pmt != nullptr && IsFullySpecified(*pmt)) {
        HRESULT hr = TryConnect(pReceivePin, *pmt);
        return SUCCEEDED(hr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // Partial or no type: our own proposals first, then the receiving pin's.
    std::vector<MediaType> candidates;
    owner_.GetMediaTypes(*this, candidates);
    com::ComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(pReceivePin->EnumMediaTypes(theirs.Receive())) && theirs) {
        AM_MEDIA_TYPE* next = nullptr;
        while (theirs->Next(1, &next, nullptr) == S_OK) {
            candidates.push_back(MediaType::Adopt(next));
        }
    }
    for (const MediaType& candidate : candidates) {
        if (pmt != nullptr && !MediaTypeMatches(*pmt, candidate.Get())) continue;
        if (SUCCEEDED(TryConnect(pReceivePin, candidate.Get()))) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT PinBase::TryConnect(IPin* receive, const AM_MEDIA_TYPE& mt) {
    HRESULT hr = owner_.CheckMediaType(*this, mt);
    if (FAILED(hr)) return hr;
    hr = receive->ReceiveConnection(this, &mt);
    if (FAILED(hr)) return hr;
    SetConnection(receive, mt);
    hr = DecideAllocator(receive);
    if (FAILED(hr)) {
        // The peer took the connection: it lets go again, as we do.
        receive->Disconnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

// The filter's own allocator, else the peer's, else a memory allocator of the platform's: the
// first that agrees to buffers as large, as many, with as long a prefix and as fine an alignment
// as asked, and that the peer accepts. The peer's requirements are a wish that may be refused
// (E_NOTIMPL is common).
HRESULT PinBase::DecideAllocator(IPin* receive) {
    com::ComPtr<IMemInputPin> transport;
    if (FAILED(receive->QueryInterface(IID_IMemInputPin, transport.ReceiveVoid())) ||
        !transport) {
        return VFW_E_NO_TRANSPORT;
    }
    ALLOCATOR_PROPERTIES wanted{};
    transport->GetAllocatorRequirements(&wanted);
    owner_.DecideBufferSize(*this, wanted);
    // S_OK once the allocator is agreed and the peer told; else why not.
    const auto settle = [&](IMemAllocator& allocator) {
        ALLOCATOR_PROPERTIES actual{};
        ALLOCATOR_PROPERTIES request = wanted;
        const HRESULT set = allocator.SetProperties(&request, &actual);
        if (FAILED(set)) return set;
        if (actual.cbBuffer < wanted.cbBuffer || actual.cBuffers < std::max<LONG>(wanted.cBuffers, 1) ||
            actual.cbPrefix < wanted.cbPrefix || actual.cbAlign < wanted.cbAlign ||
            (wanted.cbAlign > 0 && actual.cbAlign % wanted.cbAlign != 0))
            return E_FAIL;
        return transport->NotifyAllocator(&allocator, FALSE);
    };
    com::ComPtr<IMemAllocator> allocator = owner_.OwnAllocator(*this);
    if (allocator && FAILED(settle(*allocator))) allocator.Reset();
    if (!allocator && (FAILED(transport->GetAllocator(allocator.Receive())) || !allocator ||
                       FAILED(settle(*allocator)))) {
        allocator.Reset();
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IMemAllocator, allocator.ReceiveVoid());
        if (FAILED(hr)) return hr;
        hr = settle(*allocator);
        if (FAILED(hr)) return hr;
    }
    std::lock_guard lock(mutex_);
    transport_ = std::move(transport);
    allocator_ = std::move(allocator);
    return S_OK;
}

HRESULT PinBase::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (pConnector == nullptr || pmt == nullptr) return E_POINTER;
    if (direction_ != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (owner_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (FAILED(owner_.CheckMediaType(*this, *pmt))) return VFW_E_TYPE_NOT_ACCEPTED;
    SetConnection(pConnector, *pmt);
    return S_OK;
}

HRESULT PinBase::Disconnect() {
    if (owner_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!IsConnected()) return S_FALSE;
    ClearConnection();
    owner_.OnDisconnected(*this);
    return S_OK;
}

void PinBase::ClearConnection() {
    com::ComPtr<IPin> old;
    com::ComPtr<IMemInputPin> transport;
    com::ComPtr<IMemAllocator> allocator;
    com::ComPtr<IMemAllocator> notified;
    std::lock_guard lock(mutex_);
    old = std::move(peer_);
    transport = std::move(transport_);
    allocator = std::move(allocator_);
    notified = std::move(notified_);
    connected_type_ = MediaType();
}

HRESULT PinBase::ConnectedTo(IPin** pPin) {
    if (pPin == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pPin = nullptr;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    *pPin = peer_.Get();
    (*pPin)->AddRef();
    return S_OK;
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (peer_ == nullptr) {
        std::memset(pmt, 0, sizeof *pmt);
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &connected_type_.Get());
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* pInfo) {
    if (pInfo == nullptr) return E_POINTER;
    pInfo->pFilter = &owner_;
    owner_.AddRef();
    pInfo->dir = direction_;
    CopyName(name_, pInfo->achName, MAX_PIN_NAME);
    return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (pPinDir == nullptr) return E_POINTER;
    *pPinDir = direction_;
    return S_OK;
}

HRESULT PinBase::QueryId(LPWSTR* Id) {
    if (Id == nullptr) return E_POINTER;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(WCHAR)));
    if (*Id == nullptr) return E_OUTOFMEMORY;
    std::wmemcpy(*Id, name_.c_str(), name_.size() + 1);
    return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    return SUCCEEDED(owner_.CheckMediaType(*this, *pmt)) ? S_OK : S_FALSE;
}

std::vector<MediaType> PinBase::OfferedTypes() const {
    std::vector<MediaType> types;
    owner_.GetMediaTypes(*this, types);
    return types;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    return CreateMediaTypeEnumerator(*this, ppEnum);
}

HRESULT PinBase::QueryInternalConnections(IPin** apPin, ULONG* nPin) {
    return E_NOTIMPL;
}

// Stream control reaches input pins; an output pin has nothing to pass on.
HRESULT PinBase::EndOfStream() {
    return direction_ == PINDIR_INPUT ? S_OK : E_UNEXPECTED;
}
HRESULT PinBase::BeginFlush() {
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    owner_.OnBeginFlush(*this);
    return S_OK;
}
HRESULT PinBase::EndFlush() {
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    owner_.OnEndFlush(*this);
    return S_OK;
}
HRESULT PinBase::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

HRESULT PinBase::GetAllocator(IMemAllocator** ppAllocator) {
    if (ppAllocator == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *ppAllocator = notified_.Get();
    if (*ppAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    (*ppAllocator)->AddRef();
    return S_OK;
}

HRESULT PinBase::NotifyAllocator(IMemAllocator* pAllocator, BOOL) {
    if (pAllocator == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    notified_ = com::ComPtr<IMemAllocator>(pAllocator);
    return S_OK;
}

HRESULT PinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT PinBase::Receive(IMediaSample* pSample) {
    if (pSample == nullptr) return E_POINTER;
    return owner_.Receive(*this, pSample);
}

HRESULT PinBase::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                 LONG* nSamplesProcessed) {
    if (pSamples == nullptr || nSamplesProcessed == nullptr) return E_POINTER;
    *nSamplesProcessed = 0;
    HRESULT hr = S_OK;
    while (*nSamplesProcessed < nSamples && hr == S_OK) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr == S_OK) ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT PinBase::ReceiveCanBlock() {
    return S_OK;
}

HRESULT PinBase::Deliver(IMediaSample* sample) {
    IMemInputPin* transport = transport_.Get();
    return transport != nullptr ? transport->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT PinBase::GetDeliveryBuffer(IMediaSample** sample) {
    if (sample == nullptr) return E_POINTER;
    *sample = nullptr;
    if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT PinBase::Active() {
    com::ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard lock(mutex_);
        allocator = allocator_;
    }
    return allocator ? allocator->Commit() : S_OK;
}

void PinBase::Inactive() {
    com::ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard lock(mutex_);
        allocator = allocator_;
    }
    // Wakes a streaming thread waiting for a buffer.
    if (allocator) allocator->Decommit();
}

// ---- FilterBase ----

FilterBase::FilterBase(const CLSID& clsid) : clsid_(clsid) {}

FilterBase::~FilterBase() = default;

void* FilterBase::FindInterface(REFIID riid) {
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
        return static_cast<IBaseFilter*>(this);
    }
    return nullptr;
}

PinBase& FilterBase::AddPin(std::unique_ptr<PinBase> pin) {
    std::lock_guard lock(mutex_);
    pins_.push_back(std::move(pin));
    ++pin_version_;
    return *pins_.back();
}

std::vector<PinBase*> FilterBase::PinList() const {
    std::lock_guard lock(mutex_);
    std::vector<PinBase*> pins;
    for (const auto& pin : pins_) pins.push_back(pin.get());
    return pins;
}

PinBase* FilterBase::FirstPin(PIN_DIRECTION direction) const {
    for (PinBase* pin : PinList()) {
        if (pin->Direction() == direction) return pin;
    }
    return nullptr;
}

unsigned FilterBase::PinVersion() const {
    std::lock_guard lock(mutex_);
    return pin_version_;
}

std::size_t FilterBase::PinCount() const {
    std::lock_guard lock(mutex_);
    return pins_.size();
}

com::ComPtr<IPin> FilterBase::PinAt(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < pins_.size() ? com::ComPtr<IPin>(pins_[index].get()) : nullptr;
}

FILTER_STATE FilterBase::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

IFilterGraph* FilterBase::Graph() const {
    std::lock_guard lock(mutex_);
    return graph_;
}

std::wstring FilterBase::FilterName() const {
    std::lock_guard lock(mutex_);
    return name_;
}

HRESULT FilterBase::GetClassID(CLSID* pClassID) {
    if (pClassID == nullptr) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

void FilterBase::DecideBufferSize(const PinBase& pin, ALLOCATOR_PROPERTIES& props) {
    MediaType type = pin.ConnectedType();
    LONG size = static_cast<LONG>(type->lSampleSize);
    if (const VIDEOINFOHEADER* vih = type.VideoInfo()) {
        size = std::max(size, static_cast<LONG>(vih->bmiHeader.biSizeImage));
    }
    props.cBuffers = std::max<LONG>(props.cBuffers, 1);
    props.cbBuffer = std::max<LONG>({props.cbBuffer, size, 1});
    props.cbAlign = std::max<LONG>(props.cbAlign, 1);
}

HRESULT FilterBase::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State_Stopped) return S_OK;
    }
    // Outside the lock: stopping joins a streaming thread that may ask for the state.
    OnStop();
    for (PinBase* pin : PinList()) pin->Inactive();
    std::lock_guard lock(mutex_);
    state_ = State_Stopped;
    return S_OK;
}

HRESULT FilterBase::Pause() {
    FILTER_STATE was = State();
    if (was == State_Paused) return S_OK;
    if (was == State_Running) {
        // A live source sends nothing while paused: its streaming work stops.
        OnPause();
    } else {
        HRESULT hr = InitStream();
        if (FAILED(hr)) return hr;
    }
    std::lock_guard lock(mutex_);
    state_ = State_Paused;
    return S_OK;
}

HRESULT FilterBase::InitStream() {
    HRESULT hr = ActivatePins();
    if (FAILED(hr)) return hr;
    hr = OnInitStream();
    if (FAILED(hr)) {
        for (PinBase* pin : PinList()) pin->Inactive();
    }
    return hr;
}

// From stopped, run does the pause's work itself: the graph need not pause first. The start is
// the reference time that stream time 0 stands for.
HRESULT FilterBase::Run(REFERENCE_TIME tStart) {
    const FILTER_STATE was = State();
    if (was == State_Running) return S_OK;
    if (was == State_Stopped) {
        HRESULT hr = InitStream();
        if (FAILED(hr)) return hr;
    }
    {
        std::lock_guard lock(mutex_);
        // Connected by now: the state change publishes the connections to the work it starts.
        state_ = State_Running;
        stream_start_ = tStart;
    }
    const HRESULT hr = OnRun();
    if (FAILED(hr)) {
        if (was == State_Stopped) {
            for (PinBase* pin : PinList()) pin->Inactive();
        }
        std::lock_guard lock(mutex_);
        state_ = was;
    }
    return hr;
}

HRESULT FilterBase::ActivatePins() {
    const std::vector<PinBase*> pins = PinList();
    for (PinBase* pin : pins) {
        HRESULT hr = pin->Active();
        if (FAILED(hr)) {
            for (PinBase* other : pins) other->Inactive();
            return hr;
        }
    }
    return S_OK;
}

HRESULT FilterBase::GetState(DWORD, FILTER_STATE* State) {
    if (State == nullptr) return E_POINTER;
    *State = this->State();
    return *State == State_Paused && IsLiveSource() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* pClock) {
    std::lock_guard lock(mutex_);
    clock_ = com::ComPtr<IReferenceClock>(pClock);
    return S_OK;
}

com::ComPtr<IReferenceClock> FilterBase::Clock() const {
    std::lock_guard lock(mutex_);
    return clock_;
}

REFERENCE_TIME FilterBase::StreamStart() const {
    std::lock_guard lock(mutex_);
    return stream_start_;
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pClock = clock_.Get();
    if (*pClock != nullptr) (*pClock)->AddRef();
    return S_OK;
}

HRESULT FilterBase::QueryVendorInfo(LPWSTR* pVendorInfo) {
    return E_NOTIMPL;
}

HRESULT FilterBase::EnumPins(IEnumPins** ppEnum) {
    return CreatePinEnumerator(*this, ppEnum);
}

HRESULT FilterBase::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr) return E_POINTER;
    *ppPin = nullptr;
    for (PinBase* pin : PinList()) {
        if (pin->Name() == Id) {
            *ppPin = pin;
            pin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    CopyName(name_, pInfo->achName, MAX_FILTER_NAME);
    pInfo->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    std::lock_guard lock(mutex_);
    graph_ = pGraph;
    name_ = pGraph != nullptr && pName != nullptr ? pName : L"";
    return S_OK;
}

}  // namespace zrf::dshow
