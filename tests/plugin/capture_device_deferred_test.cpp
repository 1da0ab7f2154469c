// A stop, disconnect or disposal asked from a handler: it returns at once, nothing more is
// raised from then on, the reads show what was asked, and the operation has run by the time a
// host call made after the handler returned runs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
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


// What the handler saw right after asking.
struct Seen {
    std::string thrown;
    bool grabbing = true;
    bool connected = true;
    bool recording = true;
    std::size_t images = 0;
    bool documentEmpty = false;
};

using DeferredTest = HandlerContextTest;

TEST_F(DeferredTest, AskedFromEveryHandlerItReturnsAtOnceAndHasRunByTheNextHostCall) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(60));
    for (Context context : kContexts) {
        for (Asked what : {Asked::Stop, Asked::Disconnect, Asked::Dispose}) {
            const std::string row = std::string(Name(what)) + " from " + Name(context);
            watchdog.Progress(row);
            StreamingWithRecorder();
            Seen seen;
            FromHandler(context, [&](CaptureDevice& d) {
                try {
                    Ask(d, what);
                } catch (const System::Exception& e) {
                    seen.thrown = e.Message();
                }
                seen.grabbing = d.GrabContinous_IsGrabbing();
                seen.connected = d.Device_IsConnected();
                seen.recording = d.Recorder_IsRecording();
                seen.documentEmpty = !d.Device_XMLData().HasElements();
                seen.images = events->ImageCount();
            });
            EXPECT_EQ(seen.thrown, "") << row;
            // Only a stop clears the flag; a disconnect or disposal leaves it as it was.
            EXPECT_EQ(seen.grabbing, what != Asked::Stop) << row;
            EXPECT_FALSE(seen.connected && what != Asked::Stop) << row;
            EXPECT_EQ(seen.documentEmpty, what != Asked::Stop) << row;
            EXPECT_FALSE(seen.recording && what == Asked::Dispose) << row;

            // A host call made now runs after the deferred one.
            EXPECT_FALSE(device->IRControl_GetShutter() && what == Asked::Dispose) << row;
            const DeviceState expected = what == Asked::Stop         ? DeviceState::Connected
                                         : what == Asked::Disconnect ? DeviceState::Created
                                                                     : DeviceState::Disposed;
            EXPECT_EQ(NameOf(State().StateNow()), std::string(NameOf(expected))) << row;
            EXPECT_EQ(events->ImageCount(), seen.images) << row << ": an image raised after the call";
            EXPECT_EQ(device->GrabContinous_LostFrames(), 0) << row;

            if (what == Asked::Dispose) {
                ExpectThrowsMessage<System::ObjectDisposedException>([&] { Connect(); },
                                                                     "The device is disposed; create a new one.");
                ExpectThrowsMessage<System::ObjectDisposedException>(
                    [&] { device->Recorder_Setup(Settings()); }, "The device is disposed; create a new one.");
                ExpectThrowsMessage<System::InvalidOperationException>([&] { device->GrabContinous_Start(); },
                                                                       "Not connected");
            } else {
                if (what == Asked::Disconnect) Connect();
                device->GrabContinous_Start();
                EXPECT_TRUE(events->WaitForImages(seen.images + 2)) << row << ": streams again";
            }
            TearDown();
        }
    }
}

// Asked twice, or asked for what is not so: the answer a host thread would get, at once.
TEST_F(DeferredTest, AskingAgainAnswersAsTheStateAskedFor) {
    StreamingWithRecorder();
    std::vector<std::string> outcomes;
    FromHandler(Context::Completed, [&](CaptureDevice& d) {
        for (Asked what : {Asked::Stop, Asked::Stop, Asked::Disconnect, Asked::Disconnect, Asked::Dispose,
                           Asked::Dispose}) {
            try {
                Ask(d, what);
                outcomes.push_back(std::string(Name(what)) + ": asked");
            } catch (const System::Exception& e) {
                outcomes.push_back(std::string(Name(what)) + ": " + e.Message());
            }
        }
    });
    EXPECT_EQ(outcomes, (std::vector<std::string>{
                            "GrabContinous_Stop: asked", "GrabContinous_Stop: Grabbing not started",
                            "Device_Disconnect: asked", "Device_Disconnect: Not connected",
                            "Dispose: asked", "Dispose: asked"}));
    EXPECT_FALSE(device->Recorder_IsRecording());
    device->Dispose();  // waits for the three, in order
    EXPECT_EQ(State().StateNow(), DeviceState::Disposed);
    EXPECT_TRUE(log.Records().empty()) << log.Records().front().text;
}

