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

class UsbRawDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        clock_.SetTimeZone(-60, false);
        settings_.size = {16, 8};
        settings_.seconds = 1'234'567;
        settings_.milliseconds = 500;
        settings_.timeZoneMinutes = 300;
        stream_.SetSourceKind(SourceKind::Usb);
        stream_.SetSubtype(kSubtypeF7M0);
        stream_.SetFrameRate(30.0f);
    }

    std::vector<std::uint8_t> Sample() {
        std::vector<std::uint8_t> s;
        zrf::sim::BuildUsbRawSample(picture_.data(), settings_, s);
        return s;
    }
    Delivery Run(const std::vector<std::uint8_t>& sample) {
        stream_.SetFieldCount(settings_.fieldCount);
        return Deliver(stream_, sample, settings_.size);
    }
    // The camera's region inside a raw sample, as the builder lays it out.
    static std::size_t Region(const zrf::sim::SampleSettings& s) {
        return static_cast<std::size_t>(s.size.width) * s.size.height * 2;
    }
    std::size_t Entry(int i) const { return Region(settings_) + 64 + 32 * i; }
    std::size_t InfoBlock() const { return Entry(settings_.extraBlockBytes > 0 ? 3 : 2); }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    ImgSrcStream stream_;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({16, 8});
};

TEST_F(UsbRawDecodeTest, BuildsACompleteImageWithBigEndianHeaderAndIndex) {
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    ASSERT_EQ(d.size, 16 * 8 * 2 + 2588);  // the same as an IEEE-1394 image
    const auto& img = d.images[0];

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data())), "ZRF");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 4)), "UVC_KAVIR");
    EXPECT_EQ(img[14], '_');  // the camera's text after the terminator stays
    EXPECT_EQ(img[15], '7');
    EXPECT_EQ(BigEndian32(img, 20), 100u);
    EXPECT_EQ(BigEndian32(img, 24), 64u);
    EXPECT_EQ(BigEndian32(img, 28), 2u);
    EXPECT_EQ(BigEndian16(img, 36), 0u);
    EXPECT_EQ(BigEndian16(img, 38), 0x0101u);  // carried over
    EXPECT_EQ(BigEndian32(img, 52), 0xA5A5A5A5u);
    EXPECT_EQ(BigEndian32(img, 60), 0u);

    EXPECT_EQ(BigEndian16(img, 64), kFrameInfoBlock);
    EXPECT_EQ(BigEndian32(img, 68), 106u);
    EXPECT_EQ(BigEndian32(img, 76), 128u);
    EXPECT_EQ(BigEndian32(img, 80), 2428u);
    EXPECT_EQ(BigEndian16(img, 96), kPixelBlock);
    EXPECT_EQ(BigEndian16(img, 98), kPixelsHostOrder);
    EXPECT_EQ(BigEndian32(img, 108), 2556u);
    EXPECT_EQ(BigEndian32(img, 112), 16u * 8 * 2 + 32);

    // Frame information stays in host order.
    EXPECT_EQ(Load<std::uint16_t>(img.data() + 128 + Info::kGeometryWidth), 16);
    EXPECT_EQ(Load<std::uint16_t>(img.data() + 128 + Info::kGeometryHeight), 8);
    EXPECT_EQ(Load<std::uint16_t>(img.data() + 128 + Info::kGeometryLastRow), 7);
    EXPECT_EQ(Load<std::uint32_t>(img.data() + 128 + Info::kGeometryWord28), 0u);
    EXPECT_EQ(Load<std::uint16_t>(img.data() + 128 + Info::kLiveFlag), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 128 + Info::kText)), "Live");
    EXPECT_EQ(Load<std::uint16_t>(img.data() + 128 + Info::kFrameRate), 30);
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, img.data() + 128, 32));
    for (std::size_t i = 0; i < picture_.size(); ++i) {
        ASSERT_EQ(PixelAt(img, 2588 + 2 * i), picture_[i]) << i;
    }
}

TEST_F(UsbRawDecodeTest, HostStampReplacesTheCameraStampAndIsPublished) {
    const Delivery d = Run(Sample());
    const auto* block = d.images[0].data() + 128;
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kSeconds), 1'650'000'000u);
    EXPECT_EQ(Load<std::uint32_t>(block + Info::kMilliseconds), 33u);
    EXPECT_EQ(Load<std::int16_t>(block + Info::kTimeZone), -60);
    EXPECT_EQ(stream_.TimeSeconds(), 1'650'000'000u);
    EXPECT_EQ(stream_.TimeMilliseconds(), 33u);
    EXPECT_EQ(stream_.TimeZoneMinutes(), -60);
}

