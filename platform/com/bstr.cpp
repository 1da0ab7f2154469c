#include "platform/com/bstr.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
std::atomic<long> g_live{0};

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
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(Header(bstr));
}

UINT SysStringLen(BSTR bstr) {
    return bstr == nullptr ? 0 : *Header(bstr) / sizeof(OLECHAR);
}

void VariantInit(VARIANT* pvarg) {
    if (pvarg == nullptr) return;
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
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
