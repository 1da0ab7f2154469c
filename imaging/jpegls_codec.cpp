#include "imaging/jpegls_codec.h"

#include <cstring>

// The classic entry points are marked deprecated in this codec version; they are the ones the
// decode path is defined by.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

bool ReadJpegLsHeader(const std::uint8_t* codeStream, std::size_t length, JlsParameters& params) {
    std::memset(&params, 0, sizeof params);
    if (codeStream == nullptr || length == 0) return false;
    return JpegLsReadHeader(codeStream, length, &params, nullptr) == CharlsApiResultType{};
}

bool DecodeJpegLs(std::uint8_t* destination, std::size_t destinationSize,
                  const std::uint8_t* codeStream, std::size_t length, const JlsParameters& params) {
    return JpegLsDecode(destination, destinationSize, codeStream, length, &params, nullptr) == CharlsApiResultType{};
}

bool DecodeJpegLsRows(std::uint8_t* destination, std::size_t destinationSize,
                      const std::uint8_t* codeStream, std::size_t length,
                      const JlsParameters& params, std::int32_t firstRow, std::int32_t rows) {
    const JlsRect rows_of_picture{0, firstRow, params.width, rows};
    return JpegLsDecodeRect(destination, destinationSize, codeStream, length, rows_of_picture,
                            &params, nullptr) == CharlsApiResultType{};
}

#pragma GCC diagnostic pop
