#include "imaging/zrf_byte_order.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "imaging/zrf_records.h"

namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), std::uint8_t{1});
    return v;
}

TEST(SwapByMap, ReversesUnitsAndSkipsAsTheCodesSay) {
    std::vector<std::uint8_t> four{1, 2, 3, 4};
    const std::int16_t whole[] = {-2, 0};
    SwapByMap(four.data(), whole);
    EXPECT_EQ(four, (std::vector<std::uint8_t>{4, 3, 2, 1}));

    std::vector<std::uint8_t> six{1, 2, 3, 4, 5, 6};
    const std::int16_t mixed[] = {-1, 2, -1, 0};
    SwapByMap(six.data(), mixed);
    EXPECT_EQ(six, (std::vector<std::uint8_t>{2, 1, 3, 4, 6, 5}));
}

TEST(SwapByMap, EmptyMapChangesNothingAndStopsAtTheFirstZero) {
    auto bytes = Counting(8);
    const std::int16_t empty[] = {0, -2};
    SwapByMap(bytes.data(), empty);
    EXPECT_EQ(bytes, Counting(8));
}

TEST(SwapByMap, MapsCoverExactlyTheirRecords) {
    EXPECT_EQ(ByteOrderMapSpan(MainHeaderByteOrderMap()), 64);
    EXPECT_EQ(ByteOrderMapSpan(IndexEntryByteOrderMap()), 32);
}

TEST(SwapByMap, ConvertingTwiceRestoresTheRecord) {
    auto header = Counting(64);
    SwapByMap(header.data(), MainHeaderByteOrderMap());
    EXPECT_NE(header, Counting(64));
    SwapByMap(header.data(), MainHeaderByteOrderMap());
    EXPECT_EQ(header, Counting(64));

    auto block = Counting(Zrf::kFrameInfoSize);
    SwapFrameInfoBlock(block.data());
    SwapFrameInfoBlock(block.data());
    EXPECT_EQ(block, Counting(Zrf::kFrameInfoSize));
}

TEST(SwapByMap, MainHeaderKeepsTextAndSwapsNumbers) {
    ZrfMainHeader h{};
    std::memcpy(h.magic, "ZRF", 4);
    std::memcpy(h.source, "FW_ZEPHRA", 10);
    h.word20 = 100;
    h.indexOffset = 64;
    h.entryCount = 2;
    h.word32 = 3;
    std::array<std::uint8_t, 64> b{};
    std::memcpy(b.data(), &h, 64);
    SwapByMap(b.data(), MainHeaderByteOrderMap());

    const std::uint8_t expected[36] = {'Z', 'R', 'F', 0, 'F', 'W', '_', 'Z', 'E', 'P', 'H', 'R',
                                       'A', 0,   0,   0, 0,   0,   0,   0,   0,   0,   0,   100,
                                       0,   0,   0,   64, 0,  0,   0,   2,   0,   0,   0,   3};
    EXPECT_EQ(0, std::memcmp(b.data(), expected, sizeof expected));
    for (int i = 36; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(SwapByMap, IndexEntrySwapsTwoShortsThenWords) {
    auto e = Counting(32);
    SwapByMap(e.data(), IndexEntryByteOrderMap());
    EXPECT_EQ(e[0], 2);
    EXPECT_EQ(e[1], 1);
    EXPECT_EQ(e[2], 4);
    EXPECT_EQ(e[4], 8);
    EXPECT_EQ(e[7], 5);
    EXPECT_EQ(e[28], 32);
}

TEST(SwapFrameInfoBlock, SwapsFieldsAndLeavesTextSkipsAndTailAlone) {
    auto block = Counting(Zrf::kFrameInfoSize);
    const auto original = block;
    SwapFrameInfoBlock(block.data());

    auto reversed = [&](std::size_t at, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (block[at + i] != original[at + n - 1 - i]) return false;
        }
        return true;
    };
    auto unchanged = [&](std::size_t from, std::size_t to) {
        return std::equal(block.begin() + from, block.begin() + to, original.begin() + from);
    };
    EXPECT_TRUE(reversed(2, 2));       // geometry width
    EXPECT_TRUE(reversed(28, 4));      // geometry word
    EXPECT_TRUE(reversed(80, 4));
    EXPECT_TRUE(unchanged(84, 88));    // the skipped 4 bytes
    EXPECT_TRUE(reversed(88, 4));
    EXPECT_TRUE(unchanged(212, 364));  // leading skips of the fourth map
    EXPECT_TRUE(reversed(364, 4));
    EXPECT_TRUE(reversed(900, 4));     // seconds
    EXPECT_TRUE(reversed(908, 4));     // time zone: one 32-bit unit
    EXPECT_TRUE(unchanged(1084, 1100));  // text
    EXPECT_TRUE(reversed(1124, 2));    // frame rate
    EXPECT_TRUE(reversed(1130, 2));    // status flags
    EXPECT_TRUE(unchanged(1148, Zrf::kFrameInfoSize));
}

}  // namespace
