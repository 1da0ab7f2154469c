#pragma once
// The JPEG-LS calls of the decode path, kept in one place because they use the codec's
// classic interface.
#include <cstddef>
#include <cstdint>

#ifdef ZRF_NO_JPEGLS
// Builds without the codec (Windows: no cross-built CharLS) read no JPEG-LS header, so every
// JPEG-LS sample is a bad frame there.
struct JlsParameters {
    std::int32_t width;
    std::int32_t height;
    std::int32_t bitsPerSample;
    std::int32_t components;
};
#else
#include <charls/charls.h>
#endif

// JpegLsReadHeader on a cleared record; true when the codec accepted the header.
bool ReadJpegLsHeader(const std::uint8_t* codeStream, std::size_t length, JlsParameters& params);
// JpegLsDecode of the whole picture; true on success.
bool DecodeJpegLs(std::uint8_t* destination, std::size_t destinationSize,
                  const std::uint8_t* codeStream, std::size_t length, const JlsParameters& params);
// Decodes only rows [firstRow, firstRow + rows) of a single-component picture.
bool DecodeJpegLsRows(std::uint8_t* destination, std::size_t destinationSize,
                      const std::uint8_t* codeStream, std::size_t length,
                      const JlsParameters& params, std::int32_t firstRow, std::int32_t rows);
// Bytes one sample takes in decoded output (the codec stores more than 8 bits in two bytes).
inline std::int64_t JpegLsBytesPerSample(const JlsParameters& params) {
    return params.bitsPerSample > 8 ? 2 : 1;
}
