#pragma once
// Wraps a raw sample (width x height 16-bit pixels followed by a big-endian 2428-byte
// frame-information block) into a complete ZRF image with a header checksum, stamped with
// the wall clock. The live paths build their own images; this one is for tools.
#include <cstdint>

#include "imaging/image_types.h"

// Bytes BuildRawZrfImage writes for `size`; 0 for a size that has no pixels.
std::int32_t RawZrfImageSize(ImageSize size);

// The output must hold RawZrfImageSize(size) bytes. Returns false (writing nothing) when the
// sample is shorter than the pixels plus the block or the size is not usable.
bool BuildRawZrfImage(std::uint8_t* out, const std::uint8_t* sample, std::int32_t sampleLength,
                      ImageSize size, std::uint16_t frameRate);

// XOR of the header's sixteen 4-byte groups with the stored checksum's bytes reversed back:
// 0 for a header carrying a valid checksum.
std::uint32_t ZrfHeaderChecksumResidue(const std::uint8_t* header);
