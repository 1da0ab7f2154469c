#pragma once
// Converting the visual camera's YUV frames to RGB pictures (BT.601, studio range: Y 16..235,
// U and V 16..240 around 128).
#include <cstdint>
#include <span>

#include "tools/picture/picture_status.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

Rgb YuvToRgb(std::uint8_t y, std::uint8_t u, std::uint8_t v);

// Packed 4:2:2, Y0 U Y1 V for each pair of pixels; rows are ((width + 1) / 2) * 4 bytes apart
// (an odd last pixel has a pair of its own). Fails when the frame is shorter than that.
PictureStatus Yuy2ToRgb(int width, int height, std::span<const std::uint8_t> frame,
                        RgbImage& picture);

// Planar 4:2:0: the Y plane (width x height), then U and V planes of
// ((width + 1) / 2) x ((height + 1) / 2) each, all without padding. Fails when the frame is
// shorter than that.
PictureStatus I420ToRgb(int width, int height, std::span<const std::uint8_t> frame,
                        RgbImage& picture);

}  // namespace Vorn::Picture
