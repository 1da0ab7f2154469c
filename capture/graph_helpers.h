#pragma once
// Small helpers shared by the graph's source files.
#include <cstddef>
#include <cstring>

#include "platform/dshow/dshow.h"

namespace zrf::capture {

// Creates an in-process filter by class and holds it as IBaseFilter.
inline HRESULT CreateFilter(REFCLSID clsid, com::ComPtr<IBaseFilter>& filter) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            filter.ReceiveVoid());
}

// The video information header of a type, or null when the format block is not one or is
// too short to be one: every format block comes from a driver.
inline VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return nullptr;
    }
    return reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
}

// Little-endian 32-bit words of property blocks (the platform is little-endian).
inline DWORD ReadWord(const BYTE* block, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}
inline void WriteWord(BYTE* block, std::size_t offset, DWORD value) {
    std::memcpy(block + offset, &value, sizeof value);
}

}  // namespace zrf::capture
