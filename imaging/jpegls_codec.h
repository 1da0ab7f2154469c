#pragma once
// The JPEG-LS calls of the decode path, kept in one place because they use the codec's
// classic interface.
#include <charls/charls.h>

#include <cstddef>
#include <cstdint>

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
