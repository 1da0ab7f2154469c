// Samples flowing from a simulated device through the grabber while host threads run, stop
// and unregister the callback.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dshow/renderers.h"
#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

// Bounded only so that a broken build fails instead of hanging.
template <class Predicate>
bool WaitUntil(Predicate predicate) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

zrf::sim::VideoDeviceSettings FastWebcam() {
    auto settings = zrf::sim::WebcamPreset();
    settings.pacing = zrf::sim::Pacing::AsFastAsPossible;
    return settings;
}

TEST(Streaming, RunDeliversEverySampleOnceUntilStop) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    ASSERT_EQ(S_OK, g.sample_grabber->SetCallback(callback.Get(), 0));
    ASSERT_EQ(S_OK, g.control->Run());
    EXPECT_TRUE(device->IsStreaming());
    ASSERT_TRUE(callback->WaitForSamples(20));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_FALSE(device->IsStreaming());

    // Stop has joined the streaming thread: the counts are final and agree.
    long samples = callback->Samples();
    EXPECT_EQ(samples, device->FramesDelivered());
    auto* renderer = dynamic_cast<zrf::dshow::RendererFilter*>(g.renderer.Get());
    EXPECT_EQ(samples, renderer->SamplesReceived());
    EXPECT_EQ(static_cast<std::uint64_t>(samples - 1), callback->LastFrameNumber());
    EXPECT_EQ(640 * 480 * 2, callback->LastLength());
}

TEST(Streaming, RunAgainAfterStopContinuesTheFrameCount) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeMJPG));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    for (int run = 1; run <= 3; ++run) {
        ASSERT_EQ(S_OK, g.control->Run());
        ASSERT_TRUE(callback->WaitForSamples(5 * run));
        ASSERT_EQ(S_OK, g.control->Stop());
    }
    EXPECT_EQ(static_cast<std::uint64_t>(callback->Samples() - 1), callback->LastFrameNumber());
}

TEST(Streaming, UnregisteringWaitsForTheRunningCallback) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    std::atomic<int> late_calls{0};
    std::atomic<bool> unregistered{false};
    callback->hook = [&](IMediaSample*) {
        if (unregistered) ++late_calls;
        std::unique_lock lock(mutex);
        if (inside) return;  // only the first call blocks
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    };
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inside; });
    }
    std::atomic<bool> returned{false};
    std::thread host([&] {
        g.sample_grabber->SetCallback(nullptr, 0);
        unregistered = true;
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned) << "SetCallback returned while the callback was still running";
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    host.join();
    long frames = device->FramesDelivered();
    ASSERT_TRUE(WaitUntil([&] { return device->FramesDelivered() >= frames + 10; }));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(0, late_calls);
    EXPECT_EQ(1, callback->Samples());
}

TEST(Streaming, NoCallbackRunsOutsideItsRegistration) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    std::atomic<bool> registered{false};
    std::atomic<int> violations{0};
    callback->hook = [&](IMediaSample*) {
        if (!registered) ++violations;
    };
    ASSERT_EQ(S_OK, g.control->Run());
    for (int i = 0; i < 200; ++i) {
        registered = true;
        g.sample_grabber->SetCallback(callback.Get(), 0);
        std::this_thread::yield();
        g.sample_grabber->SetCallback(nullptr, 0);
        registered = false;
    }
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(0, violations);
}

TEST(Streaming, ACallbackMayUnregisterItself) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    callback->hook = [&](IMediaSample*) { g.sample_grabber->SetCallback(nullptr, 0); };
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(WaitUntil([&] { return device->FramesDelivered() >= 10; }));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(1, callback->Samples());
}

TEST(Streaming, StopWithoutUnregisteringAlsoEndsTheCallbacks) {
    auto settings = zrf::sim::UsbIrPreset();  // real-time pacing
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeF7M0));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(callback->WaitForSamples(2));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(callback->Samples(), device->FramesDelivered());
    EXPECT_EQ(640 * 483 * 2, callback->LastLength());
}

TEST(Streaming, AFailingRunReturnsItsCodeAndLeavesTheGraphStopped) {
    auto settings = FastWebcam();
    settings.should_fail_run_with = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    EXPECT_EQ(static_cast<HRESULT>(0x800705AAu), g.control->Run());
    OAFilterState state = State_Running;
    ASSERT_EQ(S_OK, g.control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    FILTER_STATE grabber_state = State_Running;
    g.grabber->GetState(0, &grabber_state);
    EXPECT_EQ(State_Stopped, grabber_state);
    EXPECT_FALSE(device->IsStreaming());
    EXPECT_EQ(0, callback->Samples());
}

TEST(Streaming, ASecondFilterOnABusyDeviceFindsItInUse) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph first;
    GrabberGraph second;
    ASSERT_EQ(S_OK, first.Build(*device, zrf::sim::kSubtypeYUY2));
    ASSERT_EQ(S_OK, second.Build(*device, zrf::sim::kSubtypeYUY2));
    ASSERT_EQ(S_OK, first.control->Run());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), second.control->Run());
    ASSERT_EQ(S_OK, first.control->Stop());
    EXPECT_EQ(S_OK, second.control->Run());
    EXPECT_EQ(S_OK, second.control->Stop());
}

