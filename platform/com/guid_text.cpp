#include "platform/com/guid_text.h"

#include <cwchar>

namespace {

constexpr int kTextLength = 38;  // without the terminator

// The hexadecimal digits of each byte in the text: Data1, Data2, Data3, then Data4's eight.
constexpr int kDigitsAt[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
constexpr int kDashesAt[4] = {9, 14, 19, 24};

int HexValue(OLECHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

void Bytes(const GUID& g, unsigned char out[16]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(g.Data1 >> (24 - 8 * i));
    out[4] = static_cast<unsigned char>(g.Data2 >> 8);
    out[5] = static_cast<unsigned char>(g.Data2);
    out[6] = static_cast<unsigned char>(g.Data3 >> 8);
    out[7] = static_cast<unsigned char>(g.Data3);
    for (int i = 0; i < 8; ++i) out[8 + i] = g.Data4[i];
}

}  // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < kTextLength + 1) return 0;
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    unsigned char bytes[16];
    Bytes(rguid, bytes);
    lpsz[0] = L'{';
    for (int at : kDashesAt) lpsz[at] = L'-';
    for (int i = 0; i < 16; ++i) {
        lpsz[kDigitsAt[i]] = kHex[bytes[i] >> 4];
        lpsz[kDigitsAt[i] + 1] = kHex[bytes[i] & 0xF];
    }
    lpsz[kTextLength - 1] = L'}';
    lpsz[kTextLength] = L'\0';
    return kTextLength + 1;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (lpsz == nullptr) return S_OK;
    if (std::wcslen(lpsz) != kTextLength || lpsz[0] != L'{' || lpsz[kTextLength - 1] != L'}') {
        return CO_E_CLASSSTRING;
    }
    for (int at : kDashesAt) {
        if (lpsz[at] != L'-') return CO_E_CLASSSTRING;
    }
    unsigned char bytes[16];
    for (int i = 0; i < 16; ++i) {
        const int high = HexValue(lpsz[kDigitsAt[i]]);
        const int low = HexValue(lpsz[kDigitsAt[i] + 1]);
        if (high < 0 || low < 0) return CO_E_CLASSSTRING;
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    GUID g{};
    g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    *pclsid = g;
    return S_OK;
}
