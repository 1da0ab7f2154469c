#pragma once
// Length-prefixed strings and the one variant type property bags answer with.
#include "platform/com/hresult.h"

using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* psz);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);

enum VARENUM : VARTYPE { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8 };

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        BSTR bstrVal;
        LONGLONG llVal;
    };
};

void VariantInit(VARIANT* pvarg);
HRESULT VariantClear(VARIANT* pvarg);

namespace zrf::com {
// Strings allocated and not yet freed, process-wide.
long BstrLiveCount();
}  // namespace zrf::com
