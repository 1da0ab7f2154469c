// Running and stopping the graph, the frame-rate list and the frame rate, and the sample path.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "capture/capture_ids.h"
#include "capture/graph_helpers.h"
#include "capture/mtx_graph.h"
#include "capture/my_grab_cb.h"
#include "imaging/img_src_stream.h"

using zrf::capture::VideoInfoOf;

namespace {

constexpr double kIntervalUnitsPerSecond = 10'000'000.0;
constexpr double kFallbackFrameRate = 10.0;
// How long the capture source may take to reach the running state after the graph's Run.
constexpr DWORD kRunSettleMs = 2000;
// Capability counts come from the driver: a bound keeps a broken one from running forever.
constexpr int kMaxCapabilities = 1024;

// A rate cut down to one decimal, in the precision the list keeps.
float CameraRate(LONGLONG interval) {
    const float rate = static_cast<float>(kIntervalUnitsPerSecond / static_cast<double>(interval));
    return std::floor(rate * 10.0f) / 10.0f;
}

// A rate cut down to two decimals.
float Trunc2(double rate) {
    const float hundredths = static_cast<float>(rate) * 100.0f;
    const float limited = std::min(hundredths, 2147483520.0f);  // the largest float below 2^31
    return static_cast<float>(static_cast<std::int32_t>(limited)) / 100.0f;
}

}  // namespace

void CMtxGraph::FillFrameRates() {
    if (!FillCameraFrameRates()) FillDerivedFrameRates();
}

// The camera's own list: KSMULTIPLE_ITEM (size, count) followed by 64-bit frame intervals.
bool CMtxGraph::FillCameraFrameRates() {
    ComPtr<IKsPropertySet> properties;
    if (FAILED(FindCaptureInterface(IID_IKsPropertySet, properties.ReceiveVoid()))) return false;
    DWORD support = 0;
    if (FAILED(properties->QuerySupported(PROPSETID_VIDCAP_VIDEOCONTROL,
                                          KSPROPERTY_VIDEOCONTROL_FRAME_RATES, &support)) ||
        (support & KSPROPERTY_SUPPORT_GET) == 0) {
        return false;
    }
    BYTE instance[40] = {};
    BYTE reply[zrf::capture::kFrameRateReplySize] = {};
    DWORD returned = 0;
    if (FAILED(properties->Get(PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_FRAME_RATES,
                               instance, sizeof instance, reply, sizeof reply, &returned))) {
        return false;
    }
    frameRates.clear();
    // The count is the driver's word: only intervals inside what it returned are read.
    const std::size_t valid = std::min<std::size_t>(returned, sizeof reply);
    const std::size_t fit = valid > 8 ? (valid - 8) / sizeof(LONGLONG) : 0;
    const std::size_t count = std::min<std::size_t>(zrf::capture::ReadWord(reply, 4), fit);
    for (std::size_t i = 0; i < count; ++i) {
        LONGLONG interval = 0;
        std::memcpy(&interval, reply + 8 + i * sizeof interval, sizeof interval);
        if (interval > 0) frameRates.push_back(CameraRate(interval));
    }
    return !frameRates.empty();
}

// Derived from the stream capabilities of the current subtype: the fastest rate, halved
// down to the slowest.
void CMtxGraph::FillDerivedFrameRates() {
    ComPtr<IAMStreamConfig> config;
    if (FAILED(FindCaptureInterface(IID_IAMStreamConfig, config.ReceiveVoid(), nullptr))) return;
    int count = 0;
    int size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)) ||
        size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) {
        return;
    }
    count = std::min(count, kMaxCapabilities);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* offered = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        const HRESULT hr = config->GetStreamCaps(i, &offered, reinterpret_cast<BYTE*>(&caps));
        MediaType type = MediaType::Adopt(offered);
        if (FAILED(hr) || offered == nullptr || type->subtype != currentType.subtype) continue;
        // Intervals of 0 or less, or so long that the rate rounds to 0, give no usable range.
        if (caps.MinFrameInterval <= 0 || caps.MaxFrameInterval <= 0) continue;
        const float maximum = Trunc2(kIntervalUnitsPerSecond / caps.MinFrameInterval);
        const float minimum = Trunc2(kIntervalUnitsPerSecond / caps.MaxFrameInterval);
        if (!(maximum > 0.0f) || !(minimum > 0.0f)) continue;
        maxFrameRate = maximum;
        minFrameRate = minimum;
        frameRates.clear();
        frameRates.push_back(maximum);
        // Ends: every step at least halves v, and the minimum is at least 0.01.
        for (float v = maximum * 0.5f; v >= minimum; v = Trunc2(v) * 0.5f) {
            frameRates.push_back(Trunc2(v));
        }
    }
}

HRESULT CMtxGraph::Run() {
    if (!graphBuilder) return E_FAIL;
    ComPtr<IMediaControl> control;
    HRESULT hr = graphBuilder.As(IID_IMediaControl, control);
    if (FAILED(hr)) return hr;
    ComPtr<ISampleGrabber> sampleGrabber;
    if (grabber && SUCCEEDED(grabber.As(IID_ISampleGrabber, sampleGrabber))) {
        if (!sampleCallback) sampleCallback = std::make_unique<CMyGrabCB>(this);
        sampleGrabber->SetCallback(sampleCallback.get(), 0);
    }
    // Every run stamps from a fresh base, at the rate read before the first sample can come;
    // the stream keeps its stamps going forward.
    GetFrameRate();
    if (imageStream != nullptr) imageStream->RestartClock();
    RunWithoutReferenceClock();
    hr = control->Run();
    if (SUCCEEDED(hr)) hr = SourceRunResult();
    if (FAILED(hr)) {
        // The platform leaves a failed Run as far as it got: the graph running, or still stopped
        // with some filters paused, which its Stop does not touch. Pausing brings every filter
        // into the graph's state, so that Stop reaches them all.
        control->Pause();
        control->Stop();
        return hr;
    }
    return S_OK;
}

