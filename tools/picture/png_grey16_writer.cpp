// 16-bit greyscale PNG files for radiometric counts, with text chunks.
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/picture/output_file.h"
#include "tools/picture/png_error.h"
#include "tools/picture/png_file.h"

namespace Vorn::Picture {
namespace {

PictureStatus WriteError(const std::string& path, const std::string& reason) {
    return PictureStatus::Error("cannot write '" + path + "': " + reason);
}

// Only trivially destructible locals here: libpng leaves this frame by longjmp on errors.
bool Encode(std::FILE* file, int width, int height, const std::uint16_t* pixels, png_text* text,
            int textCount, PngErrorState& state) {
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
    // Neighbouring counts differ little: the "up" filter and the fastest deflate level keep a
    // frame's export well within its frame time and still halve the file.
    png_set_compression_level(png, 1);  // deflate's fastest
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (textCount > 0) png_set_text(png, info, text, textCount);
    png_write_info(png, info);
    // PNG is big-endian; libpng swaps each row in its own buffer, never in ours.
    if constexpr (std::endian::native == std::endian::little) png_set_swap(png);
    for (int y = 0; y < height; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + static_cast<std::size_t>(y) * width));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

PictureStatus WritePngGrey16(const std::string& path, int width, int height,
                             std::span<const std::uint16_t> pixels, std::span<const PngText> text) {
    if (width <= 0 || height <= 0 || width > RgbImage::kMaxSide || height > RgbImage::kMaxSide)
        return WriteError(
            path, "picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    if (pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return WriteError(path, "pixel buffer too small for " + std::to_string(width) + "x" +
                                    std::to_string(height));
    for (const PngText& t : text)
        if (t.key.empty() || t.key.size() > 79) return WriteError(path, "text key '" + t.key + "'");

    if (const std::string problem = OutputPathProblem(path); !problem.empty())
        return WriteError(path, problem);
    std::vector<png_text> chunks(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        // libpng copies the text and never writes through these.
        chunks[i].key = const_cast<char*>(text[i].key.c_str());
        chunks[i].text = const_cast<char*>(text[i].value.c_str());
        chunks[i].text_length = text[i].value.size();
    }
    OutputFile out(path);
    if (!out.Stream()) return out.Commit();
    PngErrorState state;
    errno = 0;
    if (!Encode(out.Stream(), width, height, pixels.data(), chunks.data(),
                static_cast<int>(chunks.size()), state)) {
        const std::string why = state.message;
        return WriteError(path, errno ? why + " (" + std::strerror(errno) + ")" : why);
    }
    return out.Commit();
}

}  // namespace Vorn::Picture
