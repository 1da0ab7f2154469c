#pragma once
// Bind contexts, as moniker operations take them; the stand-in's monikers need no state.
#include "platform/com/unknown.h"

DEFINE_GUID(IID_IBindCtx, 0x0000000E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);

struct IBindCtx : public IUnknown {};

HRESULT CreateBindCtx(DWORD reserved, IBindCtx** ppbc);
