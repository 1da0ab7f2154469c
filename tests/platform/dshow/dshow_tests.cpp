// The platform stand-in's own contract where no device test looks: the enumerators' positions,
// monikers that outlive their device, and corrupted samples.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

// Next hands out up to n items and says how many, Skip and Reset move the position, and a
// clone starts where its original stands.
template <class Enum, class Item>
void ExpectEnumeratorContract(Enum* items, ULONG total, void (*give_back)(Item)) {
    std::vector<Item> out(total + 1);
    ULONG fetched = 99;
    EXPECT_EQ(E_POINTER, items->Next(1, nullptr, &fetched));
    EXPECT_EQ(E_INVALIDARG, items->Next(2, out.data(), nullptr));
    EXPECT_EQ(S_FALSE, items->Next(total + 1, out.data(), &fetched));
    ASSERT_EQ(total, fetched);
    for (ULONG i = 0; i < fetched; ++i) give_back(out[i]);
    EXPECT_EQ(S_FALSE, items->Next(1, out.data(), &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, items->Reset());
    EXPECT_EQ(S_OK, items->Skip(1));
    ComPtr<Enum> clone;
    ASSERT_EQ(S_OK, items->Clone(clone.Receive()));
    EXPECT_EQ(S_FALSE, items->Skip(total));
    EXPECT_EQ(S_FALSE, items->Next(1, out.data(), &fetched));
    EXPECT_EQ(S_FALSE, clone->Next(total, out.data(), &fetched));
    ASSERT_EQ(total - 1, fetched);
    for (ULONG i = 0; i < fetched; ++i) give_back(out[i]);
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, clone->Next(total, out.data(), &fetched));
    for (ULONG i = 0; i < fetched; ++i) give_back(out[i]);
}

TEST(Enumerators, PinsAndMediaTypesFollowOneContract) {
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    {
        auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        ComPtr<IEnumPins> pins;
        ASSERT_EQ(S_OK, grabber->EnumPins(pins.Receive()));
        ExpectEnumeratorContract<IEnumPins, IPin*>(pins.Get(), 2, [](IPin* p) { p->Release(); });

        auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(S_OK,
                  PinOf(BindDevice(*usb).Get(), PINDIR_OUTPUT)->EnumMediaTypes(types.Receive()));
        ExpectEnumeratorContract<IEnumMediaTypes, AM_MEDIA_TYPE*>(
            types.Get(), static_cast<ULONG>(usb->Settings().formats.size()), DeleteMediaType);
    }
    // Every type handed out was the caller's copy to free.
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
}

TEST(DeviceMoniker, AnUnpluggedOrDestroyedDeviceCannotBeBound) {
    std::vector<ComPtr<IMoniker>> monikers;
    ComPtr<IBaseFilter> filter;
    {
        auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
        monikers = VideoInputMonikers();
        ASSERT_EQ(1u, monikers.size());
        usb->Disappear();
        EXPECT_TRUE(VideoInputMonikers().empty());
        EXPECT_EQ(
            HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
            monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid()));
    }
    EXPECT_TRUE(
        FAILED(monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid())));
    EXPECT_FALSE(filter);
}

TEST(Misbehaviour, CorruptedSamplesAreDamagedInTheMiddleOnly) {
    auto settings = zrf::sim::WebcamPreset();
    settings.pacing = zrf::sim::Pacing::AsFastAsPossible;
    settings.should_corrupt_samples = true;
    auto device = SimulatedVideoDevice::Create(settings);
    auto graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto source = BindDevice(*device);
    auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = CreateObject<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    graph->AddFilter(source.Get(), L"source");
    graph->AddFilter(grabber.Get(), L"Grabber");
    graph->AddFilter(renderer.Get(), L"NULLRenderer");
    ASSERT_EQ(S_OK, graph->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(grabber.Get(), PINDIR_INPUT).Get()));
    ASSERT_EQ(S_OK, graph->Connect(PinOf(grabber.Get(), PINDIR_OUTPUT).Get(),
                                   PinOf(renderer.Get(), PINDIR_INPUT).Get()));
    ComPtr<ISampleGrabber> sample_grabber;
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, grabber.As(IID_ISampleGrabber, sample_grabber));
    ASSERT_EQ(S_OK, graph.As(IID_IMediaControl, control));
    ASSERT_EQ(S_OK, sample_grabber->SetBufferSamples(TRUE));
    ASSERT_EQ(S_OK, control->Run());
    // Bounded only so that a broken build fails instead of hanging.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (device->FramesDelivered() < 3 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(S_OK, control->Stop());
    // The last sample against the byte pattern (byte i of frame f is i + f, the frame number
    // in front): both ends intact, the middle not.
    LONG size = 0;
    ASSERT_EQ(S_OK, sample_grabber->GetCurrentBuffer(&size, nullptr));
    ASSERT_GT(size, 16);
    std::vector<LONG> buffer(static_cast<std::size_t>(size) / sizeof(LONG) + 1);
    ASSERT_EQ(S_OK, sample_grabber->GetCurrentBuffer(&size, buffer.data()));
    const auto* data = reinterpret_cast<const BYTE*>(buffer.data());
    std::uint64_t frame = 0;
    std::memcpy(&frame, data, sizeof frame);
    auto intact = [&](LONG i) { return data[i] == static_cast<BYTE>(i + frame); };
    EXPECT_TRUE(intact(8));
    EXPECT_TRUE(intact(size - 1));
    EXPECT_FALSE(intact(size / 2));
}

}  // namespace
