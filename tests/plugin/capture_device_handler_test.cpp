// Every public operation called from every handler the device raises, while another host thread
// runs an operation that waits for the streaming thread or the recorder: each call returns, is
// deferred or is refused at once. A hang ends the program with the pair that hung.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handler_contexts.h"
#include "host/commands/device_command.h"
#include "sim/handle/simulated_camera_handle.h"
#include "plugin/capture_device_constants.h"
#include "plugin/release_thread.h"
#include "tests/host/recorder/temp_dir.h"
#include "tests/soak/watchdog.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using namespace std::chrono_literals;

enum class Rule { Allowed, Deferred, Refused, RefusedInDocument };

struct Operation {
    const char* name;
    Rule rule;
    std::function<void(CaptureDevice&, const XElement& identity, const XElement& settings)> call;
};

// The rule the README states: a handler may read the device's state and drive its recorder; a
// stop, disconnect or disposal is deferred; the reads that never fail answer; everything else
// that talks to the camera or changes the connection or the stream is refused.
const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = {
        {"Device_Identifier", Rule::Allowed, [](auto& d, auto&, auto&) { d.Device_Identifier(); }},
        {"Device_IsConnected", Rule::Allowed, [](auto& d, auto&, auto&) { d.Device_IsConnected(); }},
        {"Device_Heartbeat", Rule::Allowed, [](auto& d, auto&, auto&) { d.Device_Heartbeat(); }},
        {"Device_XMLData", Rule::Allowed, [](auto& d, auto&, auto&) { d.Device_XMLData(); }},
        {"Device_HighPerformance", Rule::Allowed,
         [](auto& d, auto&, auto&) {
             d.Device_HighPerformance(Entities::XmlUtils::HighPerformanceXml().XMLData());
         }},
        {"Grab_Grab", Rule::Allowed, [](auto& d, auto&, auto&) { d.Grab_Grab(); }},
        {"Grab_EnumImageFormats", Rule::Allowed, [](auto& d, auto&, auto&) { d.Grab_EnumImageFormats(); }},
        {"Grab_SelectImageFormat", Rule::Allowed, [](auto& d, auto&, auto&) { d.Grab_SelectImageFormat(0); }},
        {"Grab_GetSelectedImageFormat", Rule::Allowed,
         [](auto& d, auto&, auto&) { d.Grab_GetSelectedImageFormat(); }},
        {"GrabContinous_IsGrabbing", Rule::Allowed, [](auto& d, auto&, auto&) { d.GrabContinous_IsGrabbing(); }},
        {"GrabContinous_LapTime", Rule::Allowed, [](auto& d, auto&, auto&) { d.GrabContinous_LapTime(); }},
        {"GrabContinous_LostFrames", Rule::Allowed, [](auto& d, auto&, auto&) { d.GrabContinous_LostFrames(); }},
        {"events", Rule::Allowed,
         [](auto& d, auto&, auto&) {
             d.Completed().Unsubscribe(d.Completed().Subscribe([](const void*, const auto&) {}));
             d.RecordingStatus().Unsubscribe(d.RecordingStatus().Subscribe([](const void*, const auto&) {}));
         }},
        {"Recorder_Setup", Rule::Allowed, [](auto& d, auto&, auto& s) { d.Recorder_Setup(s); }},
        {"Recorder_IsRecording", Rule::Allowed, [](auto& d, auto&, auto&) { d.Recorder_IsRecording(); }},
        {"Recorder_Start", Rule::Allowed, [](auto& d, auto&, auto&) { d.Recorder_Start(1); }},
        {"Recorder_Pause", Rule::Allowed, [](auto& d, auto&, auto&) { d.Recorder_Pause(0); }},
        {"Recorder_Stop", Rule::Allowed, [](auto& d, auto&, auto&) { d.Recorder_Stop(0); }},
        {"Control_Focus", Rule::Allowed, [](auto& d, auto&, auto&) { d.Control_Focus(FocusMode::Stop); }},
        {"Control_GetFocusPosition", Rule::Allowed, [](auto& d, auto&, auto&) { d.Control_GetFocusPosition(); }},
        {"Control_GetFocusMax", Rule::Allowed, [](auto& d, auto&, auto&) { d.Control_GetFocusMax(); }},
        {"Control_GetFocusMin", Rule::Allowed, [](auto& d, auto&, auto&) { d.Control_GetFocusMin(); }},
        {"IRControl_GetTemperatureRanges", Rule::Allowed,
         [](auto& d, auto&, auto&) { d.IRControl_GetTemperatureRanges(); }},
        {"Device_Connect", Rule::Refused, [](auto& d, auto& id, auto&) { d.Device_Connect(id); }},
        {"GrabContinous_Start", Rule::Refused, [](auto& d, auto&, auto&) { d.GrabContinous_Start(); }},
        {"Control_SetFocusPosition", Rule::Refused, [](auto& d, auto&, auto&) { d.Control_SetFocusPosition(5); }},
        {"Control_GetFrameRates", Rule::Refused, [](auto& d, auto&, auto&) { d.Control_GetFrameRates(); }},
        {"Control_SetFrameRate", Rule::Refused, [](auto& d, auto&, auto&) { d.Control_SetFrameRate(0); }},
        {"Control_GetFrameRate", Rule::Refused, [](auto& d, auto&, auto&) { d.Control_GetFrameRate(); }},
        {"IRControl_Nuc", Rule::Refused, [](auto& d, auto&, auto&) { d.IRControl_Nuc(); }},
        {"IRControl_GetShutter", Rule::Refused, [](auto& d, auto&, auto&) { d.IRControl_GetShutter(); }},
        {"IRControl_SetShutter", Rule::Refused, [](auto& d, auto&, auto&) { d.IRControl_SetShutter(true); }},
        {"IRControl_SetTemperatureRange", Rule::Refused,
         [](auto& d, auto&, auto&) { d.IRControl_SetTemperatureRange(0); }},
        {"IRControl_GetTemperatureRange", Rule::Refused,
         [](auto& d, auto&, auto&) { d.IRControl_GetTemperatureRange(); }},
        {"Device_ExecuteCommand", Rule::RefusedInDocument,
         [](auto& d, auto&, auto&) {
             auto command = DeviceCommand::Create(2, "Shutter");
             d.Device_ExecuteCommand(command.XmlData());
             if (!command.Error().empty()) throw System::InvalidOperationException(command.Error());
             throw System::InvalidOperationException("the command was run");
         }},
        // Last: what comes after a disposal is refused as after any disposal, which is not
        // what this table is about.
        {"GrabContinous_Stop", Rule::Deferred, [](auto& d, auto&, auto&) { d.GrabContinous_Stop(); }},
        {"Device_Disconnect", Rule::Deferred, [](auto& d, auto&, auto&) { d.Device_Disconnect(); }},
        {"Dispose", Rule::Deferred, [](auto& d, auto&, auto&) { d.Dispose(); }},
    };
    return operations;
}

