// The checksums' check values, the boundaries of their block loops, the factory and files.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/hash/crc32.h"
#include "support/hash/crc32_kernels.h"
#include "support/hash/create_hash_func.h"
#include "support/hash/rmd160.h"
#include "support/hash/rmd160_compress.h"

namespace {

using VORN::CCrc32;
using VORN::CreateHashFunc;
using VORN::CRMD160;
using Bytes = std::vector<unsigned char>;
using Words = std::array<std::uint32_t, 5>;

constexpr std::uint32_t kCrc32Check = 0xCBF43926u;  // of "123456789"
// The published digest of "abc", 8eb208f7e05d987a9b044a8e98c6b087f15a0bfc, as its words.
constexpr Words kAbcDigest = {0xF708B28Eu, 0x7A985DE0u, 0x8E4A049Bu, 0x87B0C698u, 0xFC0B5AF1u};

// Around every loop of the CRC kernels: 16-byte slices, the folding minimum (128), 64-byte
// folds and the 16-byte folds after them.
// The narrow folding's boundaries, then the wide one's (2048 bytes and on, 512 at a time, the
// rest to the narrow lanes or the slicing).
constexpr std::size_t kLengths[] = {0,    1,    15,   16,   17,   63,   64,   65,   127,
                                    128,  129,  143,  144,  191,  192,  193,  1000, 2047,
                                    2048, 2049, 2175, 2559, 2560, 2561, 2687, 2688, 4095,
                                    4096, 4097, 8191, 8192};

Bytes RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

std::uint32_t ZlibCrc(const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(length)));
}

// The byte-wise kernel is checked against zlib, the sliced and folding ones against it for
// other polynomials and start registers too.
TEST(Crc32, CheckValuesAndEveryKernelAtEveryLoopBoundary) {
    // The first construction owns the class-wide tables; another polynomial builds its own.
    EXPECT_EQ(CCrc32(0x1EDC6F41).HashString("123456789"), 0xE3069283u);
    CCrc32 crc(CCrc32::kStandardPolynomial);
    EXPECT_EQ(crc.HashString("123456789"), kCrc32Check);
    const Bytes data = RandomBytes(8192 + 4, 2);
    auto tables = std::make_unique<VORN::Crc32Tables>();
    std::mt19937 random(3);
    for (std::uint32_t polynomial : {CCrc32::kStandardPolynomial, 0x1EDC6F41u, 0x000000AFu}) {
        VORN::BuildCrc32Tables(polynomial, *tables);
        for (std::size_t offset = 0; offset < 4; ++offset) {
            for (std::size_t length : kLengths) {
                SCOPED_TRACE(testing::Message() << std::hex << polynomial << std::dec << " "
                                                << offset << "+" << length);
                const unsigned char* p = data.data() + offset;
                const std::uint32_t start = random();
                const auto expected = VORN::Crc32UpdateBytewise(tables->byte[0], start, p, length);
                ASSERT_EQ(VORN::Crc32UpdateSliced(*tables, start, p, length), expected);
                ASSERT_EQ(VORN::Crc32UpdateFolded(*tables, start, p, length), expected);
                ASSERT_EQ(VORN::Crc32UpdateFoldedAvx2(*tables, start, p, length), expected);
                ASSERT_EQ(VORN::Crc32UpdateFoldedNarrow(*tables, start, p, length), expected);
                if (polynomial != CCrc32::kStandardPolynomial) continue;
                crc.Reset();
                ASSERT_EQ(crc.Update(p, static_cast<std::uint32_t>(length)), ZlibCrc(p, length));
            }
        }
    }
}

// The register continues until reset, null feeds nothing; reflection mirrors the low bits.
TEST(Crc32, ContinuesUntilResetAndReflectMirrorsTheLowBits) {
    CCrc32 crc(CCrc32::kStandardPolynomial);
    crc.Update("xy", 2);
    crc.Reset();
    crc.HashString("1234");
    crc.Update(nullptr, 100);
    crc.HashString(nullptr);
    EXPECT_EQ(crc.HashString("56789"), kCrc32Check);
    for (auto [value, bits, reflected] : {std::tuple{0x01u, 4, 0x08u},
                                          {0xF0u, 4, 0u},
                                          {0x04C11DB7u, 32, 0xEDB88320u},
                                          {0xFFFFFFFFu, 40, 0xFFFFFFFFu},
                                          {0xFFFFFFFFu, 0, 0u}})
        EXPECT_EQ(CCrc32::Reflect(value, bits), reflected) << value << " " << bits;
}

Words Compressed(const std::uint32_t (&words)[16]) {
    std::uint32_t state[5];
    std::memcpy(state, VORN::kRmd160StandardInit, sizeof state);
    VORN::Rmd160Compress(state, words);
    return {state[0], state[1], state[2], state[3], state[4]};
}

// "abc" as the published hash pads it: one block.
Bytes PaddedAbc() {
    Bytes block(64, 0);
    std::memcpy(block.data(), "abc\x80", 4);
    block[56] = 24;  // the length in bits
    return block;
}

