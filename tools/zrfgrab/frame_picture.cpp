#include "tools/zrfgrab/frame_picture.h"

#include <cstring>
#include <vector>

#include "tools/picture/false_colour_renderer.h"
#include "tools/picture/output_file.h"
#include "tools/picture/palette.h"
#include "tools/picture/png_file.h"
#include "tools/picture/yuv_to_rgb.h"

namespace zrfgrab {
namespace {

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

constexpr std::size_t kHeader = 64;
constexpr std::size_t kEntry = 32;
constexpr std::size_t kGeometry = 32;

}  // namespace

bool FindZrfPixels(std::span<const std::uint8_t> image, ZrfPixels& out) {
    if (image.size() < kHeader || std::memcmp(image.data(), "ZRF", 4) != 0) return false;
    const std::uint32_t entries = Be32(image.data() + 28);
    if (entries == 0 || entries > (image.size() - kHeader) / kEntry) return false;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint8_t* e = image.data() + kHeader + kEntry * i;
        if (Be16(e) != 1) continue;
        const std::uint64_t offset = Be32(e + 12), length = Be32(e + 16);
        if (length < kGeometry || offset > image.size() || length > image.size() - offset) return false;
        const std::uint8_t* geometry = image.data() + offset;
        const int width = Le16(geometry + 2), height = Le16(geometry + 4);
        const std::uint64_t pixels = std::uint64_t(width) * height;
        if (width == 0 || height == 0 || pixels * 2 > length - kGeometry) return false;
        out.width = width;
        out.height = height;
        // The pixel block sits at an even offset behind the 32-byte geometry copy.
        out.pixels = {reinterpret_cast<const std::uint16_t*>(geometry + kGeometry),
                      static_cast<std::size_t>(pixels)};
        return true;
    }
    return false;
}

std::string WriteFramePicture(const std::string& path, const std::string& kind,
                              std::span<const std::uint8_t> image, const std::string& paletteName) {
    using namespace Vorn::Picture;
    if (kind == "JPEG_PLAIN") {
        auto s = WriteWholeFile(path, image);
        return s ? std::string() : s.Message();
    }
    if (kind == "YUY2") {
        if (image.size() < 28) return "the frame holds no picture";
        std::int32_t width = 0, height = 0;
        std::memcpy(&width, image.data() + 4, 4);
        std::memcpy(&height, image.data() + 8, 4);
        RgbImage rgb;
        if (auto s = Yuy2ToRgb(width, height, image.subspan(28), rgb); !s) return s.Message();
        auto s = WritePng(path, rgb);
        return s ? std::string() : s.Message();
    }
    ZrfPixels zrf;
    if (!FindZrfPixels(image, zrf)) return "the image holds no pixel block";
    const Palette* palette = nullptr;
    if (auto s = Palette::Find(paletteName, palette); !s) return s.Message();
    FalseColourRenderer renderer;
    RenderOptions options;
    options.palette = palette;
    if (auto s = renderer.Render(zrf.width, zrf.height, zrf.pixels, options); !s) return s.Message();
    auto s = WritePng(path, renderer.Picture());
    return s ? std::string() : s.Message();
}

}  // namespace zrfgrab
