#include "tests/imaging/stream_harness.h"

#include "imaging/media_subtypes.h"

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

}  // namespace

const Path kUsbRaw{kSubtypeF7M0}, kUsbJpegLs{kSubtypeMJLS},
    kIeee1394{kSubtypeF7M2, SourceKind::Ieee1394}, kYuy2{kSubtypeYUY2}, kI420{kSubtypeI420},
    kMjpg{kSubtypeMJPG};

void Use(ImgSrcStream& stream, const Path& path, std::int32_t fields, float rate) {
    stream.SetSourceKind(path.kind);
    stream.SetSubtype(path.subtype);
    stream.SetFieldCount(fields);
    stream.SetFrameRate(rate);
    stream.RestartClock();  // as the graph does when it runs
}

Sample BuildSample(const Path& path, const std::vector<std::uint16_t>& picture,
                   const zrf::sim::SampleSettings& settings) {
    Sample s;
    const auto* p = picture.data();
    if (path == kUsbRaw) zrf::sim::BuildUsbRawSample(p, settings, s);
    if (path == kUsbJpegLs && !zrf::sim::BuildUsbJpegLsSample(p, settings, s)) s.clear();
    if (path == kIeee1394) zrf::sim::BuildIeee1394Sample(p, settings, s);
    if (path == kYuy2) zrf::sim::BuildYuy2Sample(p, settings, s);
    if (path == kI420) zrf::sim::BuildI420Sample(p, settings, s);
    if (path == kMjpg) zrf::sim::BuildMjpgSample(p, settings, s);
    return s;
}

Delivery Deliver(ImgSrcStream& stream, const std::vector<std::uint8_t>& sample, ImageSize size,
                 std::int32_t first, std::int32_t count) {
    Delivery d;
    Pending p{&stream, &d, first, count < 0 ? stream.FieldCount() : count};
    t_pending = &p;
    stream.SetNewImageCallback(&OnImage);
    stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), size);
    stream.SetNewImageCallback(nullptr);
    t_pending = nullptr;
    return d;
}

}  // namespace ImagingTest
