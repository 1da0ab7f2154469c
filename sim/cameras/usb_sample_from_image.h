#pragma once
// Turns a delivered ZRF image back into the raw sample a USB radiometric camera sends for it:
// the pixels, then the radiometric region (header, index and blocks in host order). Decoding
// that sample as one field gives the image back, except for what the stream stamps anew.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image_types.h"

namespace zrf::sim {

struct UsbSampleShape {
    ImageSize picture;             // of the image's one field
    std::size_t sample_bytes = 0;  // pixels and region
};

// Checks that `image` is a complete delivered ZRF image (every offset and length inside it,
// the blocks laid out one after the other) and measures the sample it gives. False, with the
// reason, otherwise.
bool MeasureUsbSample(const std::uint8_t* image, std::size_t length, UsbSampleShape& shape,
                      std::string& why);

// Writes the sample for an image MeasureUsbSample accepted; `out` holds shape.sample_bytes.
void WriteUsbSample(const std::uint8_t* image, const UsbSampleShape& shape, std::uint8_t* out);

}  // namespace zrf::sim
