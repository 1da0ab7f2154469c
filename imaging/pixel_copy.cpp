#include "imaging/pixel_copy.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline std::uint16_t Swap16(std::uint16_t v) { return static_cast<std::uint16_t>(v << 8 | v >> 8); }

void SwapCopyTail(std::uint8_t* dst, const std::uint8_t* src, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        v = Swap16(v);
        std::memcpy(dst + 2 * i, &v, 2);
    }
}

// dst may equal src (in-place swap); they must not otherwise overlap.
void SwapCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
    std::size_t done = 0;
#if defined(__SSE2__)
    for (; done + 64 <= bytes; done += 64) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done + 16 * k));
        }
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm_or_si128(_mm_slli_epi16(v[k], 8), _mm_srli_epi16(v[k], 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + done + 16 * k), v[k]);
        }
    }
#endif
    SwapCopyTail(dst + done, src + done, (bytes - done) / 2);
}

}  // namespace

void CopyPixels(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, bool swapBytes) {
    if (!swapBytes) {
        std::memcpy(dst, src, bytes);
        return;
    }
    SwapCopy(dst, src, bytes);
    if (bytes % 2 != 0) dst[bytes - 1] = src[bytes - 1];
}

void SwapPixelBytes(std::uint8_t* pixels, std::size_t bytes) { SwapCopy(pixels, pixels, bytes); }
