// The replay camera takes recordings from the user: what is not a recording of delivered ZRF
// images of one size is refused with its reason, and what is comes back sample by sample.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/recorder/recording_file.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/replay_sample_source.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/control/resource_tree.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/format_blocks.h"
#include "sim/video/video_presets.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace zrf::sim;
using Sample = std::vector<std::uint8_t>;

// Decoded as the device decodes a USB radiometric sample, keeping the camera's own stamps.
ImagingTest::Delivery Decode(const Sample& sample, ImageSize size) {
    ImgSrcStream stream;
    stream.SetSourceKind(SourceKind::Usb);
    stream.SetSubtype(kSubtypeF7M0);
    stream.SetFrameRate(30.0f);
    stream.SetHostTimeStamps(false);
    return ImagingTest::Deliver(stream, sample, size);
}

// A camera's image of the given size as the stream delivers it.
Sample DeliveredImage(ImageSize size, std::uint32_t extra_block = 0, bool pixel_entry_first = false,
                      std::uint16_t base = 7000) {
    SampleSettings s;
    s.size = size;
    s.extraBlockBytes = extra_block;
    s.pixelEntryFirst = pixel_entry_first;
    std::vector<std::uint16_t> picture(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint16_t>(base + i * 7 % 901);
    Sample sample;
    BuildUsbRawSample(picture.data(), s, sample);
    const auto d = Decode(sample, size);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    return d.images.at(0);
}

TEST(UsbSampleFromImage, SampleDecodesToTheSameImage) {
    const struct {
        ImageSize size;
        std::uint32_t extra;
        bool pixel_first;
    } cases[] = {
        {{64, 48}, 0, false}, {{64, 48}, 300, false}, {{40, 30}, 0, true}, {{2000, 4}, 5000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size.width);
        const Sample image = DeliveredImage(c.size, c.extra, c.pixel_first);
        UsbSampleShape shape;
        std::string why;
        ASSERT_TRUE(MeasureUsbSample(image.data(), image.size(), shape, why)) << why;
        EXPECT_EQ(shape.picture, c.size);
        Sample sample(shape.sample_bytes, 0xAB);
        WriteUsbSample(image.data(), shape, sample.data());
        const auto d = Decode(sample, shape.picture);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        EXPECT_TRUE(d.images[0] == image);
    }
}

TEST(UsbSampleFromImage, RefusesWhatIsNotACompleteDeliveredImage) {
    const Sample good = DeliveredImage({32, 16});
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Sample image = good;
        image[at] = value;
        return image;
    };
    Sample longer = good;
    longer.push_back(0);
    const struct {
        Sample image;
        const char* reason;
    } cases[] = {
        {Sample(28 + 32 * 16 * 2, 0x40), "not a ZRF image"},  // a visual frame
        {Sample(good.begin(), good.begin() + 40), "not a ZRF image"},
        {Sample(good.begin(), good.end() - 1), "blocks do not follow"},
        {longer, "bytes after its last block"},
        {changed(28, 0x7F), "damaged index"},              // big-endian entry count: absurd
        {changed(64 + 12, 0xFF), "blocks do not follow"},  // a block far beyond the image
        {changed(128 + Zrf::Info::kGeometryWidth, 33), "do not match its geometry"},
        {Sample(good.begin(), good.begin() + 64 + 16), "damaged index"},
    };
    for (const auto& c : cases) {
        UsbSampleShape shape;
        std::string why;
        EXPECT_FALSE(MeasureUsbSample(c.image.data(), c.image.size(), shape, why)) << c.reason;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

class ReplayInput : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(path_); }

    void Write(const std::vector<Sample>& images) {
        Vorn::Zephra::Net::Devices::Recorder::RecordingWriter writer(path_, 1, 0);
        std::uint64_t frame = 0;
        for (const Sample& image : images) {
            ASSERT_TRUE(writer.Append(frame, static_cast<std::int64_t>(frame), image.data(),
                                      static_cast<std::uint32_t>(image.size())));
            ++frame;
        }
    }
    // A refused recording leaves no camera behind, neither side.
    void ExpectRefused(const std::string& reason) {
        std::unique_ptr<SimulatedCamera> camera;
        std::string error;
        EXPECT_TRUE(FAILED(SimulatedCamera::Replay(path_, ReplayOptions{}, camera, error)));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(camera, nullptr);
        EXPECT_EQ(TreeRegistry::Find(ReplayIdentity().hostname), nullptr);
    }

    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("sim_replay_" + std::to_string(::getpid()) + ".zrec"))
                            .string();
};

TEST_F(ReplayInput, MissingEmptyVisualAndMixedRecordingsAreRefused) {
    ExpectRefused(path_);  // no file yet
    Write({});
    ExpectRefused("no complete frame");
    Write({Sample(28 + 64 * 48 * 2, 0x55)});
    ExpectRefused("only radiometric recordings");
    Write({DeliveredImage({64, 48}), DeliveredImage({32, 48})});
    ExpectRefused("differs in size");
}

TEST_F(ReplayInput, ImagesComeBackInALoopAndCalibrateAfterACorrection) {
    const std::vector<Sample> recorded = {DeliveredImage({32, 16}, 0, false, 7000),
                                          DeliveredImage({32, 16}, 0, false, 9000)};
    Write(recorded);
    std::shared_ptr<ReplaySampleSource> source;
    std::string error;
    ASSERT_EQ(S_OK, ReplaySampleSource::Open(path_, ReplaySettings{}, source, error)) << error;
    auto tree = std::make_shared<ResourceTree>();
    source->SetTree(tree);
    const auto type = MediaTypeFor(source->Format());
    auto next = [&, frame = std::uint64_t{0}]() mutable {
        Sample sample(source->Capacity(type.Get()));
        sample.resize(source->Fill(type.Get(), frame++, sample.data(), sample.size()));
        return Decode(sample, source->PictureSize());
    };
    for (std::size_t i = 0; i < 5; ++i) {
        const auto d = next();
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        EXPECT_TRUE(d.images[0] == recorded[i % 2]) << i;
    }
    tree->Nuc();
    for (int i = 0; i < tree->Settings().samplesPerCorrection; ++i)
        EXPECT_EQ(next().results, std::vector<DecodeResult>{DecodeResult::Calibrating}) << i;
    EXPECT_EQ(next().results, std::vector<DecodeResult>{DecodeResult::Ok});
}

}  // namespace
