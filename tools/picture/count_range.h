#pragma once
// The range of counts a false-colour picture spreads its palette over, and finding it from
// the pixels themselves.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "tools/picture/picture_status.h"

namespace Vorn::Picture {

// Inclusive limits; low < high once normalised, so the palette always has a span to spread
// over.
struct CountRange {
    std::uint16_t low = 0;
    std::uint16_t high = 65535;
    friend bool operator==(const CountRange&, const CountRange&) = default;
};

// A flat range (low == high) is widened upwards by one count, or downwards at the top of the
// scale. Reversed limits are an error rather than a silently mirrored picture.
PictureStatus NormaliseRange(CountRange& range);

// Finds the range between two percentiles of the counts, so that a few dead or hot pixels do
// not squeeze the scene into a handful of colours. Keeps its histogram (256 KiB) between
// frames, so finding a range allocates nothing.
class RangeFinder {
  public:
    static constexpr double kDefaultLowFraction = 0.005;
    static constexpr double kDefaultHighFraction = 0.995;

    // The counts at the given fractions of the sorted pixels (nearest rank, rounded outwards),
    // normalised. An empty image gives the full scale. Fractions are clamped to 0..1 and
    // swapped if reversed.
    CountRange Find(std::span<const std::uint16_t> pixels, double lowFraction = kDefaultLowFraction,
                    double highFraction = kDefaultHighFraction);

  private:
    std::array<std::uint32_t, 65536> histogram_{};
};

}  // namespace Vorn::Picture
