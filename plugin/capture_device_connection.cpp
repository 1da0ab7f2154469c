// Connecting, disconnecting, the state queries, the information document and disposal.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "capture/mtx_graph.h"
#include "host/control/rtree_commander.h"
#include "host/devices/framework_exceptions.h"
#include "host/logging/logger.h"
#include "host/recorder/recorder.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"
#include "plugin/release_thread.h"
#include "support/trace/device_trace.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

using Communication::ConnectionMode;
using Communication::RTreeCommander;
using Vorn::Zephra::Diagnostics::Log::Logger;
namespace k = constants;

namespace {

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

[[noreturn]] void Fail(const char* message) { throw DeviceConnectionFailedException(message); }

}  // namespace

void CaptureDevice::Device_Connect(XElement element) {
    RefuseFromHandler("Device_Connect");
    // A device its own handler destroyed, disconnected or disposed may still be letting go of
    // this camera. Waited for before the lock: a release this device's handler asked for needs it.
    WaitForReleases();
    // Unlike the other operations, connect holds the lock throughout: two connects, or a
    // connect and a control call, must not interleave their steps.
    auto lock = LockDevice("Device_Connect");
    // Checked under the lock: a connect that waited for a disposal must not revive the device.
    if (disposed) throw System::ObjectDisposedException(k::kDisposed);

    identity.emplace(std::move(element));
    const std::string host = identity->Hostname();
    const std::string id = identity->Identifier();
    const int interfaceIndex = identity->InterfaceIndex();
    const std::string selectedFormat = identity->SelectedFormatId();
    (void)identity->OverrideAC();
    const bool webcam = identity->ModelName() == k::kWebcamModel;
    recordsRadiometric = selectedFormat.empty() || EqualsIgnoreCase(selectedFormat, k::kFormatIr);

    hasWindowing = false;
    ReleaseConnection();

    {
        std::lock_guard state(stateMutex);
        if (!webcam) commander = std::make_unique<RTreeCommander>();
        captureGraph = std::make_unique<CMtxGraph>();
        imageStream = std::make_unique<ImgSrcStream>();
    }
    focusMaxCache = -1;
    focusMinCache = -1;
    windowingActive = false;
    hasWindowing = false;
    windowingFields = 1;
    ConfigureStream([&] {
        imageStream->SetFieldCount(1);
        imageStream->ContinueStampsAfter(lastStampMilliseconds);
    });
    AttachNewImageHandler();
    captureGraph->AttachStream(imageStream.get());
    isSupported = true;

    // The IEEE-1394 path reads windowing from the control channel, which a web camera lacks.
    if (webcam && Contains(id, "ZRF_FW")) {
        ReleaseConnection();
        Fail(k::kConnectFailed);
    }
    if (!webcam) OpenControlChannel(host, id);

    char indexText[24];
    std::snprintf(indexText, sizeof indexText, "%ld", static_cast<long>(interfaceIndex));
    const bool usb = Contains(id, "ZRF_USB");
    if (FAILED(captureGraph->SelectDevice(Widen(host), Widen(indexText), usb))) {
        ReleaseConnection();
        Fail(k::kSelectDeviceFailed);
    }

    ChooseMediaType(id, selectedFormat);
    FillCameraInformation();

    if (FAILED(captureGraph->BuildCaptureGraph(false))) {
        ReleaseConnection();
        Fail(k::kConnectFailed);
    }
    try {
        UpdateRecorderImageSize();
        if (usb && !captureGraph->FrameRates().empty())
            captureGraph->SetFrameRate(captureGraph->FrameRates().front());
    } catch (...) {
        ReleaseConnection();
        Fail(k::kConnectFailed);
    }
    connectionBuilt = true;
}

