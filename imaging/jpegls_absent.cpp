// The decode path's JPEG-LS calls in a build without the codec: nothing decodes.
#include <cstring>

#include "imaging/jpegls_codec.h"

bool ReadJpegLsHeader(const std::uint8_t*, std::size_t, JlsParameters& params) {
    std::memset(&params, 0, sizeof params);
    return false;
}

bool DecodeJpegLs(std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t,
                  const JlsParameters&) {
    return false;
}

bool DecodeJpegLsRows(std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t,
                      const JlsParameters&, std::int32_t, std::int32_t) {
    return false;
}
