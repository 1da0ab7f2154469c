#include <gtest/gtest.h>

#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

class CaptureGraphBuilderTest : public ::testing::Test {
  protected:
    ComPtr<ICaptureGraphBuilder2> builder_ =
        CreateObject<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ComPtr<IGraphBuilder> graph_ =
        CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
};

TEST_F(CaptureGraphBuilderTest, TakesOneGraphOnly) {
    EXPECT_EQ(E_POINTER, builder_->SetFiltergraph(nullptr));
    ASSERT_EQ(S_OK, builder_->SetFiltergraph(graph_.Get()));
    auto other = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    EXPECT_EQ(E_UNEXPECTED, builder_->SetFiltergraph(other.Get()));
    ComPtr<IGraphBuilder> held;
    ASSERT_EQ(S_OK, builder_->GetFiltergraph(held.Receive()));
    EXPECT_EQ(graph_.Get(), held.Get());
}

TEST_F(CaptureGraphBuilderTest, FindPinFiltersByDirectionCategoryAndType) {
    auto webcam = SimulatedVideoDevice::Create(zrf::sim::WebcamPreset());
    auto source = BindDevice(*webcam);
    auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, builder_->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE,
                                      &MEDIATYPE_Video, FALSE, 0, pin.Receive()));
    EXPECT_EQ(PinOf(source.Get(), PINDIR_OUTPUT).Get(), pin.Get());
    EXPECT_EQ(E_FAIL, builder_->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr,
                                        FALSE, 0, pin.Receive()));
    EXPECT_FALSE(pin);
    EXPECT_EQ(E_FAIL, builder_->FindPin(source.Get(), PINDIR_OUTPUT, nullptr,
                                        &MEDIATYPE_Interleaved, FALSE, 0, pin.Receive()));
    EXPECT_EQ(E_FAIL, builder_->FindPin(source.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0,
                                        pin.Receive()));
    EXPECT_EQ(E_FAIL, builder_->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 1,
                                        pin.Receive()));
    EXPECT_EQ(S_OK, builder_->FindPin(grabber.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0,
                                      pin.Receive()));
    EXPECT_EQ(PinOf(grabber.Get(), PINDIR_INPUT).Get(), pin.Get());
}

TEST_F(CaptureGraphBuilderTest, FindPinCanSkipConnectedPins) {
    auto webcam = SimulatedVideoDevice::Create(zrf::sim::WebcamPreset());
    auto source = BindDevice(*webcam);
    auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    graph_->AddFilter(source.Get(), L"source");
    graph_->AddFilter(grabber.Get(), L"Grabber");
    ASSERT_EQ(S_OK, graph_->Connect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                    PinOf(grabber.Get(), PINDIR_INPUT).Get()));
    ComPtr<IPin> pin;
    EXPECT_EQ(E_FAIL, builder_->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video,
                                        TRUE, 0, pin.Receive()));
    EXPECT_EQ(S_OK, builder_->FindPin(source.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, FALSE,
                                      0, pin.Receive()));
    // A pin given as the source is checked itself.
    auto capture = PinOf(source.Get(), PINDIR_OUTPUT);
    EXPECT_EQ(S_OK, builder_->FindPin(capture.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0,
                                      pin.Receive()));
    EXPECT_EQ(E_FAIL, builder_->FindPin(capture.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0,
                                        pin.Receive()));
}

TEST_F(CaptureGraphBuilderTest, FindInterfaceLooksAtTheCapturePinThenTheFilter) {
    auto fw = SimulatedVideoDevice::Create(zrf::sim::FwIrPreset());
    auto source = BindDevice(*fw);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                            IID_IAMStreamConfig, config.ReceiveVoid()));
    ComPtr<IPin> pin_of_config;
    EXPECT_EQ(S_OK, config.As(IID_IPin, pin_of_config));
    EXPECT_EQ(PinOf(source.Get(), PINDIR_OUTPUT).Get(), pin_of_config.Get());

    ComPtr<IAMExtTransport> transport;
    ASSERT_EQ(S_OK, builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                            IID_IAMExtTransport, transport.ReceiveVoid()));
    ComPtr<IBaseFilter> filter_of_transport;
    EXPECT_EQ(S_OK, transport.As(IID_IBaseFilter, filter_of_transport));
    EXPECT_EQ(source.Get(), filter_of_transport.Get());
}

TEST_F(CaptureGraphBuilderTest, FindInterfaceFailsForAnInterfaceNobodyHas) {
    auto webcam = SimulatedVideoDevice::Create(zrf::sim::WebcamPreset());
    auto source = BindDevice(*webcam);
    ComPtr<IAMExtTransport> transport;
    // A capture pin exists, the interface nowhere: the platform's E_FAIL.
    EXPECT_EQ(E_FAIL,
              builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                      IID_IAMExtTransport, transport.ReceiveVoid()));
    EXPECT_FALSE(transport);
    EXPECT_EQ(E_POINTER, builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, nullptr,
                                                 IID_IAMExtTransport, transport.ReceiveVoid()));
}

TEST_F(CaptureGraphBuilderTest, APinWithoutDroppedFrameStatisticsIsReported) {
    auto settings = zrf::sim::UsbIrPreset();
    settings.should_omit_dropped_frames = true;
    auto usb = SimulatedVideoDevice::Create(settings);
    auto source = BindDevice(*usb);
    ComPtr<IAMDroppedFrames> dropped;
    EXPECT_EQ(E_FAIL,
              builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                      IID_IAMDroppedFrames, dropped.ReceiveVoid()));
}

}  // namespace
