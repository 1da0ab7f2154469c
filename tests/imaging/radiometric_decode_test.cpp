// Radiometric samples (USB raw, USB JPEG-LS, IEEE-1394) through the stream into ZRF images:
// the byte layout, the stamps, the fields, and every sample that does not fit its own layout.
#include <gtest/gtest.h>

#include <functional>

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
using Sample = std::vector<std::uint8_t>;
using Results = std::vector<DecodeResult>;

enum class Kind { UsbRaw, UsbJpegLs, Ieee1394 };

const Results kOk{DecodeResult::Ok};
const Results kBad{DecodeResult::BadFrame};

class RadiometricDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        clock_.SetTimeZone(-60, false);
        settings_.size = {16, 8};
        settings_.seconds = 1'234'567;
        settings_.milliseconds = 500;
        settings_.timeZoneMinutes = 300;
        Use(Kind::UsbRaw);
    }

    // The stream as the device sets it up for the kind.
    void Use(Kind kind) {
        kind_ = kind;
        stream_.SetSourceKind(kind == Kind::Ieee1394 ? SourceKind::Ieee1394 : SourceKind::Usb);
        stream_.SetSubtype(kind == Kind::UsbRaw     ? kSubtypeF7M0
                           : kind == Kind::Ieee1394 ? kSubtypeF7M2
                                                    : kSubtypeMJLS);
        stream_.SetFrameRate(30.0f);
    }
    Sample Build() {
        Sample s;
        if (kind_ == Kind::UsbRaw) zrf::sim::BuildUsbRawSample(picture_.data(), settings_, s);
        if (kind_ == Kind::Ieee1394) zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, s);
        if (kind_ == Kind::UsbJpegLs &&
            !zrf::sim::BuildUsbJpegLsSample(picture_.data(), settings_, s))
            ADD_FAILURE() << "the codec refused the picture";
        return s;
    }
    Delivery Run(const Sample& sample) {
        stream_.SetFieldCount(settings_.fieldCount);
        return Deliver(stream_, sample, settings_.size);
    }
    Delivery Run() { return Run(Build()); }
    // The USB region of a raw sample and its index entries, as the builder lays them out.
    std::size_t Region() const {
        return static_cast<std::size_t>(settings_.size.width) * settings_.size.height * 2;
    }
    std::size_t Entry(int i) const { return Region() + 64 + 32 * i; }
    std::size_t InfoBlock() const { return Entry(settings_.extraBlockBytes > 0 ? 3 : 2); }
    void ExpectPixels(const Sample& image, std::size_t at, std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(PixelAt(image, at + 2 * i), picture_[first + i]) << i;
    }
    static std::uint32_t Info32(const Sample& image, std::size_t offset) {
        return Load<std::uint32_t>(image.data() + 128 + offset);
    }
    static std::uint16_t Info16(const Sample& image, std::size_t offset) {
        return Load<std::uint16_t>(image.data() + 128 + offset);
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    ImgSrcStream stream_;
    Kind kind_ = Kind::UsbRaw;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({16, 8});
};

// Header and index big-endian, the frame information in host order at 128, the geometry copy
// at 2556, the pixels at 2588.
TEST_F(RadiometricDecodeTest, Ieee1394PlacesEveryRecordAtItsOffset) {
    Use(Kind::Ieee1394);
    settings_.frameRate = 25.0f;
    const auto camera = zrf::sim::BuildFrameInfoBlock(settings_);
    const Delivery d = Run();
    ASSERT_EQ(d.results, kOk);
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
    EXPECT_EQ(Info16(img, Info::kGeometryWord22), 0);
    EXPECT_EQ(Info16(img, Info::kFrameRate), 30);  // the stream's rate
    // Everything the pipeline does not update is the camera's, converted.
    EXPECT_EQ(0, std::memcmp(img.data() + 128 + 32, camera.data() + 32, 900 - 32));
    EXPECT_EQ(0, std::memcmp(img.data() + 128 + 912, camera.data() + 912, 1084 - 912));
    EXPECT_EQ(0, std::memcmp(img.data() + 128 + 1130, camera.data() + 1130, 2428 - 1130));
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, img.data() + 128, 32));
    ExpectPixels(img, 2588, 0, picture_.size());
}

