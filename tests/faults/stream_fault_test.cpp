// Samples that lie, straight into the image source stream: cut at every length, padded, with
// every header and index word replaced by sizes and counts that cannot be, and changed at
// random. A sample either gives the very image its intact form gives, or none; the stream never
// asks for an absurd buffer and never reads or writes outside the sample and the buffer it was
// sized for (these tests also run under AddressSanitizer).
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/img_src_stream.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/stream_harness.h"

namespace {

using ImagingTest::Delivery;
using Sample = std::vector<std::uint8_t>;

// No sample of these cameras needs more than this for one field.
constexpr std::int32_t kSaneBufferSize = 1 << 20;

struct Camera {
    const char* name;
    ImagingTest::Path path;
    std::int32_t fields;
};

class LyingSampleTest : public ::testing::TestWithParam<Camera> {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        settings_.size = {16, 8};
        settings_.fieldCount = GetParam().fields;
        intact_ = ImagingTest::BuildSample(GetParam().path, picture_, settings_);
        reference_ = Decode(intact_);
        ASSERT_EQ(reference_.results,
                  std::vector<DecodeResult>(GetParam().fields, DecodeResult::Ok));
    }

    // Sized and decoded as the device does, in buffers of exactly the size asked for.
    Delivery Decode(const Sample& sample) {
        ImgSrcStream stream;  // fresh: nothing cached from the sample before
        ImagingTest::Use(stream, GetParam().path, GetParam().fields);
        stream.SetHostTimeStamps(false);
        const Delivery d = ImagingTest::Deliver(stream, sample, settings_.size);
        EXPECT_LE(d.size, kSaneBufferSize) << "a lying sample sized an absurd buffer";
        return d;
    }
    static bool Decoded(const Delivery& d) {
        return !d.results.empty() && d.results.back() == DecodeResult::Ok;
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = ImagingTest::RampPicture({16, 8});
    Sample intact_;
    Delivery reference_;
};

// A cut sample gives the intact sample's image or none at all: nothing in between.
TEST_P(LyingSampleTest, CutGivesTheImageOrNonePaddedTheImage) {
    for (std::size_t length = 0; length < intact_.size() && !HasFailure(); ++length) {
        const Delivery d = Decode(Sample(intact_.begin(), intact_.begin() + length));
        if (Decoded(d)) {
            EXPECT_EQ(d.images, reference_.images) << "cut at " << length;
        }
    }
    // Bytes behind the layout are not part of it.
    std::mt19937 random(7);
    for (std::size_t pad : {1u, 3u, 64u, 4096u}) {
        Sample padded = intact_;
        for (std::size_t i = 0; i < pad; ++i) padded.push_back(static_cast<std::uint8_t>(random()));
        const Delivery d = Decode(padded);
        EXPECT_EQ(d.results, reference_.results) << "padded by " << pad;
        EXPECT_EQ(d.images, reference_.images) << "padded by " << pad;
    }
}

// Every aligned word outside the pixels in turn says a size, count or offset that cannot be,
// then bytes anywhere change at random. Such a sample must not crash or stray; what it decodes
// to is up to its lies.
TEST_P(LyingSampleTest, WordsThatLieAboutSizesAndRandomlyChangedBytes) {
    const std::size_t pixels =
        static_cast<std::size_t>(settings_.size.width) * settings_.size.height * 2;
    const std::uint32_t length = static_cast<std::uint32_t>(intact_.size());
    const std::uint32_t lies[] = {0,      1,          0x7FFF,     0x8000,     0xFFFF,
                                  length, length + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    // Where the layout is (JPEG-LS: the code stream comes first), every word may lie.
    const std::size_t first = GetParam().path == ImagingTest::kUsbJpegLs ? 0 : pixels;
    for (std::size_t at = first; at + 4 <= intact_.size() && !HasFatalFailure(); at += 2) {
        for (std::uint32_t lie : lies) {
            for (bool bigEndian : {false, true}) {
                Sample s = intact_;
                const std::uint32_t v = bigEndian ? __builtin_bswap32(lie) : lie;
                std::memcpy(s.data() + at, &v, 4);
                Decode(s);
            }
        }
    }
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> where(0, intact_.size() - 1);
    for (int round = 0; round < 3000 && !HasFatalFailure(); ++round) {
        Sample s = intact_;
        const int changes = 1 + static_cast<int>(random() % 16);
        for (int i = 0; i < changes; ++i) s[where(random)] = static_cast<std::uint8_t>(random());
        Decode(s);
    }
}

INSTANTIATE_TEST_SUITE_P(Cameras, LyingSampleTest,
                         ::testing::Values(Camera{"UsbRaw", ImagingTest::kUsbRaw, 1},
                                           Camera{"UsbRawTwoFields", ImagingTest::kUsbRaw, 2},
                                           Camera{"UsbJpegLs", ImagingTest::kUsbJpegLs, 1},
                                           Camera{"Ieee1394", ImagingTest::kIeee1394, 1},
                                           Camera{"Ieee1394FourFields", ImagingTest::kIeee1394, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
