// The edges of what a handler defers: what a host, another device or the platform can do
// around it that the device must still get right.
#ifndef _WIN32
#include <pthread.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "handler_contexts.h"
#include "expect_exception.h"
#include "plugin/deferred_calls.h"
#include "plugin/handler_scope.h"
#include "tests/host/recorder/temp_dir.h"
#include "tests/soak/watchdog.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using namespace std::chrono_literals;
namespace nodes = zrf::sim::nodes;


#ifndef _WIN32
// Makes every thread started while it lives fail to start: its default stack cannot be mapped.
class ThreadsCannotStart {
  public:
    ThreadsCannotStart() {
        pthread_attr_t attr;
        pthread_getattr_default_np(&attr);
        pthread_attr_getstacksize(&attr, &saved_);
        pthread_attr_setstacksize(&attr, std::size_t{1} << 46);
        ok_ = pthread_setattr_default_np(&attr) == 0;
        pthread_attr_destroy(&attr);
    }
    ~ThreadsCannotStart() {
        pthread_attr_t attr;
        pthread_getattr_default_np(&attr);
        pthread_attr_setstacksize(&attr, saved_);
        pthread_setattr_default_np(&attr);
        pthread_attr_destroy(&attr);
    }
    bool Ok() const { return ok_; }

  private:
    std::size_t saved_ = 0;
    bool ok_ = false;
};
#endif

class DeferredEdgesTest : public HandlerContextTest {
  protected:
    // A second camera and its device, streaming.
    struct Other {
        std::unique_ptr<Simulation::SimulatedCameraHandle> camera;
        std::unique_ptr<CaptureDevice> device;
        std::unique_ptr<DeviceEvents> events;
    };
    static Other StreamingOther(const std::string& preset) {
        Simulation::SimulatedCameraOptions options;
        options.asFastAsPossible = true;
        Other o;
        o.camera = Simulation::SimulatedCameraHandle::Start(preset, options);
        o.device = std::make_unique<CaptureDevice>(o.camera->Identity().Identifier());
        o.events = std::make_unique<DeviceEvents>(*o.device);
        o.device->Device_Connect(o.camera->Identity().XMLData());
        o.device->GrabContinous_Start();
        EXPECT_TRUE(o.events->WaitForImages(1));
        return o;
    }

};

#ifndef _WIN32
// The worker cannot be started (the process is out of threads). Whatever the handler is told,
// the device must not end up both deaf and waiting for ever: either the call failed and the
// device goes on as before, or it was asked and runs.
TEST_F(DeferredEdgesTest, DeferWhoseThreadCannotStartLeavesTheDeviceUsable) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(40));
    for (Asked what : kAsked) {
        const std::string row = std::string(Name(what)) + " when no thread can start";
        watchdog.Progress(row + ": streaming");
        MakeCamera("usb-ir");
        Connect();
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(1)) << row;
        std::string thrown = "none";
        bool injected = false;
        FromHandler(Context::Completed, [&](CaptureDevice& d) {
            ThreadsCannotStart noThreads;
            injected = noThreads.Ok();
            try {
                Ask(d, what);
            } catch (const std::system_error& e) {
                thrown = std::string("system_error: ") + e.what();
            } catch (const std::exception& e) {
                thrown = e.what();
            }
        });
        ASSERT_TRUE(injected) << row;
        const std::size_t seen = events->ImageCount();
        if (thrown != "none") {
            // The call failed: the handler was told, so nothing may have been asked.
            EXPECT_TRUE(device->GrabContinous_IsGrabbing()) << row << ": the handler got " << thrown
                                                            << " yet the device reads as stopped";
            EXPECT_TRUE(device->Device_IsConnected()) << row << ": the handler got " << thrown
                                                      << " yet the device reads as disconnected";
            EXPECT_TRUE(events->WaitForImages(seen + 3))
                << row << ": the handler got " << thrown << " yet the device raises no image any more";
        }
        // A host call made now must return (the watchdog ends a hang).
        watchdog.Progress(row + ": a host call after the handler returned (" + thrown + ")");
        (void)device->Device_IsConnected();
        try {
            device->Control_GetFrameRates();
        } catch (const System::Exception&) {
        }
        watchdog.Progress(row + ": teardown");
        TearDown();
    }
}
#endif

