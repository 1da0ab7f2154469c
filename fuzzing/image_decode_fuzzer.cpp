// Feeds arbitrary samples and stream settings to the image stream's size computation and
// decoder. The output buffer is exactly the reported size, on the heap, so any write beyond
// it is caught. Half the inputs start from a well-formed camera sample and patch bytes of it,
// so the deep paths are reached as well as the early rejections.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzzing/byte_reader.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "sim/samples/camera_samples.h"

namespace {

const GUID kSubtypes[] = {
    kSubtypeF7M0, kSubtypeF7M2, kSubtypeY800, kSubtypeMJLS,
    kSubtypeYUY2, kSubtypeI420, kSubtypeMJPG, FourCcSubtype('A', 'B', 'C', 'D')};

struct Run {
    ImgSrcStream* stream = nullptr;
    std::int32_t fieldIndex = 0;
    std::int32_t fields = 1;
    bool radiometric = false;
};
Run g_run;

void Decode(std::int32_t fieldIndex) {
    const std::int32_t size = g_run.stream->GetImageBufferSize();
    if (size < 0) __builtin_trap();
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[static_cast<std::size_t>(size)]);
    const DecodeResult result = g_run.stream->DecodeImage(fieldIndex, out.get());
    // A radiometric sample that cannot be sized must not decode.
    if (g_run.radiometric && size == 0 && result == DecodeResult::Ok) __builtin_trap();
}

void OnImage() {
    Decode(g_run.fieldIndex);
    for (std::int32_t k = 0; k < g_run.fields && k < 4; ++k) Decode(k);
}

void BuildWellFormed(fuzz::ByteReader& in, GUID subtype, SourceKind kind,
                     const zrf::sim::SampleSettings& s, std::vector<std::uint8_t>& sample) {
    std::vector<std::uint16_t> picture(static_cast<std::size_t>(s.size.width) * s.size.height);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint16_t>(i * 131);
    using Build =
        void (*)(const std::uint16_t*, const zrf::sim::SampleSettings&, std::vector<std::uint8_t>&);
    const Build build = subtype == kSubtypeYUY2        ? zrf::sim::BuildYuy2Sample
                        : subtype == kSubtypeI420      ? zrf::sim::BuildI420Sample
                        : subtype == kSubtypeMJPG      ? zrf::sim::BuildMjpgSample
                        : kind == SourceKind::Ieee1394 ? zrf::sim::BuildIeee1394Sample
                        : subtype != kSubtypeMJLS      ? zrf::sim::BuildUsbRawSample
                                                       : nullptr;
    if (build != nullptr) {
        build(picture.data(), s, sample);
    } else if (!zrf::sim::BuildUsbJpegLsSample(picture.data(), s, sample)) {
        sample.clear();
    }
    // Patches: (position, value) pairs from the rest of the input; a length change at the end.
    while (in.RestSize() >= 3 && !sample.empty()) {
        const auto at = in.Take<std::uint16_t>();
        sample[at % sample.size()] = in.Take<std::uint8_t>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t length) {
    fuzz::ByteReader in(data, length);
    const auto mode = in.Take<std::uint8_t>();
    const GUID subtype = kSubtypes[mode % 8];
    const SourceKind kind = (mode & 0x08) != 0 ? SourceKind::Ieee1394 : SourceKind::Usb;
    const bool wellFormed = (mode & 0x10) != 0;
    const bool hostStamps = (mode & 0x20) == 0;
    ImageSize size{in.Take<std::uint8_t>() % 48 + 1, 0};
    size.height = in.Take<std::uint8_t>() % 48 + 1;
    if ((mode & 0x40) != 0) {
        size.width = in.Take<std::int32_t>();
        size.height = in.Take<std::int32_t>();
    }
    const std::int32_t fields = in.Take<std::int8_t>();
    const std::int32_t fieldIndex = in.Take<std::int8_t>();
    const float rate = in.Take<float>();
    const auto trim = in.Take<std::uint8_t>();

    std::vector<std::uint8_t> sample;
    if (wellFormed && size.width > 0 && size.height > 0 && size.width <= 64 && size.height <= 64) {
        zrf::sim::SampleSettings s;
        s.size = size;
        s.fieldCount = fields > 0 ? fields : 1;
        s.frameRate = rate;
        s.pixelByteOrder = (trim & 1) != 0 ? 1 : 2;
        s.pixelEntryFirst = (trim & 2) != 0;
        s.extraBlockBytes = (trim & 4) != 0 ? 40 : 0;
        s.statusFlags = (trim & 8) != 0 ? 2 : 0;
        BuildWellFormed(in, subtype, kind, s, sample);
        if ((trim & 0x80) != 0 && !sample.empty())
            sample.resize(sample.size() - (trim & 0x3F) % sample.size());
    } else {
        const std::string rest = in.Rest();
        sample.assign(rest.begin(), rest.end());
    }

    ImgSrcStream stream;
    stream.SetSourceKind(kind);
    stream.SetSubtype(subtype);
    stream.SetImageSize(size);
    stream.SetFieldCount(fields);
    stream.SetFrameRate(rate);
    stream.SetHostTimeStamps(hostStamps);
    stream.SetNewImageCallback(&OnImage);
    g_run = Run{&stream, fieldIndex, stream.FieldCount(),
                subtype != kSubtypeYUY2 && subtype != kSubtypeI420 && subtype != kSubtypeMJPG};

    // An exact-size copy: reading past the sample is caught too.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[sample.size()]);
    if (!sample.empty()) std::memcpy(exact.get(), sample.data(), sample.size());
    stream.OnNewSample(exact.get(), static_cast<std::int32_t>(sample.size()), size);
    // A second sample through the same stream exercises the cached size.
    stream.OnNewSample(exact.get(), static_cast<std::int32_t>(sample.size() / 2), size);
    return 0;
}
