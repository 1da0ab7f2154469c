// Per-sample work must not allocate: every allocation of this executable is counted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "imaging/jpegls_codec.h"
#include "tests/imaging/counting_new.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;

constexpr int kSamples = 200;

struct Target {
    ImgSrcStream* stream;
    std::vector<std::uint8_t>* out;
    int fields;
    int ok;
};
Target g_target;

void DecodeAllFields() {
    const std::int32_t size = g_target.stream->GetImageBufferSize();
    if (size <= 0 || static_cast<std::size_t>(size) > g_target.out->size()) return;
    for (int k = 0; k < g_target.fields; ++k)
        g_target.ok += g_target.stream->DecodeImage(k, g_target.out->data()) == DecodeResult::Ok;
}

// The JPEG-LS codec allocates inside its own calls: what reading the header and decoding the
// code stream directly allocate, kSamples times.
long CodecAllocations(const Sample& sample) {
    const std::uint32_t length = Zrf::LoadBigEndian32(sample.data());
    std::vector<std::uint8_t> out(64 * 48 * 2);
    const long before = g_allocations.load();
    for (int i = 0; i < kSamples; ++i) {
        JlsParameters params;
        if (!ReadJpegLsHeader(sample.data() + 4, length, params) ||
            !DecodeJpegLs(out.data(), out.size(), sample.data() + 4, length, params))
            return -1;
    }
    return g_allocations.load() - before;
}

// Every path adds nothing to what the codec itself allocates.
TEST(PerSampleAllocations, NoneOnAnyOwnPath) {
    const std::tuple<const char*, Path, int, std::uint16_t> cases[] = {
        // fields, byte order
        {"USB raw", kUsbRaw, 1, 2},
        {"USB raw, swapped pixels", kUsbRaw, 1, 1},
        {"USB raw, 2 fields", kUsbRaw, 2, 2},
        {"JPEG-LS", kUsbJpegLs, 1, 2},
        {"IEEE-1394", kIeee1394, 1, 2},
        {"IEEE-1394, 4 fields", kIeee1394, 4, 2},
        {"YUY2", kYuy2, 1, 2},
        {"I420", kI420, 1, 2},
        {"MJPG", kMjpg, 1, 2},
    };
    for (const auto& [name, path, fields, byteOrder] : cases) {
        zrf::sim::SampleSettings s;
        s.size = {64, 48};
        s.fieldCount = fields;
        s.pixelByteOrder = byteOrder;
        const Sample sample = BuildSample(path, RampPicture(s.size), s);
        ImgSrcStream stream;
        Use(stream, path, fields);
        stream.SetNewImageCallback(&DecodeAllFields);
        std::vector<std::uint8_t> out(1 << 20);
        g_target = {&stream, &out, fields, 0};
        const auto deliver = [&] {
            stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), s.size);
        };
        deliver();  // the first sample may start the clock: count from the second on
        g_target.ok = 0;
        const long before = g_allocations.load();
        for (int i = 0; i < kSamples; ++i) deliver();
        const long allocations = g_allocations.load() - before;
        EXPECT_EQ(g_target.ok, kSamples * fields) << name;
        EXPECT_EQ(allocations, path == kUsbJpegLs ? CodecAllocations(sample) : 0) << name;
    }
}

}  // namespace
