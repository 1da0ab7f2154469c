#pragma once
// Globally unique identifiers in the platform's layout, compared over all 16 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

#ifdef _WIN32
// The platform's own identifiers and comparisons.
#include <guiddef.h>
#else
#ifndef GUID_DEFINED
#define GUID_DEFINED
struct _GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef _GUID GUID;
#endif
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
constexpr bool IsEqualGUID(const GUID& a, const GUID& b) {
    return a == b;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

// Defines an identifier with its value where the platform's headers would declare it.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0, 0, 0, 0, 0, 0, 0, 0);
#endif

// Lets identifiers key unordered containers.
struct GuidHash {
    std::size_t operator()(const GUID& g) const noexcept {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const unsigned char*>(&g) + 8, 8);
        return std::hash<std::uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};
