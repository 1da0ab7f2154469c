#pragma once
// Pictures of delivered images: a ZRF image in false colour, a YUY2 frame in its own colours,
// a JPEG frame as it came.
#include <cstdint>
#include <span>
#include <string>

namespace zrfgrab {

struct ZrfPixels {
    int width = 0;
    int height = 0;
    std::span<const std::uint16_t> pixels;  // row after row, little-endian host order
};

// The pixel block of a delivered ZRF image; false when the image does not hold one that fits.
bool FindZrfPixels(std::span<const std::uint8_t> image, ZrfPixels& out);

// Writes the picture of one delivered image; returns an empty string or the error. `kind` is
// "IR", "YUY2" or "JPEG_PLAIN"; a JPEG frame is written unchanged.
std::string WriteFramePicture(const std::string& path, const std::string& kind,
                              std::span<const std::uint8_t> image, const std::string& palette);

}  // namespace zrfgrab
