// Each simulated camera streaming through the platform's graph: what it delivers decodes in
// the image stream, and its control side acts on the samples.
#include <gtest/gtest.h>

#include "imaging/zrf_records.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"
#include "tests/sim/cameras/camera_capture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::CameraOptions;
using zrf::sim::Pacing;
using zrf::sim::SimulatedCamera;

constexpr long kSamples = 6;

std::unique_ptr<SimulatedCamera> FastCamera(const char* name, std::uint32_t seed = 1) {
    CameraOptions options;
    options.pacing = Pacing::AsFastAsPossible;
    options.seed = seed;
    auto camera = SimulatedCamera::FromPreset(name, options);
    EXPECT_NE(camera, nullptr) << name;
    return camera;
}

struct FormatCase {
    const char* camera;
    GUID subtype;
    StreamSetup setup;
    std::int32_t image_bytes;  // of one decoded image
};

constexpr std::int32_t kTwoBlocks = Zrf::kTwoBlockOverhead;
constexpr std::int32_t kVisualHeader = 28;

std::vector<FormatCase> EveryFormat() {
    using namespace zrf::sim;
    return {
        {"usb-ir",
         kSubtypeF7M0,
         {SourceKind::Usb, kSubtypeF7M0, {640, 480}},
         640 * 480 * 2 + kTwoBlocks},
        {"usb-ir",
         kSubtypeMJLS,
         {SourceKind::Usb, kSubtypeMJLS, {640, 480}},
         640 * 480 * 2 + kTwoBlocks},
        {"usb-ir",
         kSubtypeYUY2,
         {SourceKind::Usb, kSubtypeYUY2, {640, 480}},
         640 * 480 * 2 + kVisualHeader},
        {"usb-ir", kSubtypeMJPG, {SourceKind::Usb, kSubtypeMJPG, {640, 480}}, -1},
        {"usb-ir-jls",
         kSubtypeMJLS,
         {SourceKind::Usb, kSubtypeMJLS, {320, 240}},
         320 * 240 * 2 + kTwoBlocks},
        {"fw-ir",
         kSubtypeF7M2,
         {SourceKind::Ieee1394, kSubtypeF7M2, {640, 480}},
         640 * 480 * 2 + kTwoBlocks},
        {"fw-ir",
         kSubtypeF7M0,
         {SourceKind::Ieee1394, kSubtypeF7M0, {640, 480}},
         640 * 480 * 2 + kTwoBlocks},
        {"webcam",
         kSubtypeYUY2,
         {SourceKind::Usb, kSubtypeYUY2, {640, 480}},
         640 * 480 * 2 + kVisualHeader},
        {"webcam", kSubtypeMJPG, {SourceKind::Usb, kSubtypeMJPG, {640, 480}}, -1},
    };
}

TEST(CameraStreaming, EveryPresetFormatDecodesToOkImagesOfItsSize) {
    for (const FormatCase& c : EveryFormat()) {
        SCOPED_TRACE(c.camera);
        auto camera = FastCamera(c.camera);
        const auto samples = CaptureSamples(*camera, c.subtype, kSamples);
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(kSamples));
        for (const Sample& sample : samples) {
            const auto d = DecodeSample(c.setup, sample);
            ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
            // A JPEG's image is the sample itself.
            const std::int32_t expected =
                c.image_bytes > 0 ? c.image_bytes : static_cast<std::int32_t>(sample.size());
            EXPECT_EQ(d.size, expected);
        }
    }
}

// The camera's own stamp advances with the frame and is never zero.
TEST(CameraStreaming, RadiometricImagesCarryTheCamerasMovingTimeStamp) {
    auto camera = FastCamera("usb-ir");
    const auto samples = CaptureSamples(*camera, zrf::sim::kSubtypeF7M0, 31);
    const StreamSetup setup{SourceKind::Usb, zrf::sim::kSubtypeF7M0, {640, 480}};
    auto stamp = [&](const Sample& sample) {
        const auto d = DecodeSample(setup, sample);
        EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        const std::uint8_t* info = d.images[0].data() + 128;
        return std::uint64_t{Zrf::Load<std::uint32_t>(info + Zrf::Info::kSeconds)} * 1000 +
               Zrf::Load<std::uint32_t>(info + Zrf::Info::kMilliseconds);
    };
    const std::uint64_t first = stamp(samples.front());
    EXPECT_GT(first, 0u);
    // 30 frames at 30 per second: one second later.
    EXPECT_EQ(stamp(samples.back()) - first, 999u);
}

