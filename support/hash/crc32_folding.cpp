// CRC-32 by folding: four 16-byte lanes are carried 64 bytes on at a time with carry-less
// multiplication, which keeps their value modulo the polynomial; the one lane left at the end
// and the bytes after it go through the sliced tables.
#include "support/hash/crc32_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZRF_CRC32_FOLDING 1
#endif

namespace VORN {

#ifdef ZRF_CRC32_FOLDING
namespace {

// Below this the lane set-up costs more than slicing.
constexpr std::size_t kFoldingMinimum = 128;

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i lane, __m128i constants,
                                                      __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul"))) std::uint32_t FoldLanes(const Crc32Tables& tables,
                                                          std::uint32_t reg,
                                                          const unsigned char* data,
                                                          std::size_t length) {
    // The register joins the first four bytes; the lanes then fold from a zero register.
    __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(data + 16);
    __m128i x2 = Load(data + 32);
    __m128i x3 = Load(data + 48);
    data += 64;
    length -= 64;

    const __m128i by64 = _mm_set_epi64x(static_cast<long long>(tables.fold64[1]),
                                        static_cast<long long>(tables.fold64[0]));
    for (; length >= 64; data += 64, length -= 64) {
        x0 = Fold(x0, by64, Load(data));
        x1 = Fold(x1, by64, Load(data + 16));
        x2 = Fold(x2, by64, Load(data + 32));
        x3 = Fold(x3, by64, Load(data + 48));
    }

    const __m128i by16 = _mm_set_epi64x(static_cast<long long>(tables.fold16[1]),
                                        static_cast<long long>(tables.fold16[0]));
    x0 = Fold(x0, by16, x1);
    x0 = Fold(x0, by16, x2);
    x0 = Fold(x0, by16, x3);
    for (; length >= 16; data += 16, length -= 16) x0 = Fold(x0, by16, Load(data));

    alignas(16) unsigned char lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x0);
    reg = Crc32UpdateSliced(tables, 0, lane, sizeof lane);
    return Crc32UpdateSliced(tables, reg, data, length);
}

// Below this the wide set-up and the hand-over to the narrow lanes cost more than they save.
constexpr std::size_t kWideFoldingMinimum = 2048;

#define ZRF_WIDE_TARGET __attribute__((target("avx512f,avx512vl,vpclmulqdq")))

