#pragma once
// The sample grabber: an in-place filter that accepts the media type it was given, calls the
// registered callback for every sample on the delivering thread, and passes the sample on.
//
// Callback guarantee: once SetCallback returns, the callback it replaced is not running and
// will not be called again (its reference is released after that point). Deliveries read the
// callback under a lock and count themselves in progress; SetCallback swaps the callback
// under the same lock and waits until no delivery is in progress. A callback that itself
// calls SetCallback on the delivering thread is not waited for (it would wait for itself).
#include <condition_variable>
#include <mutex>
#include <thread>
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

    std::mutex callback_mutex_;
    std::condition_variable callback_idle_;
    com::ComPtr<ISampleGrabberCB> callback_;
    LONG method_ = 0;
    int calls_in_progress_ = 0;
    std::thread::id calling_thread_;
};

}  // namespace zrf::dshow
