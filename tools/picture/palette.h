#pragma once
// False-colour palettes: 256 colours from the coldest (index 0) to the hottest (index 255).
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "tools/picture/picture_status.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

class Palette {
  public:
    static constexpr int kSize = 256;

    // The built-in palettes, built once and never freed.
    // "iron": black, deep blue, purple, red, orange, yellow, white; brightness rises throughout.
    static const Palette& Iron();
    // "grey": black to white.
    static const Palette& Grey();
    // "hot": black, red, yellow, white; brightness rises throughout.
    static const Palette& Hot();
    // "rainbow": blue, cyan, green, yellow, red; most distinct hues, brightness not monotone.
    static const Palette& Rainbow();

    // Names of the built-in palettes, in the order above.
    static std::span<const std::string_view> Names();
    // Case-sensitive look-up; an unknown name gives an error naming the known ones.
    static PictureStatus Find(std::string_view name, const Palette*& palette);

    std::string_view Name() const { return name_; }
    const Rgb& operator[](std::uint8_t index) const { return colours_[index]; }

  private:
    // Control points with their positions (0 to 1, increasing); colours between are
    // interpolated linearly.
    struct Stop {
        double at;
        Rgb colour;
    };
    Palette(std::string_view name, std::span<const Stop> stops);

    std::string_view name_;
    std::array<Rgb, kSize> colours_{};
};

}  // namespace Vorn::Picture
