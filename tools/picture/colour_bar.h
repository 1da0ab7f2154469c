#pragma once
// The colour bar beside a false-colour image: a vertical strip of the palette, hottest at the
// top, with the range's upper limit written level with its top and the lower limit level with
// its bottom, in counts.
#include "tools/picture/count_range.h"
#include "tools/picture/palette.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

struct ColourBarLayout {
    int scale = 1;         // of the font and the bar's width: 2 for images wider than 400 pixels
    int pictureWidth = 0;  // the image with the bar and its labels
    int pictureHeight = 0;
    int barX = 0;  // first column of the gradient (the frame is one pixel outside it)
    int barWidth = 0;
    int barTop = 0;     // row showing palette index 255
    int barBottom = 0;  // row showing palette index 0; always below barTop
    int labelX = 0;
    int upperLabelY = 0;  // top row of the upper limit's text
    int lowerLabelY = 0;
    friend bool operator==(const ColourBarLayout&, const ColourBarLayout&) = default;
};

inline constexpr Rgb kBackground{0, 0, 0};
inline constexpr Rgb kLabelColour{255, 255, 255};
inline constexpr Rgb kBarFrameColour{128, 128, 128};

// Where everything goes for an image of the given size, which is drawn at the top left. The
// picture is taller than the image when the image is too short for a readable bar.
ColourBarLayout LayOutColourBar(int imageWidth, int imageHeight);

// Draws frame, gradient and limits into a picture of layout.pictureWidth x pictureHeight.
// Only the area right of the image is touched.
void DrawColourBar(RgbImage& picture, const ColourBarLayout& layout, const Palette& palette,
                   CountRange range);

}  // namespace Vorn::Picture
