// Operations that need a connection to a camera. Connecting needs the capture graph, the
// control channel and the recorder, which this build does not have yet, so every one of them
// refuses clearly instead of pretending.
#include "plugin/capture_device.h"

#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

[[noreturn]] void NotAvailable(const char* operation) {
    throw System::NotSupportedException(std::string(operation) +
                                        " is not available in this build of the plug-in");
}

}  // namespace

void CaptureDevice::Device_Connect(XElement) { NotAvailable("Device_Connect"); }
void CaptureDevice::Device_Disconnect() { NotAvailable("Device_Disconnect"); }
XElement CaptureDevice::Device_ExecuteCommand(XElement) { NotAvailable("Device_ExecuteCommand"); }
void CaptureDevice::Grab_SelectImageFormat(int) { NotAvailable("Grab_SelectImageFormat"); }
int CaptureDevice::Grab_GetSelectedImageFormat() { NotAvailable("Grab_GetSelectedImageFormat"); }
void CaptureDevice::GrabContinous_Start() { NotAvailable("GrabContinous_Start"); }
void CaptureDevice::GrabContinous_Stop() { NotAvailable("GrabContinous_Stop"); }
void CaptureDevice::Control_Focus(FocusMode) { NotAvailable("Control_Focus"); }
void CaptureDevice::Control_SetFocusPosition(int) { NotAvailable("Control_SetFocusPosition"); }
int CaptureDevice::Control_GetFocusPosition() { NotAvailable("Control_GetFocusPosition"); }
int CaptureDevice::Control_GetFocusMax() { NotAvailable("Control_GetFocusMax"); }
int CaptureDevice::Control_GetFocusMin() { NotAvailable("Control_GetFocusMin"); }
XElement CaptureDevice::Control_GetFrameRates() { NotAvailable("Control_GetFrameRates"); }
void CaptureDevice::Control_SetFrameRate(int) { NotAvailable("Control_SetFrameRate"); }
int CaptureDevice::Control_GetFrameRate() { NotAvailable("Control_GetFrameRate"); }
void CaptureDevice::IRControl_Nuc() { NotAvailable("IRControl_Nuc"); }
bool CaptureDevice::IRControl_GetShutter() { NotAvailable("IRControl_GetShutter"); }
void CaptureDevice::IRControl_SetShutter(bool) { NotAvailable("IRControl_SetShutter"); }
XElement CaptureDevice::IRControl_GetTemperatureRanges() { NotAvailable("IRControl_GetTemperatureRanges"); }
void CaptureDevice::IRControl_SetTemperatureRange(int) { NotAvailable("IRControl_SetTemperatureRange"); }
int CaptureDevice::IRControl_GetTemperatureRange() { NotAvailable("IRControl_GetTemperatureRange"); }
void CaptureDevice::Recorder_Setup(XElement) { NotAvailable("Recorder_Setup"); }
void CaptureDevice::Recorder_Start(std::uint64_t) { NotAvailable("Recorder_Start"); }
void CaptureDevice::Recorder_Stop(std::uint64_t) { NotAvailable("Recorder_Stop"); }
void CaptureDevice::Recorder_Pause(std::uint64_t) { NotAvailable("Recorder_Pause"); }
bool CaptureDevice::Recorder_IsRecording() { NotAvailable("Recorder_IsRecording"); }

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