ZRF_WIDE_TARGET inline __m512i FoldWide(__m512i lanes, __m512i constants, __m512i next) {
    const __m512i low = _mm512_clmulepi64_epi128(lanes, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(lanes, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // the three xor-ed
}

// Thirty-two 16-byte lanes in eight vectors carried 512 bytes on at a time: eight chains, so
// the multiplier never waits for a result. What they hold at the end is worth its 512 bytes of
// input from a zero register: the narrow lanes take it from there.
ZRF_WIDE_TARGET std::uint32_t FoldWideLanes(const Crc32Tables& tables, std::uint32_t reg,
                                            const unsigned char* data, std::size_t length) {
    // Named, not an array: at -O2 an array of vectors is kept in memory.
    __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(data),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m512i x1 = _mm512_loadu_si512(data + 64), x2 = _mm512_loadu_si512(data + 128);
    __m512i x3 = _mm512_loadu_si512(data + 192), x4 = _mm512_loadu_si512(data + 256);
    __m512i x5 = _mm512_loadu_si512(data + 320), x6 = _mm512_loadu_si512(data + 384);
    __m512i x7 = _mm512_loadu_si512(data + 448);
    data += 512;
    length -= 512;
    const auto k0 = static_cast<long long>(tables.fold512[0]);
    const auto k1 = static_cast<long long>(tables.fold512[1]);
    const __m512i by512 = _mm512_set_epi64(k1, k0, k1, k0, k1, k0, k1, k0);
    for (; length >= 512; data += 512, length -= 512) {
        x0 = FoldWide(x0, by512, _mm512_loadu_si512(data));
        x1 = FoldWide(x1, by512, _mm512_loadu_si512(data + 64));
        x2 = FoldWide(x2, by512, _mm512_loadu_si512(data + 128));
        x3 = FoldWide(x3, by512, _mm512_loadu_si512(data + 192));
        x4 = FoldWide(x4, by512, _mm512_loadu_si512(data + 256));
        x5 = FoldWide(x5, by512, _mm512_loadu_si512(data + 320));
        x6 = FoldWide(x6, by512, _mm512_loadu_si512(data + 384));
        x7 = FoldWide(x7, by512, _mm512_loadu_si512(data + 448));
    }
    alignas(64) unsigned char lanes[512];
    _mm512_store_si512(lanes, x0);
    _mm512_store_si512(lanes + 64, x1);
    _mm512_store_si512(lanes + 128, x2);
    _mm512_store_si512(lanes + 192, x3);
    _mm512_store_si512(lanes + 256, x4);
    _mm512_store_si512(lanes + 320, x5);
    _mm512_store_si512(lanes + 384, x6);
    _mm512_store_si512(lanes + 448, x7);
    reg = FoldLanes(tables, 0, lanes, sizeof lanes);
    return length >= kFoldingMinimum ? FoldLanes(tables, reg, data, length)
                                     : Crc32UpdateSliced(tables, reg, data, length);
}

#define ZRF_AVX2_FOLD_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul")))

ZRF_AVX2_FOLD_TARGET inline __m256i Load32(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ZRF_AVX2_FOLD_TARGET inline void Store32(unsigned char* p, __m256i v) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(p), v);
}

ZRF_AVX2_FOLD_TARGET inline __m256i FoldAvx2(__m256i lanes, __m256i constants, __m256i next) {
    const __m256i low = _mm256_clmulepi64_epi128(lanes, constants, 0x00);
    const __m256i high = _mm256_clmulepi64_epi128(lanes, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

// For processors that multiply 32-byte vectors but have no 64-byte ones: sixteen 16-byte lanes
// in eight vectors carried 256 bytes on at a time, eight chains as in the wide kernel.
ZRF_AVX2_FOLD_TARGET std::uint32_t FoldAvx2Lanes(const Crc32Tables& tables, std::uint32_t reg,
                                                 const unsigned char* data, std::size_t length) {
    __m256i x0 = _mm256_xor_si256(Load32(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m256i x1 = Load32(data + 32), x2 = Load32(data + 64), x3 = Load32(data + 96);
    __m256i x4 = Load32(data + 128), x5 = Load32(data + 160), x6 = Load32(data + 192);
    __m256i x7 = Load32(data + 224);
    data += 256;
    length -= 256;
    const auto k0 = static_cast<long long>(tables.fold256[0]);
    const auto k1 = static_cast<long long>(tables.fold256[1]);
    const __m256i by256 = _mm256_set_epi64x(k1, k0, k1, k0);
    for (; length >= 256; data += 256, length -= 256) {
        x0 = FoldAvx2(x0, by256, Load32(data));
        x1 = FoldAvx2(x1, by256, Load32(data + 32));
        x2 = FoldAvx2(x2, by256, Load32(data + 64));
        x3 = FoldAvx2(x3, by256, Load32(data + 96));
        x4 = FoldAvx2(x4, by256, Load32(data + 128));
        x5 = FoldAvx2(x5, by256, Load32(data + 160));
        x6 = FoldAvx2(x6, by256, Load32(data + 192));
        x7 = FoldAvx2(x7, by256, Load32(data + 224));
    }
    alignas(32) unsigned char lanes[256];
    Store32(lanes, x0), Store32(lanes + 32, x1), Store32(lanes + 64, x2), Store32(lanes + 96, x3);
    Store32(lanes + 128, x4), Store32(lanes + 160, x5), Store32(lanes + 192, x6);
    Store32(lanes + 224, x7);
    reg = FoldLanes(tables, 0, lanes, sizeof lanes);
    return length >= kFoldingMinimum ? FoldLanes(tables, reg, data, length)
                                     : Crc32UpdateSliced(tables, reg, data, length);
}

bool Crc32Avx2FoldingAvailable() {
    static const bool available = [] {
        __builtin_cpu_init();
        return Crc32FoldingAvailable() && __builtin_cpu_supports("avx2") != 0 &&
               __builtin_cpu_supports("vpclmulqdq") != 0;
    }();
    return available;
}

}  // namespace

bool Crc32WideFoldingAvailable() {
    static const bool available = [] {
        __builtin_cpu_init();
        return Crc32FoldingAvailable() && __builtin_cpu_supports("avx512f") != 0 &&
               __builtin_cpu_supports("avx512vl") != 0 &&
               __builtin_cpu_supports("vpclmulqdq") != 0;
    }();
    return available;
}

bool Crc32FoldingAvailable() {
    // The explicit init makes the query safe even from another file's static constructor.
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") != 0;
    }();
    return available;
}

std::uint32_t Crc32UpdateFoldedNarrow(const Crc32Tables& tables, std::uint32_t reg,
                                      const unsigned char* data, std::size_t length) {
    if (length >= kFoldingMinimum && Crc32FoldingAvailable())
        return FoldLanes(tables, reg, data, length);
    return Crc32UpdateSliced(tables, reg, data, length);
}

std::uint32_t Crc32UpdateFoldedAvx2(const Crc32Tables& tables, std::uint32_t reg,
                                    const unsigned char* data, std::size_t length) {
    if (length >= kWideFoldingMinimum && Crc32Avx2FoldingAvailable())
        return FoldAvx2Lanes(tables, reg, data, length);
    return Crc32UpdateFoldedNarrow(tables, reg, data, length);
}

std::uint32_t Crc32UpdateFolded(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length) {
    if (length >= kWideFoldingMinimum && Crc32WideFoldingAvailable())
        return FoldWideLanes(tables, reg, data, length);
    return Crc32UpdateFoldedAvx2(tables, reg, data, length);
}

#else

bool Crc32WideFoldingAvailable() {
    return false;
}

std::uint32_t Crc32UpdateFoldedAvx2(const Crc32Tables& tables, std::uint32_t reg,
                                    const unsigned char* data, std::size_t length) {
    return Crc32UpdateSliced(tables, reg, data, length);
}

std::uint32_t Crc32UpdateFoldedNarrow(const Crc32Tables& tables, std::uint32_t reg,
                                      const unsigned char* data, std::size_t length) {
    return Crc32UpdateSliced(tables, reg, data, length);
}

bool Crc32FoldingAvailable() {
    return false;
}

std::uint32_t Crc32UpdateFolded(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length) {
    return Crc32UpdateSliced(tables, reg, data, length);
}

#endif

}  // namespace VORN
