#include "host/devices/device_interfaces.h"

namespace Vorn::Zephra::Net::Devices {

IDisposable::~IDisposable() = default;
IDevice::~IDevice() = default;
IGrab::~IGrab() = default;
IGrabContinous::~IGrabContinous() = default;
ICameraControl::~ICameraControl() = default;
IIRCameraControl::~IIRCameraControl() = default;
IRecorder::~IRecorder() = default;
IDevicePlugin::~IDevicePlugin() = default;

}  // namespace Vorn::Zephra::Net::Devices
