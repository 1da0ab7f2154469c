#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/picture/png_error.h"
#include "tools/picture/png_file.h"

namespace Vorn::Picture {
namespace {

PictureStatus WriteError(const std::string& path, const std::string& reason) {
    return PictureStatus::Error("cannot write picture '" + path + "': " + reason);
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

// A new file beside path that no one else is writing; "" with errno set on failure.
std::string CreateTemporary(const std::string& path, int& fd) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name =
            path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return name;
        if (errno != EEXIST) return {};
    }
    return {};
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

    int fd = -1;
    const std::string temporary = CreateTemporary(path, fd);
    if (temporary.empty()) return WriteError(path, std::strerror(errno));
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return WriteError(path, std::strerror(error));
    }

    PngErrorState state;
    errno = 0;
    const bool encoded = Encode(file, width, height, stride, rgb.data(), state);
    // libpng says only "Write Error" when the disk is full; errno says why.
    const int writeErrno = errno;
    const bool flushed = encoded && std::fflush(file) == 0 && !std::ferror(file);
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    const int closeErrno = errno;
    if (!encoded || !flushed || !closed) {
        ::unlink(temporary.c_str());
        if (!encoded)
            return WriteError(path, writeErrno ? std::string(state.message) + " (" +
                                                     std::strerror(writeErrno) + ")"
                                               : std::string(state.message));
        return WriteError(path, std::strerror(flushed ? closeErrno : flushErrno));
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return WriteError(path, std::strerror(error));
    }
    return PictureStatus::Ok();
}

PictureStatus WritePng(const std::string& path, const RgbImage& picture) {
    if (picture.Empty()) return WriteError(path, "empty picture");
    return WritePngRgb(path, picture.Width(), picture.Height(), picture.RowBytes(),
                       {picture.Data(), picture.SizeBytes()});
}

}  // namespace Vorn::Picture
