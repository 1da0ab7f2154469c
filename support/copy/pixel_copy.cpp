#include "support/copy/pixel_copy.h"

#include <cstring>
#include <initializer_list>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Below this the runtime's memcpy is as good as any.
constexpr std::size_t kWideCopyMinimum = 4096;

// Whether the destination lies 1 to 63 bytes past the source within a 4 KB page, where the C
// library's copy is many times slower on some processors.
[[maybe_unused]] bool LibraryCopyIsSlowFor(const std::uint8_t* dst, const std::uint8_t* src) {
    const std::uintptr_t ahead =
        (reinterpret_cast<std::uintptr_t>(dst) - reinterpret_cast<std::uintptr_t>(src)) & 4095;
    return ahead != 0 && ahead < 64;
}

inline std::uint16_t Swap16(std::uint16_t v) {
    return static_cast<std::uint16_t>(v << 8 | v >> 8);
}

void SwapCopyTail(std::uint8_t* dst, const std::uint8_t* src, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        v = Swap16(v);
        std::memcpy(dst + 2 * i, &v, 2);
    }
}

#if defined(__x86_64__)
// 256 bytes per round in 64-byte lanes: the width the memcpy it is compared with uses.
__attribute__((target("avx512bw"))) std::size_t SwapCopyAvx512(std::uint8_t* dst,
                                                              const std::uint8_t* src,
                                                              std::size_t bytes) {
    alignas(64) static constexpr std::uint8_t kPairs[64] = {
        1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4,
        7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10,
        13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};
    const __m512i pairs = _mm512_load_si512(kPairs);
    // A store across two cache lines costs two: the pixels before the first line boundary go
    // one by one (an odd start has no boundary that keeps pixels whole).
    std::size_t done = (64 - (reinterpret_cast<std::uintptr_t>(dst) & 63)) & 63;
    if (done % 2 != 0 || done + 256 > bytes) done = 0;
    SwapCopyTail(dst, src, done / 2);
    for (; done + 256 <= bytes; done += 256) {
        const auto* in = reinterpret_cast<const __m512i*>(src + done);
        auto* out = reinterpret_cast<__m512i*>(dst + done);
        const __m512i a = _mm512_loadu_si512(in);
        const __m512i b = _mm512_loadu_si512(in + 1);
        const __m512i c = _mm512_loadu_si512(in + 2);
        const __m512i d = _mm512_loadu_si512(in + 3);
        _mm512_storeu_si512(out, _mm512_shuffle_epi8(a, pairs));
        _mm512_storeu_si512(out + 1, _mm512_shuffle_epi8(b, pairs));
        _mm512_storeu_si512(out + 2, _mm512_shuffle_epi8(c, pairs));
        _mm512_storeu_si512(out + 3, _mm512_shuffle_epi8(d, pairs));
    }
    return done;
}

// The plain copy in the same rounds, for the Windows build: a C runtime's memcpy may be
// narrower than the processor (Wine's is).
__attribute__((target("avx512f"))) std::size_t CopyAvx512(std::uint8_t* dst, const std::uint8_t* src,
                                                         std::size_t bytes) {
    std::size_t done = (64 - (reinterpret_cast<std::uintptr_t>(dst) & 63)) & 63;
    if (done + 256 > bytes) return 0;
    std::memcpy(dst, src, done);
    for (; done + 256 <= bytes; done += 256) {
        const auto* in = reinterpret_cast<const __m512i*>(src + done);
        auto* out = reinterpret_cast<__m512i*>(dst + done);
        const __m512i a = _mm512_loadu_si512(in);
        const __m512i b = _mm512_loadu_si512(in + 1);
        const __m512i c = _mm512_loadu_si512(in + 2);
        const __m512i d = _mm512_loadu_si512(in + 3);
        _mm512_store_si512(out, a);
        _mm512_store_si512(out + 1, b);
        _mm512_store_si512(out + 2, c);
        _mm512_store_si512(out + 3, d);
    }
    return done;
}

// The same with 32-byte lanes, for processors without AVX-512.
__attribute__((target("avx2"))) std::size_t CopyAvx2(std::uint8_t* dst, const std::uint8_t* src,
                                                     std::size_t bytes) {
    std::size_t done = (32 - (reinterpret_cast<std::uintptr_t>(dst) & 31)) & 31;
    if (done + 128 > bytes) return 0;
    std::memcpy(dst, src, done);
    for (; done + 128 <= bytes; done += 128) {
        const auto* in = reinterpret_cast<const __m256i*>(src + done);
        auto* out = reinterpret_cast<__m256i*>(dst + done);
        const __m256i a = _mm256_loadu_si256(in);
        const __m256i b = _mm256_loadu_si256(in + 1);
        const __m256i c = _mm256_loadu_si256(in + 2);
        const __m256i d = _mm256_loadu_si256(in + 3);
        _mm256_store_si256(out, a);
        _mm256_store_si256(out + 1, b);
        _mm256_store_si256(out + 2, c);
        _mm256_store_si256(out + 3, d);
    }
    return done;
}

