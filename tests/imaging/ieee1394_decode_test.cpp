#include <gtest/gtest.h>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/zrf_records.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/stream_harness.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;
using namespace Zrf;

class Ieee1394DecodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        settings_.size = {16, 8};
        settings_.seconds = 1'234'567;
        settings_.milliseconds = 0;
        settings_.timeZoneMinutes = -120;
        stream_.SetSourceKind(SourceKind::Ieee1394);
        stream_.SetSubtype(kSubtypeF7M2);
        stream_.SetFrameRate(30.0f);
    }
    std::vector<std::uint8_t> Sample() {
        std::vector<std::uint8_t> s;
        zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, s);
        return s;
    }
    Delivery Run(const std::vector<std::uint8_t>& sample) {
        stream_.SetFieldCount(settings_.fieldCount);
        return Deliver(stream_, sample, settings_.size);
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    ImgSrcStream stream_;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({16, 8});
};

TEST_F(Ieee1394DecodeTest, PlacesEveryRecordAtItsOffset) {
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ASSERT_EQ(d.size, 16 * 8 * 2 + 2588);
    const auto& img = d.images[0];
    const std::uint8_t header[36] = {'Z', 'R', 'F', 0,  'F', 'W', '_', 'Z', 'E', 'P', 'H', 'R',
                                     'A', 0,   0,   0,  0,   0,   0,   0,   0,   0,   0,   100,
                                     0,   0,   0,   64, 0,   0,   0,   2,   0,   0,   0,   3};
    EXPECT_EQ(0, std::memcmp(img.data(), header, sizeof header));
    EXPECT_TRUE(std::all_of(img.begin() + 36, img.begin() + 64, [](auto b) { return b == 0; }));

    const std::uint8_t entry0[32] = {0, 32, 0, 0, 0,    0,   0, 106, 0,    0,
                                     0, 0,  0, 0, 0x00, 128, 0, 0,   0x09, 0x7C};
    EXPECT_EQ(0, std::memcmp(img.data() + 64, entry0, 32));
    EXPECT_EQ(BigEndian16(img, 96), kPixelBlock);
    EXPECT_EQ(BigEndian16(img, 98), kPixelsHostOrder);
    EXPECT_EQ(BigEndian32(img, 108), 2556u);
    EXPECT_EQ(BigEndian32(img, 112), 16u * 8 * 2 + 32);
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, img.data() + 128, 32));
    for (std::size_t i = 0; i < picture_.size(); ++i) {
        ASSERT_EQ(PixelAt(img, 2588 + 2 * i), picture_[i]) << i;
    }
}

TEST_F(Ieee1394DecodeTest, FrameInformationArrivesInHostOrderWithItsUpdates) {
    settings_.frameRate = 25.0f;
    const auto camera = zrf::sim::BuildFrameInfoBlock(settings_);
    const Delivery d = Run(Sample());
    const auto* block = d.images[0].data() + 128;
    EXPECT_EQ(Load<std::uint16_t>(block + Info::kGeometryWord22), 0);
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kGeometryWord28), 0u);
    EXPECT_EQ(Load<std::uint16_t>(block + Info::kGeometryHeight), 8);
    EXPECT_EQ(Load<std::uint16_t>(block + Info::kFrameRate), 30);  // the stream's rate
    // Everything the pipeline does not update is the camera's, converted.
    EXPECT_EQ(0, std::memcmp(block + 32, camera.data() + 32, 900 - 32));
    EXPECT_EQ(0, std::memcmp(block + 912, camera.data() + 912, 1084 - 912));
    EXPECT_EQ(0, std::memcmp(block + 1130, camera.data() + 1130, 2428 - 1130));
}

TEST_F(Ieee1394DecodeTest, HostStampIsExact) {
    clock_.SetTimeZone(-60, true);
    Run(Sample());
    clock_.AdvanceMilliseconds(1000);
    const Delivery d = Run(Sample());
    const auto* block = d.images[0].data() + 128;
    // 1000 ms at 30 per second is frame 30: one second after the start.
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kSeconds), 1'650'003'601u);
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kMilliseconds) % 1000, stream_.TimeMilliseconds());
    EXPECT_EQ(Load<std::int16_t>(block + Info::kTimeZone), -60);
    EXPECT_EQ(stream_.TimeSeconds(), 1'650'003'601u);
}

