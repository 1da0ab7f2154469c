#pragma once
// The platform's memory allocator (CLSID_MemoryAllocator): a fixed set of samples over
// buffers it owns, agreed once (SetProperties), handed out while committed. A sample goes back
// to the free list when its last reference is released; GetBuffer waits for one, and returns
// VFW_E_NOT_COMMITTED once the allocator is decommitted (VFW_E_TIMEOUT at once with
// AM_GBF_NOWAIT). Buffers are allocated at the first Commit after a change of properties, never
// per sample: each with the prefix agreed before it, the prefix's start on the agreed alignment.
// An alignment that is not a power of two dividing the page size is refused (VFW_E_BADALIGN).
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dshow/media_sample.h"

namespace zrf::dshow {

class MemoryAllocator final : public com::ComObject<IMemAllocator> {
  public:
    MemoryAllocator();
    ~MemoryAllocator() override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                      REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    class Sample;

    std::mutex mutex_;
    std::condition_variable returned_;
    ALLOCATOR_PROPERTIES props_{};
    bool committed_ = false;
    std::unique_ptr<BYTE[]> memory_;
    std::vector<std::unique_ptr<Sample>> samples_;
    std::vector<Sample*> free_;
    long outstanding_ = 0;
};

}  // namespace zrf::dshow
