#pragma once
// Linked into a test executable (allocation_counter.cpp), replaces the global operator new so
// that every allocation of the process is counted.

namespace zrf::testing {

// Allocations since the process started.
long AllocationCount();

}  // namespace zrf::testing
