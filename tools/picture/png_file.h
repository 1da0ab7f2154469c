#pragma once
// Writing and reading 8-bit RGB pictures as PNG files.
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

// Reads any PNG libpng understands into 8-bit RGB (grey, palette and 16-bit pictures are
// converted, alpha is dropped).
PictureStatus ReadPng(const std::string& path, RgbImage& picture);

}  // namespace Vorn::Picture