// The host's pattern: stop from the handler once N images came. Exactly N are raised, a
// windowing camera's sample cut in the middle included, and nothing is counted lost.
TEST_F(DeferredTest, StopAfterNImagesRaisesExactlyN) {
    struct Row {
        const char* preset;
        int fields;
        int n;
    };
    for (const Row& row : {Row{"usb-ir", 1, 1}, Row{"usb-ir", 1, 2}, Row{"usb-ir", 1, 50},
                           Row{"fw-ir", 4, 1}, Row{"fw-ir", 4, 6}, Row{"fw-ir", 2, 50}}) {
        const std::string name = std::string(row.preset) + " with " + std::to_string(row.fields) +
                                 " fields, N = " + std::to_string(row.n);
        MakeCamera(row.preset);
        if (row.fields > 1) {
            CameraTree()->Set(nodes::kWindowingFields, std::int32_t{row.fields});
            CameraTree()->Set(nodes::kWindowingActive, true);
        }
        Connect();
        std::atomic<int> raised{0};
        std::atomic<int> refusals{0};
        std::mutex mutex;
        std::condition_variable stopped;
        device->Completed().Subscribe([&, n = row.n](const void* sender, const auto&) {
            if (++raised != n) return;
            try {
                static_cast<CaptureDevice*>(const_cast<void*>(sender))->GrabContinous_Stop();
            } catch (const System::Exception&) {
                ++refusals;
            }
            std::lock_guard lock(mutex);
            stopped.notify_all();
        });
        device->GrabContinous_Start();
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(stopped.wait_for(lock, 20s, [&] { return raised >= row.n; })) << name;
        }
        device->Control_GetFrameRate();  // runs after the stop
        EXPECT_FALSE(device->GrabContinous_IsGrabbing()) << name;
        std::this_thread::sleep_for(20ms);  // a late image would show now
        EXPECT_EQ(raised.load(), row.n) << name;
        EXPECT_EQ(refusals.load(), 0) << name;
        EXPECT_EQ(device->GrabContinous_LostFrames(), 0) << name;
        TearDown();
    }
}

// A handler that throws, the framework's exception or any other, keeps the rest of its sample
// from the host: those fields are lost and counted so; the field whose handler threw was raised.
TEST_F(DeferredTest, FieldsAThrowingHandlerKeptFromTheHostAreCountedLost) {
    struct Row {
        int fields;
        int throwAt;  // the image, counted from 1, whose handler throws
        int lost;
        bool native;  // not the framework's exception type
    };
    for (const Row& row : {Row{1, 1, 0, false}, Row{4, 1, 3, false}, Row{4, 2, 2, true}, Row{4, 4, 0, false},
                           Row{2, 3, 1, true}}) {
        const std::string name = std::to_string(row.fields) + " fields, image " + std::to_string(row.throwAt);
        MakeCamera("fw-ir");
        if (row.fields > 1) {
            CameraTree()->Set(nodes::kWindowingFields, std::int32_t{row.fields});
            CameraTree()->Set(nodes::kWindowingActive, true);
        }
        Connect();
        std::atomic<int> raised{0};
        device->Completed().Subscribe([&, at = row.throwAt, native = row.native](const void*, const auto&) {
            if (++raised != at) return;
            if (native) throw std::runtime_error("the host's own failure");
            throw System::InvalidOperationException("the host's own failure");
        });
        device->GrabContinous_Start();
        ASSERT_TRUE(events->WaitForImages(static_cast<std::size_t>(row.throwAt + 2 * row.fields))) << name;
        device->GrabContinous_Stop();
        EXPECT_EQ(device->GrabContinous_LostFrames(), row.lost) << name;
        // Every field the camera sent is raised or counted lost: whole samples less the lost.
        const int images = static_cast<int>(events->ImageCount());
        EXPECT_EQ((images + row.lost) % row.fields, 0) << name << ": " << images << " images";
        TearDown();
    }
    // Only the first failure of each kind in the process is traced (each test runs in a process
    // of its own), the framework's with its exception: a handler failing every frame does not
    // flood the trace.
    const auto records = log.Records();
    const auto traced = [&](bool withException) {
        return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const auto& r) {
            return r.kind == Diagnostics::Log::LogKind::TraceError && r.text == "Exception in Grabber thread" &&
                   r.exceptionType.empty() != withException;
        }));
    };
    EXPECT_EQ(std::pair(traced(true), traced(false)), std::pair(1, 1));
}

