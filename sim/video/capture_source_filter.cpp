#include "sim/video/capture_source_filter.h"

#include <algorithm>

#include "platform/dshow/memory_allocator.h"
#include "sim/video/format_blocks.h"

namespace zrf::sim {

CaptureSourceFilter::CaptureSourceFilter(std::shared_ptr<SimulatedVideoDevice> device)
    : FilterBase(CLSID_SimulatedCaptureFilter) {
    if (device) AttachDevice(std::move(device));
}

CaptureSourceFilter::~CaptureSourceFilter() {
    OnStop();
}

void CaptureSourceFilter::AttachDevice(std::shared_ptr<SimulatedVideoDevice> device) {
    device_ = std::move(device);
    pin_ = static_cast<CapturePin*>(&AddPin(std::make_unique<CapturePin>(*this, device_)));
    const auto& formats = device_->Settings().formats;
    if (!formats.empty()) {
        format_ = &formats.front();
        interval_.store(NearestInterval(*format_, 0));
    }
}

bool CaptureSourceFilter::IsLiveSource() const {
    return pin_ != nullptr && pin_->IsConnected();
}

void* CaptureSourceFilter::FindInterface(REFIID riid) {
    if (!device_) return FilterBase::FindInterface(riid);
    const VideoDeviceSettings& s = device_->Settings();
#ifndef _WIN32
    if (riid == IID_IAMExtTransport && s.transport) return static_cast<IAMExtTransport*>(this);
#endif
    if (riid == IID_IKsTopologyInfo && s.extension_unit) return static_cast<IKsTopologyInfo*>(this);
    if (riid == IID_IKsControl && s.extension_unit) return static_cast<IKsControl*>(this);
    return FilterBase::FindInterface(riid);
}

HRESULT CaptureSourceFilter::CheckMediaType(const dshow::PinBase&, const AM_MEDIA_TYPE& mt) {
    return FindFormat(Settings().formats, mt) != nullptr ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void CaptureSourceFilter::GetMediaTypes(const dshow::PinBase&, std::vector<dshow::MediaType>& out) {
    {
        std::lock_guard lock(format_mutex_);
        if (format_set_) {
            out.push_back(MediaTypeFor(*format_, interval_.load()));
            return;
        }
    }
    for (const VideoFormat& format : Settings().formats) out.push_back(MediaTypeFor(format));
}

void CaptureSourceFilter::OnConnected(dshow::PinBase& pin) {
    dshow::MediaType type = pin.ConnectedType();
    const VideoFormat* format = FindFormat(Settings().formats, type.Get());
    if (format == nullptr) return;
    std::lock_guard lock(format_mutex_);
    format_ = format;
    const VIDEOINFOHEADER* vih = type.VideoInfo();
    interval_.store(NearestInterval(*format, vih != nullptr ? vih->AvgTimePerFrame : 0));
}

// Room for the largest sample the source writes for the type, which may pass the image size.
void CaptureSourceFilter::DecideBufferSize(const dshow::PinBase& pin, ALLOCATOR_PROPERTIES& props) {
    FilterBase::DecideBufferSize(pin, props);
    dshow::MediaType type = pin.ConnectedType();
    std::size_t capacity = std::max(device_->Source()->Capacity(type.Get()), ImageSizeOf(type.Get()));
    capacity = std::min<std::size_t>(capacity, 0x7FFFFFFF);
    props.cbBuffer = std::max(props.cbBuffer, static_cast<LONG>(capacity));
}

// Its own samples, as a camera driver's are: a platform's allocator may cost a kernel call per
// sample (Wine's waits on a semaphore in every GetBuffer), which a camera never pays.
com::ComPtr<IMemAllocator> CaptureSourceFilter::OwnAllocator(const dshow::PinBase&) {
    return com::ComPtr<IMemAllocator>(com::MakeCom<dshow::MemoryAllocator>().Get());
}

dshow::MediaType CaptureSourceFilter::CurrentType() const {
    std::lock_guard lock(format_mutex_);
    if (format_ == nullptr) return dshow::MediaType();
    return MediaTypeFor(*format_, interval_.load());
}

HRESULT CaptureSourceFilter::ApplyFormat(const AM_MEDIA_TYPE& type) {
    const VideoFormat* format = FindFormat(Settings().formats, type);
    if (format == nullptr) return VFW_E_INVALIDMEDIATYPE;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    std::lock_guard lock(format_mutex_);
    format_ = format;
    format_set_ = true;
    interval_.store(NearestInterval(*format, vih->AvgTimePerFrame));
    return S_OK;
}

HRESULT CaptureSourceFilter::OnInitStream() {
    return device_ ? Settings().should_fail_pause_with : S_OK;
}

HRESULT CaptureSourceFilter::OnRun() {
    if (!device_) return S_OK;  // not loaded: no pin, nothing to send
    const VideoDeviceSettings& s = Settings();
    if (FAILED(s.should_fail_run_with)) return s.should_fail_run_with;
    if (!pin_->IsConnected()) return S_OK;  // nothing to deliver to
    // A run after a pause: the thread the pause asked to end has ended or ends now.
    if (thread_.joinable()) {
        thread_.join();
        device_->EndStreaming(this);
    }
    HRESULT hr = device_->BeginStreaming(this);
    if (FAILED(hr)) return hr;
    // Everything the thread needs is set up here, so it allocates nothing per sample.
    streaming_type_ = pin_->ConnectedType();
    source_ = device_->Source();
    run_clock_ = Clock();
    run_start_ = StreamStart();
    stop_.SetTime(Settings().time);
    stop_.Reset();
    thread_ = std::thread([this] { Stream(); });
    return S_OK;
}

void CaptureSourceFilter::OnPause() {
    if (thread_.joinable()) stop_.Request();
}

void CaptureSourceFilter::OnStop() {
    if (!thread_.joinable()) return;
    stop_.Request();
    // A thread waiting for a free buffer wakes when the allocator is decommitted.
    if (pin_ != nullptr) pin_->Inactive();
    thread_.join();
    run_clock_.Reset();
    device_->EndStreaming(this);
    // A camera that was unplugged mid-stream is plugged in again once its stream is let go.
    if (Settings().should_return_after_disappearing) device_->Reappear();
}

void CaptureSourceFilter::Misbehave(std::size_t& length) const {
    const VideoDeviceSettings& s = Settings();
    if (s.should_truncate_samples_to >= 0) {
        length = std::min(length, static_cast<std::size_t>(s.should_truncate_samples_to));
    }
}

// Unplugged on request, or once the source has sent all it has: nothing is left to drop.
bool CaptureSourceFilter::Gone(long streamed) const {
    const VideoDeviceSettings& s = Settings();
    return (s.should_disappear_after_frames >= 0 && streamed >= s.should_disappear_after_frames) ||
           source_->Exhausted();
}

void CaptureSourceFilter::CountSkippedBeforeStop(const FramePacer& pacer, long streamed) {
    if (Gone(streamed)) return;
    const FramePacer::Dropped dropped = pacer.SkippedBeforeStop(stop_);
    device_->CountSkipped(dropped.frames);
    device_->CountStalled(dropped.stalled);
}

void CaptureSourceFilter::Glitch(SampleGlitches& glitches, BYTE* data, std::size_t& length) {
    switch (glitches.Apply(streaming_type_.Get(), *source_, data, length)) {
        case SampleGlitches::Kind::CutShort: device_->CountCutShort(); break;
        case SampleGlitches::Kind::Damaged: device_->CountDamaged(); break;
        case SampleGlitches::Kind::None: break;
    }
}

void CaptureSourceFilter::Stream() {
    const VideoDeviceSettings& s = Settings();
    FramePacer pacer(device_->CurrentPacing(), s.imperfections, s.time);
    SampleGlitches glitches(s.imperfections);
    long streamed = 0;
    while (true) {
        REFERENCE_TIME interval = interval_.load();
        const bool due = pacer.WaitForNextFrame(interval, stop_);
        const bool gone = Gone(streamed);
        if (!gone && pacer.LastSkipped() > 0) {
            device_->CountSkipped(pacer.LastSkipped());
            device_->CountStalled(pacer.LastStalled());
        }
        if (!due) break;
        if (gone) {
            device_->Disappear();
            break;
        }
        // A sample of the agreed allocator; none once it is decommitted (the filter stopping).
        com::ComPtr<IMediaSample> sample;
        BYTE* data = nullptr;
        if (FAILED(pin_->GetDeliveryBuffer(sample.Receive())) || !sample ||
            FAILED(sample->GetPointer(&data)) || data == nullptr || sample->GetSize() <= 0) {
            CountSkippedBeforeStop(pacer, streamed);  // a stop came while it waited for a buffer
            break;
        }
        // The capture's time, before the frame is filled.
        REFERENCE_TIME captured = 0;
        const bool stamped = run_clock_ && SUCCEEDED(run_clock_->GetTime(&captured));
        const auto capacity = static_cast<std::size_t>(sample->GetSize());
        std::uint64_t frame = device_->NextFrameNumber();
        std::size_t length = source_->Fill(streaming_type_.Get(), frame, data, capacity);
        length = std::min(length, capacity);
        Misbehave(length);
        Glitch(glitches, data, length);
        sample->SetActualDataLength(static_cast<LONG>(length));
        // As a capture pin stamps: the stream time at which the frame was captured, which the
        // clock has passed by the time a renderer sees it; no times without a clock. So no
        // renderer holds the stream back, whatever the pacing.
        if (s.should_stamp_by_frame_count) {
            REFERENCE_TIME start = static_cast<REFERENCE_TIME>(streamed) * interval;
            REFERENCE_TIME end = start + interval;
            sample->SetTime(&start, &end);
        } else if (stamped) {
            REFERENCE_TIME start = captured - run_start_;
            REFERENCE_TIME end = start + interval;
            sample->SetTime(&start, &end);
        } else {
            sample->SetTime(nullptr, nullptr);
        }
#ifndef _WIN32
        // Only the stand-in's own samples can be made to withhold their buffer.
        if (s.should_withhold_sample_buffers) {
            if (auto* own = dynamic_cast<dshow::MediaSample*>(sample.Get())) {
                own->SetBufferUnavailable(true);
            }
        }
#endif
        const HRESULT delivered = pin_->Deliver(sample.Get());
        sample.Reset();
        // Sent, whatever became of it downstream (a renderer already stopped refuses it).
        device_->CountDelivered();
        ++streamed;
        // A failing receiver ends the stream, as it ends a driver's.
        if (FAILED(delivered)) {
            CountSkippedBeforeStop(pacer, streamed);  // one that held the sample until a stop came
            break;
        }
    }
}

}  // namespace zrf::sim
