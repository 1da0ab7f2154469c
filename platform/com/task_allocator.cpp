#include "platform/com/task_allocator.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<long> g_live{0};
}

void* CoTaskMemAlloc(std::size_t cb) {
    // A zero-byte request still yields a distinct block, as the platform's allocator does.
    void* p = std::malloc(cb == 0 ? 1 : cb);
    if (p != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void CoTaskMemFree(void* pv) {
    if (pv == nullptr) return;
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(pv);
}

namespace zrf::com {
long TaskAllocatorLiveCount() {
    return g_live.load(std::memory_order_relaxed);
}
}  // namespace zrf::com
