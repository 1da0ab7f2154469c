#include <gtest/gtest.h>

#include "platform/dshow/video_input_devices.h"
#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

TEST(SystemDeviceEnum, ListsEachDeviceWithItsPathAndName) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto webcam = SimulatedVideoDevice::Create(zrf::sim::WebcamPreset());
    auto monikers = VideoInputMonikers();
    ASSERT_EQ(2u, monikers.size());
    EXPECT_EQ(usb->Settings().device_path, ReadProperty(monikers[0].Get(), L"DevicePath"));
    EXPECT_EQ(L"Thermal USB Camera", ReadProperty(monikers[0].Get(), L"FriendlyName"));
    EXPECT_EQ(webcam->Settings().device_path, ReadProperty(monikers[1].Get(), L"DevicePath"));
    EXPECT_EQ(std::nullopt, ReadProperty(monikers[1].Get(), L"NoSuchProperty"));
}

TEST(SystemDeviceEnum, AnEmptyCategoryGivesNoEnumerator) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    zrf::dshow::ScopedEmptyVideoInputCategory empty;
    auto devenum = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(S_FALSE, devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                      monikers.Receive(), 0));
    EXPECT_FALSE(monikers);
}

TEST(SystemDeviceEnum, OtherCategoriesAreEmpty) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto devenum = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(S_FALSE, devenum->CreateClassEnumerator(CLSID_FilterGraph, monikers.Receive(), 0));
    EXPECT_FALSE(monikers);
}

TEST(SystemDeviceEnum, ADeviceWithoutDevicePathIsStillListed) {
    auto settings = zrf::sim::WebcamPreset();
    settings.should_omit_device_path = true;
    auto pathless = SimulatedVideoDevice::Create(settings);
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto monikers = VideoInputMonikers();
    ASSERT_EQ(2u, monikers.size());
    EXPECT_EQ(std::nullopt, ReadProperty(monikers[0].Get(), L"DevicePath"));
    EXPECT_EQ(L"USB Web Camera", ReadProperty(monikers[0].Get(), L"FriendlyName"));
    EXPECT_EQ(usb->Settings().device_path, ReadProperty(monikers[1].Get(), L"DevicePath"));
}

TEST(SystemDeviceEnum, ResetStartsAgainAndNextStopsAtTheEnd) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto devenum = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(S_OK, devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                   monikers.Receive(), 0));
    ComPtr<IMoniker> moniker;
    ULONG fetched = 7;
    EXPECT_EQ(S_OK, monikers->Next(1, moniker.Receive(), &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(S_FALSE, monikers->Next(1, moniker.Receive(), &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, monikers->Reset());
    EXPECT_EQ(S_OK, monikers->Next(1, moniker.Receive(), nullptr));
}

TEST(DeviceMoniker, BindsToANewCaptureFilterEachTime) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto monikers = VideoInputMonikers();
    ASSERT_EQ(1u, monikers.size());
    ComPtr<IBaseFilter> first;
    ComPtr<IBaseFilter> second;
    ASSERT_EQ(S_OK,
              monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, first.ReceiveVoid()));
    ASSERT_EQ(S_OK,
              monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, second.ReceiveVoid()));
    EXPECT_NE(first.Get(), second.Get());
    ComPtr<ISampleGrabber> wrong;
    EXPECT_EQ(E_NOINTERFACE,
              monikers[0]->BindToObject(nullptr, nullptr, IID_ISampleGrabber, wrong.ReceiveVoid()));
}

TEST(DeviceMoniker, GivesItsDisplayNameFromTheTaskAllocator) {
    auto jls = SimulatedVideoDevice::Create(zrf::sim::UsbIrJlsPreset());
    auto monikers = VideoInputMonikers();
    ASSERT_EQ(1u, monikers.size());
    ComPtr<IBindCtx> context;
    ASSERT_EQ(S_OK, CreateBindCtx(0, context.Receive()));
    long before = zrf::com::TaskAllocatorLiveCount();
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, monikers[0]->GetDisplayName(context.Get(), nullptr, &name));
    EXPECT_EQ(L"@device:pnp:" + jls->Settings().device_path, std::wstring(name));
    CoTaskMemFree(name);
    EXPECT_EQ(before, zrf::com::TaskAllocatorLiveCount());
}

TEST(DeviceMoniker, AnUnpluggedDeviceCannotBeBound) {
    auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
    auto monikers = VideoInputMonikers();
    ASSERT_EQ(1u, monikers.size());
    usb->Disappear();
    EXPECT_TRUE(VideoInputMonikers().empty());
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
              monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid()));
}

TEST(DeviceMoniker, OutlivingItsDeviceIsSafe) {
    std::vector<ComPtr<IMoniker>> monikers;
    {
        auto usb = SimulatedVideoDevice::Create(zrf::sim::UsbIrPreset());
        monikers = VideoInputMonikers();
    }
    ASSERT_EQ(1u, monikers.size());
    EXPECT_TRUE(VideoInputMonikers().empty());
    ComPtr<IBaseFilter> filter;
    EXPECT_TRUE(
        FAILED(monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid())));
}

}  // namespace
