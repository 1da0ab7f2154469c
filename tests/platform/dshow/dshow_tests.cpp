// The platform stand-in's own contract where no device test looks: monikers that outlive their
// device, and corrupted samples. (The capture code walks enumerators with Next(1) and Reset
// only; the capture tests do that and count the media types left unfreed.)
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

// The monikers of the video-input category, in order.
std::vector<ComPtr<IMoniker>> VideoInputMonikers() {
    std::vector<ComPtr<IMoniker>> result;
    ComPtr<IEnumMoniker> monikers;
    if (Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum)
            ->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) == S_OK)
        for (IMoniker* m = nullptr; monikers->Next(1, &m, nullptr) == S_OK;)
            result.push_back(ComPtr<IMoniker>::Attach(m));
    return result;
}

// The capture filter of the one device there is.
ComPtr<IBaseFilter> BindOnlyDevice() {
    ComPtr<IBaseFilter> filter;
    const auto monikers = VideoInputMonikers();
    EXPECT_EQ(1u, monikers.size());
    if (!monikers.empty())
        monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
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

TEST(DeviceMoniker, AnUnpluggedOrDestroyedDeviceCannotBeBound) {
    std::vector<ComPtr<IMoniker>> monikers;
    ComPtr<IBaseFilter> filter;
    auto bind = [&] {
        return monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
    };
    {
        auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
        monikers = VideoInputMonikers();
        ASSERT_EQ(1u, monikers.size());
        usb->Disappear();
        EXPECT_TRUE(VideoInputMonikers().empty());
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), bind());
    }
    EXPECT_TRUE(FAILED(bind()));
    EXPECT_FALSE(filter);
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
    for (IBaseFilter* f : {source.Get(), grabber.Get(), renderer.Get()}) graph->AddFilter(f, nullptr);
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
