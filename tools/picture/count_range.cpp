#include "tools/picture/count_range.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace Vorn::Picture {

PictureStatus NormaliseRange(CountRange& range) {
    if (range.low > range.high)
        return PictureStatus::Error("invalid count range " + std::to_string(range.low) + ".." +
                                    std::to_string(range.high) + " (lower limit above upper)");
    if (range.low == range.high) {
        if (range.high < 65535)
            ++range.high;
        else
            --range.low;
    }
    return PictureStatus::Ok();
}

CountRange RangeFinder::Find(std::span<const std::uint16_t> pixels, double lowFraction,
                             double highFraction) {
    CountRange range;
    if (pixels.empty()) return range;
    // NaN fails both comparisons of clamp's contract; treat it as the full scale.
    if (!(lowFraction >= 0.0)) lowFraction = 0.0;
    if (!(highFraction <= 1.0)) highFraction = 1.0;
    lowFraction = std::min(lowFraction, 1.0);
    highFraction = std::max(highFraction, 0.0);
    if (lowFraction > highFraction) std::swap(lowFraction, highFraction);

    histogram_.fill(0);
    for (std::uint16_t count : pixels) ++histogram_[count];

    // Zero-based ranks into the sorted pixels; the low one rounds down and the high one up, so
    // the range errs on the wide side.
    const double last = static_cast<double>(pixels.size() - 1);
    const auto lowRank = static_cast<std::uint64_t>(std::floor(lowFraction * last));
    const auto highRank = static_cast<std::uint64_t>(std::ceil(highFraction * last));

    std::uint64_t seen = 0;
    bool lowFound = false;
    for (std::uint32_t count = 0; count < histogram_.size(); ++count) {
        seen += histogram_[count];
        if (!lowFound && seen > lowRank) {
            range.low = static_cast<std::uint16_t>(count);
            lowFound = true;
        }
        if (seen > highRank) {
            range.high = static_cast<std::uint16_t>(count);
            break;
        }
    }
    // The ranks are ordered, so low <= high and normalising cannot fail.
    (void)NormaliseRange(range);
    return range;
}

}  // namespace Vorn::Picture
