#include "tools/picture/yuv_to_rgb.h"

#include <algorithm>
#include <string>

namespace Vorn::Picture {
namespace {

std::uint8_t Clip(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

PictureStatus CheckFrame(const char* format, int width, int height, std::size_t needed,
                         std::size_t got) {
    if (width <= 0 || height <= 0 || width > RgbImage::kMaxSide || height > RgbImage::kMaxSide)
        return PictureStatus::Error(std::string(format) + " frame of " + std::to_string(width) +
                                    "x" + std::to_string(height) + " pixels");
    if (got < needed)
        return PictureStatus::Error(std::string(format) + " frame of " + std::to_string(width) +
                                    "x" + std::to_string(height) + " needs " +
                                    std::to_string(needed) + " bytes, got " + std::to_string(got));
    return PictureStatus::Ok();
}

std::size_t HalfUp(int side) {
    return (static_cast<std::size_t>(side) + 1) / 2;
}

}  // namespace

// Coefficients scaled by 256: 1.164, 1.596, 0.392, 0.813, 2.017.
Rgb YuvToRgb(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128;
    const int e = v - 128;
    return {Clip((c + 409 * e) >> 8), Clip((c - 100 * d - 208 * e) >> 8), Clip((c + 516 * d) >> 8)};
}

PictureStatus Yuy2ToRgb(int width, int height, std::span<const std::uint8_t> frame,
                        RgbImage& picture) {
    const std::size_t stride = HalfUp(width) * 4;
    if (PictureStatus status = CheckFrame("YUY2", width, height,
                                          stride * static_cast<std::size_t>(height), frame.size());
        !status)
        return status;
    picture.Resize(width, height);
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* in = frame.data() + stride * static_cast<std::size_t>(row);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pair = in + static_cast<std::size_t>(x / 2) * 4;
            picture.Set(x, row, YuvToRgb(pair[(x % 2) * 2], pair[1], pair[3]));
        }
    }
    return PictureStatus::Ok();
}

PictureStatus I420ToRgb(int width, int height, std::span<const std::uint8_t> frame,
                        RgbImage& picture) {
    const std::size_t lumaSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t chromaWidth = HalfUp(width);
    const std::size_t chromaSize = chromaWidth * HalfUp(height);
    if (PictureStatus status =
            CheckFrame("I420", width, height, lumaSize + 2 * chromaSize, frame.size());
        !status)
        return status;
    picture.Resize(width, height);
    const std::uint8_t* luma = frame.data();
    const std::uint8_t* uPlane = luma + lumaSize;
    const std::uint8_t* vPlane = uPlane + chromaSize;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* yRow = luma + static_cast<std::size_t>(row) * width;
        const std::size_t chromaRow = static_cast<std::size_t>(row / 2) * chromaWidth;
        for (int x = 0; x < width; ++x) {
            const std::size_t chroma = chromaRow + static_cast<std::size_t>(x / 2);
            picture.Set(x, row, YuvToRgb(yRow[x], uPlane[chroma], vPlane[chroma]));
        }
    }
    return PictureStatus::Ok();
}

}  // namespace Vorn::Picture