void CaptureDevice::OpenControlChannel(const std::string& host, const std::string& id) {
    const bool kova = Contains(id, "KOVA");
    if (!commander->Connect(ConnectionMode::Network, host, kova)) {
        Logger::LogUserError(k::kKeyRegistryConnect, k::kTextRegistryConnect, {});
        ReleaseConnection();
        Fail(k::kConnectFailed);
    }
    if (!kova && Contains(id, "TULA")) {
        isSupported = false;
        commander->UseTULAtempRanges();
    }
    try {
        commander->Authenticate(k::kUser, k::kPassword);
    } catch (const System::InvalidOperationException&) {
        Logger::LogUserError(k::kKeyAuthenticate, k::kTextAuthenticate, {});
        throw;
    }
    focusType = -1;
    if (!kova) {
        try {
            focusType = commander->GetFocusType();
        } catch (...) {
            // A camera that cannot tell its focus type is used without focus limits.
        }
    }
}

void CaptureDevice::ChooseMediaType(const std::string& id, const std::string& selectedFormat) {
    CMtxGraph& graph = *captureGraph;
    const GUID* subtype = nullptr;
    if (Contains(id, "ZRF_FW")) {
        ConfigureStream([&] { imageStream->SetSourceKind(SourceKind::Ieee1394); });
        if (graph.IsMediaTypeAvailable(kSubtypeF7M2))
            subtype = &kSubtypeF7M2;
        else if (graph.IsMediaTypeAvailable(kSubtypeF7M0))
            subtype = &kSubtypeF7M0;
        if (!subtype) {
            Logger::LogUserError(k::kKeyStreamingNotSupported, k::kTextStreamingNotSupported, {});
            ReleaseConnection();
            Fail(k::kSelectDeviceFailed);
        }
        HRESULT hr = E_FAIL;
        ConfigureStream([&] { hr = graph.SetMediaType(*subtype); });  // sizes the stream
        if (FAILED(hr)) {
            ReleaseConnection();
            Fail(k::kSetMediaTypeFailed);
        }
        ReadWindowing();
        return;
    }
    if (!Contains(id, "ZRF_USB")) Fail(k::kUnsupportedFormat);

    ConfigureStream([&] { imageStream->SetSourceKind(SourceKind::Usb); });
    if (selectedFormat.empty() || EqualsIgnoreCase(selectedFormat, k::kFormatIr)) {
        if (graph.IsMediaTypeAvailable(kSubtypeF7M0))
            subtype = &kSubtypeF7M0;
        else if (graph.IsMediaTypeAvailable(kSubtypeMJLS))
            subtype = &kSubtypeMJLS;
    } else if (EqualsIgnoreCase(selectedFormat, k::kFormatYuy2)) {
        if (graph.IsMediaTypeAvailable(kSubtypeYUY2)) subtype = &kSubtypeYUY2;
    } else if (EqualsIgnoreCase(selectedFormat, k::kFormatJpeg)) {
        if (graph.IsMediaTypeAvailable(kSubtypeMJPG)) subtype = &kSubtypeMJPG;
    }
    HRESULT hr = E_FAIL;
    if (subtype) ConfigureStream([&] { hr = graph.SetMediaType(*subtype); });
    if (FAILED(hr)) {
        ReleaseConnection();
        Fail(k::kSetMediaTypeFailed);
    }
}

void CaptureDevice::ReadWindowing() {
    hasWindowing = commander->HasWindowing();
    if (!hasWindowing) return;
    windowingActive = commander->GetWindowing();
    windowingFields = commander->GetWindowingFields();
    if (windowingActive) ConfigureStream([&] { imageStream->SetFieldCount(windowingFields); });
}

void CaptureDevice::FillCameraInformation() {
    std::lock_guard state(stateMutex);
    try {
        if (!commander) {
            for (auto set : {&CameraInformationXml::SetName, &CameraInformationXml::SetSerialNumber,
                             &CameraInformationXml::SetArticle, &CameraInformationXml::SetSWVersion,
                             &CameraInformationXml::SetHWArticle})
                (cameraInformation.*set)("N/A");
            return;
        }
        cameraInformation.SetName(commander->GetName());
        cameraInformation.SetSerialNumber(commander->GetSerialNumber());
        cameraInformation.SetArticle(commander->GetArticle());
        cameraInformation.SetSWVersion(commander->GetSWVersion());
        cameraInformation.SetHWArticle(commander->GetHWArticle());
    } catch (...) {
        // What was read before the failure stays.
    }
}