// Full blocks or the sign-extended bytes of a word together, the closing partial block xors
// them into zeroed words; padded "abc" has its only high byte where both agree.
TEST(Rmd160, PublishedDigestAndFullBlocksOrAndTailsXorTheSignExtendedBytes) {
    std::uint32_t abc[16];
    std::memcpy(abc, PaddedAbc().data(), sizeof abc);
    ASSERT_EQ(Compressed(abc), kAbcDigest);
    const std::tuple<Bytes, std::uint32_t, std::uint32_t> cases[] = {
        // bytes, length, first word
        {PaddedAbc(), 64, kAbcDigest[0]},
        {PaddedAbc(), 57, kAbcDigest[0]},
        {{0x01, 0x80, 0x02, 0x03}, 64, Compressed({0xFFFF8001u})[0]},
        {{0x01, 0x80, 0x02, 0x03}, 4, Compressed({0xFCFD8001u})[0]},
        {{0xFF, 0x12, 0x34, 0x56, 0x9A}, 64, Compressed({0xFFFFFFFFu, 0xFFFFFF9Au})[0]},
        {{0xFF, 0x00, 0x00, 0x00, 0x9A}, 64, Compressed({0xFFFFFFFFu, 0xFFFFFF9Au})[0]},
    };
    for (auto [block, length, expected] : cases) {
        block.resize(64);
        EXPECT_EQ(CRMD160(0).Update(block.data(), length), expected) << length;
    }
}

TEST(Rmd160, EachCallCompressesItsOwnTailAndVariantsStartFromTheirWords) {
    const Bytes data = RandomBytes(100, 7);
    const std::uint32_t once = CRMD160(0).Update(data.data(), 100);
    CRMD160 split64(0), split50(0);
    split64.Update(data.data(), 64);
    EXPECT_EQ(split64.Update(data.data() + 64, 36), once);
    split50.Update(data.data(), 50);
    EXPECT_NE(split50.Update(data.data() + 50, 50), once);
    split50.Reset();
    EXPECT_EQ(split50.Update(data.data(), 100), once);
    // Variants start from their words, part of every stored checksum; unknown ones are variant 0.
    const std::uint32_t starts[] = {0x67452301u, 0x6A09E667u, 0x428A2F98u};
    for (int variant : {-1, 0, 1, 2, 3}) {
        const int effective = variant >= 0 && variant <= 2 ? variant : 0;
        CRMD160 h(variant);
        EXPECT_EQ(h.Update("", 0), starts[effective]) << variant;
        EXPECT_EQ(h.IsKeyed(), effective != 0) << variant;
    }
}

std::string AlgorithmName(const VORN::CHashFunc& hash) {
    char* name = nullptr;
    hash.GetAlgorithmName(&name);
    const std::unique_ptr<char[]> owned(name);
    return owned ? owned.get() : "<null>";
}

TEST(CreateHashFunc, ComparesTheFirstFiveCharactersOfEachName) {
    // Each name also with something behind it: only the first five characters count.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"CRC32", "CRC32"}, {"CRC32x", "CRC32"}, {"CRC00x", "CRC00"}, {"CRC01 with a suffix", "CRC01"},
        {"CRC02x", "CRC02"}, {"CRC3", "<none>"}, {"", "<none>"}, {"crc32", "<none>"},
        {"CRC03", "<none>"}, {"XCRC32", "<none>"}, {nullptr, "<none>"}};
    // clang-format on
    for (const auto& [name, built] : cases) {
        const auto hash = CreateHashFunc(name);
        EXPECT_EQ(hash ? AlgorithmName(*hash) : "<none>", built) << (name ? name : "<null>");
        if (hash) hash->GetAlgorithmName(nullptr);  // ignored
    }
    EXPECT_EQ(CreateHashFunc("CRC32")->HashString("123456789"), kCrc32Check);
    EXPECT_EQ(CreateHashFunc("CRC02")->HashString("x"), CRMD160(2).HashString("x"));
}

// Files go in kilobyte chunks from a reset state (CRMD160 shows the chunking); a file that
// cannot be read, or an empty one, gives 0.
TEST(CHashFunc, HashFileStartsOverAndFeedsKilobyteChunks) {
    const auto path =
        std::filesystem::temp_directory_path() / ("hash_test_" + std::to_string(::getpid()));
    for (std::size_t size : {0, 1, 1023, 1024, 1025, 3000}) {
        const Bytes data = RandomBytes(size, static_cast<unsigned>(size));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
        CRMD160 chunked(1);
        std::uint32_t expected = 0;
        for (std::size_t at = 0; at < size; at += 1024)
            expected =
                chunked.Update(data.data() + at,
                               static_cast<std::uint32_t>(std::min<std::size_t>(1024, size - at)));
        for (const char* name : {"CRC32", "CRC01"}) {
            const auto hash = CreateHashFunc(name);
            hash->Update("earlier input", 13);
            EXPECT_EQ(hash->HashFile(path.c_str()),
                      name[3] == '3' ? ZlibCrc(data.data(), size) : expected)
                << name << " " << size;
        }
    }
    std::filesystem::remove(path);
    for (const char* gone : {path.c_str(), static_cast<const char*>(nullptr)})
        EXPECT_EQ(CreateHashFunc("CRC00")->HashFile(gone), 0u);
}

}  // namespace
