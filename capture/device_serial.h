#pragma once
// The serial number a camera's display name carries: in the instance part of the device path,
// ahead of the text "17F4000", as four byte pairs in reverse order.
#include <string>

#include "platform/dshow/dshow.h"

namespace zrf::capture {

// 0 when the name carries none; values above 0x7FFFFFFF give 0x7FFFFFFF.
LONG SerialFromDisplayName(std::wstring name);

}  // namespace zrf::capture