// The host changes the temperature range of a streaming camera that restarts its graph for it;
// meanwhile another device's handler asks this one to stop. The host never stopped: the stop
// must be taken and hold once the host's call returned.
TEST_F(DeferredEdgesTest, StopAskedByAnotherDevicesHandlerWhileTheHostChangesTheRangeIsNotLost) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(60));
    MakeCamera("usb-ir", "tula=1");  // its temperature range change restarts the graph
    Connect();
    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(1));
    Other other = StreamingOther("fw-ir");  // another camera than the one changing ranges
    CaptureDevice& target = *device;

    std::atomic<bool> armed{false};
    std::atomic<bool> hostDone{false};
    std::atomic<bool> asked{false};
    std::string thrown = "not asked";
    bool sawNotGrabbing = false;
    other.device->Completed().Subscribe([&](const void*, const auto&) {
        if (!armed.exchange(false)) return;
        // Spins until the device reads as not grabbing, which only the host's range change does.
        while (!hostDone && target.GrabContinous_IsGrabbing()) {
        }
        sawNotGrabbing = !target.GrabContinous_IsGrabbing();
        try {
            target.GrabContinous_Stop();
            thrown = "";
        } catch (const System::Exception& e) {
            thrown = e.Message();
        }
        asked = true;
    });
    armed = true;
    watchdog.Progress("the host changes ranges");
    for (int i = 0; i < 2000 && !asked; ++i) {
        device->IRControl_SetTemperatureRange(i % 2);
        if (i % 50 == 0) watchdog.Progress("range change " + std::to_string(i));
    }
    hostDone = true;
    while (!asked) std::this_thread::yield();
    device->Control_GetFrameRate();  // after the deferred stop, if one was asked
    EXPECT_EQ(thrown, "") << "another device's handler asked for a stop while the host had the device "
                             "streaming (saw it not grabbing: "
                          << sawNotGrabbing << ")";
    EXPECT_FALSE(device->GrabContinous_IsGrabbing()) << "the device streams on after a stop was asked";
    const std::size_t seen = events->ImageCount();
    other.device->GrabContinous_Stop();
    other.device->Dispose();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(events->ImageCount(), seen) << "images raised after the asked stop";
}

// A handler asks and then destroys its own device, in every handler context, for every
// deferred operation: nothing of it is touched afterwards and its camera is taken again.
TEST_F(DeferredEdgesTest, DestroyedByItsHandlerRightAfterAskingInEveryContext) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(40));
    for (Context context : kContexts) {
        for (Asked what : kAsked) {
            const std::string row = std::string(Name(what)) + " then destroyed, from " + Name(context);
            watchdog.Progress(row);
            StreamingWithRecorder();
            std::string thrown;
            FromHandler(context, [&](CaptureDevice& d) {
                try {
                    Ask(d, what);
                } catch (const System::Exception& e) {
                    thrown = e.Message();
                }
                device.reset();
            });
            EXPECT_EQ(thrown, "") << row;
            EXPECT_EQ(device, nullptr) << row;
            watchdog.Progress(row + ": the camera taken again");
            events.reset();
            auto next = std::make_unique<CaptureDevice>(identity.identifier);
            DeviceEvents nextEvents(*next);
            next->Device_Connect(IdentityElement());
            next->GrabContinous_Start();
            EXPECT_TRUE(nextEvents.WaitForImages(2)) << row;
            next->Dispose();
            next.reset();
            TearDown();
        }
    }
}

// Two devices whose handlers ask each other for the same thing at the same time, then the
// host lets go of both: every asked operation runs once and nothing waits for ever.
TEST_F(DeferredEdgesTest, TwoDevicesAskEachOtherFromTheirHandlers) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(40));
    for (Asked what : kAsked) {
        const std::string row = std::string(Name(what)) + " asked crosswise";
        watchdog.Progress(row);
        MakeCamera("usb-ir");
        Connect();
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(1)) << row;
        Other other = StreamingOther("fw-ir");
        CaptureDevice& a = *device;
        CaptureDevice& b = *other.device;
        std::atomic<int> done{0};
        std::atomic<int> failures{0};
        std::atomic<int> arrived{0};
        auto crosswise = [&](CaptureDevice& target) {
            auto once = std::make_shared<std::atomic<bool>>(false);
            return [&, once](const void*, const auto&) {
                if (once->exchange(true)) return;
                // Both handlers are running before either asks.
                ++arrived;
                while (arrived < 2) std::this_thread::yield();
                try {
                    Ask(target, what);
                } catch (const System::Exception&) {
                    ++failures;
                }
                ++done;
            };
        };
        a.Completed().Subscribe(crosswise(b));
        b.Completed().Subscribe(crosswise(a));
        while (done < 2) std::this_thread::yield();
        watchdog.Progress(row + ": host calls");
        EXPECT_EQ(failures.load(), 0) << row;
        for (CaptureDevice* d : {&a, &b}) {
            const DeviceState expected = what == Asked::Stop         ? DeviceState::Connected
                                         : what == Asked::Disconnect ? DeviceState::Created
                                                                     : DeviceState::Disposed;
            EXPECT_FALSE(d->Recorder_IsRecording()) << row;
            try {
                d->IRControl_GetShutter();  // waits for the deferred one
            } catch (const System::Exception&) {
            }
            EXPECT_EQ(NameOf(CaptureDeviceInspector(*d).StateNow()), std::string(NameOf(expected))) << row;
        }
        watchdog.Progress(row + ": destroyed");
        other.device.reset();
        TearDown();
    }
}

