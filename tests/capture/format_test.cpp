// Format slots, the image size the stream is told, and the frame-rate list and rate, against
// drivers that report whatever a row says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <optional>

#include "capture/mtx_graph.h"
#include "imaging/media_subtypes.h"
#include "platform/com/task_allocator.h"
#include "tests/capture/lying_camera.h"
#include "tests/capture/recording_stream.h"

namespace CaptureTest {
namespace {

using ::testing::ElementsAreArray;

struct Offer {
    GUID subtype;
    LONG width;
    LONG height;
    ULONG formatSize = sizeof(VIDEOINFOHEADER);
    GUID formatType = FORMAT_VideoInfo;
};

LyingCameraSettings Offering(const std::vector<Offer>& offers) {
    LyingCameraSettings settings;
    for (const Offer& o : offers)
        settings.offered.push_back(
            OfferedType(o.subtype, o.width, o.height, 333333, o.formatType, o.formatSize));
    return settings;
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

class FormatTest : public ::testing::Test {
  protected:
    // A fresh graph and stream on the camera; the device is selected twice (the second
    // selection refills the slots) before the subtype is set.
    HRESULT Open(LyingCameraSettings settings, const GUID& subtype, bool radiometricUsb = false) {
        graph_.reset();
        camera_ = std::make_unique<LyingCamera>(std::move(settings));
        stream_ = std::make_unique<RecordingStream>();
        graph_ = std::make_unique<CMtxGraph>();
        graph_->AttachStream(stream_.get());
        for (int i = 0; i < 2; ++i) {
            if (HRESULT hr = graph_->SelectDevice(camera_->Path(), L"0", radiometricUsb);
                FAILED(hr))
                return hr;
        }
        return graph_->SetMediaType(subtype);
    }

    std::unique_ptr<LyingCamera> camera_;
    std::unique_ptr<RecordingStream> stream_;
    std::unique_ptr<CMtxGraph> graph_;
};

const GUID F7M0 = kSubtypeF7M0, F7M2 = kSubtypeF7M2, Y800 = kSubtypeY800, MJLS = kSubtypeMJLS,
           MJPG = kSubtypeMJPG, YUY2 = kSubtypeYUY2, I420 = kSubtypeI420;
const ImageSize kNone{-1, -1};

// Per slot: F7M0 takes only a video-information type, F7M2 the last offered, MJLS and MJPG the
// first, YUY2 and I420 only a complete header; an unknown subtype means F7M0. Radiometric USB
// raw frames lose the rows of their 3840-byte header. Nothing divides by a width of zero or
// less; a block too short is never read.
TEST_F(FormatTest, SlotsTakeTheirTypesAndTheStreamIsToldTheImageSize) {
    const GUID other = FORMAT_None;
    struct Case {
        std::vector<Offer> offers;
        GUID subtype;
        bool usb;               // radiometric USB
        ImageSize size;         // kNone: SetMediaType fails and the stream is told nothing
        bool available = true;  // the slot holds a complete header
    };
    // clang-format off
    const Case cases[] = {
        {{{F7M0, 320, 243, 88, other}, {F7M0, 640, 483}}, F7M0, false, {640, 483}},
        {{{F7M0, 640, 483}, {F7M0, 320, 243, 88, other}}, F7M0, false, {640, 483}},
        {{{F7M2, 320, 240}, {F7M2, 640, 480}}, F7M2, false, {640, 480}},
        {{{MJLS, 320, 240}, {MJLS, 640, 480}}, MJLS, false, {320, 240}},
        {{{MJPG, 160, 120}, {MJPG, 640, 480}}, MJPG, false, {160, 120}},
        {{{YUY2, 640, 480, 88}}, YUY2, false, {640, 480}},
        {{{YUY2, 640, 480, 87}}, YUY2, false, kNone, false},
        {{{I420, 640, 480, 87}}, I420, false, kNone, false},
        {{{YUY2, 640, 480}}, F7M0, false, kNone, false},
        {{{F7M0, 640, 483}, {YUY2, 320, 240}}, MEDIASUBTYPE_RGB24, false, {640, 483}, false},
        {{{F7M0, 640, 483}}, F7M0, true, {640, 480}},
        {{{F7M0, 640, 483}}, F7M0, false, {640, 483}},
        {{{Y800, 320, 246}}, Y800, true, {320, 240}},
        {{{MJLS, 640, 483}}, MJLS, true, {640, 483}},
        {{{YUY2, 640, 480}}, YUY2, true, {640, 480}},
        {{{F7M0, 0, 483}}, F7M0, true, kNone},
        {{{F7M2, -640, 483}}, F7M2, true, kNone},
        {{{F7M2, 640, 480, 8}}, F7M2, false, kNone, false},
        {{{MJLS, 640, 480, 0}}, MJLS, false, kNone, false},
    };
    // clang-format on
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        const bool ok = c.size.width != -1;
        EXPECT_EQ(Open(Offering(c.offers), c.subtype, c.usb), ok ? S_OK : E_FAIL);
        EXPECT_EQ(graph_->IsMediaTypeAvailable(c.subtype), c.available);
        EXPECT_EQ(stream_->imageSize, c.size);
        if (!ok) continue;
        EXPECT_EQ(graph_->GetImageSize(), c.size);
        EXPECT_EQ(stream_->subtype, c.subtype == MEDIASUBTYPE_RGB24 ? F7M0 : c.subtype);
    }
    graph_.reset();
    camera_.reset();
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());  // every block let go
}

TEST_F(FormatTest, DefaultChoiceFindsTheWantedSubtype) {
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    ASSERT_EQ(S_OK, Open(Offering({{YUY2, 640, 480}}), YUY2));
    EXPECT_EQ(S_OK, graph_->SelectDefaultMediaType(false));  // a single type is taken as it is
    EXPECT_EQ(E_FAIL, graph_->SelectDefaultMediaType(true));
    // Only the F7M2, MJLS, MJPG and Y800 slots are refilled: YUY2 keeps its complete type.
    const GUID other = FORMAT_None;
    ASSERT_EQ(S_OK, Open(Offering({{YUY2, 640, 480},
                                   {YUY2, 320, 240, 88, other},
                                   {F7M0, 640, 483},
                                   {MJLS, 640, 480}}),
                         YUY2));
    EXPECT_EQ(S_OK, graph_->SelectDefaultMediaType(false));
    EXPECT_EQ(E_FAIL, graph_->SelectDefaultMediaType(true));
    EXPECT_TRUE(graph_->IsMediaTypeAvailable(MJLS));
    EXPECT_TRUE(graph_->IsMediaTypeAvailable(YUY2));
    graph_.reset();
    camera_.reset();
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
}

// The camera's own list comes first, cut to one decimal, leaving the limits alone; else the
// capabilities of the current subtype give the fastest rate halved down to the slowest, cut to
// two decimals. Counts and lengths are the driver's word: only what arrived is read.
TEST_F(FormatTest, FrameRateListFromTheCameraOrTheCapabilities) {
    struct Caps {
        GUID subtype;
        LONGLONG fastest;
        LONGLONG slowest;
    };
    struct Case {
        std::optional<std::vector<BYTE>> reply;
        DWORD returned;
        std::vector<Caps> caps;
        std::vector<float> rates;
        float max = 60.0f;
        float min = 3.75f;
        int capCount = -1;  // -1: as many as listed
        int capSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    };
    const std::vector<LONGLONG> four = {333333, 666666, 1333333, 2666666};
    const LONGLONG huge = std::numeric_limits<LONGLONG>::max();
    // clang-format off
    const Case cases[] = {
        {RateReply(4, four), 40, {{F7M0, 333333, 1333333}}, {30, 15, 7.5f, 3.7f}},
        {RateReply(4, four), 39, {}, {30, 15, 7.5f}},
        // 11 intervals fill the 100-byte reply; the camera claims 1000 and 4000 bytes.
        {RateReply(1000, std::vector<LONGLONG>(20, 333333)), 4000, {}, std::vector<float>(11, 30)},
        {RateReply(4, {0, -333333, 666666, 1}), 40, {}, {15, 1e7f}},
        {RateReply(2, {0, 0}), 2, {{F7M0, 333333, 666666}}, {30, 15}, 30, 15},
        {{}, 0, {{F7M0, 166666, 2666666}}, {60, 30, 15, 7.5f, 3.75f}},
        {{}, 0, {{F7M0, 333333, 1333333}}, {30, 15, 7.5f}, 30, 7.5f},
        {{}, 0, {{F7M0, 333333, 666666}, {YUY2, 166666, 2666666}}, {30, 15}, 30, 15},
        {{}, 0, {{F7M0, 333333, 666666}, {F7M0, 0, 666666}, {F7M0, 333333, 0},
                 {F7M0, 333333, huge}, {F7M0, -1, -1}}, {30, 15}, 30, 15, 1'000'000'000},
        {{}, 0, {{F7M0, 333333, 666666}}, {}, 60, 3.75f, 1, 64},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        LyingCameraSettings s = Offering({{F7M0, 640, 483}});
        s.frame_rate_reply = c.reply;
        s.frame_rate_returned = c.returned;
        s.capability_count = c.capCount < 0 ? static_cast<int>(c.caps.size()) : c.capCount;
        s.capability_size = c.capSize;
        for (const Caps& caps : c.caps) {
            VIDEO_STREAM_CONFIG_CAPS limits{};
            limits.MinFrameInterval = caps.fastest;
            limits.MaxFrameInterval = caps.slowest;
            s.capabilities.push_back({OfferedType(caps.subtype, 640, 480), limits});
        }
        ASSERT_EQ(S_OK, Open(std::move(s), F7M0));
        EXPECT_THAT(graph_->FrameRates(), ElementsAreArray(c.rates));
        EXPECT_EQ(graph_->MaxFrameRate(), c.max);
        EXPECT_EQ(graph_->MinFrameRate(), c.min);
    }
}

// The interval set is the truncated reciprocal of the rate clamped to the limits (60 and 3.75
// here); the stream gets the clamped rate whatever the device then reports.
TEST_F(FormatTest, SetFrameRateClampsAndTellsTheStream) {
    LyingCameraSettings s = Offering({{F7M0, 640, 483}});
    s.format = OfferedType(F7M0, 640, 483, 400000);
    ASSERT_EQ(S_OK, Open(std::move(s), F7M0));
    for (double rate : {30.0, 7.5, 1000.0, 0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(S_OK, graph_->SetFrameRate(rate));
    }
    EXPECT_THAT(camera_->Log().set_format_intervals,
                ElementsAreArray({333333, 1333333, 166666, 2666666, 2666666, 2666666, 166666}));
    EXPECT_EQ(60.0f, stream_->FrameRate());
    // Without a format to read back, the read-back's code, and the stream still told.
    ASSERT_EQ(S_OK, Open(Offering({{F7M0, 640, 483}}), F7M0));
    EXPECT_EQ(E_FAIL, graph_->SetFrameRate(25));
    EXPECT_EQ(25.0f, stream_->FrameRate());
}

// The device's interval as a rate cut to one decimal, or 10 when there is none.
TEST_F(FormatTest, GetFrameRateReadsTheDeviceOrFallsBackToTen) {
    for (const auto& [interval, rate] : {std::pair<REFERENCE_TIME, double>{333333, 30.0},
                                         {400000, 25.0},
                                         {1333333, 7.5},
                                         {0, 10.0},
                                         {-1, 10.0}}) {
        LyingCameraSettings s = Offering({{F7M0, 640, 483}});
        if (interval >= 0) s.format = OfferedType(F7M0, 640, 483, interval);
        ASSERT_EQ(S_OK, Open(std::move(s), F7M0));
        EXPECT_EQ(rate, graph_->GetFrameRate()) << interval;
        // The fallback is not passed on.
        EXPECT_EQ(rate == 10.0 ? 0.0f : static_cast<float>(rate), stream_->FrameRate());
    }
    EXPECT_EQ(10.0, CMtxGraph().GetFrameRate());
}

}  // namespace
}  // namespace CaptureTest
