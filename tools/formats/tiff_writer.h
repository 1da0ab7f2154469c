#pragma once
// 16-bit greyscale TIFF files of one page or many (a stack ImageJ/Fiji opens as one), written
// with libtiff as an OutputFile is written: whole under a temporary name and renamed into place
// by Commit, or not at all. Pages are uncompressed, in the host's byte order, one strip each.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "tools/picture/output_file.h"
#include "tools/picture/picture_status.h"

typedef struct tiff TIFF;

namespace Vorn::Picture {

// What a page says of itself: its name, its time as the TIFF DateTime tag takes it
// ("YYYY:MM:DD HH:MM:SS") and a free description.
struct TiffPageText {
    std::string pageName;
    std::string dateTime;
    std::string description;
};

class TiffWriter {
  public:
    // big: BigTIFF, for a file that may pass 4 GiB. Failures are reported by AddPage and Commit.
    TiffWriter(std::string path, bool big);
    ~TiffWriter();  // removes the temporary file unless committed
    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

    // Appends a page of width x height pixels (rows one after the other, host order).
    // pageOfMany marks it a page of a multi-page document.
    PictureStatus AddPage(int width, int height, std::span<const std::uint16_t> pixels,
                          const TiffPageText& text, bool pageOfMany);
    // The name the file takes on commit (see OutputFile::SetPath).
    void SetPath(std::string path) { out_.SetPath(std::move(path)); }
    const std::string& Path() const { return out_.Path(); }
    std::uint64_t Pages() const { return pages_; }
    // Completes the file and renames it into place.
    PictureStatus Commit();

    // libtiff's callbacks; not for callers.
    struct Callbacks;

  private:
    PictureStatus Failed(const std::string& what);

    OutputFile out_;
    TIFF* tiff_ = nullptr;
    std::string libraryError_;  // the last message libtiff gave
    int writeError_ = 0;        // errno of the first write that failed
    std::uint64_t pages_ = 0;
    bool failed_ = false;
};

}  // namespace Vorn::Picture
