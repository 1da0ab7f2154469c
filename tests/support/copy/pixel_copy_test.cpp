// Every swapping kernel the processor has gives the scalar kernel's bytes, at sizes that leave
// each kernel a remainder for the narrower ones, in place and copying, at any alignment; and a
// plain copy is exact wherever its destination lies against its source (it then takes another
// route than the C library's copy).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <vector>

#include "support/copy/pixel_copy.h"

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = 2463534242u;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return v;
}

TEST(PixelCopy, EveryKernelSwapsAsTheScalarOne) {
    // Plain copies take the wide kernel from 4096 bytes.
    const std::size_t sizes[] = {0,   1,   2,   15,  17,   31,   33,   127,        129,
                                 255, 257, 383, 511, 1001, 4095, 4096, 4097 + 254, 614400 + 3};
    const std::pair<PixelSwapKernel, const char*> kernels[] = {
        {PixelSwapKernel::Sse2, "SSE2"},
        {PixelSwapKernel::Avx2, "AVX2"},
        {PixelSwapKernel::Avx512, "AVX-512"},
    };
    for (const std::size_t size : sizes) {
        const std::vector<std::uint8_t> source = Bytes(size + 1);
        const std::uint8_t* src = source.data() + 1;  // not aligned to anything wide
        std::vector<std::uint8_t> expected(size);
        ASSERT_TRUE(CopyPixelsWith(PixelSwapKernel::Scalar, expected.data(), src, size, true));
        if (size >= 2) {
            ASSERT_EQ(expected[0], src[1]) << size;
            ASSERT_EQ(expected[1], src[0]) << size;
        }
        if (size % 2) {
            ASSERT_EQ(expected.back(), src[size - 1]) << size;
        }
        // Destinations odd, even and off a cache line by a few pixels.
        for (const std::size_t at : {1, 2, 34, 64}) {
            for (const auto& [kernel, name] : kernels) {
                std::vector<std::uint8_t> out(size + at + 1, 0xEE);
                if (!CopyPixelsWith(kernel, out.data() + at, src, size, true)) continue;  // lacking
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + at))
                    << name << ", " << size << " bytes at " << at;
                EXPECT_EQ(out[at - 1], 0xEE) << name << ": wrote before the buffer";
                EXPECT_EQ(out[at + size], 0xEE) << name << ": wrote after the buffer";
                std::vector<std::uint8_t> plain(size + at + 1, 0xEE);
                ASSERT_TRUE(CopyPixelsWith(kernel, plain.data() + at, src, size, false));
                EXPECT_TRUE(std::equal(src, src + size, plain.begin() + at))
                    << name << ", plain copy of " << size << " bytes at " << at;
                EXPECT_EQ(plain[at - 1], 0xEE) << name << ": copied before the buffer";
                EXPECT_EQ(plain[at + size], 0xEE) << name << ": copied after the buffer";
            }
        }
        // The kernel CopyPixels picks, and the in-place swap.
        std::vector<std::uint8_t> copied(size), inPlace(src, src + size);
        CopyPixels(copied.data(), src, size, true);
        SwapPixelBytes(inPlace.data(), size);
        EXPECT_EQ(copied, expected) << size;
        if (size % 2) inPlace.back() = expected.back();  // an odd trailing byte is left alone
        EXPECT_EQ(inPlace, expected) << size;
    }
}

// Both buffers in one page-aligned block: the source on a page or just past it, the destination
// `ahead` bytes past the source's place in another page, so every placement the copy tells
// apart is met, by CopyPixels and by each kernel the processor has.
TEST(PixelCopy, PlainCopyIsExactWhereverTheDestinationLies) {
    const std::size_t sizes[] = {4095, 4096, 4097 + 254, 153600 + 1, 309788};
    constexpr std::size_t kRegion = 1 << 20;
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> block(
        static_cast<std::uint8_t*>(std::aligned_alloc(4096, 2 * kRegion)));
    ASSERT_NE(block, nullptr);
    const std::vector<std::uint8_t> pattern = Bytes(kRegion - 4096);
    std::copy(pattern.begin(), pattern.end(), block.get());
    const std::uint8_t* src = block.get();
    std::size_t from = 0;  // the source's offset past its page
    const auto check = [&](const char* how, std::size_t size, std::size_t ahead, auto copy) {
        std::uint8_t* dst = block.get() + kRegion + from + ahead;
        std::fill(dst - 1, dst + size + 1, std::uint8_t{0xEE});
        copy(dst, size);
        EXPECT_TRUE(std::equal(src, src + size, dst))
            << how << ", " << size << " bytes from " << from << ", " << ahead << " ahead";
        EXPECT_EQ(dst[-1], 0xEE) << how << ", " << size << " bytes, " << ahead
                                 << " ahead: wrote before";
        EXPECT_EQ(dst[size], 0xEE)
            << how << ", " << size << " bytes, " << ahead << " ahead: wrote after";
    };
    const std::pair<PixelSwapKernel, const char*> kernels[] = {
        {PixelSwapKernel::Sse2, "SSE2"},
        {PixelSwapKernel::Avx2, "AVX2"},
        {PixelSwapKernel::Avx512, "AVX-512"}};
    std::vector<std::size_t> aheads;
    for (std::size_t a = 0; a < 70; ++a) aheads.push_back(a);
    for (const std::size_t a : {2048, 4031, 4032, 4063, 4064, 4095}) aheads.push_back(a);
    for (const std::size_t size : sizes) {
        for (const std::size_t offset : {0, 1, 33}) {
            from = offset;
            src = block.get() + offset;
            for (const std::size_t ahead : aheads) {
                check("CopyPixels", size, ahead,
                      [&](std::uint8_t* dst, std::size_t n) { CopyPixels(dst, src, n, false); });
                for (const auto& [kernel, name] : kernels) {
                    check(name, size, ahead, [&](std::uint8_t* dst, std::size_t n) {
                        if (!CopyPixelsWith(kernel, dst, src, n, false))
                            std::copy(src, src + n, dst);  // lacking
                    });
                }
            }
        }
    }
}

}  // namespace
