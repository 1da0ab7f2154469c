#include "tools/picture/rgb_image.h"

#include <algorithm>

namespace Vorn::Picture {

void RgbImage::Resize(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) width = height = 0;
    width_ = width;
    height_ = height;
    data_.resize(SizeBytes());
}

void RgbImage::Fill(Rgb colour) {
    FillRect(0, 0, width_, height_, colour);
}

void RgbImage::FillRect(int x, int y, int width, int height, Rgb colour) {
    const int x0 = std::max(x, 0);
    const int y0 = std::max(y, 0);
    // 64-bit sums: a huge width or height must not wrap round into the picture.
    const int x1 = static_cast<int>(std::min<long long>(static_cast<long long>(x) + width, width_));
    const int y1 =
        static_cast<int>(std::min<long long>(static_cast<long long>(y) + height, height_));
    for (int row = y0; row < y1; ++row)
        for (int col = x0; col < x1; ++col) Set(col, row, colour);
}

}  // namespace Vorn::Picture
