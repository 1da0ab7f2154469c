// Samples that lie, straight into the image source stream: cut at every length, padded, with
// every header and index word replaced by sizes and counts that cannot be, and changed at
// random. A sample either gives the very image its intact form gives, or none; the stream never
// asks for an absurd buffer and never reads or writes outside the sample and the buffer it was
// sized for (these tests also run under AddressSanitizer).
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "platform/time/test_clock.h"
#include "sim/samples/camera_samples.h"
#include "tests/imaging/stream_harness.h"

namespace {

using Sample = std::vector<std::uint8_t>;

// What one sample gave: the image of every field while they decode, and how it ended.
struct Outcome {
    bool sized = false;  // the stream gave a usable buffer size
    DecodeResult last = DecodeResult::Ok;
    std::vector<Sample> images;
    bool operator==(const Outcome&) const = default;
};

// No sample of these cameras needs more than this for one field.
constexpr std::int32_t kSaneBufferSize = 1 << 20;

thread_local ImgSrcStream* t_stream = nullptr;
thread_local Outcome* t_outcome = nullptr;
thread_local std::int32_t t_fields = 1;

void OnImage() {
    Outcome& o = *t_outcome;
    const std::int32_t size = t_stream->GetImageBufferSize();
    ASSERT_LE(size, kSaneBufferSize) << "a lying sample sized an absurd buffer";
    if (size <= 0) {
        o.last = DecodeResult::BadFrame;
        return;
    }
    o.sized = true;
    for (std::int32_t field = 0; field < t_fields; ++field) {
        Sample out(static_cast<std::size_t>(size));  // exactly sized: a stray write is caught
        o.last = t_stream->DecodeImage(field, out.data());
        if (o.last != DecodeResult::Ok) return;
        o.images.push_back(std::move(out));
    }
}

struct Camera {
    const char* name;
    GUID subtype;
    SourceKind kind;
    std::int32_t fields;
    std::function<void(const std::uint16_t*, const zrf::sim::SampleSettings&, Sample&)> build;
};

class LyingSampleTest : public ::testing::TestWithParam<Camera> {
  protected:
    void SetUp() override {
        clock_.SetWallClock(1'650'000'000, 0);
        settings_.size = {16, 8};
        settings_.fieldCount = GetParam().fields;
        GetParam().build(picture_.data(), settings_, intact_);
        reference_ = Decode(intact_);
        ASSERT_EQ(reference_.last, DecodeResult::Ok);
        ASSERT_EQ(reference_.images.size(), static_cast<std::size_t>(GetParam().fields));
    }

    Outcome Decode(const Sample& sample) {
        ImgSrcStream stream;  // fresh: nothing cached from the sample before
        stream.SetSourceKind(GetParam().kind);
        stream.SetSubtype(GetParam().subtype);
        stream.SetFrameRate(30.0f);
        stream.SetHostTimeStamps(false);
        stream.SetFieldCount(GetParam().fields);
        Outcome outcome;
        t_stream = &stream;
        t_outcome = &outcome;
        t_fields = GetParam().fields;
        stream.SetNewImageCallback(&OnImage);
        // The graph hands over a sample in a buffer of exactly its length.
        Sample exact(sample);
        stream.OnNewSample(exact.empty() ? nullptr : exact.data(),
                           static_cast<std::int32_t>(exact.size()), settings_.size);
        stream.SetNewImageCallback(nullptr);
        return outcome;
    }

    Platform::TestClock clock_;
    Platform::TestClockScope scope_{clock_};
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_ = ImagingTest::RampPicture({16, 8});
    Sample intact_;
    Outcome reference_;
};

// A cut sample gives the intact sample's image or none at all: nothing in between.
TEST_P(LyingSampleTest, CutGivesTheImageOrNonePaddedTheImage) {
    for (std::size_t length = 0; length < intact_.size() && !HasFailure(); ++length) {
        const Outcome o = Decode(Sample(intact_.begin(), intact_.begin() + length));
        if (o.last == DecodeResult::Ok)
            EXPECT_EQ(o.images, reference_.images) << "cut at " << length;
    }
    // Bytes behind the layout are not part of it.
    std::mt19937 random(7);
    for (std::size_t pad : {1u, 3u, 64u, 4096u}) {
        Sample padded = intact_;
        for (std::size_t i = 0; i < pad; ++i) padded.push_back(static_cast<std::uint8_t>(random()));
        EXPECT_EQ(Decode(padded), reference_) << "padded by " << pad;
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
    const std::size_t first = GetParam().subtype == kSubtypeMJLS ? 0 : pixels;
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

INSTANTIATE_TEST_SUITE_P(
    Cameras, LyingSampleTest,
    ::testing::Values(
        Camera{"UsbRaw", kSubtypeF7M0, SourceKind::Usb, 1, zrf::sim::BuildUsbRawSample},
        Camera{"UsbRawTwoFields", kSubtypeF7M0, SourceKind::Usb, 2, zrf::sim::BuildUsbRawSample},
        Camera{"UsbJpegLs", kSubtypeMJLS, SourceKind::Usb, 1,
               [](const std::uint16_t* p, const zrf::sim::SampleSettings& s, Sample& out) {
                   ASSERT_TRUE(zrf::sim::BuildUsbJpegLsSample(p, s, out));
               }},
        Camera{"Ieee1394", kSubtypeF7M2, SourceKind::Ieee1394, 1, zrf::sim::BuildIeee1394Sample},
        Camera{"Ieee1394FourFields", kSubtypeF7M2, SourceKind::Ieee1394, 4,
               zrf::sim::BuildIeee1394Sample}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
