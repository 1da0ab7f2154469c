#include "tools/zrfgrab/zrf_image_view.h"

#include <cstdio>
#include <cstdlib>

#include "imaging/visual_frame_header.h"
#include "imaging/zrf_records.h"

namespace zrfgrab {

using namespace Zrf;

std::uint32_t ZrfImageView::Be32(std::size_t at) const {
    return static_cast<std::uint32_t>(Be16(at)) << 16 | Be16(at + 2);
}

std::uint16_t ZrfImageView::Be16(std::size_t at) const {
    return static_cast<std::uint16_t>(bytes_[at] << 8 | bytes_[at + 1]);
}

std::string ZrfImageView::Text(std::size_t at, std::size_t capacity) const {
    std::string s;
    for (std::size_t i = 0; i < capacity && Has(at + i, 1) && bytes_[at + i] != 0; ++i) {
        const char c = static_cast<char>(bytes_[at + i]);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

bool ZrfImageView::IsZrf() const {
    return Has(0, kMainHeaderSize) && Text(0, 4) == "ZRF" && bytes_[3] == 0;
}

std::optional<std::size_t> ZrfImageView::FrameInfoOffset() const {
    if (!IsZrf()) return std::nullopt;
    const std::uint32_t entries = Be32(28);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t e = kIndexOffset + static_cast<std::size_t>(i) * kIndexEntrySize;
        if (!Has(e, kIndexEntrySize)) break;
        const std::uint32_t offset = Be32(e + 12), length = Be32(e + 16);
        if (Be16(e) == kFrameInfoBlock && length >= Info::kInterpretedEnd && Has(offset, length))
            return offset;
    }
    return std::nullopt;
}

std::optional<int> ImageZoneMinutes(std::span<const std::uint8_t> image) {
    const ZrfImageView view(image);
    if (const auto info = view.FrameInfoOffset()) return view.Le<std::int16_t>(*info + Info::kTimeZone);
    const std::string fourCc = view.Text(0, 4);
    if (view.Has(0, sizeof(VisualFrameHeader)) && (fourCc == "YUY2" || fourCc == "I420"))
        return view.Le<std::int32_t>(offsetof(VisualFrameHeader, timeZoneMinutes));
    return std::nullopt;
}

std::string ZoneText(int minutesWest) {
    const long long east = -static_cast<long long>(minutesWest);  // any value a file holds
    char text[32];
    std::snprintf(text, sizeof text, "UTC%c%02lld:%02lld", east < 0 ? '-' : '+', std::llabs(east) / 60,
                  std::llabs(east) % 60);
    return text;
}

}  // namespace zrfgrab
