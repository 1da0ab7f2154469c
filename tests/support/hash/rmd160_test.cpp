#include "support/hash/rmd160.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "support/hash/rmd160_compress.h"
#include "temp_file.h"

namespace {

using VORN::CRMD160;
using Words = std::array<std::uint32_t, 5>;

// The published hash, built here on the compression function: unsigned bytes, a 0x80 byte,
// zeros and the bit length.
std::vector<unsigned char> StandardPadded(const std::string& message) {
    std::vector<unsigned char> bytes(message.begin(), message.end());
    const std::uint64_t bits = std::uint64_t{message.size()} * 8;
    bytes.push_back(0x80);
    while (bytes.size() % 64 != 56) bytes.push_back(0);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    return bytes;
}

Words Ripemd160(const std::string& message) {
    const auto padded = StandardPadded(message);
    std::uint32_t state[5];
    std::memcpy(state, VORN::kRmd160StandardInit, sizeof state);
    for (std::size_t block = 0; block < padded.size(); block += 64) {
        std::uint32_t words[16];
        for (std::size_t i = 0; i < 16; ++i) {
            const unsigned char* p = &padded[block + 4 * i];
            words[i] = p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
        }
        VORN::Rmd160Compress(state, words);
    }
    return {state[0], state[1], state[2], state[3], state[4]};
}

// A digest as printed (bytes in order) back into its five little-endian words.
Words FromHex(const char* hex) {
    Words words{};
    for (std::size_t i = 0; i < 20; ++i) {
        const auto byte =
            static_cast<std::uint32_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
        words[i / 4] |= byte << (8 * (i % 4));
    }
    return words;
}

std::uint32_t CompressedFirstWord(const std::uint32_t (&words)[16]) {
    std::uint32_t state[5];
    std::memcpy(state, VORN::kRmd160StandardInit, sizeof state);
    VORN::Rmd160Compress(state, words);
    return state[0];
}

TEST(Rmd160Compress, GivesPublishedDigests) {
    EXPECT_EQ(Ripemd160(""), FromHex("9c1185a5c5e9fc54612808977ee8f548b2258d31"));
    EXPECT_EQ(Ripemd160("abc"), FromHex("8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"));
    EXPECT_EQ(Ripemd160("message digest"), FromHex("5d0689ef49d2fae572b881b123a85ffa21595f36"));
    EXPECT_EQ(Ripemd160("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              FromHex("12a053384a9c0c88e405a06c27dcf49ada62eb2b"));
    EXPECT_EQ(Ripemd160(std::string(1000000, 'a')),
              FromHex("52783243c1697bdbe16d37f97f68f08325dc1528"));
}

// The padded "abc" block has its only high byte (0x80) at the top of a word, where sign
// extension changes nothing, so the checksum must equal the published digest's first word,
// through the full-block and through the partial-block path (its last seven bytes are zero).
TEST(Rmd160, Variant0OnStandardPaddedBlockGivesPublishedFirstWord) {
    const auto block = StandardPadded("abc");
    const std::uint32_t expected = FromHex("8eb208f7e05d987a9b044a8e98c6b087f15a0bfc")[0];
    EXPECT_EQ(CRMD160(0).Update(block.data(), 64), expected);
    EXPECT_EQ(CRMD160(0).Update(block.data(), 57), expected);
}

TEST(Rmd160, FreshObjectReturnsFirstInitialWord) {
    EXPECT_EQ(CRMD160(0).Update("", 0), 0x67452301u);
    const std::uint32_t v1 = CRMD160(1).Update("", 0);
    const std::uint32_t v2 = CRMD160(2).Update("", 0);
    EXPECT_NE(v1, 0x67452301u);
    EXPECT_NE(v2, 0x67452301u);
    EXPECT_NE(v1, v2);
}

TEST(Rmd160, EachCallCompressesItsOwnTail) {
    const auto data = RandomBytes(100, 7);
    CRMD160 whole(0), split64(0), split50(0);
    const std::uint32_t once = whole.Update(data.data(), 100);
    split64.Update(data.data(), 64);
    EXPECT_EQ(split64.Update(data.data() + 64, 36), once);
    split50.Update(data.data(), 50);
    EXPECT_NE(split50.Update(data.data() + 50, 50), once);
}

TEST(Rmd160, VariantsDifferOnlyInStartAndResetReturnsToIt) {
    const auto data = RandomBytes(200, 8);
    for (int variant = 0; variant < 3; ++variant) {
        CRMD160 h(variant);
        const std::uint32_t fresh = h.Update(data.data(), 200);
        h.Update(data.data(), 13);
        h.Reset();
        EXPECT_EQ(h.Update(data.data(), 200), fresh) << variant;
    }
    EXPECT_NE(CRMD160(0).Update(data.data(), 200), CRMD160(1).Update(data.data(), 200));
    EXPECT_NE(CRMD160(1).Update(data.data(), 200), CRMD160(2).Update(data.data(), 200));
}

// Full blocks or the sign-extended bytes together, the closing partial block xors them.
TEST(Rmd160, SignedBytesCombineByOrInFullBlocksAndByXorInTheTail) {
    unsigned char block[64] = {0x01, 0x80, 0x02, 0x03};
    EXPECT_EQ(CRMD160(0).Update(block, 64), CompressedFirstWord({0xFFFF8001u}));
    EXPECT_EQ(CRMD160(0).Update(block, 4), CompressedFirstWord({0xFCFD8001u}));
}

TEST(Rmd160, LeadingFFMakesAFullBlockWordAllOnes) {
    unsigned char a[64] = {0xFF, 0x12, 0x34, 0x56, 0x9A};
    unsigned char b[64] = {0xFF, 0x00, 0x00, 0x00, 0x9A};
    unsigned char c[64] = {0xFF, 0xFF, 0xFF, 0xFF, 0x9A};
    const std::uint32_t ha = CRMD160(0).Update(a, 64);
    EXPECT_EQ(ha, CRMD160(0).Update(b, 64));
    EXPECT_EQ(ha, CRMD160(0).Update(c, 64));
    EXPECT_EQ(ha, CompressedFirstWord({0xFFFFFFFFu, 0xFFFFFF9Au}));
    // In the tail the other bytes still count.
    EXPECT_NE(CRMD160(0).Update(a, 63), CRMD160(0).Update(b, 63));
}

TEST(Rmd160, UnknownVariantIsVariant0) {
    const auto data = RandomBytes(70, 9);
    for (int variant : {-1, 3, 1000}) {
        CRMD160 h(variant);
        EXPECT_FALSE(h.IsKeyed());
        EXPECT_EQ(h.Update(data.data(), 70), CRMD160(0).Update(data.data(), 70));
    }
}

TEST(Rmd160, HashFileFeedsKilobyteChunksFromReset) {
    const auto data = RandomBytes(3000, 10);
    TempFile file(data);
    CRMD160 expected(1);
    expected.Update(data.data(), 1024);
    expected.Update(data.data() + 1024, 1024);
    const std::uint32_t chunked = expected.Update(data.data() + 2048, 3000 - 2048);
    CRMD160 h(1);
    h.Update(data.data(), 5);
    EXPECT_EQ(h.HashFile(file.Path()), chunked);
}

TEST(Rmd160, EmptyFileGivesZero) {
    TempFile file({});
    EXPECT_EQ(CRMD160(0).HashFile(file.Path()), 0u);
}

}  // namespace
