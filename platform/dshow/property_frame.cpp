#include "platform/dshow/property_frame.h"

#include <mutex>

namespace zrf::dshow {
namespace {
std::mutex g_mutex;
long g_shown = 0;
PropertyFrameRequest g_last;
}  // namespace

long PropertyFramesShown() {
    std::lock_guard lock(g_mutex);
    return g_shown;
}

PropertyFrameRequest LastPropertyFrame() {
    std::lock_guard lock(g_mutex);
    return g_last;
}

}  // namespace zrf::dshow

HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                               ULONG cObjects, LPUNKNOWN* ppUnk, ULONG cPages, LPCLSID pPageClsID,
                               LCID lcid, DWORD, LPVOID) {
    if ((cObjects != 0 && ppUnk == nullptr) || (cPages != 0 && pPageClsID == nullptr)) {
        return E_POINTER;
    }
    zrf::dshow::PropertyFrameRequest request;
    request.owner = hwndOwner;
    request.x = x;
    request.y = y;
    request.caption = lpszCaption != nullptr ? lpszCaption : L"";
    request.objects = cObjects;
    request.pages.assign(pPageClsID, pPageClsID + cPages);
    request.locale = lcid;
    std::lock_guard lock(zrf::dshow::g_mutex);
    ++zrf::dshow::g_shown;
    zrf::dshow::g_last = std::move(request);
    return S_OK;
}
