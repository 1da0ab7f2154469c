#pragma once
// Moving 16-bit pixels, optionally exchanging the two bytes of each on the way. Swapping while
// copying costs no more than the copy.
#include <cstddef>
#include <cstdint>

void CopyPixels(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, bool swapBytes);
// In place; an odd trailing byte is left alone.
void SwapPixelBytes(std::uint8_t* pixels, std::size_t bytes);
