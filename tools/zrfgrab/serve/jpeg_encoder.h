#pragma once
// A false-colour picture as JPEG (libjpeg), into a buffer the encoder keeps: once it has grown to
// a frame's size, encoding frames of that size allocates nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/picture/rgb_image.h"

namespace zrfgrab::serve {

class JpegEncoder {
  public:
    explicit JpegEncoder(int quality = 85) : quality_(quality) {}

    // Encodes into out (its capacity is kept); false with Error() set when libjpeg fails or
    // the picture is empty.
    bool Encode(const Vorn::Picture::RgbImage& picture, std::vector<std::uint8_t>& out);
    const std::string& Error() const { return error_; }

  private:
    int quality_;
    std::string error_;
};

}  // namespace zrfgrab::serve