// The region's header and index become big-endian around the camera's blocks; the source text
// is replaced up to its terminator, the rest of the header carried.
TEST_F(RadiometricDecodeTest, UsbRebuildsTheImageFromTheRegion) {
    const Delivery d = Run();
    ASSERT_EQ(d.results, kOk);
    ASSERT_EQ(d.size, 16 * 8 * 2 + 2588);  // the same as an IEEE-1394 image
    const auto& img = d.images[0];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data())), "ZRF");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 4)), "UVC_KAVIR");
    EXPECT_EQ(img[14], '_');
    EXPECT_EQ(img[15], '7');
    const std::pair<std::size_t, std::uint32_t> words[] = {
        {20, 100}, {24, 64},  {28, 2},    {52, 0xA5A5A5A5u}, {60, 0},
        {68, 106}, {76, 128}, {80, 2428}, {108, 2556},       {112, 16 * 8 * 2 + 32}};
    for (const auto& [at, value] : words) EXPECT_EQ(BigEndian32(img, at), value) << at;
    const std::pair<std::size_t, std::uint16_t> shorts[] = {
        {36, 0}, {38, 0x0101}, {64, kFrameInfoBlock}, {96, kPixelBlock}, {98, kPixelsHostOrder}};
    for (const auto& [at, value] : shorts) EXPECT_EQ(BigEndian16(img, at), value) << at;
    EXPECT_EQ(Info16(img, Info::kGeometryWidth), 16);
    EXPECT_EQ(Info16(img, Info::kGeometryHeight), 8);
    EXPECT_EQ(Info16(img, Info::kGeometryLastRow), 7);
    EXPECT_EQ(Info32(img, Info::kGeometryWord28), 0u);
    EXPECT_EQ(Info16(img, Info::kLiveFlag), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 128 + Info::kText)), "Live");
    EXPECT_EQ(Info16(img, Info::kFrameRate), 30);
    EXPECT_EQ(0, std::memcmp(img.data() + 2556, img.data() + 128, 32));
    ExpectPixels(img, 2588, 0, picture_.size());
}

TEST_F(RadiometricDecodeTest, UsbBlocksKeepTheRegionsOrder) {
    settings_.pixelEntryFirst = true;
    Delivery d = Run();
    ASSERT_EQ(d.results, kOk);
    EXPECT_EQ(BigEndian16(d.images[0], 64), kPixelBlock);
    EXPECT_EQ(BigEndian32(d.images[0], 76), 128u);
    EXPECT_EQ(BigEndian32(d.images[0], 108), 128u + 16 * 8 * 2 + 32);
    ExpectPixels(d.images[0], 128 + 32, 0, 1);
    EXPECT_EQ(0, std::memcmp(d.images[0].data() + 128, d.images[0].data() + 128 + 32 + 256, 32));
    // Other blocks are carried unchanged.
    settings_.pixelEntryFirst = false;
    settings_.extraBlockBytes = 100;
    const Sample sample = Build();
    d = Run(sample);
    ASSERT_EQ(d.results, kOk);
    EXPECT_EQ(d.size, 16 * 8 * 2 + 2588 + 32 + 100);
    EXPECT_EQ(BigEndian16(d.images[0], 128), 7u);
    const std::size_t source = Region() + Load<std::uint32_t>(sample.data() + Entry(2) + 12);
    EXPECT_EQ(0, std::memcmp(d.images[0].data() + BigEndian32(d.images[0], 128 + 12),
                             sample.data() + source, 100));
}

// Swapped pixels arrive in host order, whatever the path; a JPEG-LS picture of fewer bits
// still fills two bytes a pixel.
TEST_F(RadiometricDecodeTest, PixelsArriveInHostOrder) {
    for (Kind kind : {Kind::UsbRaw, Kind::UsbJpegLs}) {
        Use(kind);
        settings_.pixelByteOrder = kPixelsSwapped;
        const Delivery d = Run();
        ASSERT_EQ(d.results, kOk);
        EXPECT_EQ(BigEndian16(d.images[0], 98), kPixelsHostOrder);
        ExpectPixels(d.images[0], 2588, 0, picture_.size());
    }
    settings_.pixelByteOrder = kPixelsHostOrder;
    settings_.jpegLsBitsPerSample = 14;
    for (auto& p : picture_) p &= 0x3FFF;
    const Delivery d = Run();
    ASSERT_EQ(d.results, kOk);
    ExpectPixels(d.images[0], 2588, 0, picture_.size());
}

