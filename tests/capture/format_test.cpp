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

// Per slot: F7M0 takes only a video-information type, F7M2 the last offered, MJLS and MJPG the
// first, YUY2 and I420 only a complete header. Radiometric USB raw frames lose the rows of
// their 3840-byte header.
TEST_F(FormatTest, SlotsTakeTheirTypesAndTheStreamIsToldTheImageSize) {
    const ImageSize kNone{-1, -1};
    const GUID kNoVideoInfo = FORMAT_None;
    struct Case {
        const char* name;
        std::vector<Offer> offers;
        GUID subtype;
        bool radiometricUsb;
        ImageSize size;         // kNone: SetMediaType fails and the stream is told nothing
        bool available = true;  // the slot holds a complete header
    };
    const Case cases[] = {
        {"F7M0, other type first",
         {{kSubtypeF7M0, 320, 243, 88, kNoVideoInfo}, {kSubtypeF7M0, 640, 483}},
         kSubtypeF7M0,
         false,
         {640, 483}},
        {"F7M0, other type last",
         {{kSubtypeF7M0, 640, 483}, {kSubtypeF7M0, 320, 243, 88, kNoVideoInfo}},
         kSubtypeF7M0,
         false,
         {640, 483}},
        {"F7M2: the last",
         {{kSubtypeF7M2, 320, 240}, {kSubtypeF7M2, 640, 480}},
         kSubtypeF7M2,
         false,
         {640, 480}},
        {"MJLS: the first",
         {{kSubtypeMJLS, 320, 240}, {kSubtypeMJLS, 640, 480}},
         kSubtypeMJLS,
         false,
         {320, 240}},
        {"MJPG: the first",
         {{kSubtypeMJPG, 160, 120}, {kSubtypeMJPG, 640, 480}},
         kSubtypeMJPG,
         false,
         {160, 120}},
        {"YUY2 header complete", {{kSubtypeYUY2, 640, 480, 88}}, kSubtypeYUY2, false, {640, 480}},
        {"YUY2 header short", {{kSubtypeYUY2, 640, 480, 87}}, kSubtypeYUY2, false, kNone, false},
        {"I420 header short", {{kSubtypeI420, 640, 480, 87}}, kSubtypeI420, false, kNone, false},
        {"empty slot", {{kSubtypeYUY2, 640, 480}}, kSubtypeF7M0, false, kNone, false},
        {"unknown subtype: the F7M0 slot",
         {{kSubtypeF7M0, 640, 483}, {kSubtypeYUY2, 320, 240}},
         MEDIASUBTYPE_RGB24,
         false,
         {640, 483},
         false},
        {"USB raw", {{kSubtypeF7M0, 640, 483}}, kSubtypeF7M0, true, {640, 480}},
        {"USB Y800", {{kSubtypeY800, 320, 246}}, kSubtypeY800, true, {320, 240}},
        {"USB JPEG-LS keeps its rows", {{kSubtypeMJLS, 640, 483}}, kSubtypeMJLS, true, {640, 483}},
        {"USB YUY2 keeps its rows", {{kSubtypeYUY2, 640, 480}}, kSubtypeYUY2, true, {640, 480}},
        {"raw, not USB", {{kSubtypeF7M0, 640, 483}}, kSubtypeF7M0, false, {640, 483}},
        // Nothing divides by a width of zero or less; a block too short is never read.
        {"width 0", {{kSubtypeF7M0, 0, 483}}, kSubtypeF7M0, true, kNone},
        {"negative width", {{kSubtypeF7M2, -640, 483}}, kSubtypeF7M2, true, kNone},
        {"F7M2 block of 8 bytes", {{kSubtypeF7M2, 640, 480, 8}}, kSubtypeF7M2, false, kNone, false},
        {"MJLS block of 0 bytes", {{kSubtypeMJLS, 640, 480, 0}}, kSubtypeMJLS, false, kNone, false},
    };
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ok = c.size.width != -1;
        EXPECT_EQ(Open(Offering(c.offers), c.subtype, c.radiometricUsb), ok ? S_OK : E_FAIL);
        EXPECT_EQ(graph_->IsMediaTypeAvailable(c.subtype), c.available);
        EXPECT_EQ(stream_->imageSize, c.size);
        if (!ok) continue;
        EXPECT_EQ(graph_->GetImageSize(), c.size);
        EXPECT_EQ(stream_->subtype, c.subtype == MEDIASUBTYPE_RGB24 ? kSubtypeF7M0 : c.subtype);
    }
    graph_.reset();
    camera_.reset();
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());  // every block let go
}

TEST_F(FormatTest, DefaultChoiceFindsTheWantedSubtype) {
    const long blocks = zrf::com::TaskAllocatorLiveCount();
    ASSERT_EQ(S_OK, Open(Offering({{kSubtypeYUY2, 640, 480}}), kSubtypeYUY2));
    EXPECT_EQ(S_OK, graph_->SelectDefaultMediaType(false));  // a single type is taken as it is
    EXPECT_EQ(E_FAIL, graph_->SelectDefaultMediaType(true));
    ASSERT_EQ(S_OK, Open(Offering({{kSubtypeYUY2, 640, 480},
                                   {kSubtypeF7M0, 640, 483},
                                   {kSubtypeMJLS, 640, 480}}),
                         kSubtypeYUY2));
    EXPECT_EQ(S_OK, graph_->SelectDefaultMediaType(false));
    EXPECT_EQ(E_FAIL, graph_->SelectDefaultMediaType(true));
    EXPECT_TRUE(graph_->IsMediaTypeAvailable(kSubtypeMJLS));
    graph_.reset();
    camera_.reset();
    EXPECT_EQ(blocks, zrf::com::TaskAllocatorLiveCount());
}

