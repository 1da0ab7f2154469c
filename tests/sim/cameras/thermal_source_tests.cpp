// The thermal content source on its own, sample by sample, without a graph.
#include <gtest/gtest.h>

#include <numeric>

#include "imaging/zrf_records.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/control/resource_tree.h"
#include "sim/video/format_blocks.h"
#include "sim/video/video_presets.h"
#include "tests/sim/cameras/camera_capture.h"

namespace {

using namespace zrf::sim;
using zrf::testing::DecodeSample;
using zrf::testing::Sample;
using zrf::testing::StreamSetup;

Sample Fill(ThermalSampleSource& source, const VideoFormat& format, std::uint64_t frame) {
    const auto type = MediaTypeFor(format);
    Sample sample(source.Capacity(type.Get()), 0xEE);
    const std::size_t length = source.Fill(type.Get(), frame, sample.data(), sample.size());
    EXPECT_LE(length, sample.size());
    sample.resize(length);
    return sample;
}

const VideoFormat& FormatOf(const CameraPreset& preset, const GUID& subtype) {
    for (const VideoFormat& format : preset.video.formats) {
        if (format.subtype == subtype) return format;
    }
    throw std::logic_error("format not offered");
}

double MeanPixel(const Sample& sample, std::size_t pixels) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < pixels; ++i) sum += Zrf::Load<std::uint16_t>(sample.data() + 2 * i);
    return static_cast<double>(sum) / static_cast<double>(pixels);
}

TEST(ThermalSampleSource, EveryFormatFitsTheCapacityItAnnounces) {
    for (const CameraPreset& preset : CameraPresets()) {
        ThermalSampleSource source(preset.video.formats, preset.content);
        for (const VideoFormat& format : preset.video.formats) {
            SCOPED_TRACE(preset.name);
            // A full-noise picture is the JPEG-LS worst case the slack must cover.
            for (std::uint64_t frame : {0u, 1u, 1000u})
                EXPECT_GT(Fill(source, format, frame).size(), 0u);
        }
    }
}

TEST(ThermalSampleSource, I420CameraGivesDecodablePlanarSamples) {
    const VideoFormat i420{FourCCSubtype("I420"), 160, 120, 12, 0, {333333}};
    ThermalSampleSource source({i420}, ThermalSourceSettings{});
    const Sample sample = Fill(source, i420, 4);
    ASSERT_EQ(sample.size(), 160u * 120 * 3 / 2);
    const auto d = DecodeSample(StreamSetup{SourceKind::Usb, i420.subtype, {160, 120}}, sample);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
}

TEST(ThermalSampleSource, ATypeNoFormatNamesGetsAnEmptySample) {
    const auto preset = *FindCameraPreset("usb-ir-jls");
    ThermalSampleSource source(preset.video.formats, preset.content);
    VideoFormat other{kSubtypeMJLS, 640, 480, 16, 0, {333333}};
    const auto type = MediaTypeFor(other);
    Sample buffer(1 << 20);
    EXPECT_EQ(source.Fill(type.Get(), 0, buffer.data(), buffer.size()), 0u);
    // Too small a buffer is not overrun.
    const auto own = MediaTypeFor(preset.video.formats[0]);
    EXPECT_EQ(source.Fill(own.Get(), 0, buffer.data(), 100), 0u);
}

TEST(ThermalSampleSource, HigherTemperatureRangeLowersTheCounts) {
    auto preset = *FindCameraPreset("usb-ir");
    auto tree = std::make_shared<zrf::sim::ResourceTree>(*preset.tree);
    auto settings = preset.content;
    settings.tree = tree;
    ThermalSampleSource source(preset.video.formats, settings);
    const VideoFormat& format = FormatOf(preset, kSubtypeF7M0);
    const double low = MeanPixel(Fill(source, format, 3), 640 * 480);
    tree->Set(zrf::sim::nodes::kRangeIndex, std::int32_t{1});
    const double high = MeanPixel(Fill(source, format, 3), 640 * 480);
    EXPECT_LT(high, low - 500);
    EXPECT_GT(high, 4096);
}

TEST(ThermalSampleSource, SwappedPixelOrderDecodesToTheSamePicture) {
    auto preset = *FindCameraPreset("usb-ir");
    ThermalSampleSource host(preset.video.formats, preset.content);
    auto swapped_settings = preset.content;
    swapped_settings.pixel_byte_order = Zrf::kPixelsSwapped;
    ThermalSampleSource swapped(preset.video.formats, swapped_settings);
    for (const GUID& subtype : {kSubtypeF7M0, kSubtypeMJLS}) {
        const StreamSetup setup{SourceKind::Usb, subtype, {640, 480}};
        const Sample a = Fill(host, FormatOf(preset, subtype), 2);
        const Sample b = Fill(swapped, FormatOf(preset, subtype), 2);
        EXPECT_NE(a, b);
        const auto da = DecodeSample(setup, a);
        const auto db = DecodeSample(setup, b);
        ASSERT_EQ(da.results, std::vector<DecodeResult>{DecodeResult::Ok});
        ASSERT_EQ(db.results, std::vector<DecodeResult>{DecodeResult::Ok});
        EXPECT_TRUE(da.images[0] == db.images[0]);
    }
}

}  // namespace