// The usual pattern: the handler disposes and the host lets go of the device at once, while the
// handler is still running; the destruction waits for the disposal. Nothing of the device is
// touched after it is gone (AddressSanitizer sees to that) and its camera is free. (Destroyed
// in the handler itself: the edge tests, in every context.)
TEST_F(DeferredTest, DestroyedByTheHostRightAfterADeferredDisposal) {
    zrf::soak::Watchdog watchdog(std::chrono::seconds(30));
    MakeCamera("usb-ir");
    Connect();
    std::mutex mutex;
    std::condition_variable changed;
    bool disposed = false;
    std::atomic<bool> once{false};
    std::atomic<bool> started{false};  // no thread but the handler's is inside the device then
    device->Completed().Subscribe([&](const void* sender, const auto&) {
        if (!started || once.exchange(true)) return;
        static_cast<CaptureDevice*>(const_cast<void*>(sender))->Dispose();
        {
            std::lock_guard lock(mutex);
            disposed = true;
            changed.notify_all();
        }
        std::this_thread::sleep_for(30ms);  // the host destroys while this runs
    });
    device->GrabContinous_Start();
    started = true;
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return disposed; }));
    }
    events.reset();
    device.reset();  // waits for the deferred disposal
    auto next = std::make_unique<CaptureDevice>(identity.identifier);
    DeviceEvents nextEvents(*next);
    next->Device_Connect(IdentityElement());
    next->GrabContinous_Start();
    EXPECT_TRUE(nextEvents.WaitForImages(2));
    next->Dispose();
}

// The reads the device promises never fail answer from a handler too, without the lock: the
// cached focus limits as they are, the rest with their answer to a failure, and none of it
// taken for a failure of the camera.
TEST_F(DeferredTest, NeverFailingReadsAnswerFromAHandler) {
    MakeCamera("usb-ir", "focus-type=-1");
    Connect();
    const int cachedMax = device->Control_GetFocusMax();  // read once by the host: cached
    ASSERT_GT(cachedMax, 0);
    struct Answers {
        int max = -2, min = -2, position = -2;
        bool rangesNull = false;
        std::string thrown;
    } answers;
    device->GrabContinous_Start();
    FromHandler(Context::Completed, [&](CaptureDevice& d) {
        try {
            d.Control_Focus(FocusMode::Auto);
            answers.max = d.Control_GetFocusMax();
            answers.min = d.Control_GetFocusMin();  // not read yet: the channel would be asked
            answers.position = d.Control_GetFocusPosition();
            answers.rangesNull = d.IRControl_GetTemperatureRanges().IsNull();
        } catch (const System::Exception& e) {
            answers.thrown = e.Message();
        }
    });
    EXPECT_EQ(answers.thrown, "");
    EXPECT_EQ(answers.max, cachedMax);
    EXPECT_EQ(answers.min, 0);
    EXPECT_EQ(answers.position, 0);
    EXPECT_TRUE(answers.rangesNull);
    // Nothing the handler got was taken for the camera's answer.
    EXPECT_TRUE(State().FocusAvailable());
    EXPECT_EQ(device->Control_GetFocusMin(), Tree<std::int32_t>(nodes::kFocusMin));
    EXPECT_FALSE(device->IRControl_GetTemperatureRanges().IsNull());
}

// The queue itself: calls wait until the asking thread's handlers have all returned, run in the
// order asked, and those dropped never run.
TEST(DeferredCalls, RunInOrderOnceTheAskingHandlersReturnedAndDroppedOnesNever) {
    DeferredCalls calls;
    std::mutex mutex;
    std::vector<int> ran;
    auto record = [&](int n) {
        return [&, n] {
            std::lock_guard lock(mutex);
            ran.push_back(n);
        };
    };
    {
        HandlerScope outer(&calls, HandlerScope::Context::Delivery);
        {
            HandlerScope inner(&ran, HandlerScope::Context::RecorderStatus);
            calls.Defer(record(1));
        }
        calls.Defer(record(2));
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex);
        EXPECT_TRUE(ran.empty()) << "a call ran before its handler returned";
    }
    calls.WaitUntilDone();
    {
        HandlerScope scope(&calls, HandlerScope::Context::Delivery);
        calls.Defer(record(3));
        calls.DropThoseOfThisThread();
        calls.Defer(record(4));
    }
    calls.WaitUntilDone();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 4}));
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
