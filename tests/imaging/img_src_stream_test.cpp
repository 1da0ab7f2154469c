// The image source stream: radiometric samples (USB raw, USB JPEG-LS, IEEE-1394) into ZRF
// images (the byte layout, the stamps, the fields, every sample that does not fit its own
// layout) and visual samples into visual images.
#include "imaging/img_src_stream.h"

#include <gtest/gtest.h>

#include <functional>

#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"
#include "platform/time/test_clock.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;
using namespace Zrf;
using Results = std::vector<DecodeResult>;

const Results kOk{DecodeResult::Ok};
const Results kBad{DecodeResult::BadFrame};

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        clock_.SetTimeZone(-60, false);
        settings_.size = {16, 8};
        settings_.seconds = 1'234'567;
        settings_.milliseconds = 500;
        settings_.timeZoneMinutes = 300;
        Use(kUsbRaw);
    }

    // The stream as the device sets it up for the path.
    void Use(const Path& path) {
        path_ = path;
        ImagingTest::Use(stream_, path);
    }
    Sample Build() {
        const Sample s = BuildSample(path_, picture_, settings_);
        EXPECT_FALSE(s.empty()) << "the codec refused the picture";
        return s;
    }
    // Changes a 16-bit word of a built sample's frame information, in the block's byte order.
    void PutInfo16(Sample& s, std::size_t offset, std::uint16_t value) const {
        std::uint8_t* at = s.data() + (path_ == kUsbRaw ? InfoBlock() : Region()) + offset;
        Store<std::uint16_t>(at, path_ == kUsbRaw ? value : __builtin_bswap16(value));
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
    Path path_;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = RampPicture({16, 8});
};

// Header and index big-endian, the frame information in host order at 128, the geometry copy
// at 2556, the pixels at 2588, on both paths. IEEE-1394 images carry the camera's block,
// converted; USB ones are rebuilt from the region, whose header is carried but for the source
// text, replaced up to its terminator.
TEST_F(StreamTest, EveryRecordIsAtItsOffset) {
    for (const Path& path : {kIeee1394, kUsbRaw}) {
        Use(path);
        settings_.frameRate = 25.0f;
        const Delivery d = Run();
        ASSERT_EQ(d.results, kOk);
        ASSERT_EQ(d.size, 16 * 8 * 2 + 2588);
        const auto& img = d.images[0];
        // clang-format off
        const std::pair<std::size_t, std::uint32_t> words[] = {
            {20, 100}, {24, 64}, {28, 2}, {32, 3}, {68, 106}, {72, 0}, {76, 128}, {80, 2428},
            {84, 0}, {88, 0}, {92, 0}, {108, 2556}, {112, 16 * 8 * 2 + 32}};
        // clang-format on
        for (const auto& [at, value] : words) EXPECT_EQ(BigEndian32(img, at), value) << at;
        const std::pair<std::size_t, std::uint16_t> shorts[] = {
            {36, 0}, {64, kFrameInfoBlock}, {66, 0}, {96, kPixelBlock}, {98, kPixelsHostOrder}};
        for (const auto& [at, value] : shorts) EXPECT_EQ(BigEndian16(img, at), value) << at;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data())), "ZRF");
        // The geometry, and the stream's rate.
        EXPECT_EQ(std::tuple(Info16(img, Info::kGeometryWidth), Info16(img, Info::kGeometryHeight),
                             Info16(img, Info::kGeometryLastRow),
                             Info32(img, Info::kGeometryWord28), Info16(img, Info::kFrameRate)),
                  std::tuple(16, 8, 7, 0u, 30));
        EXPECT_EQ(0, std::memcmp(img.data() + 2556, img.data() + 128, 32));
        ExpectPixels(img, 2588, 0, picture_.size());
    }
    const auto camera = zrf::sim::BuildFrameInfoBlock(settings_);
    Use(kIeee1394);
    const auto ieee = Run().images[0];
    const auto usb = (Use(kUsbRaw), Run().images[0]);
    const char text[] = "FW_ZEPHRA\0\0\0\0\0\0";
    EXPECT_EQ(0, std::memcmp(ieee.data() + 4, text, 16));
    EXPECT_TRUE(std::all_of(ieee.begin() + 36, ieee.begin() + 64, [](auto b) { return b == 0; }));
    EXPECT_EQ(Info16(ieee, Info::kGeometryWord22), 0);
    // Everything the pipeline does not update is the camera's, converted.
    EXPECT_EQ(0, std::memcmp(ieee.data() + 128 + 32, camera.data() + 32, 900 - 32));
    EXPECT_EQ(0, std::memcmp(ieee.data() + 128 + 912, camera.data() + 912, 1084 - 912));
    EXPECT_EQ(0, std::memcmp(ieee.data() + 128 + 1130, camera.data() + 1130, 2428 - 1130));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(usb.data() + 4)), "UVC_KAVIR");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(usb.data() + 14), 2), "_7");
    EXPECT_EQ(std::tuple(BigEndian16(usb, 38), BigEndian32(usb, 52), BigEndian32(usb, 60),
                         Info16(usb, Info::kLiveFlag)),
              std::tuple(0x0101, 0xA5A5A5A5u, 0u, 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(usb.data() + 128 + Info::kText)), "Live");
}

