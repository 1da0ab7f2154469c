// Per-sample work must not allocate: every allocation of this executable is counted.
#include <gtest/gtest.h>

#include "imaging/img_src_stream.h"
#include "imaging/jpegls_codec.h"
#include "imaging/media_subtypes.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/allocation_counter.h"
#include "tests/imaging/test_pictures.h"

namespace {

using namespace ImagingTest;

constexpr int kSamples = 200;

struct Target {
    ImgSrcStream* stream = nullptr;
    std::vector<std::uint8_t>* out = nullptr;
    int fields = 1;
    int ok = 0;
};
Target g_target;

void DecodeAllFields() {
    const std::int32_t size = g_target.stream->GetImageBufferSize();
    if (size <= 0 || static_cast<std::size_t>(size) > g_target.out->size()) return;
    for (int k = 0; k < g_target.fields; ++k) {
        if (g_target.stream->DecodeImage(k, g_target.out->data()) == DecodeResult::Ok)
            ++g_target.ok;
    }
}

struct PathCase {
    const char* name;
    GUID subtype;
    SourceKind kind;
    int fields;
    std::uint16_t byteOrder;
};

std::vector<std::uint8_t> BuildSample(const PathCase& c, const zrf::sim::SampleSettings& s,
                                      const std::vector<std::uint16_t>& picture) {
    std::vector<std::uint8_t> sample;
    if (c.subtype == kSubtypeYUY2)
        zrf::sim::BuildYuy2Sample(picture.data(), s, sample);
    else if (c.subtype == kSubtypeI420)
        zrf::sim::BuildI420Sample(picture.data(), s, sample);
    else if (c.subtype == kSubtypeMJPG)
        zrf::sim::BuildMjpgSample(picture.data(), s, sample);
    else if (c.kind == SourceKind::Ieee1394)
        zrf::sim::BuildIeee1394Sample(picture.data(), s, sample);
    else if (c.subtype == kSubtypeMJLS)
        zrf::sim::BuildUsbJpegLsSample(picture.data(), s, sample);
    else
        zrf::sim::BuildUsbRawSample(picture.data(), s, sample);
    return sample;
}

// Allocations while `samples` samples go through the stream, and how many fields decoded.
std::pair<long, int> CountStreamAllocations(const PathCase& c, int samples) {
    zrf::sim::SampleSettings s;
    s.size = {64, 48};
    s.fieldCount = c.fields;
    s.pixelByteOrder = c.byteOrder;
    const auto picture = RampPicture(s.size);
    const auto sample = BuildSample(c, s, picture);
    ImgSrcStream stream;
    stream.SetSourceKind(c.kind);
    stream.SetSubtype(c.subtype);
    stream.SetFieldCount(c.fields);
    stream.SetFrameRate(30.0f);
    stream.SetNewImageCallback(&DecodeAllFields);
    std::vector<std::uint8_t> out(1 << 20);
    g_target = Target{&stream, &out, c.fields, 0};
    // The first sample may start the clock; count from the second on.
    stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), s.size);
    g_target.ok = 0;
    const long before = zrf::testing::AllocationCount();
    for (int i = 0; i < samples; ++i) {
        stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), s.size);
    }
    return {zrf::testing::AllocationCount() - before, g_target.ok};
}

TEST(PerSampleAllocations, NoneOnAnyOwnPath) {
    const PathCase cases[] = {
        {"USB raw", kSubtypeF7M0, SourceKind::Usb, 1, 2},
        {"USB raw, swapped pixels", kSubtypeF7M0, SourceKind::Usb, 1, 1},
        {"USB raw, 2 fields", kSubtypeF7M0, SourceKind::Usb, 2, 2},
        {"IEEE-1394", kSubtypeF7M2, SourceKind::Ieee1394, 1, 2},
        {"IEEE-1394, 4 fields", kSubtypeF7M2, SourceKind::Ieee1394, 4, 2},
        {"YUY2", kSubtypeYUY2, SourceKind::Usb, 1, 2},
        {"I420", kSubtypeI420, SourceKind::Usb, 1, 2},
        {"MJPG", kSubtypeMJPG, SourceKind::Usb, 1, 2},
    };
    for (const auto& c : cases) {
        const auto [allocations, decoded] = CountStreamAllocations(c, kSamples);
        EXPECT_EQ(decoded, kSamples * c.fields) << c.name;
        EXPECT_EQ(allocations, 0) << c.name;
    }
}

// The codec allocates inside its own calls; the path around it adds nothing: the same count
// as reading the header and decoding the code stream directly.
TEST(PerSampleAllocations, JpegLsPathAddsNoneToTheCodecsOwn) {
    const PathCase c{"JPEG-LS", kSubtypeMJLS, SourceKind::Usb, 1, 2};
    const auto [viaStream, decoded] = CountStreamAllocations(c, kSamples);
    EXPECT_EQ(decoded, kSamples);

    zrf::sim::SampleSettings s;
    s.size = {64, 48};
    const auto picture = RampPicture(s.size);
    const auto sample = BuildSample(c, s, picture);
    const std::uint32_t length = Zrf::LoadBigEndian32(sample.data());
    std::vector<std::uint8_t> out(64 * 48 * 2);
    const long before = zrf::testing::AllocationCount();
    for (int i = 0; i < kSamples; ++i) {
        JlsParameters params;
        ASSERT_TRUE(ReadJpegLsHeader(sample.data() + 4, length, params));
        ASSERT_TRUE(DecodeJpegLs(out.data(), out.size(), sample.data() + 4, length, params));
    }
    const long bare = zrf::testing::AllocationCount() - before;
    EXPECT_EQ(viaStream, bare);
}

}  // namespace
