#pragma once
// Writing and reading 8-bit RGB pictures as PNG files, and writing 16-bit greyscale ones.
#include <cstdint>
#include <span>
#include <string>

#include "tools/picture/picture_status.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

// Writes as an OutputFile does (output_file.h): a failure (no such folder, no permission, a
// full disk, a libpng error) leaves neither a half-written picture nor the temporary file
// behind, an existing file at path is kept intact on failure, and only a regular file is
// replaced. The error message names the path and the reason.
PictureStatus WritePng(const std::string& path, const RgbImage& picture);

// The same for a bare buffer of width x height RGB pixels, rows stride bytes apart
// (stride >= width * 3), for frames that arrive as RGB already.
PictureStatus WritePngRgb(const std::string& path, int width, int height, std::size_t stride,
                          std::span<const std::uint8_t> rgb);

// One text chunk: a key of 1 to 79 Latin-1 characters and its text.
struct PngText {
    std::string key;
    std::string value;
};

// Writes width x height 16-bit grey pixels (rows one after the other, in host order) as a
// 16-bit greyscale PNG with the text chunks given, as WritePng writes (whole, or nothing).
PictureStatus WritePngGrey16(const std::string& path, int width, int height,
                             std::span<const std::uint16_t> pixels, std::span<const PngText> text);

// Reads any PNG libpng understands into 8-bit RGB (grey, palette and 16-bit pictures are
// converted, alpha is dropped).
PictureStatus ReadPng(const std::string& path, RgbImage& picture);

}  // namespace Vorn::Picture
