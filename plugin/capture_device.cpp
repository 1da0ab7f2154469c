#include "plugin/capture_device.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

CaptureDevice::CaptureDevice(std::string identifier) : identifier(std::move(identifier)) {}

CaptureDevice::~CaptureDevice() = default;

bool CaptureDevice::Device_IsConnected() {
    // A web camera has no control channel: it counts as connected while its graph exists.
    return captureGraph != nullptr;
}

HeartbeatState CaptureDevice::Device_Heartbeat() {
    return Device_IsConnected() ? HeartbeatState::Alive : HeartbeatState::Dead;
}

void CaptureDevice::Device_HighPerformance(XElement settings) {
    // Read and accepted; the setting changes nothing in this device.
    (void)Entities::XmlUtils::HighPerformanceXml(std::move(settings)).IsEnabled();
}

XElement CaptureDevice::Device_XMLData() {
    return XElement(Entities::XmlUtils::XmlNames::DeviceXName);
}

XElement CaptureDevice::Grab_EnumImageFormats() {
    Entities::XmlUtils::ImageFormatXml formats;
    formats.SelectFormat(0);
    return formats.XMLData();
}

void CaptureDevice::Dispose() { disposed = true; }

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
