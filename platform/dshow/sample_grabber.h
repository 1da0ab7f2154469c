#pragma once
// The sample grabber: an in-place filter that accepts the media type it was given, calls the
// registered callback for every sample on the delivering thread, and passes the sample on.
//
// As the platform's grabber: SetCallback neither locks nor waits. It swaps the callback and
// releases the one it replaced at once, while a delivery may still be calling it; deliveries
// take no reference on the callback they call. Only a caller that has stopped the graph knows
// the old callback is no longer in use.
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

class SampleGrabber final : public FilterBase, public ISampleGrabber {
  public:
    SampleGrabber();
    ~SampleGrabber() override;
    ZRF_COM_FORWARD_UNKNOWN(FilterBase)

    HRESULT SetOneShot(BOOL OneShot) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) override;
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) override;
    HRESULT SetBufferSamples(BOOL BufferThem) override;
    HRESULT GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) override;
    HRESULT GetCurrentSample(IMediaSample** ppSample) override;
    HRESULT SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) override;

    HRESULT CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) override;
    void GetMediaTypes(const PinBase& pin, std::vector<MediaType>& out) override;
    HRESULT Receive(PinBase& input, IMediaSample* sample) override;

  protected:
    void* FindInterface(REFIID riid) override;
    HRESULT OnRun() override;

  private:
    void CallBack(IMediaSample* sample);
    void Buffer(IMediaSample* sample);

    PinBase* input_;
    PinBase* output_;

    std::mutex config_mutex_;
    MediaType wanted_;  // empty: any type
    bool one_shot_ = false;
    bool buffer_samples_ = false;
    bool one_shot_done_ = false;
    std::vector<BYTE> buffer_;
    LONG buffered_length_ = -1;

    std::atomic<ISampleGrabberCB*> callback_{nullptr};  // holds one reference
    std::atomic<LONG> method_{0};
};

}  // namespace zrf::dshow
