#pragma once
// The device object the factory creates for one camera. This header declares its whole state;
// its operations live in one file per group (connection, streaming, controls, recorder,
// commands).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/runtime/native_callback.h"
#include "host/xml/documents.h"

class CMtxGraph;
class ImgSrcStream;
namespace Vorn::Zephra::Net::Communication {
class RTreeCommander;
}
namespace Vorn::Zephra::Net::Devices::Recorder {
class Recorder;
}

namespace Vorn::Zephra::Net::Devices::Camera::IR {

// Owned objects whose classes live in other layers: the deleter is bound where the object is
// created, so this header does not need their definitions.
template <class T>
using Owned = std::unique_ptr<T, void (*)(T*)>;

template <class T>
Owned<T> NoObject() {
    return Owned<T>(nullptr, nullptr);
}

template <class T, class... A>
Owned<T> MakeOwned(A&&... args) {
    return Owned<T>(new T(std::forward<A>(args)...), [](T* p) { delete p; });
}

class CaptureDevice final : public IDevice,
                            public IGrab,
                            public IGrabContinous,
                            public ICameraControl,
                            public IIRCameraControl,
                            public IRecorder {
public:
    explicit CaptureDevice(std::string identifier);
    ~CaptureDevice() override;
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // IDevice
    std::string Device_Identifier() const override { return identifier; }
    void Device_Connect(XElement identity) override;
    void Device_Disconnect() override;
    bool Device_IsConnected() override;
    HeartbeatState Device_Heartbeat() override;
    void Device_HighPerformance(XElement settings) override;
    XElement Device_XMLData() override;
    XElement Device_ExecuteCommand(XElement command) override;
    Event<CommandExecutedEventArgs>& CommandExecuted() override { return commandExecuted; }
    void Dispose() override;

    // IGrab
    std::unique_ptr<std::vector<std::uint8_t>> Grab_Grab() override { return nullptr; }
    XElement Grab_EnumImageFormats() override;
    void Grab_SelectImageFormat(int index) override;
    int Grab_GetSelectedImageFormat() override;

    // IGrabContinous
    void GrabContinous_Start() override;
    void GrabContinous_Stop() override;
    bool GrabContinous_IsGrabbing() override { return isGrabbing; }
    int GrabContinous_LapTime() override { return static_cast<int>(lapTimeMs.load()); }
    int GrabContinous_LostFrames() override { return static_cast<int>(lostFrames.load()); }
    Event<GrabContinousCompletedEventArgs>& Completed() override { return completed; }
    Event<GrabContinousFailedEventArgs>& Failed() override { return failed; }

    // ICameraControl
    void Control_Focus(FocusMode mode) override;
    void Control_SetFocusPosition(int position) override;
    int Control_GetFocusPosition() override;
    int Control_GetFocusMax() override;
    int Control_GetFocusMin() override;
    XElement Control_GetFrameRates() override;
    void Control_SetFrameRate(int index) override;
    int Control_GetFrameRate() override;

    // IIRCameraControl
    void IRControl_Nuc() override;
    bool IRControl_GetShutter() override;
    void IRControl_SetShutter(bool closed) override;
    XElement IRControl_GetTemperatureRanges() override;
    void IRControl_SetTemperatureRange(int index) override;
    int IRControl_GetTemperatureRange() override;
    Event<CalibratingEventArgs>& Calibrating() override { return calibrating; }

    // IRecorder
    void Recorder_Setup(XElement settings) override;
    void Recorder_Start(std::uint64_t value) override;
    void Recorder_Stop(std::uint64_t value) override;
    void Recorder_Pause(std::uint64_t value) override;
    bool Recorder_IsRecording() override;
    Event<RecordingStatusEventArgs>& RecordingStatus() override { return recordingStatus; }

private:
    friend class CaptureDeviceInspector;  // tests read the state

    using IdentityXml = Entities::XmlUtils::IdentityXml;
    using CameraInformationXml = Entities::XmlUtils::CameraInformationXml;

    // Set by the constructor, never changed.
    const std::string identifier;
    // The device lock: re-entrant, since control operations call each other under it.
    mutable std::recursive_mutex syncRoot;

    // Written under syncRoot (connect's and disconnect's release steps, disposal).
    std::atomic<bool> disposed{false};
    std::optional<IdentityXml> identity;
    Owned<Communication::RTreeCommander> commander = NoObject<Communication::RTreeCommander>();
    Owned<CMtxGraph> captureGraph = NoObject<CMtxGraph>();
    Owned<ImgSrcStream> imageStream = NoObject<ImgSrcStream>();
    // The entry point the stream calls for each new image, and what keeps it alive.
    std::unique_ptr<System::Runtime::InteropServices::NativeCallback> newImageHandle;
    CameraInformationXml cameraInformation;
    Owned<Recorder::Recorder> recorder = NoObject<Recorder::Recorder>();

    // Written on the streaming thread only (the counters are also reset at start).
    std::vector<std::uint8_t> frameBuffer;
    std::atomic<std::uint32_t> frameCount{0};
    std::atomic<std::uint32_t> lostFrames{0};
    std::atomic<std::int64_t> lapTimeMs{0};
    std::atomic<bool> isCalibrating{false};

    // Written under syncRoot; read without it by the streaming thread or the host.
    std::atomic<bool> isGrabbing{false};
    std::atomic<bool> hasWindowing{false};
    std::atomic<bool> windowingActive{false};
    std::atomic<std::int32_t> windowingFields{0};
    std::atomic<std::int32_t> focusType{-1};
    std::atomic<bool> focusAvailable{true};
    std::atomic<std::int32_t> focusMinCache{0};
    std::atomic<std::int32_t> focusMaxCache{0};
    std::atomic<bool> isSupported{false};

    Event<GrabContinousFailedEventArgs> failed;
    Event<GrabContinousCompletedEventArgs> completed;
    Event<CalibratingEventArgs> calibrating;
    Event<CommandExecutedEventArgs> commandExecuted;
    Event<RecordingStatusEventArgs> recordingStatus;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
