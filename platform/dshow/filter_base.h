#pragma once
// The filter and pin machinery of the stand-in's filters and of the simulated cameras' source
// filter (which builds against the platform's own headers too). Pins count references on
// their filter (a held pin keeps its filter alive); connected pins hold a counted reference on
// each other, which the graph breaks when it disconnects them. An output pin agrees an
// allocator with its peer's transport (IMemInputPin) at connection, as the platform's pins
// do, commits it while the filter is paused or running, and delivers through the peer's
// Receive, synchronously on the delivering thread.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dshow/media_type.h"

// For classes that add interfaces next to a base that already counts references.
#define ZRF_COM_FORWARD_UNKNOWN(Base)                          \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { \
        return Base::QueryInterface(riid, ppv);                \
    }                                                          \
    ULONG AddRef() override {                                  \
        return Base::AddRef();                                 \
    }                                                          \
    ULONG Release() override {                                 \
        return Base::Release();                                \
    }

namespace zrf::dshow {

class FilterBase;

// True when every field the pattern names (non-null) equals the candidate's.
bool MediaTypeMatches(const AM_MEDIA_TYPE& pattern, const AM_MEDIA_TYPE& candidate);
bool IsFullySpecified(const AM_MEDIA_TYPE& mt);

// An input pin is also the transport for its peer (IMemInputPin): it has no allocator of its
// own to offer (VFW_E_NO_ALLOCATOR until told one), states no requirements (E_NOTIMPL) and
// hands each sample to its filter on the delivering thread.
class PinBase : public IPin, public IMemInputPin {
  public:
    PinBase(FilterBase& owner, PIN_DIRECTION direction, std::wstring name,
            const GUID& category = GUID_NULL);
    virtual ~PinBase();
    PinBase(const PinBase&) = delete;
    PinBase& operator=(const PinBase&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                            LONG* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override;

    PIN_DIRECTION Direction() const { return direction_; }
    const GUID& Category() const { return category_; }
    const std::wstring& Name() const { return name_; }
    FilterBase& Owner() const { return owner_; }
    bool IsConnected() const;
    // The connection's media type (empty when not connected).
    MediaType ConnectedType() const;
    // The types the pin proposes now, preferred first.
    std::vector<MediaType> OfferedTypes() const;
    // Hands a sample to the connected input pin on the calling thread. The connection does
    // not change while the filters run, so this path takes no lock.
    HRESULT Deliver(IMediaSample* sample);
    // A free sample of the agreed allocator; waits for one. Fails once the allocator is
    // decommitted (the filter stopping).
    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    // The filter leaves or enters the stopped state: commits or decommits the allocator.
    HRESULT Active();
    void Inactive();

  protected:
    // Interfaces a pin adds (stream configuration, property sets...), or null.
    virtual void* FindExtraInterface(REFIID riid) { return nullptr; }

  private:
    HRESULT TryConnect(IPin* receive, const AM_MEDIA_TYPE& mt);
    void SetConnection(IPin* peer, const AM_MEDIA_TYPE& mt);
    void ClearConnection();
    HRESULT DecideAllocator(IPin* receive);

    FilterBase& owner_;
    const PIN_DIRECTION direction_;
    const std::wstring name_;
    const GUID category_;
    mutable std::mutex mutex_;
    com::ComPtr<IPin> peer_;
    MediaType connected_type_;
    // Set while connected to a peer with a transport; fixed while the filter runs.
    com::ComPtr<IMemInputPin> transport_;
    com::ComPtr<IMemAllocator> allocator_;
    // An input pin's: the allocator its peer told it.
    com::ComPtr<IMemAllocator> notified_;
};

class FilterBase : public com::ComObject<IBaseFilter> {
  public:
    explicit FilterBase(const CLSID& clsid);
    ~FilterBase() override;

    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;

    // Whether the pin can connect with this type.
    virtual HRESULT CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) = 0;
    // The types the pin proposes, preferred first.
    virtual void GetMediaTypes(const PinBase& pin, std::vector<MediaType>& out) {}
    virtual void OnConnected(PinBase& pin) {}
    virtual void OnDisconnected(PinBase& pin) {}
    // The buffers an output pin asks its allocator for; `props` holds the peer's wishes
    // (zeros where it has none). By default one buffer of the connection's sample size.
    virtual void DecideBufferSize(const PinBase& pin, ALLOCATOR_PROPERTIES& props);
    // An allocator of the filter's own for an output pin, tried before the peer's; none by
    // default. The peer learns it through NotifyAllocator, as it would any other.
    virtual com::ComPtr<IMemAllocator> OwnAllocator(const PinBase& pin) { return {}; }
    // A sample arriving on an input pin, on the delivering thread.
    virtual HRESULT Receive(PinBase& input, IMediaSample* sample) { return S_OK; }

    PinBase* FirstPin(PIN_DIRECTION direction) const;
    // What pin enumerators read: the pins change (a filter learning its device when loaded)
    // under a new version.
    unsigned PinVersion() const;
    std::size_t PinCount() const;
    com::ComPtr<IPin> PinAt(std::size_t index) const;
    FILTER_STATE State() const;
    IFilterGraph* Graph() const;
    std::wstring FilterName() const;
    // The clock the graph gave the filter (null without one) and the reference time the stream
    // started at in the last Run; a sample's times are stream times, relative to that start.
    com::ComPtr<IReferenceClock> Clock() const;
    REFERENCE_TIME StreamStart() const;

  protected:
    // Stopped to paused or running, before the state changes.
    virtual HRESULT OnInitStream() { return S_OK; }
    // Start and stop the filter's own work (a source's streaming thread). A failing start
    // leaves the filter in the state it was in, as the platform's filters stay.
    virtual HRESULT OnRun() { return S_OK; }
    virtual void OnStop() {}
    // Running to paused: the work stops, but is not waited for (it may be held in a downstream
    // Receive that only the renderer's stop or run releases).
    virtual void OnPause() {}
    // An input pin told to flush, and told that the flush has ended.
    virtual void OnBeginFlush(PinBase& input) {}
    virtual void OnEndFlush(PinBase& input) {}
    friend class PinBase;
    // A live source cannot cue data while paused: it says so from GetState.
    virtual bool IsLiveSource() const { return false; }
    // Pins are added, never removed: a pin lives as long as its filter.
    PinBase& AddPin(std::unique_ptr<PinBase> pin);
    void* FindInterface(REFIID riid) override;

  private:
    HRESULT ActivatePins();
    HRESULT InitStream();
    std::vector<PinBase*> PinList() const;

    const CLSID clsid_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<PinBase>> pins_;
    unsigned pin_version_ = 0;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph owns the filter
    std::wstring name_;
    com::ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME stream_start_ = 0;
};

// Creates a filter class instance and returns the requested interface; for registrations.
template <class Filter>
HRESULT CreateFilterInstance(REFIID riid, void** ppv) {
    auto filter = com::MakeCom<Filter>();
    return filter->QueryInterface(riid, ppv);
}

// Copies a wide string into a fixed platform buffer, always terminated.
void CopyName(const std::wstring& from, WCHAR* to, std::size_t capacity);

}  // namespace zrf::dshow
