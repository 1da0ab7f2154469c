#include "platform/com/bstr.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
std::atomic<long> g_live{0};

constexpr std::uintptr_t kUnsetValue = 0x00DE1E7EDBADBEEFull & UINTPTR_MAX;

// The byte length sits in front of the characters, as the platform lays it out.
std::uint32_t* Header(BSTR bstr) {
    return reinterpret_cast<std::uint32_t*>(bstr) - 1;
}
}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    std::size_t chars = std::wcslen(psz);
    auto* block = static_cast<unsigned char*>(
        std::malloc(sizeof(std::uint32_t) + (chars + 1) * sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    auto bytes = static_cast<std::uint32_t>(chars * sizeof(OLECHAR));
    std::memcpy(block, &bytes, sizeof bytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    std::wmemcpy(text, psz, chars + 1);
    g_live.fetch_add(1, std::memory_order_relaxed);
    return text;
}

void SysFreeString(BSTR bstr) {
    if (bstr == nullptr) return;
    if (reinterpret_cast<std::uintptr_t>(bstr) == kUnsetValue) {
        // Windows before 8.1 frees whatever the variant held: most likely a string freed before.
        std::fputs("SysFreeString: the string of a VARIANT that VariantInit left unset\n", stderr);
        std::abort();
    }
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(Header(bstr));
}

UINT SysStringLen(BSTR bstr) {
    return bstr == nullptr ? 0 : *Header(bstr) / sizeof(OLECHAR);
}

// As Windows before 8.1: only the type is set; the value keeps whatever was there, which the
// stand-in makes a pattern that SysFreeString refuses, so code that frees it fails every time.
void VariantInit(VARIANT* pvarg) {
    if (pvarg == nullptr) return;
    pvarg->vt = VT_EMPTY;
    pvarg->llVal = static_cast<LONGLONG>(kUnsetValue);
}

HRESULT VariantClear(VARIANT* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    if (pvarg->vt == VT_BSTR) SysFreeString(pvarg->bstrVal);
    VariantInit(pvarg);
    return S_OK;
}

namespace zrf::com {
long BstrLiveCount() {
    return g_live.load(std::memory_order_relaxed);
}
}  // namespace zrf::com
