#pragma once
// Identifiers as text, in the platform's registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#include "platform/com/hresult.h"
#include "platform/com/guid.h"

constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3u);

// Writes the text and its terminator; the characters written, or 0 when `cchMax` is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// CO_E_CLASSSTRING for text of any other form (a null text is GUID_NULL).
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
