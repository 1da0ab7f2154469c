#pragma once
// A media sample over a buffer its owner keeps and reuses: nothing is allocated per sample.
#include "platform/com/com_object.h"
#include "platform/dshow/filter_interfaces.h"

namespace zrf::dshow {

class MediaSample final : public com::ComObject<IMediaSample> {
  public:
    MediaSample(BYTE* buffer, LONG capacity) : buffer_(buffer), capacity_(capacity) {}

    HRESULT GetPointer(BYTE** ppBuffer) override;
    LONG GetSize() override { return capacity_; }
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    LONG GetActualDataLength() override { return length_; }
    HRESULT SetActualDataLength(LONG lLen) override;

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
    bool unavailable_ = false;
};

}  // namespace zrf::dshow