TEST(Streaming, TruncatedSamplesKeepTheirShortLength) {
    auto settings = FastWebcam();
    settings.should_truncate_samples_to = 100;
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(callback->WaitForSamples(3));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(100, callback->LastLength());
}

TEST(Streaming, CorruptedSamplesDifferFromTheContent) {
    auto settings = FastWebcam();
    settings.should_corrupt_samples = true;
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    std::atomic<long> damaged{0};
    callback->hook = [&](IMediaSample* sample) {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::uint64_t frame = 0;
        std::memcpy(&frame, data, sizeof frame);
        std::size_t middle = static_cast<std::size_t>(sample->GetActualDataLength()) / 2;
        if (data[middle] != static_cast<BYTE>(middle + frame)) ++damaged;
    };
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(callback->WaitForSamples(3));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(callback->Samples(), damaged);
}

TEST(Streaming, WithheldBuffersCannotBeObtained) {
    auto settings = FastWebcam();
    settings.should_withhold_sample_buffers = true;
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(callback->WaitForSamples(3));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_FALSE(callback->LastPointerOk());
}

TEST(Streaming, ACameraUnpluggedWhileStreamingStopsDelivering) {
    auto settings = FastWebcam();
    settings.should_disappear_after_frames = 5;
    auto device = SimulatedVideoDevice::Create(settings);
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(WaitUntil([&] { return device->HasDisappeared(); }));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(5, callback->Samples());
    EXPECT_TRUE(VideoInputMonikers().empty());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), g.control->Run());
}

TEST(Streaming, OneShotPassesASingleSamplePerRun) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    auto callback = zrf::com::MakeCom<RecordingCallback>();
    g.sample_grabber->SetCallback(callback.Get(), 0);
    g.sample_grabber->SetOneShot(TRUE);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(WaitUntil([&] { return device->FramesDelivered() >= 10; }));
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(1, callback->Samples());
    auto* renderer = dynamic_cast<zrf::dshow::RendererFilter*>(g.renderer.Get());
    EXPECT_EQ(1, renderer->SamplesReceived());
}

TEST(Streaming, BufferingKeepsACopyOfTheLastSample) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    LONG size = 0;
    EXPECT_EQ(E_INVALIDARG, g.sample_grabber->GetCurrentBuffer(&size, nullptr));
    g.sample_grabber->SetBufferSamples(TRUE);
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(WaitUntil([&] { return device->FramesDelivered() >= 3; }));
    ASSERT_EQ(S_OK, g.control->Stop());
    ASSERT_EQ(S_OK, g.sample_grabber->GetCurrentBuffer(&size, nullptr));
    EXPECT_EQ(640 * 480 * 2, size);
    std::vector<LONG> copy(static_cast<std::size_t>(size) / sizeof(LONG));
    LONG too_small = size - 1;
    EXPECT_EQ(E_OUTOFMEMORY, g.sample_grabber->GetCurrentBuffer(&too_small, copy.data()));
    ASSERT_EQ(S_OK, g.sample_grabber->GetCurrentBuffer(&size, copy.data()));
    std::uint64_t frame = 0;
    std::memcpy(&frame, copy.data(), sizeof frame);
    EXPECT_EQ(static_cast<std::uint64_t>(device->FramesDelivered() - 1), frame);
}

TEST(Streaming, TheBufferMethodGetsTheBytes) {
    auto device = SimulatedVideoDevice::Create(FastWebcam());
    GrabberGraph g;
    ASSERT_EQ(S_OK, g.Build(*device, zrf::sim::kSubtypeYUY2));
    struct BufferCallback final : zrf::com::ComObject<ISampleGrabberCB> {
        HRESULT SampleCB(double, IMediaSample*) override { return E_UNEXPECTED; }
        HRESULT BufferCB(double, BYTE* buffer, LONG length) override {
            if (buffer != nullptr && length == 640 * 480 * 2) ++calls;
            return S_OK;
        }
        void* FindInterface(REFIID) override { return nullptr; }
        std::atomic<long> calls{0};
    };
    auto callback = zrf::com::MakeCom<BufferCallback>();
    ASSERT_EQ(E_INVALIDARG, g.sample_grabber->SetCallback(callback.Get(), 2));
    ASSERT_EQ(S_OK, g.sample_grabber->SetCallback(callback.Get(), 1));
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(WaitUntil([&] { return callback->calls >= 3; }));
    ASSERT_EQ(S_OK, g.control->Stop());
}

}  // namespace
