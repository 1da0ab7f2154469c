#include <gtest/gtest.h>

#include "imaging/field_geometry.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/usb_region.h"
#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/stream_harness.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;
using namespace Zrf;

class JpegLsDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.size = {16, 8};
        stream_.SetSourceKind(SourceKind::Usb);
        stream_.SetSubtype(kSubtypeMJLS);
        stream_.SetFrameRate(30.0f);
        stream_.SetHostTimeStamps(false);
    }
    std::vector<std::uint8_t> Sample() {
        std::vector<std::uint8_t> s;
        EXPECT_TRUE(zrf::sim::BuildUsbJpegLsSample(picture_.data(), settings_, s));
        return s;
    }
    Delivery Run(const std::vector<std::uint8_t>& sample) {
        stream_.SetFieldCount(settings_.fieldCount);
        return Deliver(stream_, sample, settings_.size);
    }
    void ExpectPixels(const std::vector<std::uint8_t>& img, std::size_t firstPixel,
                      std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(PixelAt(img, 2588 + 2 * i), picture_[firstPixel + i]) << i;
        }
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    ImgSrcStream stream_;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({16, 8});
};

TEST_F(JpegLsDecodeTest, DecodesThePictureIntoACompleteImage) {
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ASSERT_EQ(d.size, 16 * 8 * 2 + 2588);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.images[0].data() + 4)), "UVC_KAVIR");
    EXPECT_EQ(BigEndian32(d.images[0], 108), 2556u);
    ExpectPixels(d.images[0], 0, picture_.size());
    EXPECT_EQ(stream_.TimeSeconds(), settings_.seconds);
}

TEST_F(JpegLsDecodeTest, SwappedByteOrderIsUndone) {
    settings_.pixelByteOrder = kPixelsSwapped;
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ExpectPixels(d.images[0], 0, picture_.size());
}

TEST_F(JpegLsDecodeTest, FewerBitsPerSampleStillFillTwoBytesPerPixel) {
    settings_.jpegLsBitsPerSample = 14;
    for (auto& p : picture_) p &= 0x3FFF;
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ExpectPixels(d.images[0], 0, picture_.size());
}

TEST_F(JpegLsDecodeTest, EachFieldDecodesOnlyItsRowsIntoItsReservedSpace) {
    settings_.fieldCount = 2;
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, (std::vector<DecodeResult>{DecodeResult::Ok, DecodeResult::Ok}));
    ASSERT_EQ(d.size, 16 * 4 * 2 + 2588);
    ExpectPixels(d.images[0], 0, 64);
    ExpectPixels(d.images[1], 64, 64);
}

TEST_F(JpegLsDecodeTest, PictureLargerThanThePixelBlockIsRejected) {
    const auto sample = Sample();  // a 16 x 8 picture
    const Delivery d = Deliver(stream_, sample, ImageSize{16, 4});
    EXPECT_EQ(d.size, 16 * 4 * 2 + 2588);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(JpegLsDecodeTest, SmallerPictureLeavesTheRestOfTheFieldZero) {
    const auto sample = Sample();
    const Delivery d = Deliver(stream_, sample, ImageSize{16, 10});
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ExpectPixels(d.images[0], 0, picture_.size());
    EXPECT_TRUE(
        std::all_of(d.images[0].end() - 64, d.images[0].end(), [](auto b) { return b == 0; }));
}

TEST_F(JpegLsDecodeTest, BrokenCodeStreamHeaderGivesNoSizeAndABadFrame) {
    auto sample = Sample();
    sample[4] = 0x00;  // not a start-of-image marker
    const Delivery d = Run(sample);
    EXPECT_EQ(d.size, 0);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(JpegLsDecodeTest, BrokenCodeStreamIsABadFrameEvenWithACachedSize) {
    auto sample = Sample();
    ASSERT_EQ(Run(sample).results, std::vector<DecodeResult>{DecodeResult::Ok});
    sample[4] = 0x00;
    EXPECT_EQ(Run(sample).results, std::vector<DecodeResult>{DecodeResult::BadFrame});
    // A code stream whose header reads but whose data does not decode.
    auto truncated = Sample();
    const std::uint32_t length = LoadBigEndian32(truncated.data());
    std::fill(truncated.begin() + 4 + length / 2, truncated.begin() + 4 + length - 2, 0xFF);
    EXPECT_EQ(Run(truncated).results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(JpegLsDecodeTest, LengthPrefixPastTheSampleIsRejected) {
    auto sample = Sample();
    sample[0] = 0x7F;
    const Delivery d = Run(sample);
    EXPECT_EQ(d.size, 0);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST(UsbRegion, BigEndianLengthPrefixPlacesTheRegion) {
    std::vector<std::uint8_t> sample(4100 + 3840, 0);
    sample[2] = 0x10;  // 00 00 10 00: 4096 bytes of code stream
    std::uint8_t* region = sample.data() + 4100;
    std::memcpy(region, "ZRF", 4);
    Store<std::int32_t>(region + 28, 2);
    Store<std::uint16_t>(region + 64, kPixelBlock);
    Store<std::uint16_t>(region + 96, kFrameInfoBlock);
    Store<std::uint32_t>(region + 96 + 12, 128);
    Store<std::uint32_t>(region + 96 + 16, 2428);
    UsbRegionLayout layout;
    ASSERT_TRUE(MeasureUsbRegion(sample.data(), static_cast<std::int32_t>(sample.size()), true,
                                 MakeFieldGeometry({16, 8}, 1), layout));
    EXPECT_EQ(layout.codeStreamLength, 4096u);
    EXPECT_EQ(layout.regionOffset, 4100);
    EXPECT_EQ(layout.imageSize, 64 + 64 + 16 * 8 * 2 + 32 + 2428);
    EXPECT_EQ(layout.pixelOutputOffset, 128);
    EXPECT_EQ(layout.infoOutputOffset, 128 + 256 + 32);
}

}  // namespace