// 128 bytes per round in 32-byte lanes.
__attribute__((target("avx2"))) std::size_t SwapCopyAvx2(std::uint8_t* dst, const std::uint8_t* src,
                                                         std::size_t bytes) {
    const __m256i pairs = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1,
                                           0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
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

std::size_t SwapCopySse2(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
    std::size_t done = 0;
    for (; done + 16 <= bytes; done += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + done),
                         _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));
    }
    return done;
}
#endif

bool Supported(PixelSwapKernel kernel) {
    switch (kernel) {
        case PixelSwapKernel::Scalar:
            return true;
#if defined(__x86_64__)
        case PixelSwapKernel::Sse2:
            return true;
        case PixelSwapKernel::Avx2:
            return __builtin_cpu_supports("avx2") != 0;
        case PixelSwapKernel::Avx512:
            return __builtin_cpu_supports("avx512bw") != 0;
#endif
        default:
            return false;
    }
}

// The widest kernel the processor has, chosen once.
PixelSwapKernel Widest() {
    static const PixelSwapKernel widest = [] {
        for (const PixelSwapKernel k :
             {PixelSwapKernel::Avx512, PixelSwapKernel::Avx2, PixelSwapKernel::Sse2})
            if (Supported(k)) return k;
        return PixelSwapKernel::Scalar;
    }();
    return widest;
}

// dst may equal src (in-place swap); they must not otherwise overlap. Each wide kernel leaves
// its remainder to the narrower ones.
void SwapCopy(PixelSwapKernel kernel, std::uint8_t* dst, const std::uint8_t* src,
              std::size_t bytes) {
    std::size_t done = 0;
#if defined(__x86_64__)
    if (kernel == PixelSwapKernel::Avx512) done = SwapCopyAvx512(dst, src, bytes);
    if (kernel == PixelSwapKernel::Avx512 || kernel == PixelSwapKernel::Avx2)
        done += SwapCopyAvx2(dst + done, src + done, bytes - done);
    if (kernel != PixelSwapKernel::Scalar)
        done += SwapCopySse2(dst + done, src + done, bytes - done);
#endif
    SwapCopyTail(dst + done, src + done, (bytes - done) / 2);
}

}  // namespace

bool CopyPixelsWith(PixelSwapKernel kernel, std::uint8_t* dst, const std::uint8_t* src,
                    std::size_t bytes, bool swapBytes) {
    if (!Supported(kernel)) return false;
    if (!swapBytes) {
        std::size_t done = 0;
#if defined(__x86_64__)
        if (kernel == PixelSwapKernel::Avx512 && bytes >= kWideCopyMinimum)
            done = CopyAvx512(dst, src, bytes);
        else if (kernel == PixelSwapKernel::Avx2 && bytes >= kWideCopyMinimum)
            done = CopyAvx2(dst, src, bytes);
#endif
        std::memcpy(dst + done, src + done, bytes - done);
        return true;
    }
    SwapCopy(kernel, dst, src, bytes);
    if (bytes % 2 != 0) dst[bytes - 1] = src[bytes - 1];
    return true;
}

void CopyPixels(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, bool swapBytes) {
#ifndef _WIN32
    // The C library picks its own copy for the processor, and copies without reading the
    // destination first: no kernel of ours beats it, but for one case. Its string-move copy
    // runs 12-30 times slower on some processors (measured: 110 instead of 9 us for 300 KB)
    // when the destination lies a few bytes past the source, counted within a 4 KB page; a
    // frame's buffers can lie so by chance. Our kernel does not care where they lie.
    if (!swapBytes && (bytes < kWideCopyMinimum || !LibraryCopyIsSlowFor(dst, src))) {
        std::memcpy(dst, src, bytes);
        return;
    }
#endif
    CopyPixelsWith(Widest(), dst, src, bytes, swapBytes);
}

void SwapPixelBytes(std::uint8_t* pixels, std::size_t bytes) {
    SwapCopy(Widest(), pixels, pixels, bytes);
}