TEST_F(UsbRawDecodeTest, CameraStampIsKeptWhenAsked) {
    stream_.SetHostTimeStamps(false);
    const Delivery d = Run(Sample());
    EXPECT_EQ(stream_.TimeSeconds(), 1'234'567u);
    EXPECT_EQ(stream_.TimeMilliseconds(), 500u);
    EXPECT_EQ(stream_.TimeZoneMinutes(), 300);
    EXPECT_EQ(Load<std::uint32_t>(d.images[0].data() + 128 + Info::kSeconds), 1'234'567u);
}

TEST_F(UsbRawDecodeTest, SwappedPixelsArriveInHostOrder) {
    settings_.pixelByteOrder = kPixelsSwapped;
    const auto sample = Sample();
    ASSERT_EQ(Load<std::uint16_t>(sample.data()),
              static_cast<std::uint16_t>(picture_[0] << 8 | picture_[0] >> 8));
    const Delivery d = Run(sample);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    EXPECT_EQ(BigEndian16(d.images[0], 98), kPixelsHostOrder);
    for (std::size_t i = 0; i < picture_.size(); ++i) {
        ASSERT_EQ(PixelAt(d.images[0], 2588 + 2 * i), picture_[i]) << i;
    }
}

TEST_F(UsbRawDecodeTest, EachFieldTakesItsOwnRowsAndTime) {
    settings_.fieldCount = 2;
    stream_.SetHostTimeStamps(false);
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, (std::vector<DecodeResult>{DecodeResult::Ok, DecodeResult::Ok}));
    EXPECT_EQ(d.size, 16 * 4 * 2 + 2588);
    for (int field = 0; field < 2; ++field) {
        const auto& img = d.images[field];
        const auto* block = img.data() + 128;
        EXPECT_EQ(Load<std::uint16_t>(block + Info::kGeometryHeight), 4);
        EXPECT_EQ(Load<std::uint16_t>(block + Info::kGeometryLastRow), 3);
        EXPECT_EQ(Load<std::uint16_t>(block + Info::kFrameRate), 60);
        EXPECT_EQ(Load<std::uint32_t>(block + Info::kMilliseconds), 500u + 16 * field);
        for (std::size_t i = 0; i < 16 * 4; ++i) {
            ASSERT_EQ(PixelAt(img, 2588 + 2 * i), picture_[field * 64 + i]) << field << " " << i;
        }
    }
}

TEST_F(UsbRawDecodeTest, PixelEntryFirstPutsThePixelBlockFirst) {
    settings_.pixelEntryFirst = true;
    const Delivery d = Run(Sample());
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    const auto& img = d.images[0];
    EXPECT_EQ(BigEndian16(img, 64), kPixelBlock);
    EXPECT_EQ(BigEndian32(img, 76), 128u);
    EXPECT_EQ(BigEndian32(img, 108), 128u + 16 * 8 * 2 + 32);
    EXPECT_EQ(PixelAt(img, 128 + 32), picture_[0]);
    EXPECT_EQ(0, std::memcmp(img.data() + 128, img.data() + 128 + 32 + 256, 32));
}

TEST_F(UsbRawDecodeTest, OtherBlocksAreCarriedUnchanged) {
    settings_.extraBlockBytes = 100;
    const auto sample = Sample();
    const Delivery d = Run(sample);
    ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    EXPECT_EQ(d.size, 16 * 8 * 2 + 2588 + 32 + 100);
    const auto& img = d.images[0];
    EXPECT_EQ(BigEndian16(img, 128), 7u);
    const std::uint32_t at = BigEndian32(img, 128 + 12);
    const std::size_t source =
        Region(settings_) + Load<std::uint32_t>(sample.data() + Entry(2) + 12);
    EXPECT_EQ(0, std::memcmp(img.data() + at, sample.data() + source, 100));
}

TEST_F(UsbRawDecodeTest, CalibratingFlags) {
    for (std::uint16_t flags : {1, 32, 33}) {
        settings_.statusFlags = flags;
        EXPECT_EQ(Run(Sample()).results, std::vector<DecodeResult>{DecodeResult::Calibrating})
            << flags;
    }
    settings_.statusFlags = 2;
    EXPECT_EQ(Run(Sample()).results, std::vector<DecodeResult>{DecodeResult::Ok});
}

TEST_F(UsbRawDecodeTest, MissingCameraStampIsABadFrameEvenWithHostStamps) {
    Run(Sample());
    const std::uint32_t published = stream_.TimeSeconds();
    settings_.seconds = 0;
    clock_.AdvanceMilliseconds(5000);
    EXPECT_EQ(Run(Sample()).results, std::vector<DecodeResult>{DecodeResult::BadFrame});
    EXPECT_EQ(stream_.TimeSeconds(), published);
}

