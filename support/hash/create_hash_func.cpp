#include "support/hash/create_hash_func.h"

#include <cstring>
#include <new>

#include "support/hash/crc32.h"
#include "support/hash/rmd160.h"

namespace VORN {

std::unique_ptr<CHashFunc> CreateHashFunc(const char* name) {
    if (name == nullptr) return nullptr;
    // strncmp stops at a shorter name's terminator, so a four-character name matches nothing.
    if (std::strncmp(name, "CRC32", 5) == 0)
        return std::unique_ptr<CHashFunc>(new (std::nothrow) CCrc32(CCrc32::kStandardPolynomial));
    if (std::strncmp(name, "CRC00", 5) == 0)
        return std::unique_ptr<CHashFunc>(new (std::nothrow) CRMD160(0));
    if (std::strncmp(name, "CRC01", 5) == 0)
        return std::unique_ptr<CHashFunc>(new (std::nothrow) CRMD160(1));
    if (std::strncmp(name, "CRC02", 5) == 0)
        return std::unique_ptr<CHashFunc>(new (std::nothrow) CRMD160(2));
    return nullptr;
}

}  // namespace VORN
