#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/picture/png_error.h"
#include "tools/picture/png_file.h"

namespace Vorn::Picture {
namespace {

// Only trivially destructible locals here: libpng leaves this frame by longjmp on errors.
bool Decode(std::FILE* file, RgbImage& picture, PngErrorState& state) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
    if (!png) {
        std::snprintf(state.message, sizeof state.message, "libpng could not start");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(state.message, sizeof state.message, "libpng could not start");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    // Refuse absurd sizes before anything is allocated for them.
    png_set_user_limits(png, RgbImage::kMaxSide, RgbImage::kMaxSide);
    png_read_info(png, info);

    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int width = static_cast<int>(png_get_image_width(png, info));
    const int height = static_cast<int>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(width) * 3)
        png_error(png, "unexpected pixel layout after conversion to RGB");
    picture.Resize(width, height);
    if (picture.Width() != width || picture.Height() != height) png_error(png, "picture too large");
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) png_read_row(png, picture.Row(y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

PictureStatus ReadPng(const std::string& path, RgbImage& picture) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return PictureStatus::Error("cannot read picture '" + path + "': " + std::strerror(errno));
    PngErrorState state;
    const bool decoded = Decode(file, picture, state);
    std::fclose(file);
    if (!decoded) {
        picture.Resize(0, 0);
        return PictureStatus::Error("cannot read picture '" + path + "': " + state.message);
    }
    return PictureStatus::Ok();
}

}  // namespace Vorn::Picture
