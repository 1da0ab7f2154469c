#pragma once
// The interfaces the framework's device plug-ins implement, with the event arguments and
// enumerations they use. Destructors are defined out of line in the framework library, so
// every plug-in meets the same type information.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "host/events/event.h"
#include "host/xml/x_element.h"

namespace Vorn::Zephra::Net::Devices {

using System::Xml::Linq::XElement;

enum class HeartbeatState : int { Dead = 0, Alive = 2 };
enum class FocusMode : int { Near = 0, Far = 1, Stop = 2, Auto = 3 };
enum class RecordingStatus : int { Stopped = 0, Recording = 1 };

struct GrabContinousCompletedEventArgs {
    // The device's frame buffer: valid only during the handler; a handler that keeps the
    // image copies it. It can be longer than the image it holds.
    std::span<const std::uint8_t> Image;
    XElement Info;
};
struct GrabContinousFailedEventArgs {
    std::string Message;
};
struct CalibratingEventArgs {
    bool IsCalibrating;
};
struct CommandExecutedEventArgs {
    XElement Command;
};
struct RecordingStatusEventArgs {
    RecordingStatus Status;
};

class IDisposable {
  public:
    virtual ~IDisposable();
    virtual void Dispose() = 0;
};

class IDevice : public virtual IDisposable {
  public:
    ~IDevice() override;
    virtual std::string Device_Identifier() const = 0;
    virtual void Device_Connect(XElement identity) = 0;
    virtual void Device_Disconnect() = 0;
    virtual bool Device_IsConnected() = 0;
    virtual HeartbeatState Device_Heartbeat() = 0;
    virtual void Device_HighPerformance(XElement settings) = 0;
    virtual XElement Device_XMLData() = 0;
    virtual XElement Device_ExecuteCommand(XElement command) = 0;
    virtual Event<CommandExecutedEventArgs>& CommandExecuted() = 0;
};

class IGrab {
  public:
    virtual ~IGrab();
    virtual std::unique_ptr<std::vector<std::uint8_t>> Grab_Grab() = 0;  // null: not offered
    virtual XElement Grab_EnumImageFormats() = 0;
    virtual void Grab_SelectImageFormat(int index) = 0;
    virtual int Grab_GetSelectedImageFormat() = 0;
};

class IGrabContinous {
  public:
    virtual ~IGrabContinous();
    virtual void GrabContinous_Start() = 0;
    virtual void GrabContinous_Stop() = 0;
    virtual bool GrabContinous_IsGrabbing() = 0;
    virtual int GrabContinous_LapTime() = 0;
    virtual int GrabContinous_LostFrames() = 0;
    virtual Event<GrabContinousCompletedEventArgs>& Completed() = 0;
    virtual Event<GrabContinousFailedEventArgs>& Failed() = 0;
};

class ICameraControl {
  public:
    virtual ~ICameraControl();
    virtual void Control_Focus(FocusMode mode) = 0;
    virtual void Control_SetFocusPosition(int position) = 0;
    virtual int Control_GetFocusPosition() = 0;
    virtual int Control_GetFocusMax() = 0;
    virtual int Control_GetFocusMin() = 0;
    virtual XElement Control_GetFrameRates() = 0;
    virtual void Control_SetFrameRate(int index) = 0;
    virtual int Control_GetFrameRate() = 0;
};

class IIRCameraControl {
  public:
    virtual ~IIRCameraControl();
    virtual void IRControl_Nuc() = 0;
    virtual bool IRControl_GetShutter() = 0;
    virtual void IRControl_SetShutter(bool closed) = 0;
    virtual XElement IRControl_GetTemperatureRanges() = 0;
    virtual void IRControl_SetTemperatureRange(int index) = 0;
    virtual int IRControl_GetTemperatureRange() = 0;
    virtual Event<CalibratingEventArgs>& Calibrating() = 0;
};

class IRecorder {
  public:
    virtual ~IRecorder();
    virtual void Recorder_Setup(XElement settings) = 0;
    virtual void Recorder_Start(std::uint64_t value) = 0;
    virtual void Recorder_Stop(std::uint64_t value) = 0;
    virtual void Recorder_Pause(std::uint64_t value) = 0;
    virtual bool Recorder_IsRecording() = 0;
    virtual Event<RecordingStatusEventArgs>& RecordingStatus() = 0;
};

class IDevicePlugin : public virtual IDisposable {
  public:
    ~IDevicePlugin() override;
    virtual const std::vector<std::string>& Identifiers() const = 0;
    virtual const std::vector<std::string>& Formats() const = 0;
    virtual void Initialize() = 0;
    // A new, unconnected device for a supported identifier; null otherwise.
    virtual std::unique_ptr<IDevice> Create(const std::string& identifier) = 0;
};

}  // namespace Vorn::Zephra::Net::Devices
