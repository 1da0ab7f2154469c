// Continuous grabbing and the road of each image from the stream to the host.
#include <chrono>

#include "capture/mtx_graph.h"
#include "host/devices/framework_exceptions.h"
#include "host/logging/logger.h"
#include "host/recorder/recorder.h"
#include "imaging/img_src_stream.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

using Vorn::Zephra::Diagnostics::Log::Logger;
using System::Runtime::InteropServices::NativeCallback;
namespace k = constants;

namespace {

// Only the first failure of each kind in the process is traced: a broken stream would
// otherwise trace every frame.
std::atomic<bool> managedFailureUnreported{true};
std::atomic<bool> nativeFailureUnreported{true};

// 0001-01-01 to 1970-01-01 in 100-nanosecond ticks.
constexpr std::int64_t kUnixEpochTicks = 621355968000000000;
constexpr std::int64_t kTicksPerMillisecond = 10000;
constexpr std::int64_t kTicksPerSecond = 10000000;

// A run the camera refuses fails as a refused start does.
void ThrowIfRunFailed(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    if (hr == k::kAlreadyInUse) Logger::LogUserError(k::kKeyAlreadyStreaming, k::kTextAlreadyStreaming, {});
    throw DeviceConnectionFailedException(k::kStartFailed);
}

}  // namespace

void CaptureDevice::AttachNewImageHandler() {
    if (!imageStream) return;
    if (!newImageHandle) {
        try {
            newImageHandle = std::make_unique<NativeCallback>([this] { OnNewImage(); });
        } catch (const System::Exception& e) {
            Logger::TraceError(e.Message(), e);
        }
    }
    imageStream->SetNewImageCallback(newImageHandle ? newImageHandle->EntryPoint() : nullptr);
}

void CaptureDevice::DetachNewImageHandler() {
    if (!newImageHandle) return;
    if (imageStream) imageStream->SetNewImageCallback(nullptr);
    newImageHandle.reset();
}

void CaptureDevice::OnNewImage() {
    HandlerScope scope(this, HandlerScope::Context::Delivery);
    // Nothing may reach the stream: the sample would be lost for the graph too. A device that
    // one of its handlers destroyed is not touched again (its counters and flags went with it).
    int undelivered = 0;
    try {
        DeliverFields(scope, undelivered);
    } catch (const System::Exception& e) {
        CountLostOnFailure(scope, undelivered);
        if (managedFailureUnreported.exchange(false)) Logger::TraceError(k::kGrabberThreadFailure, e);
    } catch (...) {
        CountLostOnFailure(scope, undelivered);
        if (nativeFailureUnreported.exchange(false)) Logger::TraceError(k::kGrabberThreadFailure);
    }
}

// The fields a failure kept from the host are lost to it, and counted so; not when a handler
// asked for a stop (nothing more was to be raised) or the camera was calibrating (its frames
// are not counted lost).
void CaptureDevice::CountLostOnFailure(const HandlerScope& scope, int undelivered) {
    if (scope.DeviceGone() || DeliveryHeld() || isCalibrating || undelivered <= 0) return;
    lostFrames += static_cast<std::uint32_t>(undelivered);
}

std::int64_t CaptureDevice::ImageTicks() const {
    const ImgSrcStream& stream = *imageStream;
    return kUnixEpochTicks - std::int64_t{stream.TimeZoneMinutes()} * 60 * kTicksPerSecond +
           std::int64_t{stream.TimeSeconds()} * kTicksPerSecond +
           std::int64_t{stream.TimeMilliseconds()} * kTicksPerMillisecond;
}