TEST_F(StreamTest, UsbBlocksKeepTheRegionsOrder) {
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
TEST_F(StreamTest, PixelsArriveInHostOrder) {
    for (const Path& kind : {kUsbRaw, kUsbJpegLs}) {
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

// Field k takes its rows (by the camera's row length) and its time offset, 1000 / (fields x
// rate) in single precision times k, truncated; an offset past the second carries into it. The
// stamp is the camera's here (the host's is one for the whole sample).
TEST_F(StreamTest, EachFieldTakesItsRowsAndItsTime) {
    stream_.SetHostTimeStamps(false);
    // The path, the fields, the rate and each field's time offset.
    const std::tuple<Path, int, float, std::vector<std::uint32_t>> cases[] = {
        {kUsbRaw, 2, 30, {0, 16}},       {kUsbRaw, 4, 30, {0, 8, 16, 24}},
        {kUsbJpegLs, 2, 30, {0, 16}},    {kUsbJpegLs, 4, 30, {0, 8, 16, 24}},
        {kIeee1394, 2, 30, {0, 16}},     {kIeee1394, 4, 30, {0, 8, 16, 24}},
        {kIeee1394, 2, 25, {0, 20}},     {kIeee1394, 4, 60, {0, 4, 8, 12}},
        {kIeee1394, 2, 30, {990, 1006}},
    };
    for (const auto& [path, fields, rate, offsets] : cases) {
        SCOPED_TRACE(testing::Message() << fields << " fields at " << rate);
        Use(path);
        stream_.SetFrameRate(rate);
        settings_.fieldCount = fields;
        settings_.milliseconds = offsets[0];
        const Delivery d = Run();
        ASSERT_EQ(d.results, Results(fields, DecodeResult::Ok));
        const int rows = 8 / fields;
        EXPECT_EQ(d.size, 16 * rows * 2 + 2588);
        for (int k = 0; k < fields; ++k) {
            const auto& img = d.images[k];
            EXPECT_EQ(
                std::tuple(Info16(img, Info::kGeometryHeight), Info16(img, Info::kGeometryLastRow),
                           Info16(img, Info::kFrameRate), Info32(img, Info::kSeconds),
                           Info32(img, Info::kMilliseconds), Info16(img, Info::kTimeZone)),
                std::tuple(rows, rows - 1, static_cast<int>(rate * fields),
                           1'234'567u + offsets[k] / 1000, offsets[k] % 1000, 300));
            ExpectPixels(img, 2588, k * 16 * rows, 16 * rows);
        }
    }
    // The last field's time is published.
    EXPECT_EQ(std::tuple(stream_.TimeSeconds(), stream_.TimeMilliseconds()),
              std::tuple(1'234'568u, 6u));
}

// What a stream keeps of a sample for its fields is that sample's: samples one after another,
// each field of each carries its own sample's frame information.
TEST_F(StreamTest, EachSamplesFieldsCarryThatSamplesFrameInformation) {
    stream_.SetHostTimeStamps(false);
    settings_.fieldCount = 4;
    for (const Path& path : {kIeee1394, kUsbRaw, kUsbJpegLs}) {
        Use(path);
        for (const std::uint32_t seconds : {1'000u, 2'000u, 3'000u}) {
            settings_.seconds = seconds;
            const Delivery d = Run();
            ASSERT_EQ(d.results, Results(4, DecodeResult::Ok));
            for (const auto& image : d.images) EXPECT_EQ(Info32(image, Info::kSeconds), seconds);
        }
    }
}

TEST_F(StreamTest, HostStampReplacesTheCamerasAndIsPublished) {
    for (const Path& kind : {kUsbRaw, kIeee1394}) {
        Use(kind);  // the frame rate set afresh: the clock starts again from a new base
        const Delivery d = Run();
        const auto* block = d.images[0].data() + 128;
        const std::uint32_t base = 1'650'000'000u + (kind == kUsbRaw ? 0 : 10);
        clock_.AdvanceMilliseconds(10'000);
        const auto stamp = std::tuple(base, 33u, -60);
        EXPECT_EQ(std::tuple(Load<std::uint32_t>(block + Info::kSeconds),
                             Load<std::uint32_t>(block + Info::kMilliseconds),
                             Load<std::int16_t>(block + Info::kTimeZone)),
                  stamp);
        EXPECT_EQ(std::tuple(stream_.TimeSeconds(), stream_.TimeMilliseconds(),
                             stream_.TimeZoneMinutes()),
                  stamp);
    }
    // Daylight saving adds an hour; 1000 ms at 30 per second is frame 30.
    clock_.SetTimeZone(-60, true);
    Use(kIeee1394);
    Run();
    clock_.AdvanceMilliseconds(1000);
    Run();
    EXPECT_EQ(stream_.TimeSeconds(), 1'650'003'621u);
    stream_.SetHostTimeStamps(false);
    Run();
    EXPECT_EQ(
        std::tuple(stream_.TimeSeconds(), stream_.TimeMilliseconds(), stream_.TimeZoneMinutes()),
        std::tuple(1'234'567u, 500u, 300));
}

// Samples at the clock's own rate arrive on the grid's edges: truncation alone would give two
// of them one period, and field 1 of the first would come after field 0 of the next.
TEST_F(StreamTest, HostStampsOfSamplesPacedAtTheClocksRateNeverGoBack) {
    Use(kIeee1394);
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

// What a sample that does not fit its own layout gives, on a stream that cached nothing: no
// size at all, or a bad frame for the field that does not fit, nothing read or written outside
// the sample and the buffer (the suite also runs under AddressSanitizer). Bit 0 or 5 of the
// status flags: calibrating. No camera stamp: a bad frame even with host stamps.
TEST_F(StreamTest, SamplesThatDoNotFitTheirLayout) {
    const std::size_t region = Region();
    auto count = [&](Sample& s) { return s.data() + region + 28; };
    auto word = [&](std::size_t at, std::uint32_t v) {
        return [=](Sample& s) { Store(s.data() + at, v); };
    };
    auto info16 = [&](std::size_t at, std::uint16_t v) {
        return [=, this](Sample& s) { PutInfo16(s, at, v); };
    };
    auto flags = [&](std::uint16_t v) { return info16(Info::kStatusFlags, v); };
    const auto none = [](Sample&) {};
    const Results calibrating{DecodeResult::Calibrating},
        second{DecodeResult::Ok, DecodeResult::BadFrame};
    const std::int32_t sized = 16 * 8 * 2 + 2588, half = 16 * 4 * 2 + 2588;
    struct Case {
        const char* name;
        Path path;
        std::function<void(Sample&)> spoil;
        std::int32_t size = 0;  // the buffer size the stream asks for
        Results results = {DecodeResult::BadFrame};
        int fields = 1;
        ImageSize picture{16, 8};
    };
    // clang-format off
    const Case cases[] = {
        {"region past the end", kUsbRaw, [&](Sample& s) { s.resize(region + 63); }},
        {"magic not terminated", kUsbRaw, [&](Sample& s) { s[region + 3] = 'X'; }},
        {"no entries", kUsbRaw, [&](Sample& s) { Store<std::int32_t>(count(s), 0); }},
        {"negative entry count", kUsbRaw, [&](Sample& s) { Store<std::int32_t>(count(s), -2); }},
        {"index beyond the sample", kUsbRaw, [&](Sample& s) { Store<std::int32_t>(count(s), 1000); }},
        {"huge entry count", kUsbRaw, [&](Sample& s) { Store<std::int32_t>(count(s), 0x7FFFFFFF); }},
        {"block beyond the sample", kUsbRaw, word(Entry(0) + 12, 0xFFFFFF00)},
        {"block length beyond the sample", kUsbRaw, word(Entry(0) + 16, 0x7FFFFFFF)},
        {"frame information too short", kUsbRaw, word(Entry(0) + 16, 1131)},
        {"no pixel entry", kUsbRaw, [&](Sample& s) { Store<std::uint16_t>(s.data() + Entry(1), 5); }},
        {"no frame-information entry", kUsbRaw, [&](Sample& s) { Store<std::uint16_t>(s.data() + Entry(0), 5); }},
        {"cut inside the frame information", kUsbRaw, [&](Sample& s) { s.resize(InfoBlock() + 1000); }},
        {"code stream length past the sample", kUsbJpegLs, [](Sample& s) { s[0] = 0x7F; }},
        {"no start-of-image marker", kUsbJpegLs, [](Sample& s) { s[4] = 0x00; }},
        {"code stream data that does not decode", kUsbJpegLs, [](Sample& s) {
             const std::uint32_t length = LoadBigEndian32(s.data());
             std::fill(s.begin() + 4 + length / 2, s.begin() + 4 + length - 2, 0xFF); }, sized},
        {"picture larger than the pixel block", kUsbJpegLs, none, half, kBad, 1, {16, 4}},
        {"one byte short", kIeee1394, [](Sample& s) { s.pop_back(); }},
        {"width 0", kIeee1394, none, 0, kBad, 1, {0, 8}},
        {"negative height", kIeee1394, none, 0, kBad, 1, {16, -8}},
        {"largest size", kIeee1394, none, 0, kBad, 1, {0x7FFFFFFF, 0x7FFFFFFF}},
        {"more fields than rows", kIeee1394, none, 0, kBad, 9},
        {"row length beyond the pixels", kUsbRaw, info16(Info::kGeometryWidth, 17), half, second, 2},
        {"row length beyond the pixels", kIeee1394, info16(Info::kGeometryWidth, 256), half, second, 2},
        {"calibrating, bit 0", kUsbRaw, flags(1), sized, calibrating},
        {"calibrating, bit 5", kUsbRaw, flags(32), sized, calibrating},
        {"calibrating, bits 0 and 5", kIeee1394, flags(33), sized, calibrating},
        {"not calibrating, bit 1", kIeee1394, flags(2), sized, kOk},
        {"no camera stamp", kUsbRaw, word(InfoBlock() + Info::kSeconds, 0), sized},
        {"no camera stamp", kIeee1394, word(Region() + Info::kSeconds, 0), sized},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Use(c.path);
        settings_.fieldCount = c.fields;
        Sample sample = Build();
        c.spoil(sample);
        ImgSrcStream fresh;
        ImagingTest::Use(fresh, c.path, c.fields);
        const Delivery d = Deliver(fresh, sample, c.picture);
        EXPECT_EQ(d.size, c.size);
        EXPECT_EQ(d.results, c.results);
        if (c.results[0] == DecodeResult::Ok) {
            EXPECT_EQ(fresh.TimeSeconds(), 1'650'000'000u);
        }
        for (int field : {c.fields, -1})  // fields outside the sample
            EXPECT_EQ(Deliver(fresh, sample, c.picture, field, 1).results, kBad) << field;
    }
}

// The stream's own JPEG-LS checks: a code stream that stops being one once the size is cached,
// and a smaller picture, which leaves the rest of the field zero.
TEST_F(StreamTest, JpegLsPicturesThatDoNotFillTheField) {
    Use(kUsbJpegLs);
    const Sample sample = Build();  // a 16 x 8 picture
    ASSERT_EQ(Run(sample).results, kOk);
    Sample broken = sample;
    broken[4] = 0x00;
    EXPECT_EQ(Run(broken).results, kBad);
    const Delivery d = Deliver(stream_, sample, ImageSize{16, 10});
    ASSERT_EQ(d.results, kOk);
    ExpectPixels(d.images[0], 2588, 0, picture_.size());
    EXPECT_TRUE(
        std::all_of(d.images[0].end() - 64, d.images[0].end(), [](auto b) { return b == 0; }));
}

// The size is worked out again whenever the fields, the size or the region's layout change.
TEST_F(StreamTest, UsbSizeFollowsFieldsSizeAndLayout) {
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

// Visual images are a 28-byte header and width x height x 2 bytes, as long as every size fits a
// signed 32-bit count; MJPG takes the last sample's length; radiometric sizes exist only inside
// the callback. Field counts below one are ignored.
TEST_F(StreamTest, SizesOutsideTheCallback) {
    // clang-format off
    const std::pair<ImageSize, std::int32_t> visual[] = {
        {{16, 8}, 16 * 8 * 2 + 28}, {{0, 8}, 28}, {{-1, 0}, 0}, {{0, -1}, 0},
        {{0x3FFF8001, 0}, 0}, {{0x3FFF8000, 1}, 0}, {{0x3FFF7FF2, 1}, 0x7FFF0000}};
    // clang-format on
    for (const GUID& subtype : {kSubtypeYUY2, kSubtypeI420}) {
        stream_.SetSubtype(subtype);
        for (const auto& [size, bytes] : visual) {
            stream_.SetImageSize(size);
            EXPECT_EQ(stream_.GetImageBufferSize(), bytes) << size.width << " x " << size.height;
        }
    }
    stream_.SetSubtype(kSubtypeMJPG);
    EXPECT_EQ(stream_.GetImageBufferSize(), 0);
    stream_.OnNewSample(Sample(77).data(), 77, settings_.size);  // no callback: dropped
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
    stream_.SetFieldCount(4);
    for (int ignored : {0, -3}) stream_.SetFieldCount(ignored);
    EXPECT_EQ(stream_.FieldCount(), 4);
}

// YUY2 and I420: the header, stamped, then the sample; what the sample does not cover is zero.
// A sample shorter than its planes is rejected. MJPG passes the sample through.
TEST_F(StreamTest, VisualImagesAreHeaderThenSample) {
    clock_.AdvanceMilliseconds(100);
    for (const auto& [path, fourCc] : {std::pair{kYuy2, "YUY2"}, {kI420, "I420"}}) {
        Use(path);  // each starts at frame 1, and after the stamps already published
        const Sample sample = Build();
        const Delivery d = Run(sample);
        ASSERT_EQ(d.results, kOk);
        const Sample& image = d.images[0];
        ASSERT_EQ(image.size(), 28u + 256);
        VisualFrameHeader h{};
        std::memcpy(&h, image.data(), sizeof h);
        EXPECT_EQ(std::tuple(std::string(h.fourCc, 4), h.width, h.height, h.stride,
                             h.timeZoneMinutes, h.seconds, h.milliseconds),
                  std::tuple(fourCc, 16, 8, 32, -60, 1'650'000'000u, path == kYuy2 ? 33u : 34u));
        EXPECT_TRUE(std::equal(sample.begin(), sample.end(), image.begin() + 28));
        EXPECT_TRUE(std::all_of(image.begin() + 28 + sample.size(), image.end(),
                                [](auto b) { return b == 0; }));
        EXPECT_EQ(stream_.TimeZoneMinutes(), -60);
        EXPECT_EQ(Deliver(stream_, Sample(sample.size() - 1), settings_.size).results, kBad);
    }
    // MJPG passes the sample through, for any field.
    Use(kMjpg);
    const Sample sample = Build();
    const Delivery d = Deliver(stream_, sample, settings_.size, 3, 1);
    ASSERT_EQ(d.results, kOk);
    EXPECT_EQ(d.images[0], sample);
}

}  // namespace
