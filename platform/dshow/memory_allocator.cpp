#include "platform/dshow/memory_allocator.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>

namespace zrf::dshow {

namespace {

constexpr LONG kPageSize = 4096;

bool UsableAlignment(LONG align) {
    return align > 0 && (align & (align - 1)) == 0 && kPageSize % align == 0;
}

}  // namespace

// A sample of the pool: its own reference count; at zero it returns to the allocator, which
// it keeps alive while it is out.
class MemoryAllocator::Sample final : public MediaSample {
  public:
    Sample(MemoryAllocator& owner, BYTE* buffer, LONG capacity)
        : MediaSample(buffer, capacity), owner_(owner) {}
    ULONG AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) {
            MemoryAllocator& owner = owner_;
            owner.ReleaseBuffer(this);
            owner.Release();
        }
        return left;
    }
    void HandOut() {
        refs_.store(1);
        SetActualDataLength(0);
        SetTime(nullptr, nullptr);
        SetBufferUnavailable(false);
    }

  private:
    MemoryAllocator& owner_;
    std::atomic<ULONG> refs_{0};
};

MemoryAllocator::MemoryAllocator() = default;
MemoryAllocator::~MemoryAllocator() = default;

void* MemoryAllocator::FindInterface(REFIID riid) {
    return riid == IID_IMemAllocator ? static_cast<IMemAllocator*>(this) : nullptr;
}

HRESULT MemoryAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                       ALLOCATOR_PROPERTIES* pActual) {
    if (pRequest == nullptr || pActual == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;
    if (!UsableAlignment(pRequest->cbAlign)) return VFW_E_BADALIGN;
    props_ = *pRequest;
    props_.cBuffers = std::max<LONG>(props_.cBuffers, 0);
    props_.cbBuffer = std::max<LONG>(props_.cbBuffer, 0);
    props_.cbPrefix = std::max<LONG>(props_.cbPrefix, 0);
    samples_.clear();
    memory_.reset();
    free_.clear();
    *pActual = props_;
    return S_OK;
}

HRESULT MemoryAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (pProps == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pProps = props_;
    return S_OK;
}

HRESULT MemoryAllocator::Commit() {
    std::lock_guard lock(mutex_);
    if (props_.cbBuffer <= 0 || props_.cBuffers <= 0) return VFW_E_SIZENOTSET;
    if (committed_) return S_OK;
    if (samples_.empty()) {
        // One block: each buffer's prefix starts on the alignment, the buffer right after it.
        const auto align = static_cast<std::size_t>(props_.cbAlign);
        const std::size_t used = static_cast<std::size_t>(props_.cbPrefix) + static_cast<std::size_t>(props_.cbBuffer);
        const std::size_t stride = (used + align - 1) / align * align;
        const auto count = static_cast<std::size_t>(props_.cBuffers);
        try {
            memory_.reset(new BYTE[stride * count + align]());  // zeroed, as the platform's pages are
            BYTE* base = memory_.get();
            base += (align - reinterpret_cast<std::uintptr_t>(base) % align) % align;
            for (std::size_t i = 0; i < count; ++i) {
                samples_.push_back(std::make_unique<Sample>(*this, base + i * stride + props_.cbPrefix,
                                                            props_.cbBuffer));
                free_.push_back(samples_.back().get());
            }
        } catch (const std::bad_alloc&) {
            samples_.clear();
            free_.clear();
            memory_.reset();
            return E_OUTOFMEMORY;
        }
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemoryAllocator::Decommit() {
    {
        std::lock_guard lock(mutex_);
        committed_ = false;
    }
    returned_.notify_all();
    return S_OK;
}

HRESULT MemoryAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                   DWORD dwFlags) {
    if (ppBuffer == nullptr) return E_POINTER;
    *ppBuffer = nullptr;
    std::unique_lock lock(mutex_);
    if (!committed_) return VFW_E_NOT_COMMITTED;
    if (free_.empty() && (dwFlags & AM_GBF_NOWAIT) != 0) return VFW_E_TIMEOUT;
    returned_.wait(lock, [&] { return !committed_ || !free_.empty(); });
    if (!committed_) return VFW_E_NOT_COMMITTED;
    Sample* sample = free_.back();
    free_.pop_back();
    ++outstanding_;
    AddRef();  // released when the sample comes back
    sample->HandOut();
    *ppBuffer = sample;
    return S_OK;
}

HRESULT MemoryAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (pBuffer == nullptr) return E_POINTER;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(samples_.begin(), samples_.end(),
                               [&](const auto& s) { return s.get() == pBuffer; });
        if (it == samples_.end()) return E_INVALIDARG;
        free_.push_back(it->get());
        --outstanding_;
    }
    returned_.notify_one();
    return S_OK;
}

}  // namespace zrf::dshow
