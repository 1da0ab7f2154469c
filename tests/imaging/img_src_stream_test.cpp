#include "imaging/img_src_stream.h"

#include <gtest/gtest.h>

#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/stream_harness.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;

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

TEST_F(ImgSrcStreamTest, FieldCountIgnoresCountsBelowOne) {
    EXPECT_EQ(stream_.FieldCount(), 1);
    stream_.SetFieldCount(4);
    stream_.SetFieldCount(0);
    stream_.SetFieldCount(-3);
    EXPECT_EQ(stream_.FieldCount(), 4);
}

TEST_F(ImgSrcStreamTest, SizesOutsideTheCallback) {
    stream_.SetImageSize(size_);
    stream_.SetSubtype(kSubtypeYUY2);
    EXPECT_EQ(stream_.GetImageBufferSize(), 16 * 8 * 2 + 28);
    stream_.SetSubtype(kSubtypeI420);
    EXPECT_EQ(stream_.GetImageBufferSize(), 16 * 8 * 2 + 28);
    stream_.SetSubtype(kSubtypeMJPG);
    EXPECT_EQ(stream_.GetImageBufferSize(), 0);
    stream_.OnNewSample(std::vector<std::uint8_t>(77).data(), 77, size_);
    EXPECT_EQ(stream_.GetImageBufferSize(), 77);  // the last sample's length
    for (SourceKind kind : {SourceKind::Usb, SourceKind::Ieee1394}) {
        stream_.SetSourceKind(kind);
        for (const GUID& s : {kSubtypeF7M0, kSubtypeMJLS, kSubtypeY800}) {
            stream_.SetSubtype(s);
            EXPECT_EQ(stream_.GetImageBufferSize(), 0);
            EXPECT_EQ(stream_.DecodeImage(0, std::vector<std::uint8_t>(10000).data()),
                      DecodeResult::BadFrame);
        }
    }
}

TEST_F(ImgSrcStreamTest, SampleWithoutCallbackIsDropped) {
    stream_.SetSubtype(kSubtypeMJPG);
    std::vector<std::uint8_t> sample(12, 1);
    stream_.OnNewSample(sample.data(), 12, size_);
    EXPECT_EQ(stream_.GetImageBufferSize(), 12);
    EXPECT_FALSE(stream_.IsClockStarted());
}

TEST_F(ImgSrcStreamTest, MjpgPassesTheSampleThroughForAnyField) {
    stream_.SetSubtype(kSubtypeMJPG);
    std::vector<std::uint8_t> sample;
    const auto picture = RampPicture(size_);
    zrf::sim::SampleSettings s;
    s.size = size_;
    zrf::sim::BuildMjpgSample(picture.data(), s, sample);
    const Delivery d = DeliverField(stream_, sample, size_, 3);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    EXPECT_EQ(d.images[0], sample);
}

TEST_F(ImgSrcStreamTest, Yuy2ImageIsHeaderThenSample) {
    stream_.SetSubtype(kSubtypeYUY2);
    const auto picture = RampPicture(size_);
    zrf::sim::SampleSettings s;
    s.size = size_;
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildYuy2Sample(picture.data(), s, sample);
    clock_.AdvanceMilliseconds(100);
    const Delivery d = Deliver(stream_, sample, size_);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    VisualFrameHeader h{};
    std::memcpy(&h, d.images[0].data(), sizeof h);
    EXPECT_EQ(std::string(h.fourCc, 4), "YUY2");
    EXPECT_EQ(h.width, 16);
    EXPECT_EQ(h.height, 8);
    EXPECT_EQ(h.stride, 32);
    EXPECT_EQ(h.timeZoneMinutes, -60);
    EXPECT_EQ(h.seconds, 1'650'000'000u);
    EXPECT_EQ(h.milliseconds, 33u);
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), d.images[0].begin() + 28));
    EXPECT_EQ(stream_.TimeZoneMinutes(), -60);
}

TEST_F(ImgSrcStreamTest, ShortYuy2SampleIsRejected) {
    stream_.SetSubtype(kSubtypeYUY2);
    const Delivery d = Deliver(stream_, std::vector<std::uint8_t>(16 * 8 * 2 - 1), size_);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(ImgSrcStreamTest, I420CopiesTheSampleAndZeroesTheRest) {
    stream_.SetSubtype(kSubtypeI420);
    const auto picture = RampPicture(size_);
    zrf::sim::SampleSettings s;
    s.size = size_;
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildI420Sample(picture.data(), s, sample);
    ASSERT_EQ(sample.size(), 16u * 8 * 3 / 2);
    const Delivery d = Deliver(stream_, sample, size_);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    const auto& image = d.images[0];
    ASSERT_EQ(image.size(), 28u + 256);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), 4), "I420");
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), image.begin() + 28));
    EXPECT_TRUE(std::all_of(image.begin() + 28 + 192, image.end(), [](auto b) { return b == 0; }));
}

TEST_F(ImgSrcStreamTest, I420ShorterThanItsPlanesIsRejected) {
    stream_.SetSubtype(kSubtypeI420);
    const Delivery d = Deliver(stream_, std::vector<std::uint8_t>(191), size_);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(ImgSrcStreamTest, SetFrameRateRestartsTheClockFromAFreshBase) {
    stream_.SetSubtype(kSubtypeYUY2);
    std::vector<std::uint8_t> sample(16 * 8 * 2);
    Deliver(stream_, sample, size_);
    clock_.AdvanceMilliseconds(10'000);
    stream_.SetFrameRate(25.0f);
    EXPECT_FALSE(stream_.IsClockStarted());
    const Delivery d = Deliver(stream_, sample, size_);
    VisualFrameHeader h{};
    std::memcpy(&h, d.images[0].data(), sizeof h);
    EXPECT_EQ(h.seconds, 1'650'000'010u);
    EXPECT_EQ(h.milliseconds, 40u);  // frame 1 at 25 per second
}

TEST_F(ImgSrcStreamTest, DestructionReleasesTheTimerPeriod) {
    const int before = Platform::ActiveTimerPeriods(1);
    {
        ImgSrcStream stream;
        stream.SetSubtype(kSubtypeYUY2);
        Deliver(stream, std::vector<std::uint8_t>(16 * 8 * 2), size_);
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), before + 1);
    }
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
}

}  // namespace
