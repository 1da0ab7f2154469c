#pragma once
// What the last property frame was asked to show, for tests.
#include <string>
#include <vector>

#include "platform/dshow/property_pages.h"

namespace zrf::dshow {

struct PropertyFrameRequest {
    HWND owner = nullptr;
    UINT x = 0;
    UINT y = 0;
    std::wstring caption;
    ULONG objects = 0;
    std::vector<GUID> pages;
    LCID locale = 0;
};

// The number of frames shown so far and the last request.
long PropertyFramesShown();
PropertyFrameRequest LastPropertyFrame();

}  // namespace zrf::dshow
