#pragma once
// Turns a 16-bit image of counts into a false-colour RGB picture with a colour bar.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "tools/picture/colour_bar.h"
#include "tools/picture/count_range.h"
#include "tools/picture/palette.h"
#include "tools/picture/picture_status.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

struct RenderOptions {
    const Palette* palette = nullptr;  // null: iron
    // A manual range overrides the one found from the pixels; a flat one is widened.
    std::optional<CountRange> range;
    double lowFraction = RangeFinder::kDefaultLowFraction;
    double highFraction = RangeFinder::kDefaultHighFraction;
    bool colourBar = true;
};

// Palette index of a count: the range's limits map to 0 and 255, counts outside it are
// clamped, counts between are spread evenly (rounded to nearest). The range must be
// normalised (low < high).
std::uint8_t PaletteIndex(std::uint16_t count, CountRange range);

// Keeps its picture and histogram between frames, so rendering frames of one size allocates
// nothing after the first.
class FalseColourRenderer {
  public:
    FalseColourRenderer();
    ~FalseColourRenderer();
    FalseColourRenderer(const FalseColourRenderer&) = delete;
    FalseColourRenderer& operator=(const FalseColourRenderer&) = delete;

    // pixels holds width x height counts row by row (more are ignored). Fails, leaving the
    // previous picture in place, for sides outside 1..RgbImage::kMaxSide, too few pixels or a
    // reversed manual range.
    PictureStatus Render(int width, int height, std::span<const std::uint16_t> pixels,
                         const RenderOptions& options = {});

    const RgbImage& Picture() const { return picture_; }
    CountRange Range() const { return range_; }  // of the last successful render
    // Of the last successful render with a colour bar.
    const ColourBarLayout& Layout() const { return layout_; }

  private:
    std::unique_ptr<RangeFinder> finder_;  // 256 KiB: kept off the stack
    RgbImage picture_;
    CountRange range_;
    ColourBarLayout layout_;
};

}  // namespace Vorn::Picture