// Samples are stamped by the stream's own clock and go out as they come: a graph clock would
// only hold the preview back, and its advise thread ties the graph's release to it (Wine's
// waits for that thread on release). A graph without the interface runs as it is.
void CMtxGraph::RunWithoutReferenceClock() {
    ComPtr<IMediaFilter> graphFilter;
    if (SUCCEEDED(graphBuilder.As(IID_IMediaFilter, graphFilter))) graphFilter->SetSyncSource(nullptr);
}

// Whether the capture source runs after the graph's Run said it does. A graph may report a run
// before its filters have run (S_FALSE), or not report a filter's failure at all (Wine's): a
// source that is not running is asked itself why, for the code the host is told.
HRESULT CMtxGraph::SourceRunResult() {
    if (!captureSource) return S_OK;
    FILTER_STATE state = State_Stopped;
    if (FAILED(captureSource->GetState(kRunSettleMs, &state)) || state == State_Running) return S_OK;
    const HRESULT why = captureSource->Run(0);
    return FAILED(why) ? why : E_FAIL;
}

// The graph stops first: once it has, no sample call is in progress or starts. Only then may
// the grabber let go of the callback; the platform's grabber does not wait for a call in
// progress, and reads the callback without a lock while it delivers.
HRESULT CMtxGraph::Stop() {
    if (!graphBuilder) return E_FAIL;
    ComPtr<IMediaControl> control;
    HRESULT hr = graphBuilder.As(IID_IMediaControl, control);
    if (FAILED(hr)) return hr;
    hr = control->Stop();
    ComPtr<ISampleGrabber> sampleGrabber;
    if (grabber && SUCCEEDED(grabber.As(IID_ISampleGrabber, sampleGrabber))) {
        sampleGrabber->SetCallback(nullptr, 0);
    }
    return hr;
}

HRESULT CMtxGraph::SetFrameRate(double rate) {
    if (std::isnan(rate)) rate = minFrameRate;
    if (rate >= maxFrameRate) {
        rate = maxFrameRate;
    } else if (rate <= minFrameRate) {
        rate = minFrameRate;
    }
    if (!(rate > 0.0)) return E_INVALIDARG;  // both limits are positive; kept for safety

    ComPtr<IAMStreamConfig> config;
    HRESULT hr = FindCaptureInterface(IID_IAMStreamConfig, config.ReceiveVoid());
    if (FAILED(hr)) return hr;
    VIDEOINFOHEADER* info = VideoInfoOf(currentType);
    if (info == nullptr) return hr;

    const REFERENCE_TIME previous = info->AvgTimePerFrame;
    info->AvgTimePerFrame = static_cast<REFERENCE_TIME>((1.0 / rate) * kIntervalUnitsPerSecond);
    // A capture pin refuses a new format while the graph runs: the camera keeps its rate, and
    // the stream must not be told another.
    hr = config->SetFormat(&currentType);
    if (FAILED(hr)) {
        info->AvgTimePerFrame = previous;
        return hr;
    }
    AM_MEDIA_TYPE* applied = nullptr;
    hr = config->GetFormat(&applied);
    if (SUCCEEDED(hr)) {
        MediaType device = MediaType::Adopt(applied);
        if (const VIDEOINFOHEADER* deviceInfo = VideoInfoOf(device.Get())) {
            info->AvgTimePerFrame = deviceInfo->AvgTimePerFrame;
        }
    }
    // The stream stamps at the rate the camera took, not the one asked for.
    PassFrameRateToStream(info->AvgTimePerFrame > 0
                              ? kIntervalUnitsPerSecond / static_cast<double>(info->AvgTimePerFrame)
                              : rate);
    return hr;
}

double CMtxGraph::GetFrameRate() {
    if (!captureBuilder) return kFallbackFrameRate;
    ComPtr<IAMStreamConfig> config;
    if (FAILED(FindCaptureInterface(IID_IAMStreamConfig, config.ReceiveVoid()))) {
        return kFallbackFrameRate;
    }
    AM_MEDIA_TYPE* format = nullptr;
    const HRESULT hr = config->GetFormat(&format);
    MediaType current = MediaType::Adopt(format);
    if (FAILED(hr)) return kFallbackFrameRate;
    const VIDEOINFOHEADER* info = VideoInfoOf(current.Get());
    if (info == nullptr || info->AvgTimePerFrame <= 0) return kFallbackFrameRate;
    // The caller reads the rate cut to one decimal, as the list holds it; the stream stamps
    // at the exact one (a 29.97 Hz camera would otherwise run ahead of a 29.9 Hz clock).
    const double exact = kIntervalUnitsPerSecond / static_cast<double>(info->AvgTimePerFrame);
    PassFrameRateToStream(exact);
    return std::floor(exact * 10.0) / 10.0;
}

void CMtxGraph::PassFrameRateToStream(double rate) {
    if (imageStream != nullptr) imageStream->SetFrameRate(static_cast<float>(rate));
}

HRESULT CMtxGraph::GetDroppedFrames(LONG* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    if (!droppedFrames) return E_FAIL;
    return droppedFrames->GetNumDropped(count);
}

// The streaming thread: the sample's own buffer goes to the stream, valid during the call.
void CMtxGraph::OnSample(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (imageStream == nullptr || FAILED(sample->GetPointer(&data)) || data == nullptr) return;
    // The valid length never exceeds the buffer's size.
    const LONG length =
        std::max<LONG>(0, std::min(sample->GetActualDataLength(), sample->GetSize()));
    imageStream->OnNewSample(data, length, imageSize);
}
