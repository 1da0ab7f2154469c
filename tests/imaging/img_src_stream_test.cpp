// The stream itself and its visual paths: sizes, the visual header, pass-through, the clock.
#include "imaging/img_src_stream.h"

#include <gtest/gtest.h>

#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"
#include "platform/time/test_clock.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;
using Sample = std::vector<std::uint8_t>;

class ImgSrcStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        clock_.SetTimeZone(-60, false);
        stream_.SetFrameRate(30.0f);
    }
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    ImgSrcStream stream_;
    ImageSize size_{16, 8};
};

// Visual images are a 28-byte header and width x height x 2 bytes, as long as every size fits a
// signed 32-bit count; MJPG takes the last sample's length; radiometric sizes exist only inside
// the callback.
TEST_F(ImgSrcStreamTest, SizesOutsideTheCallback) {
    const std::pair<ImageSize, std::int32_t> visual[] = {{{16, 8}, 16 * 8 * 2 + 28},
                                                         {{0, 8}, 28},
                                                         {{-1, 8}, 0},
                                                         {{16, -1}, 0},
                                                         {{0x3FFF8001, 0}, 0},
                                                         {{0x3FFF8000, 1}, 0},
                                                         {{0x3FFF7FF2, 1}, 0x7FFF0000}};
    for (const GUID& subtype : {kSubtypeYUY2, kSubtypeI420}) {
        stream_.SetSubtype(subtype);
        for (const auto& [size, bytes] : visual) {
            stream_.SetImageSize(size);
            EXPECT_EQ(stream_.GetImageBufferSize(), bytes) << size.width << " x " << size.height;
        }
    }
    stream_.SetSubtype(kSubtypeMJPG);
    EXPECT_EQ(stream_.GetImageBufferSize(), 0);
    stream_.OnNewSample(Sample(77).data(), 77, size_);  // no callback: dropped
    EXPECT_EQ(stream_.GetImageBufferSize(), 77);
    EXPECT_FALSE(stream_.IsClockStarted());
    for (SourceKind kind : {SourceKind::Usb, SourceKind::Ieee1394}) {
        stream_.SetSourceKind(kind);
        for (const GUID& s : {kSubtypeF7M0, kSubtypeMJLS, kSubtypeY800}) {
            stream_.SetSubtype(s);
            EXPECT_EQ(stream_.GetImageBufferSize(), 0);
            EXPECT_EQ(stream_.DecodeImage(0, Sample(10000).data()), DecodeResult::BadFrame);
        }
    }
}

TEST_F(ImgSrcStreamTest, FieldCountIgnoresCountsBelowOne) {
    EXPECT_EQ(stream_.FieldCount(), 1);
    stream_.SetFieldCount(4);
    stream_.SetFieldCount(0);
    stream_.SetFieldCount(-3);
    EXPECT_EQ(stream_.FieldCount(), 4);
}

// YUY2 and I420: the header, stamped, then the sample; what the sample does not cover is zero.
// A sample shorter than its planes is rejected.
TEST_F(ImgSrcStreamTest, VisualImagesAreHeaderThenSample) {
    const auto picture = RampPicture(size_);
    zrf::sim::SampleSettings s;
    s.size = size_;
    clock_.AdvanceMilliseconds(100);
    for (const auto& [subtype, fourCc] :
         {std::pair{kSubtypeYUY2, "YUY2"}, {kSubtypeI420, "I420"}}) {
        stream_.SetSubtype(subtype);
        stream_.SetFrameRate(30.0f);  // each starts at frame 1
        Sample sample;
        (subtype == kSubtypeYUY2 ? zrf::sim::BuildYuy2Sample : zrf::sim::BuildI420Sample)(
            picture.data(), s, sample);
        const Delivery d = Deliver(stream_, sample, size_);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        const Sample& image = d.images[0];
        ASSERT_EQ(image.size(), 28u + 256);
        VisualFrameHeader h{};
        std::memcpy(&h, image.data(), sizeof h);
        EXPECT_EQ(std::string(h.fourCc, 4), fourCc);
        EXPECT_EQ(h.width, 16);
        EXPECT_EQ(h.height, 8);
        EXPECT_EQ(h.stride, 32);
        EXPECT_EQ(h.timeZoneMinutes, -60);
        EXPECT_EQ(h.seconds, 1'650'000'000u);
        EXPECT_EQ(h.milliseconds, 33u);
        EXPECT_TRUE(std::equal(sample.begin(), sample.end(), image.begin() + 28));
        EXPECT_TRUE(std::all_of(image.begin() + 28 + sample.size(), image.end(),
                                [](auto b) { return b == 0; }));
        EXPECT_EQ(stream_.TimeZoneMinutes(), -60);
        EXPECT_EQ(Deliver(stream_, Sample(sample.size() - 1), size_).results,
                  std::vector<DecodeResult>{DecodeResult::BadFrame});
    }
}

TEST_F(ImgSrcStreamTest, MjpgPassesTheSampleThroughForAnyField) {
    stream_.SetSubtype(kSubtypeMJPG);
    Sample sample;
    zrf::sim::SampleSettings s;
    s.size = size_;
    zrf::sim::BuildMjpgSample(RampPicture(size_).data(), s, sample);
    const Delivery d = DeliverField(stream_, sample, size_, 3);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    EXPECT_EQ(d.images[0], sample);
}

// A new rate restarts the clock from a fresh base; the clock's timer period goes with it.
TEST_F(ImgSrcStreamTest, SetFrameRateRestartsTheClock) {
    const int periods = Platform::ActiveTimerPeriods(1);
    {
        ImgSrcStream stream;
        stream.SetSubtype(kSubtypeYUY2);
        const Sample sample(16 * 8 * 2);
        Deliver(stream, sample, size_);
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods + 1);
        clock_.AdvanceMilliseconds(10'000);
        stream.SetFrameRate(25.0f);
        EXPECT_FALSE(stream.IsClockStarted());
        const Delivery d = Deliver(stream, sample, size_);
        VisualFrameHeader h{};
        std::memcpy(&h, d.images[0].data(), sizeof h);
        EXPECT_EQ(h.seconds, 1'650'000'010u);
        EXPECT_EQ(h.milliseconds, 40u);  // frame 1 at 25 per second
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods);
}

}  // namespace
