#pragma once
// The system device enumerator over the video-input category: one moniker per device, each
// with the device's property bag, bound to a new filter of the class the bag names and loaded
// from the bag.
#include "platform/dshow/device_enum_interfaces.h"

namespace zrf::dshow {

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

}  // namespace zrf::dshow