// Field k takes its rows (by the camera's row length) and its time offset; the stamp is the
// host's for the whole sample, or the camera's when asked.
TEST_F(RadiometricDecodeTest, EachFieldTakesItsRowsAndItsTime) {
    stream_.SetHostTimeStamps(false);
    const std::uint32_t offsets[2][4] = {{0, 16}, {0, 8, 16, 24}};  // at 30 frames a second
    for (Kind kind : {Kind::UsbRaw, Kind::UsbJpegLs, Kind::Ieee1394}) {
        for (int fields : {2, 4}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(kind) << " " << fields);
            Use(kind);
            settings_.fieldCount = fields;
            const Delivery d = Run();
            ASSERT_EQ(d.results, Results(fields, DecodeResult::Ok));
            const int rows = 8 / fields;
            EXPECT_EQ(d.size, 16 * rows * 2 + 2588);
            for (int k = 0; k < fields; ++k) {
                const auto& img = d.images[k];
                EXPECT_EQ(Info16(img, Info::kGeometryHeight), rows);
                EXPECT_EQ(Info16(img, Info::kGeometryLastRow), rows - 1);
                EXPECT_EQ(Info16(img, Info::kFrameRate), 30 * fields);
                EXPECT_EQ(Info32(img, Info::kMilliseconds), 500u + offsets[fields / 4][k]);
                EXPECT_EQ(Info16(img, Info::kTimeZone), 300);
                ExpectPixels(img, 2588, k * 16 * rows, 16 * rows);
            }
        }
    }
}

// 1000 / (fields x rate) in single precision, times the field, truncated.
TEST_F(RadiometricDecodeTest, FieldTimeOffsets) {
    Use(Kind::Ieee1394);
    stream_.SetHostTimeStamps(false);
    settings_.milliseconds = 0;
    struct Case {
        int fields;
        float rate;
        std::vector<std::uint32_t> offsets;
    };
    for (const Case& c : {Case{2, 25.0f, {0, 20}}, Case{4, 60.0f, {0, 4, 8, 12}}}) {
        settings_.fieldCount = c.fields;
        stream_.SetFrameRate(c.rate);
        const Delivery d = Run();
        ASSERT_EQ(d.results.size(), static_cast<std::size_t>(c.fields));
        for (int k = 0; k < c.fields; ++k)
            EXPECT_EQ(Info32(d.images[k], Info::kMilliseconds), c.offsets[k]) << c.rate << " " << k;
    }
    // An offset past the second carries into it.
    stream_.SetFrameRate(30.0f);
    settings_.fieldCount = 2;
    settings_.milliseconds = 990;
    stream_.SetFieldCount(2);
    const Delivery d = DeliverField(stream_, Build(), settings_.size, 1);
    EXPECT_EQ(Info32(d.images[0], Info::kMilliseconds), 6u);
    EXPECT_EQ(Info32(d.images[0], Info::kSeconds), 1'234'568u);
    EXPECT_EQ(stream_.TimeSeconds(), 1'234'568u);
    EXPECT_EQ(stream_.TimeMilliseconds(), 6u);
}

