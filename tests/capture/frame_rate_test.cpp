// The frame-rate list (the camera's own and the derived one), clamping and reading the rate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "imaging/media_subtypes.h"
#include "tests/capture/capture_fixture.h"
#include "tests/capture/lying_camera.h"
#include "tests/capture/recording_stream.h"

namespace CaptureTest {
namespace {

using ::testing::ElementsAre;
using zrf::sim::VideoFormat;

const std::wstring kPath = L"\\\\?\\usb#vid_cccc&pid_0003#rates";

VideoFormat F7M0(std::vector<REFERENCE_TIME> intervals) {
    return {kSubtypeF7M0, 640, 483, 16, 0, std::move(intervals)};
}

// A frame-rate reply: item size and count, then the intervals.
std::vector<BYTE> RateReply(ULONG count, std::vector<LONGLONG> intervals) {
    std::vector<BYTE> reply(8 + intervals.size() * 8);
    const ULONG size = static_cast<ULONG>(reply.size());
    std::memcpy(reply.data(), &size, 4);
    std::memcpy(reply.data() + 4, &count, 4);
    std::memcpy(reply.data() + 8, intervals.data(), intervals.size() * 8);
    return reply;
}

VIDEO_STREAM_CONFIG_CAPS Caps(LONGLONG minInterval, LONGLONG maxInterval) {
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.MinFrameInterval = minInterval;
    caps.MaxFrameInterval = maxInterval;
    return caps;
}

class FrameRateTest : public ::testing::Test {
  protected:
    HRESULT Open(zrf::sim::VideoDeviceSettings settings, const GUID& subtype = kSubtypeF7M0) {
        device_ = AddDevice(std::move(settings));
        graph_.AttachStream(&stream_);
        HRESULT hr = graph_.SelectDevice(kPath, L"0", false);
        if (FAILED(hr)) return hr;
        return graph_.SetMediaType(subtype);
    }
    HRESULT Open(const LyingCamera& camera) {
        graph_.AttachStream(&stream_);
        HRESULT hr = graph_.SelectDevice(camera.Path(), L"0", false);
        if (FAILED(hr)) return hr;
        return graph_.SetMediaType(kSubtypeF7M0);
    }

    DevicePtr device_;
    RecordingStream stream_;
    CMtxGraph graph_;
};

TEST_F(FrameRateTest, CameraListComesFirstCutToOneDecimal) {
    auto settings = PlainDevice(kPath, {F7M0({166666, 2666666})});
    settings.video_control_frame_intervals = {333333, 666666, 1333333, 2666666};
    ASSERT_EQ(S_OK, Open(settings));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(30.0f, 15.0f, 7.5f, 3.7f));
    // The camera list leaves the clamp limits alone.
    EXPECT_EQ(60.0f, graph_.MaxFrameRate());
    EXPECT_EQ(3.75f, graph_.MinFrameRate());
}

TEST_F(FrameRateTest, DerivedListHalvesFromTheFastestToTheSlowest) {
    ASSERT_EQ(S_OK, Open(PlainDevice(kPath, {F7M0({166666, 333333, 2666666})})));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(60.0f, 30.0f, 15.0f, 7.5f, 3.75f));
    CMtxGraph other;
    device_ = AddDevice(PlainDevice(L"\\\\?\\usb#other", {F7M0({333333, 1333333})}));
    ASSERT_EQ(S_OK, other.SelectDevice(L"\\\\?\\usb#other", L"0", false));
    ASSERT_EQ(S_OK, other.SetMediaType(kSubtypeF7M0));
    EXPECT_THAT(other.FrameRates(), ElementsAre(30.0f, 15.0f, 7.5f));
    EXPECT_EQ(30.0f, other.MaxFrameRate());
    EXPECT_EQ(7.5f, other.MinFrameRate());
}

TEST_F(FrameRateTest, DerivedListFollowsTheCurrentSubtype) {
    ASSERT_EQ(S_OK, Open(PlainDevice(kPath, {F7M0({166666, 2666666}),
                                             {kSubtypeYUY2, 640, 480, 16, 0, {333333, 666666}}}),
                         kSubtypeYUY2));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(30.0f, 15.0f));
}

TEST_F(FrameRateTest, RatesOutsideTheRangeAreClamped) {
    ASSERT_EQ(S_OK, Open(PlainDevice(kPath, {F7M0({333333, 666666, 1333333})})));
    ASSERT_EQ(S_OK, graph_.BuildCaptureGraph(false));
    EXPECT_EQ(S_OK, graph_.SetFrameRate(1000));
    EXPECT_EQ(30.0, graph_.GetFrameRate());
    EXPECT_EQ(S_OK, graph_.SetFrameRate(0));
    EXPECT_EQ(7.5, graph_.GetFrameRate());
    EXPECT_EQ(7.5f, stream_.FrameRate());
    EXPECT_EQ(S_OK, graph_.SetFrameRate(15));
    EXPECT_EQ(15.0, graph_.GetFrameRate());
}

