#pragma once
// An image stream that records what the graph tells it instead of decoding.
#include <cstdint>

#include "imaging/img_src_stream.h"

namespace CaptureTest {

class RecordingStream final : public ImgSrcStream {
  public:
    void SetImageSize(ImageSize size) override {
        imageSize = size;
        ImgSrcStream::SetImageSize(size);
    }
    void SetSubtype(const GUID& value) override {
        subtype = value;
        ImgSrcStream::SetSubtype(value);
    }
    void OnNewSample(const std::uint8_t* buffer, std::int32_t length, ImageSize size) override {
        ++samples;
        lastBuffer = buffer;
        lastLength = length;
        lastSize = size;
    }

    ImageSize imageSize{-1, -1};
    GUID subtype{};
    int samples = 0;
    const std::uint8_t* lastBuffer = nullptr;
    std::int32_t lastLength = -1;
    ImageSize lastSize{-1, -1};
};

}  // namespace CaptureTest
