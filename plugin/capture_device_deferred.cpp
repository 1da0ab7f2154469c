// What a handler asks that would wait (a stop, a disconnect, a disposal) runs later on the
// device's own thread; the device's fields, read together for its state.
#include <cstdio>
#include <cstdlib>

#include "host/logging/logger.h"
#include "host/system/exceptions.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"
#include "plugin/release_thread.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

using Vorn::Zephra::Diagnostics::Log::Logger;
namespace k = constants;

// From here on the device raises no Completed or Calibrating: a host that stops after N images
// gets N, and one that disposes hears nothing more.
void CaptureDevice::Defer(unsigned what) {
    if ((asked.fetch_or(what) & what) != 0) return;  // asked already: once is enough
    try {
        // A camera let go of later: until then a connect of any device waits for it.
        std::shared_ptr<PendingRelease> release;
        if (what != kStopAsked) release = std::make_shared<PendingRelease>();
        deferred.Defer([this, what, release] { RunDeferred(what); });
    } catch (...) {
        asked &= ~what;  // not asked after all: the asker hears why
        throw;
    }
}

// Runs as a host thread's call would; it finds the state that call would find, so what is
// already done (a stop after a host's own stop) is not done twice. What was asked is cleared
// under the lock, so no host call finds the work done and the reads still showing it asked.
void CaptureDevice::RunDeferred(unsigned what) {
    const char* name = what == kStopAsked         ? "GrabContinous_Stop"
                       : what == kDisconnectAsked ? "Device_Disconnect"
                                                  : "Dispose";
    auto lock = LockDevice(name);
    try {
        if (what == kStopAsked) {
            if (isGrabbing) StopLocked();
        } else if (what == kDisconnectAsked) {
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