TEST(CameraStreaming, CorrectionMakesExactlyTheConfiguredSamplesCalibrating) {
    const struct {
        const char* camera;
        GUID subtype;
        StreamSetup setup;
    } cases[] = {
        {"usb-ir", zrf::sim::kSubtypeF7M0, {SourceKind::Usb, zrf::sim::kSubtypeF7M0, {640, 480}}},
        {"usb-ir-jls",
         zrf::sim::kSubtypeMJLS,
         {SourceKind::Usb, zrf::sim::kSubtypeMJLS, {320, 240}}},
        {"fw-ir",
         zrf::sim::kSubtypeF7M2,
         {SourceKind::Ieee1394, zrf::sim::kSubtypeF7M2, {640, 480}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.camera);
        auto camera = FastCamera(c.camera);
        const int calibrating = camera->Tree()->Settings().samplesPerCorrection;
        ASSERT_GT(calibrating, 0);
        camera->Tree()->Nuc();
        const auto samples = CaptureSamples(*camera, c.subtype, calibrating + 4);
        std::vector<DecodeResult> results;
        for (const Sample& sample : samples)
            results.push_back(DecodeSample(c.setup, sample).results.at(0));
        std::vector<DecodeResult> expected(samples.size(), DecodeResult::Ok);
        std::fill_n(expected.begin(), calibrating, DecodeResult::Calibrating);
        EXPECT_EQ(results, expected);
    }
}

TEST(CameraStreaming, WindowingPacksThatManyFieldsThatDecodeOneByOne) {
    for (const std::int32_t fields : {2, 4}) {
        SCOPED_TRACE(fields);
        auto camera = FastCamera("fw-ir");
        camera->Tree()->Set(zrf::sim::nodes::kWindowingFields, fields);
        camera->Tree()->Set(zrf::sim::nodes::kWindowingActive, true);
        const auto samples = CaptureSamples(*camera, zrf::sim::kSubtypeF7M2, 2);
        const StreamSetup setup{SourceKind::Ieee1394, zrf::sim::kSubtypeF7M2, {640, 480}, fields};
        for (const Sample& sample : samples) {
            const auto d = DecodeSample(setup, sample);
            ASSERT_EQ(d.results, std::vector<DecodeResult>(static_cast<std::size_t>(fields),
                                                           DecodeResult::Ok));
            EXPECT_EQ(d.size, 640 * (480 / fields) * 2 + kTwoBlocks);
            // Each field holds its own rows of the picture.
            for (std::int32_t k = 0; k < fields; ++k) {
                const std::uint8_t* pixels = d.images[k].data() + kTwoBlocks;
                const std::size_t row = static_cast<std::size_t>(480 / fields) * k;
                EXPECT_EQ(0, std::memcmp(pixels, sample.data() + row * 640 * 2, 640 * 2)) << k;
            }
        }
    }
}

TEST(CameraStreaming, SameSeedGivesIdenticalSamplesAnotherSeedOthers) {
    auto content = [](std::uint32_t seed, const GUID& subtype) {
        auto camera = FastCamera("usb-ir", seed);
        return CaptureSamples(*camera, subtype, 4);
    };
    for (const GUID& subtype : {zrf::sim::kSubtypeF7M0, zrf::sim::kSubtypeMJLS}) {
        const auto first = content(7, subtype);
        EXPECT_EQ(first, content(7, subtype));
        EXPECT_NE(first, content(8, subtype));
        // The scene moves from frame to frame.
        EXPECT_NE(first[0], first[3]);
    }
}

TEST(CameraStreaming, TwoCamerasOfOnePresetLiveSideBySide) {
    CameraOptions options;
    options.pacing = Pacing::AsFastAsPossible;
    auto first = SimulatedCamera::FromPreset("usb-ir", options);
    options.device_path = L"\\\\?\\usb#vid_2f1e&pid_0a10&mi_00#7&second&0&0000#global";
    auto second = SimulatedCamera::FromPreset("usb-ir", options);
    ASSERT_NE(first->HostName(), second->HostName());
    EXPECT_EQ(zrf::sim::TreeRegistry::Find(second->HostName()), second->Tree());
    EXPECT_EQ(CaptureSamples(*first, zrf::sim::kSubtypeF7M0, 3),
              CaptureSamples(*second, zrf::sim::kSubtypeF7M0, 3));
}

}  // namespace
