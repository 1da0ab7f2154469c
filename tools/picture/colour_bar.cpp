#include "tools/picture/colour_bar.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "tools/picture/bitmap_font.h"

namespace Vorn::Picture {
namespace {

constexpr int kWideImage = 400;
constexpr std::string_view kWidestLabel = "65535";

std::string_view FormatCount(std::uint16_t count, char (&buffer)[8]) {
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, count);
    return {buffer, static_cast<std::size_t>(result.ptr - buffer)};
}

}  // namespace

ColourBarLayout LayOutColourBar(int imageWidth, int imageHeight) {
    ColourBarLayout layout;
    const int s = imageWidth > kWideImage ? 2 : 1;
    layout.scale = s;
    const int margin = 4 * s;
    const int textHeight = BitmapFont::TextHeight(s);
    const int minimumBar = 32 * s;

    layout.barX = imageWidth + 8 * s + 1;
    layout.barWidth = 12 * s;
    layout.labelX = layout.barX + layout.barWidth + 1 + 4 * s;
    layout.pictureWidth = layout.labelX + BitmapFont::TextWidth(kWidestLabel, s) + margin;

    // The labels are centred on the bar's ends, so the bar keeps half a text height (and the
    // margin) clear of the picture's edges.
    const int endClearance = margin + textHeight / 2 + 1;
    layout.pictureHeight = std::max(imageHeight, 2 * endClearance + minimumBar);
    layout.barTop = endClearance;
    layout.barBottom = layout.pictureHeight - 1 - endClearance;
    layout.upperLabelY = layout.barTop - textHeight / 2;
    layout.lowerLabelY = layout.barBottom - textHeight / 2;
    return layout;
}

void DrawColourBar(RgbImage& picture, const ColourBarLayout& layout, const Palette& palette,
                   CountRange range) {
    const int barHeight = layout.barBottom - layout.barTop;
    if (barHeight <= 0) return;  // not a layout LayOutColourBar makes
    picture.FillRect(layout.barX - 1, layout.barTop - 1, layout.barWidth + 2, barHeight + 3,
                     kBarFrameColour);
    for (int y = layout.barTop; y <= layout.barBottom; ++y) {
        const int fromBottom = layout.barBottom - y;
        const auto index =
            static_cast<std::uint8_t>((fromBottom * 255 + barHeight / 2) / barHeight);
        picture.FillRect(layout.barX, y, layout.barWidth, 1, palette[index]);
    }
    char buffer[8];
    BitmapFont::DrawText(picture, layout.labelX, layout.upperLabelY,
                         FormatCount(range.high, buffer), kLabelColour, layout.scale);
    BitmapFont::DrawText(picture, layout.labelX, layout.lowerLabelY, FormatCount(range.low, buffer),
                         kLabelColour, layout.scale);
}

}  // namespace Vorn::Picture