std::string Refusal(const std::string& operation) {
    return operation + constants::kCalledFromHandler;
}

// What a call from a handler did, against its rule; empty when it kept it.
std::string Check(const Operation& op, const std::function<void()>& call) {
    std::string thrown;
    try {
        call();
    } catch (const System::Exception& e) {
        thrown = e.Message();
    }
    const std::string refusal =
        Refusal(op.rule == Rule::RefusedInDocument ? "Device_ExecuteCommand" : op.name);
    if (op.rule == Rule::Allowed || op.rule == Rule::Deferred)
        return thrown.find("cannot be called from a") == std::string::npos ? "" : "refused: " + thrown;
    return thrown == refusal ? "" : "not refused: '" + thrown + "'";
}

struct Waiter {
    const char* name;
    std::function<void(CaptureDevice&, const XElement& identity)> call;
};

// Host operations that wait for the streaming thread or for the recorder's lock.
const std::vector<Waiter>& Waiters() {
    static const std::vector<Waiter> waiters = {
        {"GrabContinous_Stop", [](auto& d, auto&) { d.GrabContinous_Stop(); }},
        {"Device_Disconnect", [](auto& d, auto&) { d.Device_Disconnect(); }},
        {"Device_Connect", [](auto& d, auto& id) { d.Device_Connect(id); }},
        {"Dispose", [](auto& d, auto&) { d.Dispose(); }},
        {"Control_SetFrameRate", [](auto& d, auto&) { d.Control_SetFrameRate(0); }},
        {"IRControl_SetTemperatureRange", [](auto& d, auto&) { d.IRControl_SetTemperatureRange(0); }},
        {"Recorder_Stop", [](auto& d, auto&) { d.Recorder_Stop(0); }},
    };
    return waiters;
}

