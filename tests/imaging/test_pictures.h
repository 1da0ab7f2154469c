#pragma once
// Pictures whose every pixel differs from its neighbours in both bytes, so a misplaced row,
// field or byte shows.
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/image_types.h"
#include "imaging/zrf_records.h"

namespace ImagingTest {

inline std::vector<std::uint16_t> RampPicture(ImageSize size) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint16_t>(i * 257 + 3);
    return p;
}

inline std::uint16_t PixelAt(const std::vector<std::uint8_t>& image, std::size_t byteOffset) {
    return Zrf::Load<std::uint16_t>(image.data() + byteOffset);
}

inline std::uint32_t BigEndian32(const std::vector<std::uint8_t>& image, std::size_t at) {
    return Zrf::LoadBigEndian32(image.data() + at);
}

inline std::uint16_t BigEndian16(const std::vector<std::uint8_t>& image, std::size_t at) {
    return static_cast<std::uint16_t>(image[at] << 8 | image[at + 1]);
}

}  // namespace ImagingTest