// A handler of one device raises another's statuses (nested scopes) and asks from the inner
// handler: the ask waits for the outermost handler, and exactly the images before it arrive.
TEST_F(DeferredEdgesTest, AskedFromANestedRaiseRunsOnceTheOutermostHandlerReturned) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(40));
    for (Asked what : kAsked) {
        const std::string row = std::string(Name(what)) + " from a nested status handler";
        watchdog.Progress(row);
        StreamingWithRecorder();
        std::atomic<int> raised{0};
        std::string thrown;
        bool ranInside = true;
        std::size_t imagesWhenAsked = 0;
        device->RecordingStatus().Subscribe([&](const void* sender, const auto& e) {
            if (e.Status != RecordingStatus::Recording) return;
            auto& d = *static_cast<CaptureDevice*>(const_cast<void*>(sender));
            try {
                Ask(d, what);
            } catch (const System::Exception& ex) {
                thrown = ex.Message();
            }
        });
        FromHandler(Context::Completed, [&](CaptureDevice& d) {
            d.Recorder_Start(0);  // the status handler runs nested on this thread
            imagesWhenAsked = events->ImageCount();
            std::this_thread::sleep_for(20ms);
            // Still inside the outermost handler: nothing asked has run.
            ranInside = what == Asked::Stop ? !CaptureDeviceInspector(d).Fields().graphRunning
                                            : !CaptureDeviceInspector(d).Fields().graph;
        });
        EXPECT_EQ(thrown, "") << row;
        EXPECT_FALSE(ranInside) << row << ": ran before the outermost handler returned";
        try {
            device->IRControl_GetShutter();
        } catch (const System::Exception&) {
        }
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(events->ImageCount(), imagesWhenAsked) << row << ": images after the ask";
        EXPECT_EQ(device->GrabContinous_LostFrames(), 0) << row;
        (void)raised;
        TearDown();
    }
}

// The host's pattern when a handler gives up a device: dispose from the handler, and once the
// handler returned, a new device for the same camera.
TEST_F(DeferredEdgesTest, ANewDeviceForTheCameraAfterAHandlerDisposedTheOldOne) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(40));
    for (Context context : kContexts) {
        for (Asked what : {Asked::Disconnect, Asked::Dispose}) {
            const std::string row = std::string(Name(what)) + " from " + Name(context) + ", then a new device";
            watchdog.Progress(row);
            StreamingWithRecorder();
            FromHandler(context, [&](CaptureDevice& d) { Ask(d, what); });
            auto next = std::make_unique<CaptureDevice>(identity.identifier);
            DeviceEvents nextEvents(*next);
            std::string thrown;
            try {
                next->Device_Connect(IdentityElement());
                next->GrabContinous_Start();
            } catch (const System::Exception& e) {
                thrown = e.Message();
            }
            EXPECT_EQ(thrown, "") << row;
            if (thrown.empty()) {
                EXPECT_TRUE(nextEvents.WaitForImages(2)) << row;
            }
            next->Dispose();
            next.reset();
            TearDown();
        }
    }
}

// The queue on its own: a call asked from a handler whose thread then leaves its scopes by an
// exception still runs; a call asked while another is running runs after it; a queue
// destroyed with a call waiting drops it.
TEST(DeferredCallsEdges, AskedWhileRunningAndDroppedOnDestruction) {
    std::atomic<int> ran{0};
    {
        DeferredCalls calls;
        std::promise<void> release;
        auto released = release.get_future().share();
        try {
            HandlerScope scope(&calls, HandlerScope::Context::Delivery);
            calls.Defer([&, released] {
                released.wait();
                ++ran;
            });
            throw std::runtime_error("the handler failed");
        } catch (const std::runtime_error&) {
        }
        std::thread other([&] {
            HandlerScope scope(&ran, HandlerScope::Context::RecorderStatus);
            calls.Defer([&] { ++ran; });
        });
        other.join();
        release.set_value();
        calls.WaitUntilDone();
        EXPECT_EQ(ran.load(), 2);
    }
    {
        DeferredCalls calls;
        HandlerScope scope(&calls, HandlerScope::Context::Delivery);
        calls.Defer([&] { ++ran; });
        EXPECT_FALSE(calls.DropAllWaiting());
    }
    EXPECT_EQ(ran.load(), 2);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
