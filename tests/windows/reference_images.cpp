// Writes what the Linux build decodes for each of the Windows suite's image cases: the same
// camera (preset, seed, windowing), the same frames, decoded through the image stream with the
// camera's own time stamps. Also a raw JPEG-LS sample, which only this build can decode.
// Usage: windows_reference_images DIR
#include <cstdio>
#include <fstream>
#include <memory>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/control/resource_tree.h"
#include "sim/video/format_blocks.h"
#include "tests/windows/image_cases.h"

using namespace zrf::windows_tests;

namespace {

struct Decoding {
    ImgSrcStream* stream;
    const ImageCase* image;
    std::vector<std::uint8_t> fields;
} g_decoding;

// Frames of the camera's source as the filter DLL builds it from its property bag, in `subtype`.
std::vector<std::vector<BYTE>> Samples(const char* camera, std::int32_t fields, const GUID& subtype,
                                       int frames) {
    zrf::sim::CameraOptions options;
    options.seed = kImageSeed;
    const zrf::sim::CameraPreset preset = *zrf::sim::FindCameraPreset(camera, options);
    zrf::sim::ThermalSourceSettings content = preset.content;
    content.tree = preset.tree ? std::make_shared<zrf::sim::ResourceTree>(*preset.tree) : nullptr;
    if (content.tree && fields > 1) {
        content.tree->Set(zrf::sim::nodes::kWindowingFields, fields);
        content.tree->Set(zrf::sim::nodes::kWindowingActive, true);
    }
    zrf::sim::ThermalSampleSource source(preset.video.formats, content);
    zrf::dshow::MediaType type;
    for (const auto& format : preset.video.formats)
        if (format.subtype == subtype) type = zrf::sim::MediaTypeFor(format);
    std::vector<std::vector<BYTE>> samples;
    for (int frame = 0; frame < frames; ++frame) {
        samples.emplace_back(source.Capacity(type.Get()));
        samples.back().resize(
            source.Fill(type.Get(), frame, samples.back().data(), samples.back().size()));
    }
    return samples;
}

bool Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return !bytes.empty() && static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: windows_reference_images DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const ImageCase& c : kImageCases) {
        ImgSrcStream stream;
        ConfigureStream(stream, c);
        g_decoding = {&stream, &c, {}};
        stream.SetNewImageCallback(
            [] { g_decoding.fields = DecodeFields(*g_decoding.stream, *g_decoding.image); });
        int frame = 0;
        for (auto& sample : Samples(c.camera, c.fields, c.subtype, kImageFrames)) {
            g_decoding.fields.clear();
            stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), c.size);
            if (!Write(dir + "/" + ReferenceName(c, frame++), g_decoding.fields)) {
                std::fprintf(stderr, "windows_reference_images: %s frame %d failed\n", c.name,
                             frame - 1);
                return 1;
            }
        }
    }
    if (!Write(dir + "/" + kJpegLsSampleName, Samples("usb-ir", 1, kSubtypeMJLS, 1).at(0))) {
        std::fprintf(stderr, "windows_reference_images: no JPEG-LS sample\n");
        return 1;
    }
    return 0;
}
