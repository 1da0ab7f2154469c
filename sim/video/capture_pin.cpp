#include "sim/video/capture_source_filter.h"
#include "sim/video/format_blocks.h"

namespace zrf::sim {

CapturePin::CapturePin(CaptureSourceFilter& filter, std::shared_ptr<SimulatedVideoDevice> device)
    : PinBase(filter, PINDIR_OUTPUT, L"Capture", PIN_CATEGORY_CAPTURE),
      filter_(filter),
      device_(std::move(device)) {}

void* CapturePin::FindExtraInterface(REFIID riid) {
    if (riid == IID_IAMStreamConfig) return static_cast<IAMStreamConfig*>(this);
    if (riid == IID_IKsPropertySet) return static_cast<IKsPropertySet*>(this);
    if (riid == IID_IAMDroppedFrames && !device_->Settings().should_omit_dropped_frames) {
        return static_cast<IAMDroppedFrames*>(this);
    }
    return nullptr;
}

// As the platform's capture filters do: only while stopped; on a connected pin the peer must
// accept the type, and the pin reconnects with it (it then offers only that type).
HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    if (filter_.State() != State_Stopped) return VFW_E_NOT_STOPPED;
    com::ComPtr<IPin> peer;
    const bool connected = SUCCEEDED(ConnectedTo(peer.Receive())) && peer;
    if (connected && peer->QueryAccept(pmt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    HRESULT hr = filter_.ApplyFormat(*pmt);
    if (FAILED(hr) || !connected) return hr;
    IFilterGraph* graph = filter_.Graph();
    return graph != nullptr ? graph->Reconnect(this) : VFW_E_NOT_IN_GRAPH;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (ppmt == nullptr) return E_POINTER;
    dshow::MediaType current = filter_.CurrentType();
    if (current->majortype == GUID_NULL) {
        *ppmt = nullptr;
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    *ppmt = CreateMediaType(&current.Get());
    return *ppmt != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    if (piCount == nullptr || piSize == nullptr) return E_POINTER;
    *piCount = static_cast<int>(device_->Settings().formats.size());
    *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    if (ppmt == nullptr || pSCC == nullptr) return E_POINTER;
    const auto& formats = device_->Settings().formats;
    if (iIndex < 0 || static_cast<std::size_t>(iIndex) >= formats.size()) return S_FALSE;
    const VideoFormat& format = formats[static_cast<std::size_t>(iIndex)];
    dshow::MediaType type = MediaTypeFor(format);
    *ppmt = CreateMediaType(&type.Get());
    if (*ppmt == nullptr) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps = CapsFor(format);
    std::memcpy(pSCC, &caps, sizeof caps);
    return S_OK;
}

HRESULT CapturePin::GetNumDropped(LONG* plDropped) {
    if (plDropped == nullptr) return E_POINTER;
    *plDropped = device_->DroppedFrames();
    return S_OK;
}

HRESULT CapturePin::GetNumNotDropped(LONG* plNotDropped) {
    if (plNotDropped == nullptr) return E_POINTER;
    *plNotDropped = static_cast<LONG>(device_->FramesDelivered());
    return S_OK;
}

HRESULT CapturePin::GetDroppedInfo(LONG lSize, LONG* plArray, LONG* plNumCopied) {
    if (plArray == nullptr || plNumCopied == nullptr) return E_POINTER;
    *plNumCopied = 0;  // the device keeps no list of which frames it dropped
    return S_OK;
}

HRESULT CapturePin::GetAverageFrameSize(LONG* plAverageSize) {
    if (plAverageSize == nullptr) return E_POINTER;
    dshow::MediaType type = filter_.CurrentType();
    *plAverageSize = static_cast<LONG>(type->lSampleSize);
    return S_OK;
}

}  // namespace zrf::sim
