#include "tools/picture/palette.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace Vorn::Picture {
namespace {

constexpr std::string_view kNames[] = {"iron", "grey", "hot", "rainbow"};

std::uint8_t Mix(std::uint8_t a, std::uint8_t b, double t) {
    return static_cast<std::uint8_t>(std::lround(a + (b - a) * t));
}

}  // namespace

Palette::Palette(std::string_view name, std::span<const Stop> stops) : name_(name) {
    std::size_t segment = 0;
    for (int i = 0; i < kSize; ++i) {
        const double at = i / double(kSize - 1);
        while (segment + 2 < stops.size() && at > stops[segment + 1].at) ++segment;
        const Stop& lo = stops[segment];
        const Stop& hi = stops[segment + 1];
        const double t = std::clamp((at - lo.at) / (hi.at - lo.at), 0.0, 1.0);
        colours_[i] = {Mix(lo.colour.r, hi.colour.r, t), Mix(lo.colour.g, hi.colour.g, t),
                       Mix(lo.colour.b, hi.colour.b, t)};
    }
}

// The stops of the brightness-ordered palettes were chosen so that luminance rises from one
// stop to the next; linear interpolation then keeps it rising in between.
const Palette& Palette::Iron() {
    static constexpr Stop kStops[] = {
        {0.00, {0, 0, 0}},       {0.10, {30, 0, 110}},  {0.30, {140, 0, 150}},
        {0.50, {220, 40, 60}},   {0.70, {250, 130, 0}}, {0.85, {255, 210, 20}},
        {1.00, {255, 255, 255}},
    };
    static const Palette palette(kNames[0], kStops);
    return palette;
}

const Palette& Palette::Grey() {
    static constexpr Stop kStops[] = {{0.0, {0, 0, 0}}, {1.0, {255, 255, 255}}};
    static const Palette palette(kNames[1], kStops);
    return palette;
}

const Palette& Palette::Hot() {
    static constexpr Stop kStops[] = {
        {0.0, {0, 0, 0}}, {0.4, {255, 0, 0}}, {0.8, {255, 255, 0}}, {1.0, {255, 255, 255}}};
    static const Palette palette(kNames[2], kStops);
    return palette;
}

const Palette& Palette::Rainbow() {
    static constexpr Stop kStops[] = {{0.00, {0, 0, 255}},
                                      {0.25, {0, 255, 255}},
                                      {0.50, {0, 255, 0}},
                                      {0.75, {255, 255, 0}},
                                      {1.00, {255, 0, 0}}};
    static const Palette palette(kNames[3], kStops);
    return palette;
}

std::span<const std::string_view> Palette::Names() {
    return kNames;
}

PictureStatus Palette::Find(std::string_view name, const Palette*& palette) {
    static constexpr const Palette& (*kPalettes[])() = {&Iron, &Grey, &Hot, &Rainbow};
    static_assert(std::size(kPalettes) == std::size(kNames));
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (name == kNames[i]) {
            palette = &kPalettes[i]();
            return PictureStatus::Ok();
        }
    }
    std::string message = "unknown palette '" + std::string(name) + "' (known:";
    for (std::string_view known : kNames) message += " " + std::string(known);
    message += ")";
    return PictureStatus::Error(std::move(message));
}

}  // namespace Vorn::Picture
