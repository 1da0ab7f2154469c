#include "imaging/raw_zrf_image.h"

#include <gtest/gtest.h>

#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;
using namespace Zrf;

class RawZrfImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'700'000'000, 250);
        clock_.SetTimeZone(-60, false);
        settings_.size = {8, 4};
        zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, sample_);
    }
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({8, 4});
    std::vector<std::uint8_t> sample_;
};

TEST_F(RawZrfImageTest, WrapsTheSampleWithAValidChecksum) {
    const std::int32_t size = RawZrfImageSize(settings_.size);
    ASSERT_EQ(size, 8 * 4 * 2 + 2588);
    std::vector<std::uint8_t> img(size);
    ASSERT_TRUE(BuildRawZrfImage(img.data(), sample_.data(),
                                 static_cast<std::int32_t>(sample_.size()), settings_.size, 25));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 4)), "R5XX");
    EXPECT_EQ(BigEndian16(img, 36), 0u);
    EXPECT_NE(Load<std::uint32_t>(img.data() + 60), 0u);
    EXPECT_EQ(ZrfHeaderChecksumResidue(img.data()), 0u);
    img[21] ^= 0x40;
    EXPECT_NE(ZrfHeaderChecksumResidue(img.data()), 0u);
}

TEST_F(RawZrfImageTest, StampsWithTheWallClockAndPlacesTheBlocks) {
    std::vector<std::uint8_t> img(RawZrfImageSize(settings_.size));
    clock_.AdvanceMilliseconds(900);
    ASSERT_TRUE(BuildRawZrfImage(img.data(), sample_.data(),
                                 static_cast<std::int32_t>(sample_.size()), settings_.size, 25));
    const auto* block = img.data() + 128;
    EXPECT_EQ(Load<std::int32_t>(block + Info::kSeconds), 1'700'000'001);
    EXPECT_EQ(Load<std::int32_t>(block + Info::kMilliseconds), 150);
    EXPECT_EQ(Load<std::int16_t>(block + Info::kTimeZone), -60);
    EXPECT_EQ(Load<std::uint16_t>(block + Info::kFrameRate), 25);
    EXPECT_EQ(BigEndian16(img, 64), kFrameInfoBlock);
    EXPECT_EQ(BigEndian32(img, 68), 106u);
    EXPECT_EQ(BigEndian16(img, 96), kPixelBlock);
    EXPECT_EQ(BigEndian32(img, 108), 2556u);
    EXPECT_EQ(BigEndian32(img, 112), 8u * 4 * 2 + 32);
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, block, 32));
    EXPECT_EQ(PixelAt(img, 2588 + 2 * 31), picture_[31]);
}

TEST_F(RawZrfImageTest, ShortSampleIsRefusedAndReleasesTheTimer) {
    const int before = Platform::ActiveTimerPeriods(1);
    std::vector<std::uint8_t> img(RawZrfImageSize(settings_.size), 0xAB);
    EXPECT_FALSE(BuildRawZrfImage(img.data(), sample_.data(),
                                  static_cast<std::int32_t>(sample_.size() - 1), settings_.size,
                                  25));
    EXPECT_TRUE(std::all_of(img.begin(), img.end(), [](auto b) { return b == 0xAB; }));
    EXPECT_TRUE(BuildRawZrfImage(img.data(), sample_.data(),
                                 static_cast<std::int32_t>(sample_.size()), settings_.size, 25));
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
    EXPECT_EQ(RawZrfImageSize({0, 4}), 0);
}

}  // namespace
