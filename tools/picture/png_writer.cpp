#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/picture/png_error.h"
#include "tools/picture/output_file.h"
#include "tools/picture/png_file.h"

namespace Vorn::Picture {
namespace {

PictureStatus WriteError(const std::string& path, const std::string& reason) {
    return PictureStatus::Error("cannot write '" + path + "': " + reason);
}

// Only trivially destructible locals here: libpng leaves this frame by longjmp on errors.
bool Encode(std::FILE* file, int width, int height, std::size_t stride, const std::uint8_t* rgb,
            PngErrorState& state) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
    if (!png) {
        std::snprintf(state.message, sizeof state.message, "libpng could not start");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(state.message, sizeof state.message, "libpng could not start");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<std::size_t>(y) * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

PictureStatus WritePngRgb(const std::string& path, int width, int height, std::size_t stride,
                          std::span<const std::uint8_t> rgb) {
    if (width <= 0 || height <= 0 || width > RgbImage::kMaxSide || height > RgbImage::kMaxSide)
        return WriteError(
            path, "picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    if (stride < rowBytes || rgb.size() < stride * static_cast<std::size_t>(height - 1) + rowBytes)
        return WriteError(path, "pixel buffer too small for " + std::to_string(width) + "x" +
                                    std::to_string(height));

    if (const std::string problem = OutputPathProblem(path); !problem.empty())
        return WriteError(path, problem);
    OutputFile out(path);
    if (!out.Stream()) return out.Commit();
    PngErrorState state;
    errno = 0;
    if (!Encode(out.Stream(), width, height, stride, rgb.data(), state)) {
        // libpng says only "Write Error" when the disk is full; errno says why.
        const std::string why = state.message;
        return WriteError(path, errno ? why + " (" + std::strerror(errno) + ")" : why);
    }
    return out.Commit();
}

PictureStatus WritePng(const std::string& path, const RgbImage& picture) {
    if (picture.Empty()) return WriteError(path, "empty picture");
    return WritePngRgb(path, picture.Width(), picture.Height(), picture.RowBytes(),
                       {picture.Data(), picture.SizeBytes()});
}

}  // namespace Vorn::Picture
