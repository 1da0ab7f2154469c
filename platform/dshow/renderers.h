#pragma once
// Sink filters: the null renderer takes any type and discards samples; the video renderer takes
// only uncompressed pictures it could display. Both render as the platform's renderers do:
// - a sample arriving while paused is shown (counted) and Receive holds until the filter runs,
//   stops or flushes;
// - with a clock, a sample whose start time (stream time) is at least 1 ms ahead of the clock
//   is held in Receive until its time, or until the filter stops or flushes, which drops it;
// - a sample without times, or one the clock has passed, is rendered at once;
// - a stopped renderer refuses samples (VFW_E_WRONG_STATE), a flushing one returns S_FALSE.
#include <atomic>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class RendererFilter : public FilterBase {
  public:
    explicit RendererFilter(const CLSID& clsid);
    ~RendererFilter() override;

    HRESULT Receive(PinBase& input, IMediaSample* sample) override;
    // VFW_S_STATE_INTERMEDIATE while paused and connected, until a sample has arrived.
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    long SamplesReceived() const { return received_.load(); }

  protected:
    HRESULT OnInitStream() override;
    HRESULT OnRun() override;
    void OnPause() override;
    void OnStop() override;
    void OnBeginFlush(PinBase& input) override;
    void OnEndFlush(PinBase& input) override;

  private:
    // Waits for the first of two events; true when it was the first.
    static bool FirstOf(HANDLE first, HANDLE second);

    PinBase* input_;
    HANDLE run_event_;     // set while running
    HANDLE flush_event_;   // set while stopped or flushing: releases every hold
    HANDLE state_event_;   // set unless paused and still waiting for a sample
    HANDLE advise_event_;  // signalled by the clock
    std::atomic<bool> flushing_{false};
    std::atomic<long> received_{0};
};

class NullRenderer final : public RendererFilter {
  public:
    NullRenderer() : RendererFilter(CLSID_NullRenderer) {}
    HRESULT CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) override;
};

class VideoRenderer final : public RendererFilter {
  public:
    VideoRenderer() : RendererFilter(CLSID_VideoRenderer) {}
    HRESULT CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) override;
};

}  // namespace zrf::dshow
