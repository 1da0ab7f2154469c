#pragma once
// The task allocator: memory handed across interface boundaries (media types, strings)
// is allocated and freed here. The live count lets tests prove that nothing leaked.
#include <cstddef>

#include "platform/com/win_types.h"

void* CoTaskMemAlloc(std::size_t cb);
void CoTaskMemFree(void* pv);

namespace zrf::com {
// Allocations made and not yet freed, process-wide.
long TaskAllocatorLiveCount();
}  // namespace zrf::com
