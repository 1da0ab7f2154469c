// What a handler asks that would wait (a stop, a disconnect, a disposal) runs later on the
// device's own thread; the device's fields, read together for its state.
#include <cstdio>
#include <cstdlib>

#include "host/logging/logger.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

using Vorn::Zephra::Diagnostics::Log::Logger;
namespace k = constants;

// From here on the device raises no Completed or Calibrating: a host that stops after N images
// gets N, and one that disposes hears nothing more.
void CaptureDevice::Defer(unsigned what) {
    if ((asked.fetch_or(what) & what) != 0) return;  // asked already: once is enough
    deferred.Defer([this, what] { RunDeferred(what); });
}

// Runs as a host thread's call would; it finds the state that call would find, so what is
// already done (a stop after a host's own stop) is not done twice.
void CaptureDevice::RunDeferred(unsigned what) {
    try {
        if (what == kStopAsked) {
            auto lock = LockDevice("GrabContinous_Stop");
            if (isGrabbing) StopLocked();
        } else if (what == kDisconnectAsked) {
            auto lock = LockDevice("Device_Disconnect");
            if (ConnectedNow()) DisconnectLocked();
        } else {
            DisposeNow();
        }
    } catch (const System::Exception& e) {
        Logger::TraceError(e.Message(), e);
    } catch (...) {
        Logger::TraceError(k::kDeferredFailure);
    }
    asked &= ~what;
}

void CaptureDevice::AwaitDeferred() {
    if (HandlerScope::Active() || deferred.OnWorker() || syncRoot.HeldByThisThread()) return;
    deferred.WaitUntilDone();
}

DeviceFields CaptureDevice::Fields() const {
    std::lock_guard state(stateMutex);
    DeviceFields f;
    f.disposed = disposed;
    f.graph = captureGraph != nullptr;
    f.stream = imageStream != nullptr;
    f.channel = commander != nullptr;
    f.imageHandler = newImageHandle != nullptr;
    f.connectionBuilt = connectionBuilt;
    f.isGrabbing = isGrabbing;
    f.graphRunning = graphRunning;
    f.hasWindowing = hasWindowing;
    f.windowingActive = windowingActive;
    f.recorder = recorder != nullptr;
    f.recorderRetired = recorderRetired;
    f.deferredAsked = asked != 0;
    return f;
}

void CaptureDevice::CheckFieldsOnReturn(const char* operation) const {
#ifndef NDEBUG
    if (syncRoot.Depth() != 1) return;  // an operation under another: the outer one checks
    const std::string broken = BrokenRule(Fields());
    if (broken.empty()) return;
    std::fprintf(stderr, "CaptureDevice %s: %s left fields no operation may leave: %s\n",
                 identifier.c_str(), operation, broken.c_str());
    std::abort();
#else
    (void)operation;
#endif
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