using HandlerTest = HandlerContextTest;

// One handler call of the context, while the waiter runs on another thread: every operation in
// turn, then the handler returns and the waiter must finish.
TEST_F(HandlerTest, EveryOperationFromEveryHandlerReturnsWhileTheHostWaitsForTheStream) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(30));
    std::vector<std::string> failures;
    for (Context context : kContexts) {
        for (const Waiter& waiter : Waiters()) {
            const std::string pair = std::string(Name(context)) + " while " + waiter.name;
            watchdog.Progress(pair + ": setting up");
            MakeCamera("usb-ir", "tula=1");  // its range changes restart the stream: they wait too
            Connect();
            const XElement identityElement = IdentityElement();
            const XElement settings = Settings();
            device->Recorder_Setup(settings);
            device->GrabContinous_Start();
            ASSERT_TRUE(events->WaitForImages(1)) << pair;

            std::mutex mutex;
            std::condition_variable changed;
            bool entered = false, waiterCalling = false, waiterDone = false, handled = false;
            std::atomic<bool> armed{true};
            CaptureDevice& d = *device;
            CaptureDeviceInspector state(d);
            auto handler = [&] {
                if (!armed.exchange(false)) return;
                {
                    std::unique_lock lock(mutex);
                    entered = true;
                    changed.notify_all();
                    changed.wait(lock, [&] { return waiterCalling; });
                }
                // Give the waiter its lock: it now waits for this thread, or has finished.
                for (int i = 0; i < 200 && !state.DeviceLockHeldElsewhere(); ++i) {
                    std::lock_guard lock(mutex);
                    if (waiterDone) break;
                    std::this_thread::sleep_for(1ms);
                }
                for (const Operation& op : Operations()) {
                    watchdog.Progress(pair + ": " + op.name + " from the handler");
                    const std::string outcome =
                        Check(op, [&] { op.call(d, identityElement, settings); });
                    if (!outcome.empty()) {
                        std::lock_guard lock(mutex);
                        failures.push_back(pair + ": " + op.name + " " + outcome);
                    }
                }
                std::lock_guard lock(mutex);
                handled = true;
                changed.notify_all();
            };
            std::thread waiterThread([&] {
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return entered; });
                    waiterCalling = true;
                    changed.notify_all();
                }
                try {
                    waiter.call(d, identityElement);
                } catch (const System::Exception&) {
                    // its own errors (a stop after a disconnect, say) are not what is tested
                }
                std::lock_guard lock(mutex);
                waiterDone = true;
                changed.notify_all();
            });
            RaiseIn(context, d, *CameraTree(), handler);
            watchdog.Progress(pair + ": waiting for the handler and " + waiter.name);
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return handled && waiterDone; });
            }
            waiterThread.join();
            watchdog.Progress(pair + ": tearing down");
            device->Dispose();
        }
    }
    for (const std::string& f : failures) ADD_FAILURE() << f;
}

