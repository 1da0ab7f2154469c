#pragma once
// Video subtypes named by their four-character code, in the platform's subtype form.
#include "platform/com/guid.h"

namespace zrf::sim {

constexpr GUID FourCCSubtype(const char (&code)[5]) {
    std::uint32_t value = static_cast<std::uint8_t>(code[0]) |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 8 |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 16 |
                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[3])) << 24;
    return {value, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

}  // namespace zrf::sim
