#pragma once
// The contexts a device raises handlers in, the operations a handler may ask to be deferred,
// and a fixture that runs a piece of host code from one such handler.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device_fixture.h"
#include "tests/host/recorder/temp_dir.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

enum class Context { Completed, Calibrating, StatusOnHostThread, StatusOnStreamingThread };
inline constexpr Context kContexts[] = {Context::Completed, Context::Calibrating, Context::StatusOnHostThread,
                                        Context::StatusOnStreamingThread};
inline const char* Name(Context c) {
    switch (c) {
        case Context::Completed: return "Completed";
        case Context::Calibrating: return "Calibrating";
        case Context::StatusOnHostThread: return "RecordingStatus on a host thread";
        case Context::StatusOnStreamingThread: return "RecordingStatus on the streaming thread";
    }
    return "?";
}

enum class Asked { Stop, Disconnect, Dispose };
inline constexpr Asked kAsked[] = {Asked::Stop, Asked::Disconnect, Asked::Dispose};
inline const char* Name(Asked a) {
    switch (a) {
        case Asked::Stop: return "GrabContinous_Stop";
        case Asked::Disconnect: return "Device_Disconnect";
        case Asked::Dispose: return "Dispose";
    }
    return "?";
}
inline void Ask(CaptureDevice& d, Asked what) {
    switch (what) {
        case Asked::Stop: d.GrabContinous_Stop(); return;
        case Asked::Disconnect: d.Device_Disconnect(); return;
        case Asked::Dispose: d.Dispose(); return;
    }
}

// Subscribes `handler` to the event of the context and makes the device raise it: a correction
// makes the camera calibrate; a recording started here raises its status on this thread, one
// of two frames stops by itself on the streaming thread.
template <class Handler>
void RaiseIn(Context context, CaptureDevice& d, zrf::sim::ResourceTree& camera, Handler handler) {
    switch (context) {
        case Context::Completed:
            d.Completed().Subscribe([handler](const void*, const auto&) { handler(); });
            break;
        case Context::Calibrating:
            d.Calibrating().Subscribe([handler](const void*, const auto& e) {
                if (e.IsCalibrating) handler();
            });
            camera.Nuc();
            break;
        case Context::StatusOnHostThread:
            d.RecordingStatus().Subscribe([handler](const void*, const auto& e) {
                if (e.Status == RecordingStatus::Recording) handler();
            });
            d.Recorder_Start(0);
            break;
        case Context::StatusOnStreamingThread:
            d.RecordingStatus().Subscribe([handler](const void*, const auto& e) {
                if (e.Status == RecordingStatus::Stopped) handler();
            });
            d.Recorder_Start(2);
            break;
    }
}

class HandlerContextTest : public DeviceTest {
  protected:
    XElement Settings() {
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(dir.Path() + "/");
        return settings.XMLData();
    }

    // Runs `act` once from a handler of the context and returns when that handler returned.
    // The handler stays subscribed, disarmed: what it shares it owns. `act` may destroy the
    // device.
    void FromHandler(Context context, const std::function<void(CaptureDevice&)>& act) {
        struct Shared {
            std::mutex mutex;
            std::condition_variable changed;
            bool returned = false;
            std::atomic<bool> armed{true};
            std::function<void(CaptureDevice&)> act;
        };
        auto shared = std::make_shared<Shared>();
        shared->act = act;
        CaptureDevice& d = *device;
        RaiseIn(context, d, *CameraTree(), [shared, &d] {
            if (!shared->armed.exchange(false)) return;
            shared->act(d);
            std::lock_guard lock(shared->mutex);
            shared->returned = true;
            shared->changed.notify_all();
        });
        std::unique_lock lock(shared->mutex);
        ASSERT_TRUE(shared->changed.wait_for(lock, std::chrono::seconds(20), [&] { return shared->returned; }))
            << Name(context);
    }

    void StreamingWithRecorder(const std::string& preset = "usb-ir") {
        MakeCamera(preset);
        Connect();
        device->Recorder_Setup(Settings());
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(1));
    }

    TempDir dir;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