TEST_F(RadiometricDecodeTest, HostStampReplacesTheCamerasAndIsPublished) {
    for (Kind kind : {Kind::UsbRaw, Kind::Ieee1394}) {
        Use(kind);  // the frame rate set afresh: the clock starts again at frame 1
        const auto* block = Run().images[0].data() + 128;
        EXPECT_EQ(Load<std::uint32_t>(block + Info::kSeconds), 1'650'000'000u);
        EXPECT_EQ(Load<std::uint32_t>(block + Info::kMilliseconds), 33u);
        EXPECT_EQ(Load<std::int16_t>(block + Info::kTimeZone), -60);
        EXPECT_EQ(stream_.TimeSeconds(), 1'650'000'000u);
        EXPECT_EQ(stream_.TimeMilliseconds(), 33u);
        EXPECT_EQ(stream_.TimeZoneMinutes(), -60);
    }
    // Daylight saving adds an hour; 1000 ms at 30 per second is frame 30.
    clock_.SetTimeZone(-60, true);
    Use(Kind::Ieee1394);
    Run();
    clock_.AdvanceMilliseconds(1000);
    Run();
    EXPECT_EQ(stream_.TimeSeconds(), 1'650'003'601u);
    stream_.SetHostTimeStamps(false);
    Run();
    EXPECT_EQ(stream_.TimeSeconds(), 1'234'567u);
    EXPECT_EQ(stream_.TimeMilliseconds(), 500u);
    EXPECT_EQ(stream_.TimeZoneMinutes(), 300);
}

// Samples at the clock's own rate arrive on the grid's edges: truncation alone would give two
// of them one period, and field 1 of the first would come after field 0 of the next.
TEST_F(RadiometricDecodeTest, HostStampsOfSamplesPacedAtTheClocksRateNeverGoBack) {
    Use(Kind::Ieee1394);
    settings_.fieldCount = 2;
    std::int64_t previous = 0;
    for (int sample = 0; sample < 8; ++sample) {
        const Delivery d = Run();
        ASSERT_EQ(d.results.size(), 2u);
        for (const auto& image : d.images) {
            const std::int64_t ms = std::int64_t{Info32(image, Info::kSeconds)} * 1000 +
                                    Info32(image, Info::kMilliseconds);
            EXPECT_GT(ms, previous) << sample;
            previous = ms;
        }
        clock_.AdvanceMilliseconds(sample % 2 == 0 ? 33 : 34);
    }
}

// Bit 0 or 5 of the status flags: calibrating. No camera stamp: a bad frame even with host
// stamps, the published time unchanged.
TEST_F(RadiometricDecodeTest, CalibratingAndUnstampedFrames) {
    for (Kind kind : {Kind::UsbRaw, Kind::Ieee1394}) {
        Use(kind);
        for (std::uint16_t flags : {1, 32, 33, 2}) {
            settings_.statusFlags = flags;
            EXPECT_EQ(Run().results,
                      Results{flags == 2 ? DecodeResult::Ok : DecodeResult::Calibrating})
                << flags;
        }
        settings_.statusFlags = 0;
        const std::uint32_t published = stream_.TimeSeconds();
        settings_.seconds = 0;
        clock_.AdvanceMilliseconds(5000);
        EXPECT_EQ(Run().results, kBad);
        EXPECT_EQ(stream_.TimeSeconds(), published);
        settings_.seconds = 1'234'567;
    }
}

// Every sample that does not fit its own layout: no size, a bad frame, nothing read or written
// outside the sample and the buffer (the suite also runs under AddressSanitizer).
TEST_F(RadiometricDecodeTest, SamplesThatDoNotFitTheirLayoutGiveNoSize) {
    const std::size_t region = Region();
    auto count = [&](Sample& s) { return s.data() + region + 28; };
    struct Case {
        const char* name;
        Kind kind;
        std::function<void(Sample&)> spoil;
        ImageSize size{16, 8};
    };
    const Case cases[] = {
        {"region past the end", Kind::UsbRaw, [&](Sample& s) { s.resize(region + 63); }},
        {"magic not terminated", Kind::UsbRaw, [&](Sample& s) { s[region + 3] = 'X'; }},
        {"no entries", Kind::UsbRaw, [&](Sample& s) { Store<std::int32_t>(count(s), 0); }},
        {"negative entry count", Kind::UsbRaw,
         [&](Sample& s) { Store<std::int32_t>(count(s), -2); }},
        {"index beyond the sample", Kind::UsbRaw,
         [&](Sample& s) { Store<std::int32_t>(count(s), 1000); }},
        {"huge entry count", Kind::UsbRaw,
         [&](Sample& s) { Store<std::int32_t>(count(s), 0x7FFFFFFF); }},
        {"block beyond the sample", Kind::UsbRaw,
         [&](Sample& s) { Store<std::uint32_t>(s.data() + Entry(0) + 12, 0xFFFFFF00); }},
        {"block length beyond the sample", Kind::UsbRaw,
         [&](Sample& s) { Store<std::uint32_t>(s.data() + Entry(0) + 16, 0x7FFFFFFF); }},
        {"frame information too short", Kind::UsbRaw,
         [&](Sample& s) { Store<std::uint32_t>(s.data() + Entry(0) + 16, 1131); }},
        {"no pixel entry", Kind::UsbRaw,
         [&](Sample& s) { Store<std::uint16_t>(s.data() + Entry(1), 5); }},
        {"no frame-information entry", Kind::UsbRaw,
         [&](Sample& s) { Store<std::uint16_t>(s.data() + Entry(0), 5); }},
        {"cut inside the frame information", Kind::UsbRaw,
         [&](Sample& s) { s.resize(InfoBlock() + 1000); }},
        {"code stream length past the sample", Kind::UsbJpegLs, [](Sample& s) { s[0] = 0x7F; }},
        {"no start-of-image marker", Kind::UsbJpegLs, [](Sample& s) { s[4] = 0x00; }},
        {"one byte short", Kind::Ieee1394, [](Sample& s) { s.pop_back(); }},
        {"width 0", Kind::Ieee1394, [](Sample&) {}, {0, 8}},
        {"negative height", Kind::Ieee1394, [](Sample&) {}, {16, -8}},
        {"largest size", Kind::Ieee1394, [](Sample&) {}, {0x7FFFFFFF, 0x7FFFFFFF}},
    };
    for (const Case& c : cases) {
        Use(c.kind);
        Sample sample = Build();
        c.spoil(sample);
        ImgSrcStream fresh;  // nothing cached
        fresh.SetSourceKind(c.kind == Kind::Ieee1394 ? SourceKind::Ieee1394 : SourceKind::Usb);
        fresh.SetSubtype(c.kind == Kind::UsbJpegLs ? kSubtypeMJLS : kSubtypeF7M0);
        const Delivery d = Deliver(fresh, sample, c.size);
        EXPECT_EQ(d.size, 0) << c.name;
        EXPECT_EQ(d.results, kBad) << c.name;
    }
    // More fields than rows.
    Use(Kind::Ieee1394);
    settings_.fieldCount = 9;
    EXPECT_EQ(Run().size, 0);
}

// Sized, but the pixels asked for are not there: a row length reaching beyond the pixels, a
// field index outside the fields, a JPEG-LS picture larger than the pixel block or whose data
// does not decode.
TEST_F(RadiometricDecodeTest, PixelsOutsideTheSampleAreBadFrames) {
    for (Kind kind : {Kind::UsbRaw, Kind::Ieee1394}) {
        Use(kind);
        settings_.fieldCount = 2;
        Sample sample = Build();
        const std::size_t width = kind == Kind::UsbRaw ? InfoBlock() + Info::kGeometryWidth
                                                       : Region() + Info::kGeometryWidth;
        // 17 in the region's host order; 256 in the IEEE-1394 block's big-endian order.
        Store<std::uint16_t>(sample.data() + width, kind == Kind::UsbRaw ? 17 : 0x0001);
        EXPECT_EQ(Run(sample).results, (Results{DecodeResult::Ok, DecodeResult::BadFrame}));
        for (int field : {2, -1})
            EXPECT_EQ(DeliverField(stream_, sample, settings_.size, field).results, kBad) << field;
    }
    Use(Kind::UsbJpegLs);
    settings_.fieldCount = 1;
    stream_.SetFieldCount(1);
    const Sample sample = Build();  // a 16 x 8 picture
    Delivery d = Deliver(stream_, sample, ImageSize{16, 4});
    EXPECT_EQ(d.size, 16 * 4 * 2 + 2588);
    EXPECT_EQ(d.results, kBad);
    // A smaller picture leaves the rest of the field zero.
    d = Deliver(stream_, sample, ImageSize{16, 10});
    ASSERT_EQ(d.results, kOk);
    ExpectPixels(d.images[0], 2588, 0, picture_.size());
    EXPECT_TRUE(
        std::all_of(d.images[0].end() - 64, d.images[0].end(), [](auto b) { return b == 0; }));
    // A code stream that stops being one, with the size cached, or whose data does not decode.
    ASSERT_EQ(Run(sample).results, kOk);
    Sample broken = sample;
    broken[4] = 0x00;
    EXPECT_EQ(Run(broken).results, kBad);
    broken = sample;
    const std::uint32_t length = LoadBigEndian32(broken.data());
    std::fill(broken.begin() + 4 + length / 2, broken.begin() + 4 + length - 2, 0xFF);
    EXPECT_EQ(Run(broken).results, kBad);
}

// The size is worked out again whenever the fields, the size or the region's layout change.
TEST_F(RadiometricDecodeTest, UsbSizeFollowsFieldsSizeAndLayout) {
    Sample lower = Build();
    std::memcpy(lower.data() + Region(), "zrf", 3);  // the magic ignores letter case
    lower.resize(InfoBlock() + kFrameInfoSize);      // the last block ends the sample
    EXPECT_EQ(Run(lower).results, kOk);
    const std::pair<std::int32_t, std::uint32_t> steps[] = {{2, 0}, {1, 0}, {1, 64}};
    for (const auto& [fields, extra] : steps) {
        settings_.fieldCount = fields;
        settings_.extraBlockBytes = extra;
        const Delivery d = Run();
        EXPECT_EQ(d.size, 16 * 8 / fields * 2 + 2588 + (extra ? 32 + extra : 0));
        EXPECT_EQ(d.results, Results(fields, DecodeResult::Ok));
    }
    settings_.extraBlockBytes = 0;
    settings_.size = {8, 8};
    picture_ = RampPicture(settings_.size);
    EXPECT_EQ(Run().size, 8 * 8 * 2 + 2588);
}

}  // namespace
