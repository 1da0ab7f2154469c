// A simulated thermal camera sends prepared samples again: every frame must still be what a
// camera that built it from scratch would send (the prepared sample's scene, the frame's own
// time and calibrating flag, the tree's range and windowing), and a seed's first frames are
// exactly the scene's own.
#include "sim/cameras/thermal_sample_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sim/cameras/camera_presets.h"
#include "sim/control/resource_tree.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/format_blocks.h"
#include "sim/video/fourcc.h"

using namespace zrf::sim;

namespace {

struct Case {
    const char* preset;
    char subtype[5];  // the format's four characters
};

const Case kCases[] = {{"usb-ir", "F7M0"}, {"usb-ir", "MJLS"},     {"usb-ir", "YUY2"},
                       {"usb-ir", "MJPG"}, {"usb-ir-jls", "MJLS"}, {"fw-ir", "F7M2"},
                       {"fw-ir", "F7M0"}};

struct Camera {
    CameraPreset preset;
    VideoFormat format;
    std::shared_ptr<ResourceTree> tree;
    std::unique_ptr<ThermalSampleSource> source;

    explicit Camera(const Case& c) {
        preset = *FindCameraPreset(c.preset);
        for (const auto& f : preset.video.formats)
            if (f.subtype == FourCCSubtype(c.subtype)) format = f;
        EXPECT_GT(format.width, 0) << c.preset << " has no " << c.subtype;
        if (preset.tree) tree = std::make_shared<ResourceTree>(*preset.tree);
        ThermalSourceSettings content = preset.content;
        content.tree = tree;
        source = std::make_unique<ThermalSampleSource>(preset.video.formats, content);
    }
    std::vector<std::uint8_t> Sample(std::uint64_t frame) {
        const auto type = MediaTypeFor(format, format.frame_intervals.front());
        std::vector<std::uint8_t> out(source->Capacity(type.Get()));
        out.resize(source->Fill(type.Get(), frame, out.data(), out.size()));
        return out;
    }
};

// The tree changes a host makes while streaming, at some frames.
struct Event {
    std::uint64_t frame;
    std::function<void(ResourceTree&)> apply;
};

}  // namespace

TEST(ThermalSampleSource, EveryFrameIsWhatAFreshlyBuiltSampleOfItsPreparedSceneWouldBe) {
    const std::vector<Event> events = {
        {36, [](ResourceTree& t) { t.Nuc(); }},
        {50, [](ResourceTree& t) { t.Set(nodes::kRangeIndex, std::int32_t{1}); }},
        {75, [](ResourceTree& t) { t.Set(nodes::kRangeIndex, std::int32_t{0}); }},
        {80,
         [](ResourceTree& t) {
             if (std::get<bool>(t.Get(nodes::kWindowingAvailable))) {
                 t.Set(nodes::kWindowingFields, std::int32_t{2});
                 t.Set(nodes::kWindowingActive, true);
             }
         }},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.preset) + " " + c.subtype);
        Camera streaming(c);
        // The fresh cameras share one tree that sees the same changes and samples.
        Camera model(c);
        for (std::uint64_t frame = 0; frame < 100; ++frame) {
            for (const Event& e : events) {
                if (e.frame == frame && streaming.tree) {
                    e.apply(*streaming.tree);
                    e.apply(*model.tree);
                }
            }
            const auto sent = streaming.Sample(frame);
            ThermalSourceSettings content = model.preset.content;
            content.tree = model.tree;
            model.source =
                std::make_unique<ThermalSampleSource>(model.preset.video.formats, content);
            const auto fresh = model.Sample(frame);
            ASSERT_FALSE(sent.empty());
            ASSERT_EQ(sent, fresh) << "frame " << frame;
        }
    }
}

TEST(ThermalSampleSource, ASeedsFirstFramesAreTheScenesOwnAndLaterOnesGoBackAndForth) {
    Camera camera({"usb-ir", "F7M0"});
    const ImageSize picture = ThermalSampleSource::PictureSize(
        CameraBus::Usb, camera.format.subtype, camera.format.width, camera.format.height);
    ThermalScene scene(picture, camera.preset.content.seed);
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(picture.width) * picture.height);
    const REFERENCE_TIME interval = camera.format.frame_intervals.front();
    for (std::uint64_t frame : {0ull, 1ull, 31ull, 32ull, 61ull, 62ull, 93ull, 1000000ull}) {
        SCOPED_TRACE(frame);
        const std::uint64_t shown = ThermalSampleSource::PreparedIndex(frame);
        EXPECT_LT(shown, ThermalSampleSource::kPreparedSamples);
        if (frame < ThermalSampleSource::kPreparedSamples) {
            EXPECT_EQ(shown, frame);
        }
        scene.Render(shown, pixels.data());
        SampleSettings s;
        s.size = picture;
        const std::uint64_t ms = frame * static_cast<std::uint64_t>(interval) / 10000;
        s.seconds = 1'700'000'000 + static_cast<std::uint32_t>(ms / 1000);
        s.milliseconds = static_cast<std::uint32_t>(ms % 1000);
        s.frameRate = static_cast<float>(1e7 / static_cast<double>(interval));
        s.pixelByteOrder = camera.preset.content.pixel_byte_order;
        std::vector<std::uint8_t> expected;
        BuildUsbRawSample(pixels.data(), s, expected);
        EXPECT_EQ(camera.Sample(frame), expected);
    }
    // Going back and forth: neighbouring frames never jump across the whole path.
    EXPECT_EQ(ThermalSampleSource::PreparedIndex(31), 31u);
    EXPECT_EQ(ThermalSampleSource::PreparedIndex(32), 30u);
    EXPECT_EQ(ThermalSampleSource::PreparedIndex(61), 1u);
    EXPECT_EQ(ThermalSampleSource::PreparedIndex(62), 0u);
    EXPECT_EQ(ThermalSampleSource::PreparedIndex(63), 1u);
}
