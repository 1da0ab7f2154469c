#include "host/xml/xml_chars.h"

#include <cstdint>

namespace System::Xml {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool Allowed(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the allowed character at text[i], or 0 when the byte there starts none.
std::size_t CharAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    if (lead < 0x80) return Allowed(lead) ? 1 : 0;
    const std::size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    std::uint32_t c = lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms and values past U+10FFFF are not UTF-8.
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    return c >= least && Allowed(c) ? length : 0;
}

}  // namespace

bool IsXmlText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = CharAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string ToXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = CharAt(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace System::Xml
