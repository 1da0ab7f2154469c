#pragma once
// The device object the factory creates for one camera. This header declares its whole state;
// its operations live in one file per group (connection, streaming, controls, recorder,
// commands).
//
// Threads: host threads call the operations; the capture graph's streaming thread runs
// OnNewImage for every sample without the device lock. The release step stops the graph
// (after which no sample callback runs) before it touches what the streaming thread uses.
//
// Handlers: no event is raised while the device holds a lock of its own or the recorder's.
// A thread running any device's handler may not wait for a device lock (see LockDevice), and
// the device never waits for a streaming thread from one. So every operation called from a
// handler returns at once: a stop, disconnect or disposal is deferred (asked now, run on a
// thread of the device's own once the handler returned, the reads showing the state asked
// for meanwhile); what else would wait is refused. Destroying the device from its own handler
// is safe. The device's states and the field combinations allowed are in device_state.h.
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
#include "plugin/deferred_calls.h"
#include "plugin/device_lock.h"
#include "plugin/device_state.h"

class CMtxGraph;
class ImgSrcStream;
namespace Vorn::Zephra::Net::Devices::Camera::IR {
class HandlerScope;
}
namespace Vorn::Zephra::Net::Communication {
class RTreeCommander;
}
namespace Vorn::Zephra::Net::Devices::Recorder {
class Recorder;
struct RecorderStatusEventArgs;
}  // namespace Vorn::Zephra::Net::Devices::Recorder
namespace Vorn::Zephra::Net::Devices {
class DeviceCommand;
}

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class CaptureDevice final : public IDevice,
                            public IGrab,
                            public IGrabContinous,
                            public ICameraControl,
                            public IIRCameraControl,
                            public IRecorder {
  public:
    explicit CaptureDevice(std::string identifier);
    // Destroying a device that was never disposed lets go of everything, as disposal does, but
    // raises nothing: the recording is closed before the events go.
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
    // False as soon as a handler asked for a stop.
    bool GrabContinous_IsGrabbing() override { return isGrabbing && (asked & kStopAsked) == 0; }
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

    // Connection (capture_device_connection.cpp).
    void ReleaseConnection();
    void FillCameraInformation();
    void OpenControlChannel(const std::string& host, const std::string& id);
    void ChooseMediaType(const std::string& id, const std::string& selectedFormat);
    void ReadWindowing();
    void ThrowIfNotConnected();
    // Whether the connection exists now, whatever a handler asked for.
    bool ConnectedNow();
    void DisconnectLocked();

    // Holds the device lock; in debug builds the outermost hold checks, as it lets go, that
    // the fields form an allowed combination.
    class DeviceLockHold {
      public:
        DeviceLockHold(CaptureDevice& device, const char* operation)
            : device_(device), operation_(operation), lock_(device.syncRoot) {}
        ~DeviceLockHold() { device_.CheckFieldsOnReturn(operation_); }
        DeviceLockHold(const DeviceLockHold&) = delete;
        DeviceLockHold& operator=(const DeviceLockHold&) = delete;

      private:
        CaptureDevice& device_;
        const char* operation_;
        std::lock_guard<DeviceLock> lock_;
    };
    // The one way a public operation takes the device lock. Host threads hold that lock while
    // they wait for the streaming thread (every graph stop) and for the recorder's lock, both
    // of which may be waiting for a handler to return: so a thread running any device's
    // handler is refused with InvalidOperationException instead of waiting. A host thread's
    // outermost call first waits for what handlers deferred, so it runs after that.
    [[nodiscard]] DeviceLockHold LockDevice(const char* operation);
    static void RefuseFromHandler(const char* operation);
    // A host call that takes no device lock still runs after what handlers deferred.
    void AwaitDeferred();

    // What a handler asked for and the device has not done yet (bits of `asked`).
    static constexpr unsigned kStopAsked = 1, kDisconnectAsked = 2, kDisposeAsked = 4;
    void Defer(unsigned what);
    void RunDeferred(unsigned what);
    bool DeliveryHeld() const { return asked != 0; }
    bool DisconnectionAsked() const { return (asked & (kDisconnectAsked | kDisposeAsked)) != 0; }

    DeviceFields Fields() const;
    void CheckFieldsOnReturn(const char* operation) const;
    // Runs a change of the stream's configuration under stateMutex, so the lock-free
    // information document never reads the stream half-configured.
    template <class F>
    void ConfigureStream(F&& change) {
        std::lock_guard state(stateMutex);
        change();
    }
    void DisposeCore(bool disposing);
    void DisposeNow();
    // Destroyed by its own handler on the streaming thread, which cannot wait for itself: the
    // graph and what the sample in flight still uses are released by a thread of their own.
    void ReleaseFromOwnStream();

    // Streaming (capture_device_streaming.cpp).
    void StopLocked();
    void AttachNewImageHandler();
    void DetachNewImageHandler();
    void OnNewImage();
    // `undelivered`: the fields of the sample not raised yet, lost if the handling fails.
    void DeliverFields(const HandlerScope& scope, int& undelivered);
    void CountLostOnFailure(const HandlerScope& scope, int undelivered);
    std::int64_t ImageTicks() const;

    // Controls (capture_device_controls.cpp).
    void SetWindowingMode(int fields);
    // Runs the graph again after a control stopped it, if the host had it streaming; a run the
    // camera refuses throws as a refused start does, so no control leaves it silently stopped.
    void RunAgainIfStreaming();
    void RestartAfterRangeChange();
    int FocusLimit(std::atomic<std::int32_t>& cache, int fixedValue, bool max);
    int GraphRateCount() const;
    float GraphRate(int index) const;

    // Recorder bridge (capture_device_recorder.cpp).
    bool RecorderAllowed() const { return recordsRadiometric; }
    std::shared_ptr<Recorder::Recorder> CreateRecorder(bool usePreRecordingBuffer);
    void EnsureRecorder();
    std::shared_ptr<Recorder::Recorder> CurrentRecorder() const;
    std::shared_ptr<Recorder::Recorder> UsableRecorder();
    std::int32_t StreamImageBufferSize() const;
    void UpdateRecorderImageSize();
    static void SizeRecorder(Recorder::Recorder& r, std::int32_t imageBytes);
    void CloseRecorder();
    void RecorderStatusUpdated(const Recorder::RecorderStatusEventArgs& e);
    // Raises the statuses the recorder reported, in order, once its lock is released. Returns
    // false when a handler destroyed the device (nothing of it may be touched then).
    bool RaiseRecordingStatuses();

    // Commands (capture_device_commands.cpp).
    void ExecuteCommand(DeviceCommand& command);
    void WriteNode(DeviceCommand& command);
    void RunScriptFile(const std::string& file);

    // Set by the constructor, never changed.
    const std::string identifier;
    // The device lock: re-entrant, since control operations call each other under it. Taken
    // by public operations only through LockDevice; never held while an event is raised.
    mutable DeviceLock syncRoot;
    // Declared before everything that can raise them, so they are destroyed last.
    Event<GrabContinousFailedEventArgs> failed;
    Event<GrabContinousCompletedEventArgs> completed;
    Event<CalibratingEventArgs> calibrating;
    Event<CommandExecutedEventArgs> commandExecuted;
    Event<RecordingStatusEventArgs> recordingStatus;

    // Written under syncRoot. The graph and the stream change only while the graph is stopped.
    // Replacing commander, captureGraph or imageStream, and touching cameraInformation, also
    // takes stateMutex, so the lock-free queries (Device_IsConnected, Device_XMLData) see a
    // consistent state. stateMutex is taken after syncRoot, held briefly, and never while
    // calling into the recorder or an event handler.
    std::atomic<bool> disposed{false};
    std::optional<IdentityXml> identity;
    // The last stamp of the previous connection's stream: the next one's stamps follow it.
    std::int64_t lastStampMilliseconds = INT64_MIN;
    mutable std::mutex stateMutex;
    std::unique_ptr<Communication::RTreeCommander> commander;
    std::unique_ptr<CMtxGraph> captureGraph;
    std::unique_ptr<ImgSrcStream> imageStream;
    // Keeps the entry point the stream calls for each new image alive while it is handed out.
    std::unique_ptr<System::Runtime::InteropServices::NativeCallback> newImageHandle;
    CameraInformationXml cameraInformation;

    // Stored and taken away under stateMutex (by Recorder_Setup without the device lock, by
    // the start and disposal under it). Every user holds its own reference for the call, so
    // disposal never frees a recorder that a call is still using. Once disposal retired the
    // recorder, none is stored again.
    std::shared_ptr<Recorder::Recorder> recorder;
    SubscriptionId recorderSubscription = 0;
    bool recorderRetired = false;
    // The connected format is the radiometric one (or none was named): set by connect.
    std::atomic<bool> recordsRadiometric{true};

    // Statuses the recorder reported under its lock, raised by whichever thread drains them
    // (one at a time, so handlers see them in order).
    std::mutex statusMutex;
    std::vector<Devices::RecordingStatus> pendingStatuses;
    bool statusRaising = false;

    // The streaming thread's own (the counters are also reset by a start).
    std::vector<std::uint8_t> frameBuffer;
    std::atomic<std::uint32_t> frameCount{0};
    std::atomic<std::uint32_t> lostFrames{0};
    std::atomic<std::int64_t> lapTimeMs{0};
    std::atomic<bool> isCalibrating{false};

    // Written under syncRoot; read without it by the streaming thread or the host.
    std::atomic<bool> isGrabbing{false};
    // This connection's graph was started by GrabContinous_Start: what a frame-rate, windowing
    // or range change restarts. Unlike isGrabbing it ends with the connection.
    std::atomic<bool> graphRunning{false};
    std::atomic<bool> hasWindowing{false};
    std::atomic<bool> windowingActive{false};
    std::atomic<std::int32_t> windowingFields{0};
    std::atomic<std::int32_t> focusType{-1};
    std::atomic<bool> focusAvailable{true};
    std::atomic<std::int32_t> focusMinCache{0};
    std::atomic<std::int32_t> focusMaxCache{0};
    std::atomic<bool> isSupported{false};
    // The last connect ran to its end; cleared by the release step.
    std::atomic<bool> connectionBuilt{false};

    // Set by a handler's stop, disconnect or disposal, cleared once it ran. While any is set
    // the device raises no Completed or Calibrating and drops arriving images uncounted.
    std::atomic<unsigned> asked{0};
    // Declared last, so destroyed first: its worker calls into everything above.
    DeferredCalls deferred;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
