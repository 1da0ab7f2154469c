#pragma once
// The RIPEMD-160 compression function on its own: one 64-byte block, already split into
// sixteen 32-bit words, folded into the five chaining words.
#include <cstdint>

namespace VORN {

inline constexpr std::uint32_t kRmd160StandardInit[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                         0x10325476u, 0xC3D2E1F0u};

void Rmd160Compress(std::uint32_t (&state)[5], const std::uint32_t (&words)[16]);

}  // namespace VORN
