#include "tests/imaging/stream_harness.h"

namespace ImagingTest {
namespace {

struct Pending {
    ImgSrcStream* stream;
    Delivery* delivery;
    std::int32_t first;
    std::int32_t count;
};
thread_local Pending* t_pending = nullptr;

void OnImage() {
    Pending& p = *t_pending;
    Delivery& d = *p.delivery;
    ++d.callbacks;
    d.size = p.stream->GetImageBufferSize();
    for (std::int32_t k = p.first; k < p.first + p.count; ++k) {
        // A sample the stream could not size is still decoded, into a scratch buffer: the
        // stream must refuse it by itself.
        std::vector<std::uint8_t> out(d.size > 0 ? static_cast<std::size_t>(d.size) : 1 << 16,
                                      0xCD);
        const DecodeResult r = p.stream->DecodeImage(k, out.data());
        d.results.push_back(r);
        d.images.push_back(std::move(out));
        if (r != DecodeResult::Ok) break;
    }
}

Delivery Run(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
             std::int32_t first, std::int32_t count) {
    Delivery d;
    Pending p{&stream, &d, first, count};
    t_pending = &p;
    stream.SetNewImageCallback(&OnImage);
    stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), size);
    stream.SetNewImageCallback(nullptr);
    t_pending = nullptr;
    return d;
}

}  // namespace

Delivery Deliver(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                 int fieldsToDecode) {
    return Run(stream, sample, size, 0, fieldsToDecode < 0 ? stream.FieldCount() : fieldsToDecode);
}

Delivery DeliverField(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                      std::int32_t field) {
    return Run(stream, sample, size, field, 1);
}

}  // namespace ImagingTest
