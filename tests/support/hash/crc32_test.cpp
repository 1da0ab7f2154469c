#include "support/hash/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "support/hash/crc32_kernels.h"
#include "temp_file.h"

namespace {

using VORN::CCrc32;

std::uint32_t ZlibCrc(const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), data, static_cast<uInt>(length)));
}

TEST(Crc32, PublishedCheckValueAndEmptyInput) {
    CCrc32 crc(CCrc32::kStandardPolynomial);
    EXPECT_EQ(crc.Update("", 0), 0u);
    EXPECT_EQ(crc.HashString(""), 0u);
    EXPECT_EQ(crc.HashString("123456789"), 0xCBF43926u);
}

TEST(Crc32, TableMatchesZlib) {
    std::uint32_t table[256];
    VORN::BuildCrc32Table(CCrc32::kStandardPolynomial, table);
    const z_crc_t* zlib = get_crc_table();
    for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], zlib[i]) << "entry " << i;
}

TEST(Crc32, MatchesZlibForEveryLengthAndAlignment) {
    const auto data = RandomBytes(4096 + 16, 1);
    CCrc32 crc(CCrc32::kStandardPolynomial);
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length :
             {0, 1, 3, 7, 15, 16, 17, 31, 32, 33, 63, 64, 65, 255, 1000, 4096}) {
            crc.Reset();
            const unsigned char* p = data.data() + offset;
            ASSERT_EQ(crc.Update(p, static_cast<std::uint32_t>(length)), ZlibCrc(p, length))
                << "offset " << offset << " length " << length;
        }
    }
}

TEST(Crc32, ContinuesAcrossUpdatesUntilReset) {
    const auto data = RandomBytes(10000, 2);
    std::mt19937 random(3);
    CCrc32 crc(CCrc32::kStandardPolynomial);
    std::size_t done = 0;
    std::uint32_t result = 0;
    while (done < data.size()) {
        const std::size_t piece = std::min<std::size_t>(random() % 300, data.size() - done);
        result = crc.Update(data.data() + done, static_cast<std::uint32_t>(piece));
        done += piece;
    }
    EXPECT_EQ(result, ZlibCrc(data.data(), data.size()));
    crc.Reset();
    EXPECT_EQ(crc.Update(data.data(), 100), ZlibCrc(data.data(), 100));
}

// The fast kernels must agree with the definition for every polynomial, start register,
// alignment and length, including the lane set-up and tail handling of the folding kernel.
TEST(Crc32, FastKernelsEqualBytewiseForAnyPolynomial) {
    if (!VORN::Crc32FoldingAvailable()) std::printf("folding unavailable, slicing only\n");
    const auto data = RandomBytes(5000, 4);
    std::mt19937 random(5);
    auto tables = std::make_unique<VORN::Crc32Tables>();
    for (std::uint32_t polynomial : {0x04C11DB7u, 0x1EDC6F41u, 0x741B8CD7u, 0x000000AFu}) {
        VORN::BuildCrc32Tables(polynomial, *tables);
        const auto check = [&](std::size_t offset, std::size_t length) {
            const std::uint32_t start = random();
            const unsigned char* p = data.data() + offset;
            const std::uint32_t expected =
                VORN::Crc32UpdateBytewise(tables->byte[0], start, p, length);
            ASSERT_EQ(VORN::Crc32UpdateSliced(*tables, start, p, length), expected)
                << std::hex << polynomial << std::dec << " sliced " << offset << "+" << length;
            ASSERT_EQ(VORN::Crc32UpdateFolded(*tables, start, p, length), expected)
                << std::hex << polynomial << std::dec << " folded " << offset << "+" << length;
        };
        for (std::size_t offset = 0; offset < 8; ++offset)
            for (std::size_t length = 0; length < 300; ++length) check(offset, length);
        check(3, 4993);
    }
}

// Whichever polynomial is constructed first, every instance computes its own polynomial's CRC.
TEST(Crc32, InstanceWithOtherPolynomialKeepsItsOwnTable) {
    CCrc32 castagnoli(0x1EDC6F41);
    CCrc32 standard(CCrc32::kStandardPolynomial);
    EXPECT_EQ(castagnoli.HashString("123456789"), 0xE3069283u);
    EXPECT_EQ(standard.HashString("123456789"), 0xCBF43926u);
}

TEST(Crc32, ReflectMirrorsLowBitsOnly) {
    EXPECT_EQ(CCrc32::Reflect(0x01, 8), 0x80u);
    EXPECT_EQ(CCrc32::Reflect(0x01, 4), 0x08u);
    EXPECT_EQ(CCrc32::Reflect(0xF0, 4), 0x00u);
    EXPECT_EQ(CCrc32::Reflect(0x80000000u, 32), 0x00000001u);
    EXPECT_EQ(CCrc32::Reflect(0x04C11DB7u, 32), 0xEDB88320u);
    EXPECT_EQ(CCrc32::Reflect(0xFFFFFFFFu, 40), 0xFFFFFFFFu);
    EXPECT_EQ(CCrc32::Reflect(0xFFFFFFFFu, 0), 0u);
}

TEST(Crc32, NullDataFeedsNothing) {
    CCrc32 crc(CCrc32::kStandardPolynomial);
    crc.HashString("1234");
    EXPECT_EQ(crc.Update(nullptr, 100), crc.Update("", 0));
    EXPECT_EQ(crc.HashString(nullptr), crc.Update("", 0));
    EXPECT_EQ(crc.HashString("56789"), 0xCBF43926u);
}

TEST(Crc32, HashFileEqualsZlibOverTheWholeFile) {
    for (std::size_t size : {1, 1023, 1024, 1025, 5000}) {
        const auto data = RandomBytes(size, static_cast<unsigned>(size));
        TempFile file(data);
        CCrc32 crc(CCrc32::kStandardPolynomial);
        EXPECT_EQ(crc.HashFile(file.Path()), ZlibCrc(data.data(), data.size())) << size;
    }
}

}  // namespace
