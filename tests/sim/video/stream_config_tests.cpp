#include <gtest/gtest.h>

#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

class StreamConfigTest : public ::testing::Test {
  protected:
    void Open(zrf::sim::VideoDeviceSettings settings) {
        device_ = SimulatedVideoDevice::Create(std::move(settings));
        source_ = BindDevice(*device_);
        capture_ = PinOf(source_.Get(), PINDIR_OUTPUT);
        ASSERT_EQ(S_OK, capture_.As(IID_IAMStreamConfig, config_));
    }
    REFERENCE_TIME CurrentInterval() {
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(S_OK, config_->GetFormat(&mt));
        auto type = MediaType::Adopt(mt);
        return type.VideoInfo() != nullptr ? type.VideoInfo()->AvgTimePerFrame : -1;
    }

    std::shared_ptr<SimulatedVideoDevice> device_;
    ComPtr<IBaseFilter> source_;
    ComPtr<IPin> capture_;
    ComPtr<IAMStreamConfig> config_;
};

TEST_F(StreamConfigTest, CapabilitiesGiveTheIntervalLimitsPerFormat) {
    Open(zrf::sim::UsbIrJlsPreset());
    int count = 0;
    int size = 0;
    ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(1, count);
    EXPECT_EQ(128, size);
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
    auto type = MediaType::Adopt(mt);
    EXPECT_EQ(zrf::sim::kSubtypeMJLS, type->subtype);
    EXPECT_EQ(166666, caps.MinFrameInterval);
    EXPECT_EQ(2666666, caps.MaxFrameInterval);
    EXPECT_EQ(320, caps.MaxOutputSize.cx);
    EXPECT_EQ(S_FALSE, config_->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_FALSE, config_->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)));
}

TEST_F(StreamConfigTest, SetFormatSnapsToTheNearestSupportedInterval) {
    Open(zrf::sim::UsbIrPreset());
    EXPECT_EQ(333333, CurrentInterval());
    MediaType f7m0 = OfferedType(capture_.Get(), zrf::sim::kSubtypeF7M0);
    f7m0.VideoInfo()->AvgTimePerFrame = 1333333;
    ASSERT_EQ(S_OK, config_->SetFormat(&f7m0.Get()));
    EXPECT_EQ(1333333, CurrentInterval());
    f7m0.VideoInfo()->AvgTimePerFrame = 166666;  // 60 is not offered: 30 is nearest
    ASSERT_EQ(S_OK, config_->SetFormat(&f7m0.Get()));
    EXPECT_EQ(333333, CurrentInterval());
    f7m0.VideoInfo()->AvgTimePerFrame = 0;
    ASSERT_EQ(S_OK, config_->SetFormat(&f7m0.Get()));
    EXPECT_EQ(333333, CurrentInterval());
}

TEST_F(StreamConfigTest, SetFormatRefusesWhatIsNotOffered) {
    Open(zrf::sim::WebcamPreset());
    MediaType yuy2 = OfferedType(capture_.Get(), zrf::sim::kSubtypeYUY2);
    yuy2.VideoInfo()->bmiHeader.biHeight = 720;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(&yuy2.Get()));
    EXPECT_EQ(E_POINTER, config_->SetFormat(nullptr));
}

// As the platform's capture pins: a connected pin reconnects with the new type and offers only
// that one from then on; while the filter runs the format stays.
TEST_F(StreamConfigTest, WhileConnectedSetFormatReconnects) {
    Open(zrf::sim::WebcamPreset());
    auto graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    graph->AddFilter(source_.Get(), L"source");
    graph->AddFilter(grabber.Get(), L"Grabber");
    MediaType mjpg = OfferedType(capture_.Get(), zrf::sim::kSubtypeMJPG);
    ASSERT_EQ(S_OK, graph->ConnectDirect(capture_.Get(), PinOf(grabber.Get(), PINDIR_INPUT).Get(),
                                         &mjpg.Get()));
    MediaType yuy2 = OfferedType(capture_.Get(), zrf::sim::kSubtypeYUY2);
    ASSERT_EQ(S_OK, config_->SetFormat(&yuy2.Get()));
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(S_OK, capture_->ConnectionMediaType(&connected));
    EXPECT_EQ(zrf::sim::kSubtypeYUY2, connected.subtype);
    FreeMediaType(connected);
    EXPECT_EQ(1u, OfferedTypes(capture_.Get()).size());
    ASSERT_EQ(S_OK, source_->Run(0));
    EXPECT_EQ(VFW_E_NOT_STOPPED, config_->SetFormat(&mjpg.Get()));
    ASSERT_EQ(S_OK, source_->Stop());
    mjpg.VideoInfo()->AvgTimePerFrame = 666666;
    ASSERT_EQ(S_OK, config_->SetFormat(&mjpg.Get()));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetFormat(&mt));
    auto current = MediaType::Adopt(mt);
    EXPECT_EQ(zrf::sim::kSubtypeMJPG, current->subtype);
    EXPECT_EQ(666666, current.VideoInfo()->AvgTimePerFrame);
}

TEST_F(StreamConfigTest, ADeviceWithoutFormatsHasNoCurrentFormat) {
    auto settings = zrf::sim::WebcamPreset();
    settings.formats.clear();
    Open(settings);
    AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_TRUE(FAILED(config_->GetFormat(&mt)));
    EXPECT_EQ(nullptr, mt);
    EXPECT_TRUE(OfferedTypes(capture_.Get()).empty());
}

TEST_F(StreamConfigTest, MediaTypesHandedOutAreTheCallersToFree) {
    Open(zrf::sim::UsbIrPreset());
    long before = zrf::com::TaskAllocatorLiveCount();
    {
        auto types = OfferedTypes(capture_.Get());
        EXPECT_EQ(4u, types.size());
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(S_OK, config_->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
        DeleteMediaType(mt);
    }
    EXPECT_EQ(before, zrf::com::TaskAllocatorLiveCount());
}

}  // namespace
