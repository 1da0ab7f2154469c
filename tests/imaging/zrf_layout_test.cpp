// The ZRF records' byte-order maps and the raw image a tool wraps around a camera's sample.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "imaging/raw_zrf_image.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "support/copy/pixel_copy.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;
using namespace Zrf;
using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n) {
    Bytes v(n);
    std::iota(v.begin(), v.end(), std::uint8_t{1});
    return v;
}

// -1 reverses two bytes, -2 four, n > 0 skips n; the first 0 ends the map. (What the maps of
// the header, the index and the frame information do shows in every decoded image.)
// Every length across the wide kernels' rounds and the pixel-by-pixel tail, copied and in place.
TEST(PixelCopy, SwapsEachPairAtEveryLengthAndWritesNothingPastIt) {
    std::vector<std::uint8_t> src(300), copied, inPlace;
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::size_t bytes = 0; bytes + 2 <= src.size(); bytes += 2) {
        copied.assign(bytes + 2, 0xEE);
        CopyPixels(copied.data(), src.data(), bytes, true);
        inPlace.assign(src.begin(), src.begin() + bytes + 1);
        SwapPixelBytes(inPlace.data(), bytes + 1);  // the odd last byte stays
        for (std::size_t i = 0; i < bytes; ++i) {
            ASSERT_EQ(copied[i], src[i ^ 1]) << bytes;
            ASSERT_EQ(inPlace[i], src[i ^ 1]) << bytes;
        }
        EXPECT_EQ(copied[bytes], 0xEE) << bytes;
        EXPECT_EQ(inPlace[bytes], src[bytes]) << bytes;
    }
}

TEST(SwapByMap, ReversesUnitsAndSkipsAsTheCodesSay) {
    const std::int16_t mixed[] = {-1, 2, -2, 0, -1};
    Bytes bytes = Counting(8);
    SwapByMap(bytes.data(), mixed);
    EXPECT_EQ(bytes, (Bytes{2, 1, 3, 4, 8, 7, 6, 5}));
    EXPECT_EQ(ByteOrderMapSpan(MainHeaderByteOrderMap()), 64);
    EXPECT_EQ(ByteOrderMapSpan(IndexEntryByteOrderMap()), 32);
    // Every conversion is its own inverse.
    for (const auto& swap : {+[](std::uint8_t* b) { SwapByMap(b, MainHeaderByteOrderMap()); },
                             +[](std::uint8_t* b) { SwapFrameInfoBlock(b); }}) {
        Bytes record = Counting(kFrameInfoSize);
        swap(record.data());
        EXPECT_NE(record, Counting(kFrameInfoSize));
        swap(record.data());
        EXPECT_EQ(record, Counting(kFrameInfoSize));
    }
}

// The cameras' samples are built with this very conversion, so only fixed positions show a
// field in the wrong place: the geometry, words of the second and third maps, the skipped 4
// bytes, the leading skips of the fourth map, seconds, the time zone (one 32-bit unit), the
// text, the frame rate and the status flags.
TEST(SwapFrameInfoBlock, SwapsFieldsAndLeavesTextSkipsAndTailAlone) {
    Bytes block = Counting(kFrameInfoSize);
    const Bytes original = block;
    SwapFrameInfoBlock(block.data());
    using Span = std::pair<std::size_t, std::size_t>;
    // clang-format off
    const Span swapped[] = {{2, 2}, {28, 4}, {80, 4}, {88, 4}, {364, 4}, {900, 4}, {908, 4},
                            {1124, 2}, {1130, 2}};  // where and how many bytes
    const Span kept[] = {{84, 88}, {212, 364}, {1084, 1100}, {1148, kFrameInfoSize}};  // from, to
    // clang-format on
    for (const auto& [at, n] : swapped) {
        EXPECT_TRUE(std::equal(block.begin() + at, block.begin() + at + n,
                               std::make_reverse_iterator(original.begin() + at + n)))
            << at;
    }
    for (const auto& [from, to] : kept)
        EXPECT_TRUE(std::equal(block.begin() + from, block.begin() + to, original.begin() + from))
            << from;
}

// The block's conversion is compiled from its maps: it must do exactly what the maps say, to
// every byte of the block (random bytes, so a unit moved by any distance shows).
TEST(SwapFrameInfoBlock, DoesWhatEachOfItsMapsSays) {
    std::mt19937 random(7);
    Bytes block(kFrameInfoSize);
    for (auto& b : block) b = static_cast<std::uint8_t>(random());
    Bytes byMaps = block;
    for (const PlacedByteOrderMap& m : FrameInfoByteOrderMaps())
        SwapByMap(byMaps.data() + m.offset, m.map);
    ASSERT_NE(byMaps, block);
    SwapFrameInfoBlock(block.data());
    EXPECT_EQ(block, byMaps);
}

class RawZrfImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'700'000'000, 250);
        clock_.SetTimeZone(-60, false);
        settings_.size = {8, 4};
        zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, sample_);
    }
    bool Build(Bytes& img, std::size_t cut = 0) {
        return BuildRawZrfImage(img.data(), sample_.data(),
                                static_cast<std::int32_t>(sample_.size() - cut), settings_.size,
                                25);
    }
    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({8, 4});
    Bytes sample_;
};

// "R5XX" images: the blocks placed as the live paths place them, stamped with the wall clock,
// the header closed with a checksum that any changed byte breaks.
TEST_F(RawZrfImageTest, WrapsTheSampleStampedAndWithAValidChecksum) {
    ASSERT_EQ(RawZrfImageSize(settings_.size), 8 * 4 * 2 + 2588);
    EXPECT_EQ(RawZrfImageSize({0, 4}), 0);
    Bytes img(RawZrfImageSize(settings_.size));
    clock_.AdvanceMilliseconds(900);
    ASSERT_TRUE(Build(img));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 4)), "R5XX");
    EXPECT_EQ(std::tuple(BigEndian16(img, 36), BigEndian16(img, 64), BigEndian32(img, 68),
                         BigEndian16(img, 96), BigEndian32(img, 108), BigEndian32(img, 112)),
              std::tuple(0, kFrameInfoBlock, 106u, kPixelBlock, 2556u, 8u * 4 * 2 + 32));
    const auto* block = img.data() + 128;
    EXPECT_EQ(std::tuple(Load<std::int32_t>(block + Info::kSeconds),
                         Load<std::int32_t>(block + Info::kMilliseconds),
                         Load<std::int16_t>(block + Info::kTimeZone),
                         Load<std::uint16_t>(block + Info::kFrameRate)),
              std::tuple(1'700'000'001, 150, -60, 25));
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, block, 32));
    EXPECT_EQ(PixelAt(img, 2588 + 2 * 31), picture_[31]);
    EXPECT_NE(Load<std::uint32_t>(img.data() + 60), 0u);
    EXPECT_EQ(ZrfHeaderChecksumResidue(img.data()), 0u);
    img[21] ^= 0x40;
    EXPECT_NE(ZrfHeaderChecksumResidue(img.data()), 0u);
}

// A sample one byte short writes nothing; the timer period taken for the stamp is given back.
TEST_F(RawZrfImageTest, ShortSampleIsRefusedAndTheTimerReleased) {
    const int before = Platform::ActiveTimerPeriods(1);
    Bytes img(RawZrfImageSize(settings_.size), 0xAB);
    EXPECT_FALSE(Build(img, 1));
    EXPECT_TRUE(std::all_of(img.begin(), img.end(), [](auto b) { return b == 0xAB; }));
    EXPECT_TRUE(Build(img));
    EXPECT_EQ(Platform::ActiveTimerPeriods(1), before);
}

}  // namespace
