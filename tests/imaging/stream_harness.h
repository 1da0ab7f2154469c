#pragma once
// Pictures whose every pixel differs from its neighbours in both bytes (so a misplaced row,
// field or byte shows), the samples each camera sends of them, and one sample delivered to a
// stream the way the capture graph does, sized and decoded inside the callback the way the
// device does.
#include <cstdint>
#include <vector>

#include "imaging/img_src_stream.h"
#include "imaging/zrf_records.h"
#include "sim/samples/camera_samples.h"

namespace ImagingTest {

using Sample = std::vector<std::uint8_t>;

inline std::vector<std::uint16_t> RampPicture(ImageSize size) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint16_t>(i * 257 + 3);
    return p;
}

inline std::uint16_t PixelAt(const Sample& image, std::size_t byteOffset) {
    return Zrf::Load<std::uint16_t>(image.data() + byteOffset);
}
inline std::uint32_t BigEndian32(const Sample& image, std::size_t at) {
    return Zrf::LoadBigEndian32(image.data() + at);
}
inline std::uint16_t BigEndian16(const Sample& image, std::size_t at) {
    return static_cast<std::uint16_t>(image[at] << 8 | image[at + 1]);
}

// A decode path: the subtype and source kind the device sets for a camera.
struct Path {
    GUID subtype;
    SourceKind kind = SourceKind::Usb;
    bool operator==(const Path&) const = default;
};
extern const Path kUsbRaw, kUsbJpegLs, kIeee1394, kYuy2, kI420, kMjpg;

// The stream set up for the path as the device sets it up.
void Use(ImgSrcStream& stream, const Path& path, std::int32_t fields = 1, float rate = 30.0f);

// The sample a camera of the path sends of the picture (empty if the codec refuses it).
Sample BuildSample(const Path& path, const std::vector<std::uint16_t>& picture,
                   const zrf::sim::SampleSettings& settings);

struct Delivery {
    std::int32_t size = -1;                         // GetImageBufferSize inside the callback
    std::vector<DecodeResult> results;              // per decoded field
    std::vector<std::vector<std::uint8_t>> images;  // per field, exactly `size` bytes if sized
};

// Decodes `count` fields from `first` (all of the stream's fields when negative); the device
// stops at the first result other than Ok.
Delivery Deliver(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                 std::int32_t first = 0, std::int32_t count = -1);

}  // namespace ImagingTest
