// The one misbehaviour of the platform stand-in no device test uses: corrupted samples.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "sim/video/simulated_video_device.h"
#include "sim/video/video_presets.h"

namespace {

using zrf::com::ComPtr;
using zrf::sim::SimulatedVideoDevice;

template <class T>
ComPtr<T> Create(REFCLSID clsid, REFIID iid) {
    ComPtr<T> object;
    EXPECT_EQ(S_OK,
              CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReceiveVoid()));
    return object;
}

// The capture filter of the one device there is.
ComPtr<IBaseFilter> BindOnlyDevice() {
    ComPtr<IEnumMoniker> monikers;
    ComPtr<IMoniker> moniker;
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK,
              Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum)
                  ->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0));
    if (monikers && monikers->Next(1, moniker.Receive(), nullptr) == S_OK)
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    return filter;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, filter->EnumPins(pins.Receive()));
    PIN_DIRECTION dir;
    for (IPin* pin = nullptr; pins->Next(1, &pin, nullptr) == S_OK;) {
        auto held = ComPtr<IPin>::Attach(pin);
        if (held->QueryDirection(&dir) == S_OK && dir == direction) return held;
    }
    return nullptr;
}

TEST(Misbehaviour, CorruptedSamplesAreDamagedInTheMiddleOnly) {
    auto settings = zrf::sim::WebcamPreset();
    settings.pacing = zrf::sim::Pacing::AsFastAsPossible;
    settings.should_corrupt_samples = true;
    auto device = SimulatedVideoDevice::Create(settings);
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto source = BindOnlyDevice();
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    for (IBaseFilter* f : {source.Get(), grabber.Get(), renderer.Get()})
        graph->AddFilter(f, nullptr);
    ASSERT_EQ(S_OK, graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(grabber.Get(), PINDIR_INPUT).Get()));
    ASSERT_EQ(S_OK, graph->Connect(PinOf(grabber.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(renderer.Get(), PINDIR_INPUT).Get()));
    ComPtr<ISampleGrabber> sampleGrabber;
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, grabber.As(IID_ISampleGrabber, sampleGrabber));
    ASSERT_EQ(S_OK, graph.As(IID_IMediaControl, control));
    ASSERT_EQ(S_OK, sampleGrabber->SetBufferSamples(TRUE));
    ASSERT_EQ(S_OK, control->Run());
    // Bounded only so that a broken build fails instead of hanging.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (device->FramesDelivered() < 3 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(S_OK, control->Stop());
    // The last sample against the byte pattern (byte i of frame f is i + f, the frame number
    // in front): both ends intact, the middle not.
    LONG size = 0;
    ASSERT_EQ(S_OK, sampleGrabber->GetCurrentBuffer(&size, nullptr));
    ASSERT_GT(size, 16);
    std::vector<LONG> buffer(static_cast<std::size_t>(size) / sizeof(LONG) + 1);
    ASSERT_EQ(S_OK, sampleGrabber->GetCurrentBuffer(&size, buffer.data()));
    const auto* data = reinterpret_cast<const BYTE*>(buffer.data());
    std::uint64_t frame = 0;
    std::memcpy(&frame, data, sizeof frame);
    auto intact = [&](LONG i) { return data[i] == static_cast<BYTE>(i + frame); };
    EXPECT_TRUE(intact(8) && intact(size - 1));
    EXPECT_FALSE(intact(size / 2));
}

}  // namespace
