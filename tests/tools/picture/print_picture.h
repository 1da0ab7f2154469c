#pragma once
// Readable failure messages for picture types.
#include <ostream>

#include "tools/picture/count_range.h"
#include "tools/picture/rgb_image.h"

namespace Vorn::Picture {

inline void PrintTo(const Rgb& c, std::ostream* out) {
    *out << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

inline void PrintTo(const CountRange& range, std::ostream* out) {
    *out << range.low << ".." << range.high;
}

}  // namespace Vorn::Picture
