#pragma once
// Moving 16-bit pixels, optionally exchanging the two bytes of each on the way. Swapping while
// copying costs no more than the copy.
#include <cstddef>
#include <cstdint>

// Every per-frame copy of pixels or of a whole picture goes through here, not memcpy: its cost
// must not depend on where the two buffers lie (the C library's copy, on some processors, runs
// many times slower when the destination lies a few bytes past the source within a page). The
// one exception is the platform stand-in's sample grabber, below this layer, whose copy stands
// for the platform's own. The buffers must not overlap.
void CopyPixels(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, bool swapBytes);

// The kernels; CopyPixels uses the widest the processor has (on Windows for long plain copies
// too, where the C runtime's memcpy may be narrow).
enum class PixelSwapKernel { Scalar, Sse2, Avx2, Avx512 };
// CopyPixels with the kernel given; false (nothing written) when the processor lacks it.
bool CopyPixelsWith(PixelSwapKernel kernel, std::uint8_t* dst, const std::uint8_t* src,
                    std::size_t bytes, bool swapBytes);
// In place; an odd trailing byte is left alone.
void SwapPixelBytes(std::uint8_t* pixels, std::size_t bytes);