// A device destroyed by its own handler, in each context: nothing hangs, nothing of it is
// touched afterwards (AddressSanitizer sees to that), no later handler hears of it, and its
// camera is free for the next device. The handler destroys only once the test's own thread is
// out of the device's calls (as the README asks of a host): it waits for the test to arm it.
TEST_F(HandlerTest, ADeviceDestroyedByItsOwnHandlerGoesQuietly) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(30));
    for (Context context : {Context::Completed, Context::Calibrating, Context::StatusOnHostThread,
                            Context::StatusOnStreamingThread}) {
        watchdog.Progress(std::string("destroyed from ") + Name(context));
        MakeCamera("usb-ir");
        Connect();
        device->Recorder_Setup(Settings());
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(1));
        // Paused while the handlers are subscribed, so every raise hears both.
        device->GrabContinous_Stop();
        std::atomic<bool> destroyed{false};
        std::atomic<int> calledAfter{0};
        std::mutex mutex;
        std::condition_variable changed;
        bool armed = false;
        bool destructorReturned = false;
        std::thread::id destroyer;
        auto destroy = [&] {
            if (destroyed.exchange(true)) return;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return armed; });
            }
            destroyer = std::this_thread::get_id();
            device.reset();
            std::lock_guard lock(mutex);
            destructorReturned = true;
            changed.notify_all();
        };
        auto arm = [&] {
            std::lock_guard lock(mutex);
            armed = true;
            changed.notify_all();
        };
        // Another handler of the same event, after the one that destroys: never called with a
        // sender that is gone.
        auto later = [&](const void*, const auto&) { calledAfter += destroyed ? 1 : 0; };
        CaptureDevice& d = *device;
        switch (context) {
            case Context::Completed:
                d.Completed().Subscribe([&](const void*, const auto&) { destroy(); });
                d.Completed().Subscribe(later);
                d.GrabContinous_Start();
                arm();
                break;
            case Context::Calibrating:
                d.Calibrating().Subscribe([&](const void*, const auto&) { destroy(); });
                d.Calibrating().Subscribe(later);
                d.GrabContinous_Start();
                arm();
                CameraTree()->Nuc();
                break;
            case Context::StatusOnHostThread:
                // Nothing streams: the status can only be raised by this thread, in the call.
                d.RecordingStatus().Subscribe([&](const void*, const auto&) { destroy(); });
                d.RecordingStatus().Subscribe(later);
                arm();
                d.Recorder_Start(0);
                break;
            case Context::StatusOnStreamingThread:
                d.RecordingStatus().Subscribe([&](const void*, const auto& e) {
                    if (e.Status == RecordingStatus::Stopped) destroy();
                });
                d.RecordingStatus().Subscribe(later);
                d.Recorder_Start(2);  // stops by itself on the streaming thread
                d.GrabContinous_Start();
                arm();
                break;
        }
        {
            std::unique_lock lock(mutex);
            // Until the destructor returns, the camera's release may not have begun: a connect
            // could not know to wait for it.
            ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return destructorReturned; })) << Name(context);
        }
        EXPECT_EQ(destroyer == std::this_thread::get_id(), context == Context::StatusOnHostThread)
            << Name(context);
        EXPECT_EQ(calledAfter.load(), 0) << Name(context);
        // The camera is let go of: a new device streams from it (its connect waits for that).
        auto next = std::make_unique<CaptureDevice>(identity.identifier);
        DeviceEvents nextEvents(*next);
        next->Device_Connect(IdentityElement());
        next->GrabContinous_Start();
        EXPECT_TRUE(nextEvents.WaitForImages(2)) << Name(context);
        next->Dispose();
    }
}

// A status handler that throws: the caller gets the exception, and the statuses after it are
// raised all the same (the recording stopped; the host must hear so).
TEST_F(HandlerTest, AThrowingStatusHandlerHoldsBackNoStatus) {
    MakeCamera("usb-ir");
    Connect();
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath(dir.File("r.zrec"));
    settings.SetIsPreRecordingEnabled(true);
    device->Recorder_Setup(settings.XMLData());
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device->GrabContinous_Stop();  // the ring holds images; nothing streams now
    std::vector<RecordingStatus> seen;
    device->RecordingStatus().Subscribe([&](const void*, const RecordingStatusEventArgs& e) {
        seen.push_back(e.Status);
        if (seen.size() == 1) throw System::InvalidOperationException("the handler's own failure");
    });
    // One frame from the ring: Recording and Stopped, both in this call.
    EXPECT_THROW(device->Recorder_Start(1), System::InvalidOperationException);
    EXPECT_EQ(seen, (std::vector{RecordingStatus::Recording, RecordingStatus::Stopped}));
}

