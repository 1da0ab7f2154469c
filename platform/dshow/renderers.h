#pragma once
// Sink filters: the null renderer takes any type and discards samples; the video renderer
// takes only uncompressed pictures it could display. Both count what they receive.
#include <atomic>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class RendererFilter : public FilterBase {
  public:
    explicit RendererFilter(const CLSID& clsid);
    HRESULT Receive(PinBase& input, IMediaSample* sample) override;
    long SamplesReceived() const { return received_.load(); }

  private:
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
