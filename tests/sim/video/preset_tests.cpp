#include <gtest/gtest.h>

#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

struct Offered {
    GUID subtype;
    LONG width;
    LONG height;
};

void ExpectOffers(const zrf::sim::VideoDeviceSettings& settings, std::vector<Offered> expected) {
    auto device = SimulatedVideoDevice::Create(settings);
    auto source = BindDevice(*device);
    ASSERT_TRUE(source);
    auto types = OfferedTypes(PinOf(source.Get(), PINDIR_OUTPUT).Get());
    ASSERT_EQ(expected.size(), types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(MEDIATYPE_Video, types[i]->majortype);
        EXPECT_EQ(expected[i].subtype, types[i]->subtype);
        const VIDEOINFOHEADER* vih = types[i].VideoInfo();
        ASSERT_NE(nullptr, vih);
        EXPECT_EQ(expected[i].width, vih->bmiHeader.biWidth);
        EXPECT_EQ(expected[i].height, vih->bmiHeader.biHeight);
        EXPECT_GT(vih->AvgTimePerFrame, 0);
        EXPECT_GT(vih->bmiHeader.biSizeImage, 0u);
    }
}

TEST(Presets, AreKnownByTheirNames) {
    for (const std::string& name : zrf::sim::PresetNames()) {
        auto settings = zrf::sim::PresetByName(name);
        ASSERT_TRUE(settings) << name;
        EXPECT_FALSE(settings->device_path.empty());
        EXPECT_FALSE(settings->formats.empty());
    }
    EXPECT_FALSE(zrf::sim::PresetByName("usb"));
}

TEST(Presets, UsbIrOffersRawJpegLsAndVisualTypes) {
    using namespace zrf::sim;
    ExpectOffers(UsbIrPreset(), {{kSubtypeF7M0, 640, 483},
                                 {kSubtypeMJLS, 640, 480},
                                 {kSubtypeYUY2, 640, 480},
                                 {kSubtypeMJPG, 640, 480}});
}

TEST(Presets, UsbIrJlsOffersJpegLsOnly) {
    using namespace zrf::sim;
    ExpectOffers(UsbIrJlsPreset(), {{kSubtypeMJLS, 320, 240}});
}

TEST(Presets, FwIrOffersBothRawModes) {
    using namespace zrf::sim;
    ExpectOffers(FwIrPreset(), {{kSubtypeF7M2, 640, 480}, {kSubtypeF7M0, 640, 480}});
}

TEST(Presets, WebcamOffersVisualTypes) {
    using namespace zrf::sim;
    ExpectOffers(WebcamPreset(), {{kSubtypeYUY2, 640, 480}, {kSubtypeMJPG, 640, 480}});
}

TEST(Presets, TheSubtypesAreTheFourCharacterCodes) {
    // {304D3746-0000-0010-8000-00AA00389B71} is "F7M0".
    EXPECT_EQ(0x304D3746u, zrf::sim::kSubtypeF7M0.Data1);
    EXPECT_EQ(0x534C4A4Du, zrf::sim::kSubtypeMJLS.Data1);
    EXPECT_EQ(MEDIASUBTYPE_YUY2, zrf::sim::kSubtypeYUY2);
    EXPECT_EQ(MEDIASUBTYPE_MJPG, zrf::sim::kSubtypeMJPG);
}

TEST(Presets, ControlsMatchTheBus) {
    auto usb = zrf::sim::UsbIrPreset();
    EXPECT_TRUE(usb.maker_properties && usb.extension_unit && !usb.transport);
    EXPECT_FALSE(usb.video_control_frame_intervals.empty());
    auto jls = zrf::sim::UsbIrJlsPreset();
    EXPECT_TRUE(jls.video_control_frame_intervals.empty());
    EXPECT_FALSE(jls.maker_properties->serial);
    auto fw = zrf::sim::FwIrPreset();
    EXPECT_TRUE(fw.transport && !fw.maker_properties && !fw.extension_unit);
    auto webcam = zrf::sim::WebcamPreset();
    EXPECT_TRUE(!webcam.maker_properties && !webcam.extension_unit && !webcam.transport);
}

TEST(Formats, MisdescribedTypesAreOfferedButCannotConnect) {
    auto settings = zrf::sim::WebcamPreset();
    settings.formats[0].format_size = 80;  // a YUY2 block shorter than the header
    settings.formats[1].format_type = FORMAT_None;
    auto device = SimulatedVideoDevice::Create(settings);
    auto source = BindDevice(*device);
    auto capture = PinOf(source.Get(), PINDIR_OUTPUT);
    auto types = OfferedTypes(capture.Get());
    ASSERT_EQ(2u, types.size());
    EXPECT_EQ(80u, types[0]->cbFormat);
    EXPECT_EQ(FORMAT_None, types[1]->formattype);
    auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    graph->AddFilter(source.Get(), L"source");
    graph->AddFilter(grabber.Get(), L"Grabber");
    EXPECT_EQ(VFW_E_CANNOT_CONNECT,
              graph->Connect(capture.Get(), PinOf(grabber.Get(), PINDIR_INPUT).Get()));
}

}  // namespace