void CaptureDevice::ReleaseConnection() {
    std::lock_guard lock(syncRoot);
    connectionBuilt = false;
    // What the camera said of windowing belongs to the connection; the next connect reads it.
    hasWindowing = false;
    windowingActive = false;
    if (captureGraph) {
        captureGraph->Stop();  // once it returns, no sample callback runs
        graphRunning = false;
        DetachNewImageHandler();
        // Destroyed outside stateMutex: releasing a graph's filters may wait for threads of the
        // platform, which must not wait on a lock the queries take.
        std::unique_ptr<CMtxGraph> graph;
        {
            std::lock_guard state(stateMutex);
            graph = std::move(captureGraph);
        }
        graph.reset();
    }
    if (commander) {
        commander->Dispose();
        std::lock_guard state(stateMutex);
        commander.reset();
    }
    if (imageStream) {
        lastStampMilliseconds = std::max(lastStampMilliseconds, imageStream->LastStampMilliseconds());
        std::lock_guard state(stateMutex);
        imageStream.reset();
    }
}

void CaptureDevice::Device_Disconnect() {
    if (HandlerScope::Active()) {
        if (!Device_IsConnected()) throw System::InvalidOperationException(k::kNotConnected);
        Defer(kDisconnectAsked);
        return;
    }
    auto lock = LockDevice("Device_Disconnect");
    if (!ConnectedNow()) throw System::InvalidOperationException(k::kNotConnected);
    DisconnectLocked();
}

void CaptureDevice::DisconnectLocked() {
    if (hasWindowing && windowingActive) {
        try {
            SetWindowingMode(0);
        } catch (...) {
            // Switching windowing off is a courtesy to the camera; disconnect goes on.
        }
    }
    ReleaseConnection();
}

// False as soon as a handler asked for a disconnect or disposal.
bool CaptureDevice::Device_IsConnected() { return !DisconnectionAsked() && ConnectedNow(); }

bool CaptureDevice::ConnectedNow() {
    std::lock_guard state(stateMutex);
    if (commander && captureGraph) return commander->IsConnected();
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
    XElement data(Entities::XmlUtils::XmlNames::DeviceXName);
    XElement information;
    std::int32_t bufferSize = 0;
    bool haveStream = false;
    {
        std::lock_guard state(stateMutex);
        if (!captureGraph || DisconnectionAsked()) return data;
        cameraInformation.SetFrameCount(frameCount);
        cameraInformation.SetLostImages(lostFrames);
        information = cameraInformation.XMLData().Clone();
        if (imageStream) {
            haveStream = true;
            bufferSize = imageStream->GetImageBufferSize();
        }
    }
    if (const auto r = CurrentRecorder()) {
        data.Add(r->Settings());
    } else {
        Entities::XmlUtils::RecorderXml settings;
        settings.CreateSubFolderSettings(true, true, 0, "");
        if (haveStream) settings.SetImageSize(bufferSize);
        settings.SetMaxNumberOfFramesInPreRecording(k::kPreRecordingImages);
        data.Add(settings.XMLData());
    }
    data.Add(information);
    return data;
}

void CaptureDevice::Dispose() {
    if (HandlerScope::Active()) {
        if (!disposed) Defer(kDisposeAsked);
        return;
    }
    AwaitDeferred();
    DisposeNow();
}

void CaptureDevice::DisposeNow() {
    const bool verbose = DeviceTrace::traceSwitch().TraceVerbose();
    if (verbose)
        Logger::Trace(DeviceTrace::FormatTrace(
            false, "VERBOSE: ", "CaptureDevice::~CaptureDevice()", __FILE__, __LINE__));
    DisposeCore(true);
    if (verbose)
        Logger::Trace(DeviceTrace::FormatTrace(
            false, "VERBOSE: ", "END CaptureDevice::~CaptureDevice()", __FILE__, __LINE__));
}

void CaptureDevice::DisposeCore(bool disposing) {
    if (disposed) return;
    if (disposing) {
        DeviceLockHold lock(*this, "Dispose");
        ReleaseConnection();
        frameBuffer = {};
        CloseRecorder();
        // Still under the lock: a Recorder_Setup waiting for it must find the device disposed.
        disposed = true;
    }
    disposed = true;
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