// Device B's handler running inside device A's handler: A's refusals still hold, and B's too.
TEST_F(HandlerTest, NestedHandlersOfTwoDevicesRefuseBoth) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(30));
    MakeCamera("usb-ir");
    Connect();
    // The second camera another of the simulated ones, which both builds can start beside it.
    Simulation::SimulatedCameraOptions options;
    options.asFastAsPossible = true;
    auto secondCamera = Simulation::SimulatedCameraHandle::Start("fw-ir", options);
    CaptureDevice second(secondCamera->Identity().Identifier());
    second.Device_Connect(secondCamera->Identity().XMLData());
    second.Recorder_Setup(Settings());

    std::mutex mutex;
    std::vector<std::string> outcomes;
    second.RecordingStatus().Subscribe([&](const void*, const RecordingStatusEventArgs& e) {
        if (e.Status != RecordingStatus::Recording) return;
        for (CaptureDevice* d : {device.get(), &second}) {
            std::string outcome = "accepted";
            try {
                d->IRControl_GetShutter();
            } catch (const System::InvalidOperationException& e) {
                outcome = e.Message() == Refusal("IRControl_GetShutter") ? "refused" : e.Message();
            }
            std::lock_guard lock(mutex);
            outcomes.push_back(std::string(d == &second ? "second: " : "first: ") + outcome);
        }
    });
    std::atomic<bool> once{false};
    device->Completed().Subscribe([&](const void*, const GrabContinousCompletedEventArgs&) {
        if (!once.exchange(true)) second.Recorder_Start(0);  // raises the second's status here
    });
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(3));
    device->GrabContinous_Stop();
    second.Dispose();
    std::lock_guard lock(mutex);
    EXPECT_EQ(outcomes, (std::vector<std::string>{"first: refused", "second: refused"}));
}

// A connect that waited for a running disposal finds the device disposed; it does not revive it.
TEST_F(HandlerTest, AConnectQueuedBehindDisposalIsRefused) {
    MakeCamera("usb-ir");
    Connect();
    CaptureDeviceInspector state(*device);
    std::string outcome;
    std::thread connecting;
    {
        auto held = state.HoldDeviceLock();  // disposal runs while the connect waits for the lock
        connecting = std::thread([&] {
            try {
                Connect();
                outcome = "connected";
            } catch (const System::ObjectDisposedException& e) {
                outcome = e.Message();
            }
        });
        std::this_thread::sleep_for(50ms);  // the connect is queued behind the lock by now
        device->Dispose();
    }
    connecting.join();
    EXPECT_EQ(outcome, "The device is disposed; create a new one.");
    EXPECT_FALSE(state.HasGraph());
    EXPECT_FALSE(device->Device_IsConnected());
}

// A release counts as running until everything it held is gone, the graph's remains included:
// whoever waits for the releases (a connect taking the camera back) may rely on that.
TEST(ReleaseThread, AReleaseRunsUntilWhatItHeldIsGone) {
    struct Held {
        explicit Held(std::promise<int>& running) : running(running) {}
        ~Held() { running.set_value(ReleasesRunning()); }
        std::promise<int>& running;
    };
    std::promise<int> runningWhenGone;
    auto gone = runningWhenGone.get_future();
    ReleaseOnOwnThread([held = std::make_shared<Held>(runningWhenGone)] {});
    WaitForReleases();
    EXPECT_EQ(gone.wait_for(0s), std::future_status::ready);
    EXPECT_GE(gone.get(), 1);  // this release itself, still counted
}

// A release that fails has nobody to tell but the log; it still ends, so no waiter hangs.
TEST(ReleaseThread, AFailedReleaseIsLoggedAndStillEnds) {
    Diagnostics::Log::LogCapture log;
    ReleaseOnOwnThread([] { throw System::InvalidOperationException("stop failed"); });
    WaitForReleases();
    EXPECT_EQ(ReleasesRunning(), 0);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, Diagnostics::Log::LogKind::TraceError);
    EXPECT_EQ(records[0].text, "A device's release on its own thread failed");
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
