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

ImgSrcStream* g_stream = nullptr;
const ImageCase* g_case = nullptr;
std::vector<std::uint8_t> g_images;

void OnImage() {
    g_images = DecodeFields(*g_stream, *g_case);
}

// The camera's source as the filter DLL builds it from its property bag.
std::unique_ptr<zrf::sim::ThermalSampleSource> Source(const char* camera, std::int32_t fields,
                                                      zrf::sim::CameraPreset& preset) {
    zrf::sim::CameraOptions options;
    options.seed = kImageSeed;
    preset = *zrf::sim::FindCameraPreset(camera, options);
    std::shared_ptr<zrf::sim::ResourceTree> tree;
    if (preset.tree) tree = std::make_shared<zrf::sim::ResourceTree>(*preset.tree);
    if (tree && fields > 1) {
        tree->Set(zrf::sim::nodes::kWindowingFields, fields);
        tree->Set(zrf::sim::nodes::kWindowingActive, true);
    }
    zrf::sim::ThermalSourceSettings content = preset.content;
    content.tree = tree;
    return std::make_unique<zrf::sim::ThermalSampleSource>(preset.video.formats, content);
}

zrf::dshow::MediaType TypeOf(const zrf::sim::CameraPreset& preset, const GUID& subtype) {
    for (const auto& format : preset.video.formats) {
        if (format.subtype == subtype) return zrf::sim::MediaTypeFor(format);
    }
    return {};
}

bool Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: windows_reference_images DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const ImageCase& c : kImageCases) {
        zrf::sim::CameraPreset preset;
        auto source = Source(c.camera, c.fields, preset);
        zrf::dshow::MediaType type = TypeOf(preset, c.subtype);
        std::vector<BYTE> sample(source->Capacity(type.Get()));
        ImgSrcStream stream;
        ConfigureStream(stream, c);
        g_stream = &stream;
        g_case = &c;
        stream.SetNewImageCallback(&OnImage);
        for (int frame = 0; frame < kImageFrames; ++frame) {
            const std::size_t length = source->Fill(type.Get(), frame, sample.data(), sample.size());
            g_images.clear();
            stream.OnNewSample(sample.data(), static_cast<std::int32_t>(length), c.size);
            if (g_images.empty() || !Write(dir + "/" + ReferenceName(c, frame), g_images)) {
                std::fprintf(stderr, "windows_reference_images: %s frame %d failed\n", c.name,
                             frame);
                return 1;
            }
        }
    }
    zrf::sim::CameraPreset preset;
    auto source = Source("usb-ir", 1, preset);
    zrf::dshow::MediaType type = TypeOf(preset, kSubtypeMJLS);
    std::vector<BYTE> sample(source->Capacity(type.Get()));
    sample.resize(source->Fill(type.Get(), 0, sample.data(), sample.size()));
    if (sample.empty() || !Write(dir + "/" + kJpegLsSampleName, sample)) {
        std::fprintf(stderr, "windows_reference_images: no JPEG-LS sample\n");
        return 1;
    }
    return 0;
}
