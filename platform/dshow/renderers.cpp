#include "platform/dshow/renderers.h"

namespace zrf::dshow {
namespace {

// A sample this far ahead of the clock, or more, is held.
constexpr REFERENCE_TIME kEarly = 10000;  // 1 ms

}  // namespace

RendererFilter::RendererFilter(const CLSID& clsid)
    : FilterBase(clsid),
      run_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      flush_event_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      state_event_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      advise_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    input_ = &AddPin(std::make_unique<PinBase>(*this, PINDIR_INPUT, L"In"));
}

RendererFilter::~RendererFilter() {
    CloseHandle(run_event_);
    CloseHandle(flush_event_);
    CloseHandle(state_event_);
    CloseHandle(advise_event_);
}

bool RendererFilter::FirstOf(HANDLE first, HANDLE second) {
    const HANDLE events[2] = {first, second};
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

HRESULT RendererFilter::OnInitStream() {
    if (input_->IsConnected()) ResetEvent(state_event_);
    ResetEvent(flush_event_);
    return S_OK;
}

HRESULT RendererFilter::OnRun() {
    SetEvent(state_event_);
    SetEvent(run_event_);
    return S_OK;
}

void RendererFilter::OnPause() {
    ResetEvent(run_event_);
}

void RendererFilter::OnStop() {
    ResetEvent(run_event_);
    SetEvent(state_event_);
    SetEvent(flush_event_);
}

void RendererFilter::OnBeginFlush(PinBase&) {
    flushing_.store(true);
    SetEvent(flush_event_);
}

void RendererFilter::OnEndFlush(PinBase&) {
    flushing_.store(false);
    ResetEvent(flush_event_);
}

HRESULT RendererFilter::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (State == nullptr) return E_POINTER;
    const bool settled = WaitForSingleObject(state_event_, dwMilliSecsTimeout) != WAIT_TIMEOUT;
    *State = this->State();
    return settled ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

HRESULT RendererFilter::Receive(PinBase&, IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    if (flushing_.load()) return S_FALSE;
    const FILTER_STATE state = State();
    if (state == State_Stopped) return VFW_E_WRONG_STATE;

    const com::ComPtr<IReferenceClock> clock = Clock();
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    const bool timed = clock && SUCCEEDED(sample->GetTime(&start, &end));

    if (state == State_Paused) {
        // The first picture is shown while paused; the stream goes on once the filter runs.
        received_.fetch_add(1, std::memory_order_relaxed);
        SetEvent(state_event_);
        FirstOf(run_event_, flush_event_);
    }
    if (timed) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        const REFERENCE_TIME stream_start = StreamStart();
        if (now - stream_start - start <= -kEarly) {
            ResetEvent(advise_event_);
            DWORD_PTR cookie = 0;
            // The platform's renderer waits even when the clock refuses the advice: only a stop
            // or a flush ends that wait.
            if (FAILED(clock->AdviseTime(stream_start, start,
                                         reinterpret_cast<HEVENT>(advise_event_), &cookie))) {
                WaitForSingleObject(flush_event_, INFINITE);
                return S_OK;
            }
            const bool due = FirstOf(advise_event_, flush_event_);
            clock->Unadvise(cookie);
            if (!due) return S_OK;  // dropped
        }
    }
    if (state == State_Running) received_.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
}

HRESULT NullRenderer::CheckMediaType(const PinBase&, const AM_MEDIA_TYPE&) {
    return S_OK;
}

HRESULT VideoRenderer::CheckMediaType(const PinBase&, const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER) || mt.pbFormat == nullptr) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    bool displayable = mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32 ||
                       mt.subtype == MEDIASUBTYPE_YUY2;
    return displayable ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace zrf::dshow