TEST_F(Ieee1394DecodeTest, HostStampsOfSamplesPacedAtTheClocksRateNeverGoBack) {
    // Samples at the clock's own rate arrive on the grid's edges: truncation alone would give
    // two of them one period, and field 1 of the first would come after field 0 of the next.
    settings_.fieldCount = 2;
    std::int64_t previous = 0;
    for (int sample = 0; sample < 8; ++sample) {
        SCOPED_TRACE(sample);
        const Delivery d = Run(Sample());
        ASSERT_EQ(d.results.size(), 2u);
        for (const auto& image : d.images) {
            const auto* block = image.data() + 128;
            const std::int64_t ms = std::int64_t{Load<std::uint32_t>(block + Info::kSeconds)} * 1000 +
                                    Load<std::uint32_t>(block + Info::kMilliseconds);
            EXPECT_GT(ms, previous);
            previous = ms;
        }
        clock_.AdvanceMilliseconds(sample % 2 == 0 ? 33 : 34);
    }
}

struct FieldTiming {
    int fields;
    float rate;
    std::vector<std::uint32_t> offsets;
};

TEST_F(Ieee1394DecodeTest, FieldTimeOffsets) {
    stream_.SetHostTimeStamps(false);
    const FieldTiming cases[] = {{2, 30.0f, {0, 16}},
                                 {4, 30.0f, {0, 8, 16, 24}},
                                 {2, 25.0f, {0, 20}},
                                 {4, 60.0f, {0, 4, 8, 12}}};
    for (const auto& c : cases) {
        settings_.fieldCount = c.fields;
        stream_.SetFrameRate(c.rate);
        const Delivery d = Run(Sample());
        ASSERT_EQ(d.results.size(), static_cast<std::size_t>(c.fields));
        for (int k = 0; k < c.fields; ++k) {
            EXPECT_EQ(Load<std::uint32_t>(d.images[k].data() + 128 + Info::kMilliseconds),
                      c.offsets[k])
                << c.fields << " fields at " << c.rate << ", field " << k;
        }
    }
}

TEST_F(Ieee1394DecodeTest, FieldOffsetCarriesIntoTheNextSecond) {
    stream_.SetHostTimeStamps(false);
    settings_.fieldCount = 2;
    settings_.milliseconds = 990;
    stream_.SetFieldCount(2);
    const Delivery d = DeliverField(stream_, Sample(), settings_.size, 1);
    const auto* block = d.images[0].data() + 128;
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kMilliseconds), 6u);
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kSeconds), 1'234'568u);
    EXPECT_EQ(Load<std::uint16_t>(block + Info::kFrameRate), 60);
    EXPECT_EQ(stream_.TimeSeconds(), 1'234'568u);
    EXPECT_EQ(stream_.TimeMilliseconds(), 6u);
}

TEST_F(Ieee1394DecodeTest, FieldKTakesItsRowsByTheGeometryWidth) {
    settings_.fieldCount = 4;
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(PixelAt(d.images[k], 2588), picture_[k * 16 * 2]) << k;
        EXPECT_EQ(PixelAt(d.images[k], 2588 + 2 * 31), picture_[k * 32 + 31]) << k;
    }
}

TEST_F(Ieee1394DecodeTest, StatusAndStampChecks) {
    settings_.statusFlags = 32;
    EXPECT_EQ(Run(Sample()).results, std::vector<DecodeResult>{DecodeResult::Calibrating});
    settings_.statusFlags = 0;
    settings_.seconds = 0;
    EXPECT_EQ(Run(Sample()).results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(Ieee1394DecodeTest, ShortSamplesAndImpossibleSizesAreRejected) {
    auto sample = Sample();
    sample.pop_back();
    Delivery d = Run(sample);
    EXPECT_EQ(d.size, 0);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});

    for (ImageSize bad : {ImageSize{0, 8}, ImageSize{16, -8}, ImageSize{0x7FFFFFFF, 0x7FFFFFFF}}) {
        d = Deliver(stream_, Sample(), bad);
        EXPECT_EQ(d.size, 0);
        EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
    }
    settings_.fieldCount = 9;  // more fields than rows
    d = Run(Sample());
    EXPECT_EQ(d.size, 0);
}

TEST_F(Ieee1394DecodeTest, GeometryWidthReachingBeyondThePixelsIsRejected) {
    settings_.fieldCount = 2;
    auto sample = Sample();
    // The block is big-endian in the sample.
    sample[16 * 8 * 2 + Info::kGeometryWidth] = 0x01;
    sample[16 * 8 * 2 + Info::kGeometryWidth + 1] = 0x00;
    stream_.SetFieldCount(2);
    const Delivery d = Deliver(stream_, sample, settings_.size);
    EXPECT_EQ(d.results, (std::vector<DecodeResult>{DecodeResult::Ok, DecodeResult::BadFrame}));
}

}  // namespace
