#include "imaging/pixel_copy.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
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

#if defined(__x86_64__)
// 128 bytes per round in 32-byte lanes: as wide as the copy itself, so swapping costs about
// what copying does.
__attribute__((target("avx2"))) std::size_t SwapCopyAvx2(std::uint8_t* dst, const std::uint8_t* src,
                                                          std::size_t bytes) {
    const __m256i pairs = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0,
                                           3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    std::size_t done = 0;
    // Written out rather than looped: at -O2 a loop over a small array of vectors spills it.
    for (; done + 128 <= bytes; done += 128) {
        const auto* in = reinterpret_cast<const __m256i*>(src + done);
        auto* out = reinterpret_cast<__m256i*>(dst + done);
        const __m256i a = _mm256_loadu_si256(in);
        const __m256i b = _mm256_loadu_si256(in + 1);
        const __m256i c = _mm256_loadu_si256(in + 2);
        const __m256i d = _mm256_loadu_si256(in + 3);
        _mm256_storeu_si256(out, _mm256_shuffle_epi8(a, pairs));
        _mm256_storeu_si256(out + 1, _mm256_shuffle_epi8(b, pairs));
        _mm256_storeu_si256(out + 2, _mm256_shuffle_epi8(c, pairs));
        _mm256_storeu_si256(out + 3, _mm256_shuffle_epi8(d, pairs));
    }
    return done;
}

bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

// dst may equal src (in-place swap); they must not otherwise overlap.
void SwapCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
    std::size_t done = 0;
#if defined(__x86_64__)
    if (HasAvx2()) done = SwapCopyAvx2(dst, src, bytes);
    for (; done + 16 <= bytes; done += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + done),
                         _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));
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
