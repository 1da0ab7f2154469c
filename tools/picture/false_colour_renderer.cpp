#include "tools/picture/false_colour_renderer.h"

#include <algorithm>
#include <string>

namespace Vorn::Picture {

std::uint8_t PaletteIndex(std::uint16_t count, CountRange range) {
    if (count <= range.low) return 0;
    if (count >= range.high) return 255;
    const std::uint32_t span = range.high - range.low;
    const std::uint32_t offset = count - range.low;
    return static_cast<std::uint8_t>((offset * 255 + span / 2) / span);
}

FalseColourRenderer::FalseColourRenderer() : finder_(std::make_unique<RangeFinder>()) {}
FalseColourRenderer::~FalseColourRenderer() = default;

PictureStatus FalseColourRenderer::Render(int width, int height,
                                          std::span<const std::uint16_t> pixels,
                                          const RenderOptions& options) {
    if (width <= 0 || height <= 0 || width > RgbImage::kMaxSide || height > RgbImage::kMaxSide)
        return PictureStatus::Error("cannot render a " + std::to_string(width) + "x" +
                                    std::to_string(height) + " image (sides must be 1 to " +
                                    std::to_string(RgbImage::kMaxSide) + ")");
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels.size() < count)
        return PictureStatus::Error("image of " + std::to_string(width) + "x" +
                                    std::to_string(height) + " needs " + std::to_string(count) +
                                    " pixels, got " + std::to_string(pixels.size()));
    pixels = pixels.first(count);

    CountRange range;
    if (options.range) {
        range = *options.range;
        if (PictureStatus status = NormaliseRange(range); !status) return status;
    } else {
        range = finder_->Find(pixels, options.lowFraction, options.highFraction);
    }
    const Palette& palette = options.palette ? *options.palette : Palette::Iron();

    ColourBarLayout layout;
    if (options.colourBar) {
        layout = LayOutColourBar(width, height);
        if (layout.pictureWidth > RgbImage::kMaxSide)
            return PictureStatus::Error("image of width " + std::to_string(width) +
                                        " leaves no room for a colour bar");
        picture_.Resize(layout.pictureWidth, layout.pictureHeight);
        picture_.Fill(kBackground);
    } else {
        picture_.Resize(width, height);
    }

    for (int y = 0; y < height; ++y) {
        const std::uint16_t* in = pixels.data() + static_cast<std::size_t>(y) * width;
        std::uint8_t* out = picture_.Row(y);
        for (int x = 0; x < width; ++x, out += 3) {
            const Rgb& colour = palette[PaletteIndex(in[x], range)];
            out[0] = colour.r;
            out[1] = colour.g;
            out[2] = colour.b;
        }
    }
    if (options.colourBar) {
        DrawColourBar(picture_, layout, palette, range);
        layout_ = layout;
    }
    range_ = range;
    return PictureStatus::Ok();
}

}  // namespace Vorn::Picture
