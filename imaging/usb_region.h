#pragma once
// The radiometric region a USB camera appends to each sample (after the pixels, or after the
// JPEG-LS code stream): a ZRF main header and index in host order, then the blocks, with
// offsets counted from the start of the region. Measuring checks that everything the decode
// will read lies inside the sample and works out where every output block goes.
#include <cstdint>

#include "imaging/field_geometry.h"

struct UsbRegionLayout {
    std::int64_t regionOffset = 0;
    std::uint32_t codeStreamLength = 0;  // JPEG-LS samples only
    std::int32_t entryCount = 0;
    std::int32_t pixelEntry = -1;        // the last pixel entry: the one filled
    std::int32_t infoEntry = -1;         // the last frame-information entry: the one used
    std::int64_t pixelOutputOffset = 0;  // of that pixel block in the output image
    std::int64_t infoOutputOffset = 0;   // of that frame-information block in the output image
    std::int64_t infoSourceOffset = 0;   // of that block in the sample
    std::uint16_t pixelByteOrder = 0;
    std::int32_t imageSize = 0;          // bytes of the output image
};

// False when the sample does not hold a complete region that decodes to one field of
// `geometry` (the JPEG-LS code stream itself is not examined here).
bool MeasureUsbRegion(const std::uint8_t* sample, std::int32_t sampleLength, bool jpegLs,
                      const FieldGeometry& geometry, UsbRegionLayout& layout);

// "ZRF" followed by NUL, letters in any case.
bool HasZrfMagic(const std::uint8_t* region);