TEST_F(UsbRawDecodeTest, MagicIgnoresCaseButNeedsItsTerminator) {
    auto sample = Sample();
    std::memcpy(sample.data() + Region(settings_), "zrf", 3);
    EXPECT_EQ(Run(sample).results, std::vector<DecodeResult>{DecodeResult::Ok});
    sample[Region(settings_) + 3] = 'X';
    const Delivery d = Run(sample);
    EXPECT_EQ(d.size, 0);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
}

// Each case spoils one part of the region; none may be sized or decoded.
TEST_F(UsbRawDecodeTest, MalformedRegionsAreRejectedWithoutStrayAccess) {
    const auto good = Sample();
    const std::size_t region = Region(settings_);
    auto count = [&](auto& s) { return s.data() + region + 28; };
    std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases;
    auto add = [&](const char* name, auto spoil) {
        auto s = good;
        spoil(s);
        cases.emplace_back(name, std::move(s));
    };
    add("region past the end", [&](auto& s) { s.resize(region + 63); });
    add("no entries", [&](auto& s) { Store<std::int32_t>(count(s), 0); });
    add("negative entry count", [&](auto& s) { Store<std::int32_t>(count(s), -2); });
    add("index beyond the sample", [&](auto& s) { Store<std::int32_t>(count(s), 1000); });
    add("huge entry count", [&](auto& s) { Store<std::int32_t>(count(s), 0x7FFFFFFF); });
    add("block beyond the sample",
        [&](auto& s) { Store<std::uint32_t>(s.data() + Entry(0) + 12, 0xFFFFFF00); });
    add("block length beyond the sample",
        [&](auto& s) { Store<std::uint32_t>(s.data() + Entry(0) + 16, 0x7FFFFFFF); });
    add("frame information too short",
        [&](auto& s) { Store<std::uint32_t>(s.data() + Entry(0) + 16, 1131); });
    add("no pixel entry", [&](auto& s) { Store<std::uint16_t>(s.data() + Entry(1), 5); });
    add("no frame-information entry",
        [&](auto& s) { Store<std::uint16_t>(s.data() + Entry(0), 5); });
    add("sample cut inside the frame information", [&](auto& s) { s.resize(InfoBlock() + 1000); });
    for (const auto& [name, sample] : cases) {
        ImgSrcStream fresh;
        fresh.SetSubtype(kSubtypeF7M0);
        const Delivery d = Deliver(fresh, sample, settings_.size);
        EXPECT_EQ(d.size, 0) << name;
        EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::BadFrame}) << name;
    }
}

TEST_F(UsbRawDecodeTest, GeometryWidthReachingBeyondThePixelsIsRejected) {
    settings_.fieldCount = 2;
    auto sample = Sample();
    Store<std::uint16_t>(sample.data() + InfoBlock() + Info::kGeometryWidth, 17);
    stream_.SetFieldCount(2);
    const Delivery first = DeliverField(stream_, sample, settings_.size, 0);
    EXPECT_EQ(first.results, std::vector<DecodeResult>{DecodeResult::Ok});
    const std::uint32_t published = stream_.TimeMilliseconds();
    clock_.AdvanceMilliseconds(500);
    const Delivery second = DeliverField(stream_, sample, settings_.size, 1);
    EXPECT_EQ(second.results, std::vector<DecodeResult>{DecodeResult::BadFrame});
    EXPECT_EQ(stream_.TimeMilliseconds(), published);
    EXPECT_EQ(DeliverField(stream_, sample, settings_.size, 2).results,
              std::vector<DecodeResult>{DecodeResult::BadFrame});
    EXPECT_EQ(DeliverField(stream_, sample, settings_.size, -1).results,
              std::vector<DecodeResult>{DecodeResult::BadFrame});
}

TEST_F(UsbRawDecodeTest, CachedSizeFollowsFieldCountSizeAndLayout) {
    EXPECT_EQ(Run(Sample()).size, 16 * 8 * 2 + 2588);
    settings_.fieldCount = 2;  // windowing switched on
    EXPECT_EQ(Run(Sample()).size, 16 * 4 * 2 + 2588);
    settings_.fieldCount = 1;  // and off again
    EXPECT_EQ(Run(Sample()).size, 16 * 8 * 2 + 2588);
    settings_.extraBlockBytes = 64;  // the camera's region grows
    const Delivery grown = Run(Sample());
    EXPECT_EQ(grown.size, 16 * 8 * 2 + 2588 + 32 + 64);
    EXPECT_EQ(grown.results, std::vector<DecodeResult>{DecodeResult::Ok});
    settings_.extraBlockBytes = 0;
    settings_.size = {8, 8};
    picture_ = RampPicture(settings_.size);
    EXPECT_EQ(Run(Sample()).size, 8 * 8 * 2 + 2588);
}

}  // namespace