TEST_F(FrameRateTest, IntervalIsTheTruncatedReciprocalOfTheClampedRate) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.format = OfferedType(kSubtypeF7M0, 640, 483, 400000);
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    for (double rate : {30.0, 7.5, 1000.0, 0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(S_OK, graph_.SetFrameRate(rate));
    }
    EXPECT_THAT(camera.Log().set_format_intervals,
                ElementsAre(333333, 1333333, 166666, 2666666, 2666666, 2666666, 166666));
    // The stream gets the clamped rate, whatever the device then reports.
    EXPECT_EQ(60.0f, stream_.FrameRate());
}

TEST_F(FrameRateTest, SetFrameRateReturnsTheReadBackCodeAndStillTellsTheStream) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    LyingCamera camera(std::move(settings));  // GetFormat fails
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_EQ(E_FAIL, graph_.SetFrameRate(25));
    EXPECT_EQ(25.0f, stream_.FrameRate());
    EXPECT_EQ(10.0, graph_.GetFrameRate());
}

TEST_F(FrameRateTest, GetFrameRateCutsToOneDecimalOrFallsBackToTen) {
    struct Case {
        std::vector<REFERENCE_TIME> intervals;
        double rate;
    };
    for (const Case& c :
         {Case{{333333}, 30.0}, Case{{400000}, 25.0}, Case{{1333333}, 7.5}, Case{{}, 10.0}}) {
        CMtxGraph graph;
        device_ = AddDevice(PlainDevice(kPath, {F7M0(c.intervals)}));
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M0));
        EXPECT_EQ(c.rate, graph.GetFrameRate());
        device_.reset();
    }
    CMtxGraph unselected;
    EXPECT_EQ(10.0, unselected.GetFrameRate());
}

TEST_F(FrameRateTest, CameraCountsBeyondTheReplyAreNotRead) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    // 11 intervals fill the 100-byte buffer; the camera claims 1000 and 4000 bytes returned.
    settings.frame_rate_reply = RateReply(1000, std::vector<LONGLONG>(20, 333333));
    settings.frame_rate_returned = 4000;
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_EQ(11u, graph_.FrameRates().size());
}

TEST_F(FrameRateTest, CameraIntervalsOfZeroOrLessAreSkipped) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.frame_rate_reply = RateReply(4, {0, -333333, 666666, 1});
    settings.frame_rate_returned = 40;
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(15.0f, 1e7f));
}

TEST_F(FrameRateTest, ACameraListOfNothingUsableFallsBackToTheCapabilities) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.frame_rate_reply = RateReply(2, {0, 0});
    settings.frame_rate_returned = 2;  // not even the item header
    settings.capability_count = 1;
    settings.capabilities.push_back({OfferedType(kSubtypeF7M0, 640, 483), Caps(333333, 666666)});
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(30.0f, 15.0f));
}

TEST_F(FrameRateTest, CapabilitiesWithUnusableIntervalsAreSkipped) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.capability_count = 1'000'000'000;
    settings.capabilities = {
        {OfferedType(kSubtypeF7M0, 640, 483), Caps(333333, 666666)},
        {OfferedType(kSubtypeF7M0, 640, 483), Caps(0, 666666)},
        {OfferedType(kSubtypeF7M0, 640, 483), Caps(333333, 0)},
        {OfferedType(kSubtypeF7M0, 640, 483), Caps(333333, std::numeric_limits<LONGLONG>::max())},
        {OfferedType(kSubtypeF7M0, 640, 483), Caps(-1, -1)},
    };
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_THAT(graph_.FrameRates(), ElementsAre(30.0f, 15.0f));
    EXPECT_EQ(15.0f, graph_.MinFrameRate());
}

TEST_F(FrameRateTest, CapabilitiesOfAnotherStructureSizeAreIgnored) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 640, 483));
    settings.capability_count = 1;
    settings.capability_size = 64;
    settings.capabilities.push_back({OfferedType(kSubtypeF7M0, 640, 483), Caps(333333, 666666)});
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, Open(camera));
    EXPECT_TRUE(graph_.FrameRates().empty());
    EXPECT_EQ(60.0f, graph_.MaxFrameRate());
}

}  // namespace
}  // namespace CaptureTest
