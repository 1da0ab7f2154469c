#include "tools/zrfgrab/serve/readout.h"

#include <algorithm>

namespace zrfgrab::serve {

std::optional<PixelCount> CountAt(const CountsView& frame, std::int64_t x, std::int64_t y) {
    if (!frame.Valid() || x < 0 || y < 0 || x >= frame.width || y >= frame.height) return std::nullopt;
    const auto at = static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) + static_cast<std::size_t>(x);
    return PixelCount{static_cast<int>(x), static_cast<int>(y), frame.counts[at]};
}

std::optional<RegionStats> BoxStats(const CountsView& frame, Box box) {
    if (!frame.Valid()) return std::nullopt;
    const std::int64_t left = std::max<std::int64_t>(std::min(box.x0, box.x1), 0);
    const std::int64_t right = std::min<std::int64_t>(std::max(box.x0, box.x1), frame.width - 1);
    const std::int64_t top = std::max<std::int64_t>(std::min(box.y0, box.y1), 0);
    const std::int64_t bottom = std::min<std::int64_t>(std::max(box.y0, box.y1), frame.height - 1);
    if (left > right || top > bottom) return std::nullopt;
    RegionStats stats;
    std::uint64_t sum = 0;
    std::uint16_t low = UINT16_MAX, high = 0;
    for (std::int64_t y = top; y <= bottom; ++y) {
        const std::uint16_t* row = frame.counts.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width);
        for (std::int64_t x = left; x <= right; ++x) {
            const std::uint16_t c = row[x];
            sum += c;
            // Strict comparisons keep the first pixel in row order; the first pixel always counts.
            if (c < low || stats.pixels == 0) {
                low = c;
                stats.coldest = {static_cast<int>(x), static_cast<int>(y), c};
            }
            if (c > high || stats.pixels == 0) {
                high = c;
                stats.hottest = {static_cast<int>(x), static_cast<int>(y), c};
            }
            ++stats.pixels;
        }
    }
    stats.mean = static_cast<double>(sum) / static_cast<double>(stats.pixels);
    return stats;
}

std::optional<RegionStats> FrameStats(const CountsView& frame) {
    return BoxStats(frame, {0, 0, static_cast<std::int64_t>(frame.width) - 1, static_cast<std::int64_t>(frame.height) - 1});
}

}  // namespace zrfgrab::serve