// Every event is raised with no lock held; after each one the device may be gone.
void CaptureDevice::DeliverFields(const HandlerScope& scope, int& undelivered) {
    const auto started = std::chrono::steady_clock::now();
    // A handler asked for a stop: what still arrives is neither raised nor counted.
    if (DeliveryHeld()) return;
    ImgSrcStream& stream = *imageStream;
    const std::int32_t size = stream.GetImageBufferSize();
    if (size <= 0) {
        // A sample the stream cannot size holds no image: it is lost, as a bad frame is.
        if (!isCalibrating) ++lostFrames;
        return;
    }
    if (frameBuffer.size() < static_cast<std::size_t>(size))
        frameBuffer = std::vector<std::uint8_t>(static_cast<std::size_t>(size));

    const int fields = windowingActive ? windowingFields.load() : 1;
    for (int field = 0; field < fields; ++field) {
        if (DeliveryHeld()) return;
        undelivered = fields - field;
        const auto alive = [&scope] { return !scope.DeviceGone(); };
        switch (stream.DecodeImage(field, frameBuffer.data())) {
            case DecodeResult::Calibrating:
                undelivered = 0;  // the handling ends here anyway
                if (!isCalibrating.exchange(true)) calibrating.RaiseWhile(this, {true}, alive);
                return;
            case DecodeResult::BadFrame:
                if (!isCalibrating) ++lostFrames;
                return;
            case DecodeResult::Ok:
                break;
            default:
                return;
        }
        if (isCalibrating.exchange(false)) {
            calibrating.RaiseWhile(this, {false}, alive);
            if (scope.DeviceGone() || DeliveryHeld()) return;
        }
        if (const auto r = CurrentRecorder()) {
            {
                std::lock_guard recorderLock(r->SyncRoot());
                if (size != r->GetImageSize()) SizeRecorder(*r, size);
                frameCount = static_cast<std::uint32_t>(r->AddImage(frameBuffer, 0, ImageTicks()));
            }
            // A status handler may have destroyed the device, or asked for a stop.
            if (!RaiseRecordingStatuses() || DeliveryHeld()) return;
        } else {
            ++frameCount;
        }
        undelivered = fields - field - 1;  // this one reaches its handlers
        completed.RaiseWhile(this, {frameBuffer, Entities::XmlUtils::ImageInfoXml(frameCount).XMLData()},
                             alive);
        if (scope.DeviceGone()) return;
    }
    lapTimeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - started)
                    .count();
}

void CaptureDevice::RunAgainIfStreaming() {
    if (graphRunning) ThrowIfRunFailed(captureGraph->Run());
}

void CaptureDevice::GrabContinous_Start() {
    auto lock = LockDevice("GrabContinous_Start");
    // Cleared before any other check: a failing start also clears them.
    lostFrames = 0;
    frameCount = 0;
    ThrowIfNotConnected();
    // A connect that stopped part-way selected no camera: a graph run now would deliver
    // nothing while the host believes it streams.
    if (!connectionBuilt) throw DeviceConnectionFailedException(k::kStartFailed);
    // Made before the run, so the first image reaches it.
    EnsureRecorder();
    // Grabbing before the run: the handler of the very first image may already ask for a stop.
    const bool wasGrabbing = isGrabbing.exchange(true);
    try {
        ThrowIfRunFailed(captureGraph->Run());
    } catch (...) {
        isGrabbing = wasGrabbing;
        throw;
    }
    graphRunning = true;
}

void CaptureDevice::GrabContinous_Stop() {
    if (HandlerScope::Active()) {
        if (!GrabContinous_IsGrabbing()) throw System::InvalidOperationException(k::kGrabbingNotStarted);
        Defer(kStopAsked);
        return;
    }
    auto lock = LockDevice("GrabContinous_Stop");
    if (!isGrabbing) throw System::InvalidOperationException(k::kGrabbingNotStarted);
    StopLocked();
}

void CaptureDevice::StopLocked() {
    // After a disconnect the graph that was streaming is gone; there is nothing to stop.
    if (captureGraph) captureGraph->Stop();
    graphRunning = false;
    isGrabbing = false;
}

XElement CaptureDevice::Grab_EnumImageFormats() {
    Entities::XmlUtils::ImageFormatXml formats;
    {
        std::lock_guard state(stateMutex);
        if (captureGraph && !DisconnectionAsked()) {
            const ImageSize size = captureGraph->GetImageSize();
            formats.AddFormat(size.width, size.height);
        }
    }
    formats.SelectFormat(0);
    return formats.XMLData();
}

// There is one format and nothing to select: the connection check is all, and it needs no
// device lock, so a handler may ask.
void CaptureDevice::Grab_SelectImageFormat(int) { ThrowIfNotConnected(); }

int CaptureDevice::Grab_GetSelectedImageFormat() {
    ThrowIfNotConnected();
    return 0;
}

void CaptureDevice::ThrowIfNotConnected() {
    if (!Device_IsConnected()) throw System::InvalidOperationException(k::kNotConnected);
}

void CaptureDevice::RefuseFromHandler(const char* operation) {
    if (HandlerScope::Active())
        throw System::InvalidOperationException(operation + std::string(k::kCalledFromHandler));
}

CaptureDevice::DeviceLockHold CaptureDevice::LockDevice(const char* operation) {
    RefuseFromHandler(operation);
    AwaitDeferred();
    return DeviceLockHold(*this, operation);
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
