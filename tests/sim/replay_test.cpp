// The replay camera turns a recorded image back into the sample it was decoded from, and refuses
// what is not a complete delivered image with its reason. (zrfgrab's replay tests play
// recordings back in a loop and refuse a missing one.)
#include <gtest/gtest.h>

#include <cstdio>

#include "host/recorder/recording_file.h"
#include "imaging/media_subtypes.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/replay_sample_source.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/format_blocks.h"
#include "tests/host/recorder/temp_dir.h"
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
Sample DeliveredImage(ImageSize size, std::uint32_t extraBlock = 0, bool pixelEntryFirst = false) {
    SampleSettings s;
    s.size = size;
    s.extraBlockBytes = extraBlock;
    s.pixelEntryFirst = pixelEntryFirst;
    std::vector<std::uint16_t> picture(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint16_t>(7000 + i * 7 % 901);
    Sample sample;
    BuildUsbRawSample(picture.data(), s, sample);
    return Decode(sample, size).images.at(0);
}

TEST(UsbSampleFromImage, AnImageBecomesItsSampleAndWhatIsNotOneIsRefused) {
    for (const Sample& image :
         {DeliveredImage({64, 48}, 300), DeliveredImage({2000, 4}, 5000, true)}) {
        UsbSampleShape shape;
        std::string why;
        ASSERT_TRUE(MeasureUsbSample(image.data(), image.size(), shape, why)) << why;
        Sample sample(shape.sample_bytes, 0xAB);
        WriteUsbSample(image.data(), shape, sample.data());
        const auto d = Decode(sample, shape.picture);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        EXPECT_TRUE(d.images[0] == image);
    }
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

}  // namespace

namespace {

using Vorn::Zephra::Net::Devices::Recorder::FrameRecordHeader;
using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;
using Vorn::Zephra::Net::Devices::Recorder::RecordingWriter;

// A recording of these images, each frame numbered from 1; `damaged` frames get one image
// byte changed after they are written.
std::string WriteRecording(const std::string& path, const std::vector<Sample>& images,
                           const std::vector<std::size_t>& damaged = {}) {
    {
        RecordingWriter writer(path, 0, static_cast<std::uint32_t>(images.front().size()));
        for (std::size_t i = 0; i < images.size(); ++i)
            EXPECT_TRUE(writer.Append(i + 1, static_cast<std::int64_t>(i), images[i].data(),
                                      static_cast<std::uint32_t>(images[i].size())));
    }
    std::vector<std::uint64_t> offsets;
    {
        RecordingReader reader(path);
        RecordedFrame frame;
        while (reader.Next(frame)) offsets.push_back(frame.fileOffset);
    }
    for (std::size_t index : damaged) {
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        std::fseek(f, static_cast<long>(offsets.at(index) + sizeof(FrameRecordHeader) + 100),
                   SEEK_SET);
        std::fputc(0x5A, f);
        std::fclose(f);
    }
    return path;
}

// The images a replay source sends, decoded back, for `count` frames.
std::vector<Sample> Played(ReplaySampleSource& source, int count,
                           std::vector<bool>* exhausted = nullptr) {
    const VideoFormat format = source.Format();
    const auto type = MediaTypeFor(format, format.frame_intervals.front());
    std::vector<Sample> images;
    for (int i = 0; i < count; ++i) {
        Sample sample(source.Capacity(type.Get()));
        sample.resize(
            source.Fill(type.Get(), static_cast<std::uint64_t>(i), sample.data(), sample.size()));
        const auto d = Decode(sample, source.PictureSize());
        images.push_back(d.images.empty() ? Sample{} : d.images.front());
        if (exhausted) exhausted->push_back(source.Exhausted());
    }
    return images;
}

}  // namespace

TEST(ReplaySampleSource, PlaysAsItReadsPassingOverDamagedFramesAndOtherSizes) {
    TempDir dir;
    const Sample a = DeliveredImage({32, 16}), b = DeliveredImage({32, 16}, 200),
                 other = DeliveredImage({48, 16});
    // Frame 3 is damaged, frame 4 of another size: both are passed over and counted.
    const std::string path = WriteRecording(dir.Path() + "/r.zrec", {a, b, a, other, b}, {2});
    for (const bool loop : {true, false}) {
        SCOPED_TRACE(loop ? "looping" : "once");
        std::shared_ptr<ReplaySampleSource> source;
        std::string error;
        ASSERT_EQ(ReplaySampleSource::Open(path, ReplaySettings{loop}, source, error), S_OK)
            << error;
        std::vector<bool> exhausted;
        const auto images = Played(*source, 6, &exhausted);
        const std::vector<Sample> expected =
            loop ? std::vector<Sample>{a, b, b, a, b, b} : std::vector<Sample>{a, b, b, b, b, b};
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(images[i] == expected[i]) << "frame " << i;
        // Once: exhausted as the last frame goes, which then repeats until the camera goes.
        const std::vector<bool> once{false, false, true, true, true, true};
        EXPECT_EQ(exhausted, loop ? std::vector<bool>(6, false) : once);
        // Counted once, however often the recording loops.
        EXPECT_EQ(source->DamagedFrames(), 1u);
        EXPECT_EQ(source->OtherSizeFrames(), 1u);
    }
}

TEST(ReplaySampleSource, ARecordingWithoutAFrameThatPlaysIsRefusedWithItsReason) {
    TempDir dir;
    const Sample a = DeliveredImage({32, 16});
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {WriteRecording(dir.Path() + "/damaged.zrec", {a, a}, {0, 1}), "holds no complete frame"},
        {WriteRecording(dir.Path() + "/visual.zrec", {Sample(28 + 32 * 16 * 2, 0x40)}),
         "only radiometric recordings"},
        {dir.Path() + "/missing.zrec", "cannot open"},
    };
    for (const auto& c : cases) {
        std::shared_ptr<ReplaySampleSource> source;
        std::string error;
        EXPECT_TRUE(FAILED(ReplaySampleSource::Open(c.path, ReplaySettings{}, source, error)))
            << c.path;
        EXPECT_EQ(source, nullptr);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}
