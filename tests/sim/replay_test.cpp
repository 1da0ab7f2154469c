// The replay camera turns a recorded image back into the sample it was decoded from, and refuses
// what is not a complete delivered image with its reason. (zrfgrab's replay tests play
// recordings back in a loop and refuse a missing one.)
#include <gtest/gtest.h>

#include "imaging/media_subtypes.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/samples/camera_samples.h"
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