// The camera's own list comes first, cut to one decimal, leaving the limits alone; else the
// capabilities of the current subtype give the fastest rate halved down to the slowest, cut to
// two decimals.
TEST_F(FormatTest, FrameRateListFromTheCameraOrTheCapabilities) {
    struct Caps {
        GUID subtype;
        LONGLONG fastest;
        LONGLONG slowest;
    };
    struct Case {
        const char* name;
        std::optional<std::vector<BYTE>> reply;
        DWORD returned;
        std::vector<Caps> caps;
        std::vector<float> rates;
        float max = 60.0f;
        float min = 3.75f;
        int capCount = -1;  // -1: as many as listed
        int capSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    };
    const GUID raw = kSubtypeF7M0;
    const std::vector<LONGLONG> four = {333333, 666666, 1333333, 2666666};
    const Case cases[] = {
        {"camera list", RateReply(4, four), 40, {{raw, 333333, 1333333}}, {30, 15, 7.5f, 3.7f}},
        {"camera list, reply cut inside the fourth", RateReply(4, four), 39, {}, {30, 15, 7.5f}},
        // 11 intervals fill the 100-byte reply; the camera claims 1000 and 4000 bytes.
        {"camera count beyond the reply",
         RateReply(1000, std::vector<LONGLONG>(20, 333333)),
         4000,
         {},
         std::vector<float>(11, 30.0f)},
        {"camera intervals of 0 or less",
         RateReply(4, {0, -333333, 666666, 1}),
         40,
         {},
         {15, 1e7f}},
        {"nothing usable from the camera",
         RateReply(2, {0, 0}),
         2,
         {{raw, 333333, 666666}},
         {30, 15},
         30,
         15},
        {"halved down", {}, 0, {{raw, 166666, 2666666}}, {60, 30, 15, 7.5f, 3.75f}},
        {"halved down to 7.5", {}, 0, {{raw, 333333, 1333333}}, {30, 15, 7.5f}, 30, 7.5f},
        {"the current subtype's",
         {},
         0,
         {{raw, 166666, 2666666}, {kSubtypeYUY2, 333333, 666666}, {raw, 166666, 2666666}},
         {60, 30, 15, 7.5f, 3.75f}},
        {"unusable capabilities skipped",
         {},
         0,
         {{raw, 333333, 666666},
          {raw, 0, 666666},
          {raw, 333333, 0},
          {raw, 333333, std::numeric_limits<LONGLONG>::max()},
          {raw, -1, -1}},
         {30, 15},
         30,
         15,
         1'000'000'000},
        {"capabilities of another size", {}, 0, {{raw, 333333, 666666}}, {}, 60, 3.75f, 1, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LyingCameraSettings s = Offering({{raw, 640, 483}, {kSubtypeYUY2, 640, 480}});
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
        ASSERT_EQ(S_OK, Open(std::move(s), raw));
        EXPECT_THAT(graph_->FrameRates(), ElementsAreArray(c.rates));
        EXPECT_EQ(graph_->MaxFrameRate(), c.max);
        EXPECT_EQ(graph_->MinFrameRate(), c.min);
    }
}

// The interval set is the truncated reciprocal of the rate clamped to the limits (60 and 3.75
// here); the stream gets the clamped rate whatever the device then reports.
TEST_F(FormatTest, SetFrameRateClampsAndTellsTheStream) {
    LyingCameraSettings s = Offering({{kSubtypeF7M0, 640, 483}});
    s.format = OfferedType(kSubtypeF7M0, 640, 483, 400000);
    ASSERT_EQ(S_OK, Open(std::move(s), kSubtypeF7M0));
    for (double rate : {30.0, 7.5, 1000.0, 0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(S_OK, graph_->SetFrameRate(rate));
    }
    EXPECT_THAT(camera_->Log().set_format_intervals,
                ElementsAreArray({333333, 1333333, 166666, 2666666, 2666666, 2666666, 166666}));
    EXPECT_EQ(60.0f, stream_->FrameRate());
    // Without a format to read back, the read-back's code, and the stream still told.
    ASSERT_EQ(S_OK, Open(Offering({{kSubtypeF7M0, 640, 483}}), kSubtypeF7M0));
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
        LyingCameraSettings s = Offering({{kSubtypeF7M0, 640, 483}});
        if (interval >= 0) s.format = OfferedType(kSubtypeF7M0, 640, 483, interval);
        ASSERT_EQ(S_OK, Open(std::move(s), kSubtypeF7M0));
        EXPECT_EQ(rate, graph_->GetFrameRate()) << interval;
        // The fallback is not passed on.
        EXPECT_EQ(rate == 10.0 ? 0.0f : static_cast<float>(rate), stream_->FrameRate());
    }
    EXPECT_EQ(10.0, CMtxGraph().GetFrameRate());
}

}  // namespace
}  // namespace CaptureTest
