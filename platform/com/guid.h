#pragma once
// The platform's 16-byte globally unique identifier, laid out exactly as the platform lays it
// out, so identifiers compare and copy as raw bytes.
#include <cstdint>
#include <cstring>

#ifndef GUID_DEFINED
#define GUID_DEFINED
struct _GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef _GUID GUID;
static_assert(sizeof(GUID) == 16, "GUID must be 16 bytes");

// Identifiers are equal only when all 16 bytes are.
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(const GUID& a, const GUID& b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !IsEqualGUID(a, b);
}
#endif
