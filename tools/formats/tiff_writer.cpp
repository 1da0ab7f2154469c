#include "tools/formats/tiff_writer.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <tiffio.h>

namespace Vorn::Picture {

// libtiff reaches the temporary file through these, so OutputFile keeps owning it.
struct TiffWriter::Callbacks {
    static TiffWriter* Of(thandle_t h) { return static_cast<TiffWriter*>(h); }

    // libtiff seeks before it reads, as the runtime needs between a write and a read.
    static tmsize_t Read(thandle_t h, void* data, tmsize_t size) {
        return static_cast<tmsize_t>(std::fread(data, 1, static_cast<std::size_t>(size), Of(h)->out_.Stream()));
    }
    static tmsize_t Write(thandle_t h, void* data, tmsize_t size) {
        TiffWriter* w = Of(h);
        errno = 0;
        const std::size_t n = std::fwrite(data, 1, static_cast<std::size_t>(size), w->out_.Stream());
        if (n != static_cast<std::size_t>(size) && w->writeError_ == 0) w->writeError_ = errno ? errno : EIO;
        return static_cast<tmsize_t>(n);
    }
    static toff_t Seek(thandle_t h, toff_t offset, int whence) {
        std::FILE* f = Of(h)->out_.Stream();
        if (offset > static_cast<toff_t>(INT64_MAX) || ::fseeko(f, static_cast<off_t>(offset), whence) != 0)
            return static_cast<toff_t>(-1);
        return static_cast<toff_t>(::ftello(f));
    }
    static int Close(thandle_t) { return 0; }  // OutputFile closes it
    static toff_t Size(thandle_t h) {
        struct stat st {};
        std::FILE* f = Of(h)->out_.Stream();
        std::fflush(f);
        return ::fstat(::fileno(f), &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
    }
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}
    static int Error(TIFF*, void* user, const char* module, const char* format, va_list args) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        static_cast<TiffWriter*>(user)->libraryError_ = text;
        return 1;  // handled: libtiff prints nothing
    }
    static int Warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
};

TiffWriter::TiffWriter(std::string path, bool big) : out_(std::move(path)) {
    if (!out_.Stream()) return;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return;
    TIFFOpenOptionsSetErrorHandlerExtR(options, &Callbacks::Error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &Callbacks::Warning, this);
    tiff_ = TIFFClientOpenExt(out_.Path().c_str(), big ? "w8" : "w", this, &Callbacks::Read,
                              &Callbacks::Write, &Callbacks::Seek, &Callbacks::Close,
                              &Callbacks::Size, &Callbacks::Map, &Callbacks::Unmap, options);
    TIFFOpenOptionsFree(options);
}

TiffWriter::~TiffWriter() {
    if (tiff_) TIFFCleanup(tiff_);  // frees without writing more
}

PictureStatus TiffWriter::Failed(const std::string& what) {
    failed_ = true;
    std::string why = libraryError_.empty() ? what : libraryError_;
    if (writeError_) why += std::string(" (") + std::strerror(writeError_) + ")";
    return PictureStatus::Error("cannot write '" + out_.Path() + "': " + why);
}

PictureStatus TiffWriter::AddPage(int width, int height, std::span<const std::uint16_t> pixels,
                                  const TiffPageText& text, bool pageOfMany) {
    if (failed_) return Failed("an earlier page failed");
    if (!out_.Stream()) {
        failed_ = true;
        return out_.Commit();
    }
    if (!tiff_) return Failed("libtiff could not start");
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || pixels.size() < count)
        return Failed("no page of " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    const bool set =
        TIFFSetField(tiff_, TIFFTAG_SUBFILETYPE, pageOfMany ? FILETYPE_PAGE : 0) &&
        TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
        TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
        TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 16) &&
        TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, 1) &&
        TIFFSetField(tiff_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
        TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
        TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
        TIFFSetField(tiff_, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
        TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(height)) &&
        TIFFSetField(tiff_, TIFFTAG_PAGENAME, text.pageName.c_str()) &&
        TIFFSetField(tiff_, TIFFTAG_DATETIME, text.dateTime.c_str()) &&
        TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, text.description.c_str()) &&
        TIFFSetField(tiff_, TIFFTAG_SOFTWARE, "zrfgrab");
    if (!set) return Failed("libtiff refused a tag");
    // Written in the host's byte order and uncompressed, the strip is only read: libtiff swaps
    // or reverses bits in place only for a foreign byte or fill order.
    auto* data = const_cast<std::uint16_t*>(pixels.data());
    if (TIFFWriteEncodedStrip(tiff_, 0, data, static_cast<tmsize_t>(count * 2)) < 0 ||
        !TIFFWriteDirectory(tiff_))
        return Failed("libtiff failed");
    ++pages_;
    return PictureStatus::Ok();
}

PictureStatus TiffWriter::Commit() {
    if (failed_) return Failed("an earlier page failed");
    if (!out_.Stream()) return out_.Commit();
    if (!tiff_ || pages_ == 0) return Failed("no page to write");
    TIFFClose(tiff_);  // writes what is pending, then our Close leaves the file open
    tiff_ = nullptr;
    if (!libraryError_.empty() || writeError_) return Failed("libtiff failed");
    return out_.Commit();
}

}  // namespace Vorn::Picture
