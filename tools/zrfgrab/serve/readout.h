#pragma once
// What the spot readout reads from a frame's counts: the count under a pixel, and the coldest,
// hottest and mean count of a box. Coordinates come from clients, so any value is taken: a box
// is clipped to the frame, a pixel outside it reads nothing.
#include <cstdint>
#include <optional>
#include <span>

namespace zrfgrab::serve {

struct CountsView {
    int width = 0;
    int height = 0;
    std::span<const std::uint16_t> counts;  // width x height, row after row

    bool Valid() const {
        return width > 0 && height > 0 &&
               counts.size() >= static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
};

struct PixelCount {
    int x = 0;
    int y = 0;
    std::uint16_t count = 0;
    friend bool operator==(const PixelCount&, const PixelCount&) = default;
};

struct RegionStats {
    PixelCount coldest;  // the first such pixel in row order
    PixelCount hottest;
    double mean = 0;
    std::uint64_t pixels = 0;
};

// Corners in either order, both inclusive.
struct Box {
    std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

std::optional<PixelCount> CountAt(const CountsView& frame, std::int64_t x, std::int64_t y);
// Nothing when the frame is invalid or the box lies wholly outside it.
std::optional<RegionStats> BoxStats(const CountsView& frame, Box box);
// The whole frame.
std::optional<RegionStats> FrameStats(const CountsView& frame);

}  // namespace zrfgrab::serve
