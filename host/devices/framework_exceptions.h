#pragma once
#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices {

ZRF_EXCEPTION_CLASS(DeviceConnectionFailedException, System::ApplicationException,
                    "Vorn.Zephra.Net.Devices.DeviceConnectionFailedException",
                    "Device connection failed.");
ZRF_EXCEPTION_CLASS(CommandFailedException, System::ApplicationException,
                    "Vorn.Zephra.Net.Devices.CommandFailedException", "Command failed.");

}  // namespace Vorn::Zephra::Net::Devices
