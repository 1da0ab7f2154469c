#pragma once
// Builds a checksum function by name.
#include <memory>

#include "support/hash/hash_func.h"

namespace VORN {

// Only the first five characters count: "CRC32" (CRC-32), "CRC00", "CRC01", "CRC02" (the
// RIPEMD-160-based variants 0, 1, 2). Null for any other name, a null name or no memory.
std::unique_ptr<CHashFunc> CreateHashFunc(const char* name);

}  // namespace VORN
