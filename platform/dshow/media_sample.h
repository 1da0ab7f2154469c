#pragma once
// A media sample over a buffer its owner keeps and reuses: nothing is allocated per sample.
// Builds against the stand-in and against the platform's own headers alike.
#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"

namespace zrf::dshow {

class MediaSample : public com::ComObject<IMediaSample> {
  public:
    MediaSample(BYTE* buffer, LONG capacity) : buffer_(buffer), capacity_(capacity) {}

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override;
    LONG STDMETHODCALLTYPE GetSize() override { return capacity_; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart,
                                      REFERENCE_TIME* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart,
                                      REFERENCE_TIME* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return sync_point_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override { return S_OK; }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return length_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG lLen) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override {
        return S_OK;
    }

    void SetTime(REFERENCE_TIME start, REFERENCE_TIME end);
    // A sample whose buffer cannot be obtained, as a misbehaving source may hand out.
    void SetBufferUnavailable(bool unavailable) { unavailable_ = unavailable; }

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    BYTE* buffer_;
    LONG capacity_;
    LONG length_ = 0;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME end_ = 0;
    bool has_time_ = false;
    bool sync_point_ = true;
    bool unavailable_ = false;
};

}  // namespace zrf::dshow
