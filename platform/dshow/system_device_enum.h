#pragma once
// The system device enumerator over the video-input category: one moniker per device, each
// with a property bag ("FriendlyName", "DevicePath") and bound to a new capture filter.
#include "platform/dshow/device_enum_interfaces.h"

namespace zrf::dshow {

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

}  // namespace zrf::dshow
