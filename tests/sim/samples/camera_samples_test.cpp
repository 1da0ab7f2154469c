#include "sim/samples/camera_samples.h"

#include <charls/charls.h>
#include <gtest/gtest.h>

#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"

namespace {

using namespace Zrf;

std::vector<std::uint16_t> Picture(ImageSize size) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint16_t>(7000 + i * 3);
    return p;
}

class CameraSamplesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.size = {40, 30};
        settings_.seconds = 1'600'000'123;
        settings_.milliseconds = 456;
        settings_.statusFlags = 32;
        settings_.timeZoneMinutes = -330;
    }
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = Picture({40, 30});
    std::vector<std::uint8_t> sample_;
};

TEST_F(CameraSamplesTest, FrameInfoBlockCarriesTheSettings) {
    const auto b = zrf::sim::BuildFrameInfoBlock(settings_);
    EXPECT_EQ(Load<std::uint16_t>(b.data() + Info::kGeometryWidth), 40);
    EXPECT_EQ(Load<std::uint16_t>(b.data() + Info::kGeometryHeight), 30);
    EXPECT_EQ(Load<std::uint32_t>(b.data() + Info::kSeconds), 1'600'000'123u);
    EXPECT_EQ(Load<std::uint32_t>(b.data() + Info::kMilliseconds), 456u);
    EXPECT_EQ(Load<std::int16_t>(b.data() + Info::kTimeZone), -330);
    EXPECT_EQ(Load<std::uint16_t>(b.data() + Info::kStatusFlags), 32);
    EXPECT_EQ(Load<std::uint16_t>(b.data() + Info::kFrameRate), 30);
}

TEST_F(CameraSamplesTest, UsbRawSampleHasPixelsThenAHostOrderRegion) {
    zrf::sim::BuildUsbRawSample(picture_.data(), settings_, sample_);
    const std::size_t region = 40 * 30 * 2;
    ASSERT_EQ(sample_.size(), region + 3840);  // the rows the format reserves for it
    EXPECT_EQ(Load<std::uint16_t>(sample_.data() + 2 * 17), picture_[17]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sample_.data() + region)), "ZRF");
    EXPECT_EQ(Load<std::int32_t>(sample_.data() + region + 28), 2);
    const std::uint32_t infoOffset = Load<std::uint32_t>(sample_.data() + region + 64 + 12);
    EXPECT_EQ(Load<std::uint16_t>(sample_.data() + region + 64), kFrameInfoBlock);
    EXPECT_EQ(Load<std::uint32_t>(sample_.data() + region + infoOffset + Info::kSeconds),
              1'600'000'123u);
    EXPECT_EQ(Load<std::uint16_t>(sample_.data() + region + 96 + 2), kPixelsHostOrder);
}

TEST_F(CameraSamplesTest, UsbRawSampleCanCarrySwappedPixels) {
    settings_.pixelByteOrder = kPixelsSwapped;
    zrf::sim::BuildUsbRawSample(picture_.data(), settings_, sample_);
    EXPECT_EQ(sample_[0], picture_[0] >> 8);
    EXPECT_EQ(sample_[1], picture_[0] & 0xFF);
    EXPECT_EQ(Load<std::uint16_t>(sample_.data() + 40 * 30 * 2 + 96 + 2), kPixelsSwapped);
}

TEST_F(CameraSamplesTest, JpegLsSampleIsLengthPrefixedAndDecodes) {
    ASSERT_TRUE(zrf::sim::BuildUsbJpegLsSample(picture_.data(), settings_, sample_));
    const std::uint32_t length = LoadBigEndian32(sample_.data());
    ASSERT_LT(4 + length + 64, sample_.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sample_.data() + 4 + length)), "ZRF");
    std::vector<std::uint16_t> decoded(picture_.size());
    charls::jpegls_decoder decoder(sample_.data() + 4, length);
    EXPECT_EQ(decoder.frame_info().width, 40u);
    EXPECT_EQ(decoder.frame_info().bits_per_sample, 16);
    decoder.decode(decoded);
    EXPECT_EQ(decoded, picture_);
}

TEST_F(CameraSamplesTest, Ieee1394SampleHasABigEndianBlock) {
    zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, sample_);
    ASSERT_EQ(sample_.size(), 40u * 30 * 2 + 2428);
    std::array<std::uint8_t, 2428> block;
    std::copy(sample_.end() - 2428, sample_.end(), block.begin());
    EXPECT_EQ(LoadBigEndian32(block.data() + Info::kSeconds), 1'600'000'123u);
    SwapFrameInfoBlock(block.data());
    EXPECT_EQ(block, zrf::sim::BuildFrameInfoBlock(settings_));
}

TEST_F(CameraSamplesTest, VisualSamplesHaveTheirFormatsSizes) {
    zrf::sim::BuildYuy2Sample(picture_.data(), settings_, sample_);
    ASSERT_EQ(sample_.size(), 40u * 30 * 2);
    EXPECT_EQ(sample_[0], 0);           // the coldest pixel
    EXPECT_EQ(sample_[1], 128);         // neutral chroma
    EXPECT_EQ(sample_[2 * 1199], 255);  // the warmest
    zrf::sim::BuildI420Sample(picture_.data(), settings_, sample_);
    ASSERT_EQ(sample_.size(), 40u * 30 * 3 / 2);
    EXPECT_EQ(sample_[1199], 255);
    EXPECT_EQ(sample_[1200], 128);
}

TEST_F(CameraSamplesTest, MjpgSampleIsAWellFormedJpeg) {
    zrf::sim::BuildMjpgSample(picture_.data(), settings_, sample_);
    ASSERT_GT(sample_.size(), 150u);
    EXPECT_EQ(sample_[0], 0xFF);
    EXPECT_EQ(sample_[1], 0xD8);
    EXPECT_EQ(sample_[sample_.size() - 2], 0xFF);
    EXPECT_EQ(sample_.back(), 0xD9);
    // Walk the segments up to the scan: each marker is followed by its length.
    std::size_t at = 2;
    std::vector<std::uint8_t> markers;
    while (at + 4 <= sample_.size() && sample_[at] == 0xFF && sample_[at + 1] != 0xDA) {
        markers.push_back(sample_[at + 1]);
        at += 2 + (sample_[at + 2] << 8 | sample_[at + 3]);
    }
    ASSERT_LT(at, sample_.size());
    EXPECT_EQ(sample_[at + 1], 0xDA);
    EXPECT_EQ(markers, (std::vector<std::uint8_t>{0xE0, 0xDB, 0xC0, 0xC4, 0xC4}));
    // No marker inside the entropy-coded data except stuffed bytes.
    for (std::size_t i = at + 2 + 8; i + 2 < sample_.size(); ++i) {
        if (sample_[i] == 0xFF) {
            EXPECT_EQ(sample_[i + 1], 0x00) << i;
        }
    }
}

}  // namespace
