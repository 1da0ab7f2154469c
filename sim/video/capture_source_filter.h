#pragma once
// The capture filter of a simulated device: one capture pin (stream configuration, property
// sets, dropped-frame statistics) and, on the filter, tape transport, topology and node
// properties. Running starts a streaming thread that fills a sample of the allocator agreed with
// the peer from the sample source and delivers it, paced at the current frame interval. Builds
// against the platform's own headers too, for the simulated cameras' source filter.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dshow/filter_base.h"
#include "platform/dshow/media_sample.h"
#include "sim/video/frame_pacer.h"
#include "sim/video/sample_glitches.h"
#include "sim/video/simulated_video_device.h"

namespace zrf::sim {

class CaptureSourceFilter;

// The maker's property set and the extension unit's property set.
inline constexpr GUID PROPSETID_MakerCamera = {
    0xFFC75AED, 0x46D5, 0x44E6, {0x86, 0x3C, 0x3B, 0x6C, 0x6C, 0x49, 0x09, 0xE9}};
inline constexpr GUID PROPSETID_MakerExtensionUnit = {
    0xFA591FD4, 0x9450, 0x3A46, {0xB3, 0xBB, 0xE7, 0x85, 0x8A, 0x83, 0x1F, 0xA3}};
// The class of the simulated capture filters (the platform's drivers have their own).
inline constexpr CLSID CLSID_SimulatedCaptureFilter = {
    0x5A1D3C60, 0x2B7E, 0x4E19, {0x8F, 0x0A, 0x31, 0x6C, 0x92, 0x4D, 0xE0, 0x17}};
constexpr ULONG kMailboxControl = 1;
constexpr std::size_t kMailboxSize = 256;

class CapturePin final : public dshow::PinBase,
                         public IAMStreamConfig,
                         public IKsPropertySet,
                         public IAMDroppedFrames {
  public:
    CapturePin(CaptureSourceFilter& filter, std::shared_ptr<SimulatedVideoDevice> device);
    ZRF_COM_FORWARD_UNKNOWN(dshow::PinBase)

    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) override;
    HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                LPVOID pPropData, DWORD cbPropData) override;
    HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) override;
    HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    HRESULT GetNumDropped(LONG* plDropped) override;
    HRESULT GetNumNotDropped(LONG* plNotDropped) override;
    HRESULT GetDroppedInfo(LONG lSize, LONG* plArray, LONG* plNumCopied) override;
    HRESULT GetAverageFrameSize(LONG* plAverageSize) override;

  protected:
    void* FindExtraInterface(REFIID riid) override;

  private:
    HRESULT GetCategory(DWORD id, LPVOID data, DWORD size, DWORD* returned);
    HRESULT GetFrameRates(LPVOID data, DWORD size, DWORD* returned);
    HRESULT GetMakerProperty(DWORD id, const BYTE* instance, DWORD instance_size, BYTE* data,
                             DWORD size, DWORD* returned);

    CaptureSourceFilter& filter_;
    std::shared_ptr<SimulatedVideoDevice> device_;
};

// Tape transport is served to the stand-in only: the platform's transport interface has
// thirty members, and no Windows check drives a tape.
class CaptureSourceFilter : public dshow::FilterBase,
#ifndef _WIN32
                            public IAMExtTransport,
#endif
                            public IKsTopologyInfo,
                            public IKsControl {
  public:
    // A null device: one is attached later (a registered filter learns its camera when its
    // property bag is loaded); until then the filter has no pin.
    explicit CaptureSourceFilter(std::shared_ptr<SimulatedVideoDevice> device);
    ~CaptureSourceFilter() override;
    ZRF_COM_FORWARD_UNKNOWN(dshow::FilterBase)

#ifndef _WIN32
    HRESULT GetTransportBasicParameters(LONG Param, LONG* pValue, LPOLESTR* ppszData) override;
    HRESULT get_Mode(LONG* pMode) override;
    HRESULT put_Mode(LONG Mode) override;
#endif

    HRESULT get_NumNodes(DWORD* pdwNumNodes) override;
    HRESULT get_NodeType(DWORD dwNodeId, GUID* pNodeType) override;

    HRESULT KsProperty(PKSPROPERTY Property, ULONG PropertyLength, LPVOID PropertyData,
                       ULONG DataLength, ULONG* BytesReturned) override;

#ifdef _WIN32
    // Members of the platform's interfaces that the stand-in leaves out; none is served.
    HRESULT get_NumCategories(DWORD* pdwNumCategories) override;
    HRESULT get_Category(DWORD dwIndex, GUID* pCategory) override;
    HRESULT get_NumConnections(DWORD* pdwNumConnections) override;
    HRESULT get_ConnectionInfo(DWORD dwIndex, void* pConnectionInfo) override;
    HRESULT get_NodeName(DWORD dwNodeId, WCHAR* pwchNodeName, DWORD dwBufSize,
                         DWORD* pdwNameLen) override;
    HRESULT CreateNodeInstance(DWORD dwNodeId, REFIID iid, void** ppvObject) override;
    HRESULT KsMethod(PKSMETHOD Method, ULONG MethodLength, LPVOID MethodData, ULONG DataLength,
                     ULONG* BytesReturned) override;
    HRESULT KsEvent(PKSEVENT Event, ULONG EventLength, LPVOID EventData, ULONG DataLength,
                    ULONG* BytesReturned) override;
#endif

    HRESULT CheckMediaType(const dshow::PinBase& pin, const AM_MEDIA_TYPE& mt) override;
    void GetMediaTypes(const dshow::PinBase& pin, std::vector<dshow::MediaType>& out) override;
    void OnConnected(dshow::PinBase& pin) override;
    void DecideBufferSize(const dshow::PinBase& pin, ALLOCATOR_PROPERTIES& props) override;
    com::ComPtr<IMemAllocator> OwnAllocator(const dshow::PinBase& pin) override;

    // The type the pin streams (the connection's, else the one set, else the first offered),
    // with the current frame interval.
    dshow::MediaType CurrentType() const;
    HRESULT ApplyFormat(const AM_MEDIA_TYPE& type);
    const VideoDeviceSettings& Settings() const { return device_->Settings(); }

  protected:
    void AttachDevice(std::shared_ptr<SimulatedVideoDevice> device);
    void* FindInterface(REFIID riid) override;
    HRESULT OnInitStream() override;
    HRESULT OnRun() override;
    void OnStop() override;
    void OnPause() override;
    bool IsLiveSource() const override;

  private:
    void Stream();
    bool Gone(long streamed) const;
    void CountSkippedBeforeStop(const FramePacer& pacer, long streamed);
    void Misbehave(std::size_t& length) const;
    void Glitch(SampleGlitches& glitches, BYTE* data, std::size_t& length);
    DWORD ExtensionUnitNode() const;

    std::shared_ptr<SimulatedVideoDevice> device_;
    CapturePin* pin_ = nullptr;

    mutable std::mutex format_mutex_;
    const VideoFormat* format_ = nullptr;
    bool format_set_ = false;  // by SetFormat: the pin offers only this format from then on
    std::atomic<REFERENCE_TIME> interval_{0};

    dshow::MediaType streaming_type_;
    std::shared_ptr<SampleSource> source_;
    com::ComPtr<IReferenceClock> run_clock_;
    REFERENCE_TIME run_start_ = 0;
    StopSignal stop_;
    std::thread thread_;
};

}  // namespace zrf::sim
