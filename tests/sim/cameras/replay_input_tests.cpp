// Recordings and images the replay camera is given are input: what is not a delivered ZRF image
// is refused with a reason, and what is gives the camera's sample back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/recorder/recording_file.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/control/resource_tree.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/video_presets.h"
#include "tests/sim/cameras/camera_capture.h"

namespace {

using namespace zrf::sim;
using Vorn::Zephra::Net::Devices::Recorder::RecordingWriter;
using zrf::testing::DecodeSample;
using zrf::testing::Sample;
using zrf::testing::StreamSetup;

std::vector<std::uint16_t> Picture(ImageSize size, std::uint16_t base) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint16_t>(base + i * 7 % 901);
    return p;
}

// A camera's image of the given size, decoded as the stream delivers it.
Sample DeliveredImage(ImageSize size, std::uint32_t extra_block = 0, bool pixel_entry_first = false,
                      std::uint16_t base = 7000) {
    zrf::sim::SampleSettings s;
    s.size = size;
    s.extraBlockBytes = extra_block;
    s.pixelEntryFirst = pixel_entry_first;
    Sample sample;
    zrf::sim::BuildUsbRawSample(Picture(size, base).data(), s, sample);
    const auto d = DecodeSample(StreamSetup{SourceKind::Usb, kSubtypeF7M0, size}, sample);
    EXPECT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
    return d.images.at(0);
}

bool Measure(const Sample& image, UsbSampleShape& shape, std::string& why) {
    return MeasureUsbSample(image.data(), image.size(), shape, why);
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
        ASSERT_TRUE(Measure(image, shape, why)) << why;
        EXPECT_EQ(shape.picture, c.size);
        Sample sample(shape.sample_bytes, 0xAB);
        WriteUsbSample(image.data(), shape, sample.data());
        const auto d =
            DecodeSample(StreamSetup{SourceKind::Usb, kSubtypeF7M0, shape.picture}, sample);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        EXPECT_TRUE(d.images[0] == image);
    }
}

TEST(UsbSampleFromImage, RefusesWhatIsNotACompleteDeliveredImage) {
    const Sample good = DeliveredImage({32, 16});
    UsbSampleShape shape;
    std::string why;
    ASSERT_TRUE(Measure(good, shape, why));

    auto refused = [&](Sample image, const char* reason) {
        why.clear();
        EXPECT_FALSE(Measure(image, shape, why)) << reason;
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    };
    Sample visual(28 + 32 * 16 * 2, 0x40);  // a visual frame's header and pixels
    refused(visual, "not a ZRF image");
    refused(Sample(good.begin(), good.begin() + 40), "not a ZRF image");
    refused(Sample(good.begin(), good.end() - 1), "blocks do not follow");
    Sample longer = good;
    longer.push_back(0);
    refused(longer, "bytes after its last block");

    Sample entries = good;
    entries[28] = 0x7F;  // big-endian entry count: absurd
    refused(entries, "damaged index");
    Sample offset = good;
    offset[64 + 12] = 0xFF;  // the first block claims to start far beyond the image
    refused(offset, "blocks do not follow");
    Sample geometry = good;
    Zrf::Store<std::uint16_t>(geometry.data() + 128 + Zrf::Info::kGeometryWidth, 33);
    refused(geometry, "do not match its geometry");
    refused(Sample(good.begin(), good.begin() + 64 + 16), "damaged index");
}

class ReplayInput : public ::testing::Test {
  protected:
    void TearDown() override { std::filesystem::remove(path_); }

    void Write(const std::vector<Sample>& images) {
        RecordingWriter writer(path_, 1, 0);
        std::uint64_t frame = 0;
        for (const Sample& image : images) {
            ASSERT_TRUE(writer.Append(frame, static_cast<std::int64_t>(frame), image.data(),
                                      static_cast<std::uint32_t>(image.size())));
            ++frame;
        }
    }
    HRESULT Replay(std::string& error) {
        camera_.reset();
        const HRESULT hr = SimulatedCamera::Replay(path_, ReplayOptions{}, camera_, error);
        if (FAILED(hr)) {
            EXPECT_EQ(camera_, nullptr);
            EXPECT_EQ(zrf::sim::TreeRegistry::Find(ReplayIdentity().hostname), nullptr);
        }
        return hr;
    }

    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("sim_cameras_input_" + std::to_string(::getpid()) + ".zrec"))
                            .string();
    std::unique_ptr<SimulatedCamera> camera_;
};

TEST_F(ReplayInput, VisualRecordingIsRefusedWithItsReason) {
    Write({Sample(28 + 64 * 48 * 2, 0x55)});
    std::string error;
    EXPECT_EQ(Replay(error), E_INVALIDARG);
    EXPECT_NE(error.find("not a ZRF image"), std::string::npos) << error;
    EXPECT_NE(error.find("only radiometric recordings"), std::string::npos) << error;
}

TEST_F(ReplayInput, MissingEmptyAndMixedRecordingsAreRefused) {
    std::string error;
    EXPECT_TRUE(FAILED(Replay(error)));  // no file yet
    EXPECT_NE(error.find(path_), std::string::npos) << error;

    Write({});
    EXPECT_EQ(Replay(error), E_INVALIDARG);
    EXPECT_NE(error.find("no complete frame"), std::string::npos) << error;

    Write({DeliveredImage({64, 48}), DeliveredImage({32, 48})});
    EXPECT_EQ(Replay(error), E_INVALIDARG);
    EXPECT_NE(error.find("differs in size"), std::string::npos) << error;
}

}  // namespace
