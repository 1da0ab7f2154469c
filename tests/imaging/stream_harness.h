#pragma once
// Delivers one sample to a stream the way the capture graph does, and, inside the callback,
// sizes and decodes it the way the device does.
#include <cstdint>
#include <vector>

#include "imaging/img_src_stream.h"

namespace ImagingTest {

struct Delivery {
    std::int32_t size = -1;                         // GetImageBufferSize inside the callback
    std::vector<DecodeResult> results;              // per decoded field
    std::vector<std::vector<std::uint8_t>> images;  // per field, exactly `size` bytes if sized
    int callbacks = 0;
};

// Decodes fields 0 .. fieldsToDecode - 1 (all of the stream's fields when negative); the
// device stops at the first result other than Ok.
Delivery Deliver(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                 int fieldsToDecode = -1);

// Decodes just one field.
Delivery DeliverField(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                      std::int32_t field);

}  // namespace ImagingTest
