#pragma once
// Property pages of a filter and the modal frame that shows them.
#include "platform/com/unknown.h"

DEFINE_GUID(IID_ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
            0x34, 0x1D, 0x07);

struct CAUUID {
    ULONG cElems;
    GUID* pElems;  // task allocator; the caller frees it
};

struct ISpecifyPropertyPages : public IUnknown {
    virtual HRESULT GetPages(CAUUID* pPages) = 0;
};

// No window system here: records the request and returns at once, as if the user closed it.
HRESULT OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                               ULONG cObjects, LPUNKNOWN* ppUnk, ULONG cPages, LPCLSID pPageClsID,
                               LCID lcid, DWORD dwReserved, LPVOID pvReserved);
