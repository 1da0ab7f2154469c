#pragma once
// Sizes derived from the stream's image size and field count, checked once so that no path
// does signed 32-bit arithmetic that could overflow.
#include <cstdint>

#include "imaging/image_types.h"

struct FieldGeometry {
    bool valid = false;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t fieldHeight = 0;   // height / field count
    std::int64_t fieldBytes = 0;    // one field's 16-bit pixels
    std::int64_t pictureBytes = 0;  // all fields' 16-bit pixels
};

// Valid when the picture has pixels, every field at least one row, and any image built from it
// stays far below 2 GB.
FieldGeometry MakeFieldGeometry(ImageSize size, std::int32_t fieldCount);

// Bytes behind the header of a visual frame (width x height x 2); -1 when the size is negative
// or its row stride or image would not fit a signed 32-bit count.
std::int64_t VisualPictureBytes(ImageSize size);

// Images are limited so that every size fits a signed 32-bit count.
constexpr std::int64_t kMaxImageBytes = 0x7FFF0000;
