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
constexpr const char* kAbcDigest = "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc";

// Around every loop of the CRC kernels: 16-byte slices, the folding minimum (128), 64-byte
// folds and the 16-byte folds after them.
constexpr std::size_t kLengths[] = {0,   1,   15,  16,  17,  63,  64,   65,  127,
                                    128, 129, 143, 144, 191, 192, 193, 1000, 4096};

Bytes RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

// A file with the given contents, removed with the test.
class TempFile {
  public:
    explicit TempFile(const Bytes& contents)
        : path_(std::filesystem::temp_directory_path() /
                ("hash_test_" + std::to_string(::getpid()) + "_" + std::to_string(count_++))) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()),
                   static_cast<std::streamsize>(contents.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const char* Path() const { return path_.c_str(); }

  private:
    static inline int count_ = 0;
    std::filesystem::path path_;
};

std::uint32_t ZlibCrc(const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(length)));
}

TEST(Crc32, CheckValuesAndZlibAtEveryLoopBoundary) {
    // The first construction owns the class-wide tables; another polynomial builds its own.
    EXPECT_EQ(CCrc32(0x1EDC6F41).HashString("123456789"), 0xE3069283u);
    CCrc32 crc(CCrc32::kStandardPolynomial);
    EXPECT_EQ(crc.HashString("123456789"), kCrc32Check);
    const Bytes data = RandomBytes(4096 + 4, 1);
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t length : kLengths) {
            crc.Reset();
            const unsigned char* p = data.data() + offset;
            ASSERT_EQ(crc.Update(p, static_cast<std::uint32_t>(length)), ZlibCrc(p, length))
                << offset << "+" << length;
        }
    }
}

TEST(Crc32, KernelsEqualTheBytewiseDefinitionForAnyPolynomialAndStart) {
    const Bytes data = RandomBytes(4096 + 4, 2);
    auto tables = std::make_unique<VORN::Crc32Tables>();
    std::mt19937 random(3);
    for (std::uint32_t polynomial : {0x04C11DB7u, 0x1EDC6F41u, 0x000000AFu}) {
        VORN::BuildCrc32Tables(polynomial, *tables);
        for (std::size_t offset = 0; offset < 4; ++offset) {
            for (std::size_t length : kLengths) {
                const std::uint32_t start = random();
                const unsigned char* p = data.data() + offset;
                const auto expected = VORN::Crc32UpdateBytewise(tables->byte[0], start, p, length);
                ASSERT_EQ(VORN::Crc32UpdateSliced(*tables, start, p, length), expected)
                    << std::hex << polynomial << std::dec << " sliced " << offset << "+" << length;
                ASSERT_EQ(VORN::Crc32UpdateFolded(*tables, start, p, length), expected)
                    << std::hex << polynomial << std::dec << " folded " << offset << "+" << length;
            }
        }
    }
}

TEST(Crc32, ContinuesUntilResetAndNullFeedsNothing) {
    CCrc32 crc(CCrc32::kStandardPolynomial);
    crc.Update("xy", 2);
    crc.Reset();
    crc.HashString("1234");
    crc.Update(nullptr, 100);
    crc.HashString(nullptr);
    EXPECT_EQ(crc.HashString("56789"), kCrc32Check);
}

TEST(Crc32, ReflectMirrorsTheLowBits) {
    EXPECT_EQ(CCrc32::Reflect(0x01, 4), 0x08u);
    EXPECT_EQ(CCrc32::Reflect(0xF0, 4), 0x00u);
    EXPECT_EQ(CCrc32::Reflect(0x04C11DB7u, 32), 0xEDB88320u);
    EXPECT_EQ(CCrc32::Reflect(0xFFFFFFFFu, 40), 0xFFFFFFFFu);
    EXPECT_EQ(CCrc32::Reflect(0xFFFFFFFFu, 0), 0u);
}

// A digest as printed (bytes in order) back into its five little-endian words.
Words FromHex(const char* hex) {
    Words words{};
    for (std::size_t i = 0; i < 20; ++i)
        words[i / 4] |= static_cast<std::uint32_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr,
                                                              16))
                        << (8 * (i % 4));
    return words;
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

TEST(Rmd160, CompressionGivesThePublishedDigest) {
    std::uint32_t words[16];
    std::memcpy(words, PaddedAbc().data(), sizeof words);
    EXPECT_EQ(Compressed(words), FromHex(kAbcDigest));
}

// Full blocks or the sign-extended bytes of a word together, the closing partial block xors
// them into zeroed words; padded "abc" has its only high byte where both agree.
TEST(Rmd160, FullBlocksOrAndTailsXorTheSignExtendedBytes) {
    struct Case {
        Bytes bytes;
        std::uint32_t length;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {PaddedAbc(), 64, FromHex(kAbcDigest)[0]},
        {PaddedAbc(), 57, FromHex(kAbcDigest)[0]},
        {{0x01, 0x80, 0x02, 0x03}, 64, Compressed({0xFFFF8001u})[0]},
        {{0x01, 0x80, 0x02, 0x03}, 4, Compressed({0xFCFD8001u})[0]},
        {{0xFF, 0x12, 0x34, 0x56, 0x9A}, 64, Compressed({0xFFFFFFFFu, 0xFFFFFF9Au})[0]},
        {{0xFF, 0x00, 0x00, 0x00, 0x9A}, 64, Compressed({0xFFFFFFFFu, 0xFFFFFF9Au})[0]},
    };
    for (const Case& c : cases) {
        Bytes block = c.bytes;
        block.resize(64);
        EXPECT_EQ(CRMD160(0).Update(block.data(), c.length), c.expected) << c.length;
    }
}

TEST(Rmd160, EachCallCompressesItsOwnTail) {
    const Bytes data = RandomBytes(100, 7);
    const std::uint32_t once = CRMD160(0).Update(data.data(), 100);
    CRMD160 split64(0), split50(0);
    split64.Update(data.data(), 64);
    EXPECT_EQ(split64.Update(data.data() + 64, 36), once);
    split50.Update(data.data(), 50);
    EXPECT_NE(split50.Update(data.data() + 50, 50), once);
    split50.Reset();
    EXPECT_EQ(split50.Update(data.data(), 100), once);
}

// The initial words are part of every stored checksum.
TEST(Rmd160, VariantsStartFromTheirWordsAndUnknownOnesAreVariant0) {
    const Bytes data = RandomBytes(70, 9);
    const std::uint32_t starts[] = {0x67452301u, 0x6A09E667u, 0x428A2F98u};
    for (int variant : {-1, 0, 1, 2, 3}) {
        const int effective = variant >= 0 && variant <= 2 ? variant : 0;
        CRMD160 h(variant);
        EXPECT_EQ(h.Update("", 0), starts[effective]) << variant;
        EXPECT_EQ(h.IsKeyed(), effective != 0) << variant;
        EXPECT_EQ(h.Update(data.data(), 70), CRMD160(effective).Update(data.data(), 70));
    }
}

std::string AlgorithmName(const VORN::CHashFunc& hash) {
    char* name = nullptr;
    hash.GetAlgorithmName(&name);
    std::unique_ptr<char[]> owned(name);
    return owned ? std::string(owned.get()) : std::string("<null>");
}

TEST(CreateHashFunc, ComparesTheFirstFiveCharactersOfEachName) {
    struct Case {
        const char* name;
        const char* built;  // null: none
        bool keyed;
    };
    for (const Case& c : {Case{"CRC32", "CRC32", false}, Case{"CRC00", "CRC00", false},
                          Case{"CRC01", "CRC01", true}, Case{"CRC02", "CRC02", true},
                          Case{"CRC01 with a suffix", "CRC01", true}, Case{"CRC3", nullptr, false},
                          Case{"", nullptr, false}, Case{"crc32", nullptr, false},
                          Case{"CRC03", nullptr, false}, Case{"XCRC32", nullptr, false},
                          Case{nullptr, nullptr, false}}) {
        const auto hash = CreateHashFunc(c.name);
        const char* name = c.name ? c.name : "<null>";
        ASSERT_EQ(hash != nullptr, c.built != nullptr) << name;
        if (!hash) continue;
        EXPECT_EQ(AlgorithmName(*hash), c.built) << name;
        EXPECT_EQ(hash->IsKeyed(), c.keyed) << name;
        hash->GetAlgorithmName(nullptr);  // ignored
    }
    EXPECT_EQ(CreateHashFunc("CRC32")->HashString("123456789"), kCrc32Check);
    EXPECT_EQ(CreateHashFunc("CRC02")->HashString("x"), CRMD160(2).HashString("x"));
}

// Files go in kilobyte chunks from a reset state; CRMD160 shows the chunking.
TEST(CHashFunc, HashFileStartsOverAndFeedsKilobyteChunks) {
    for (std::size_t size : {1, 1023, 1024, 1025, 3000}) {
        const Bytes data = RandomBytes(size, static_cast<unsigned>(size));
        TempFile file(data);
        CRMD160 chunked(1);
        std::uint32_t expected = 0;
        for (std::size_t at = 0; at < size; at += 1024)
            expected = chunked.Update(data.data() + at,
                                      static_cast<std::uint32_t>(std::min<std::size_t>(1024, size - at)));
        for (const char* name : {"CRC32", "CRC01"}) {
            const auto hash = CreateHashFunc(name);
            hash->Update("earlier input", 13);
            EXPECT_EQ(hash->HashFile(file.Path()),
                      name[3] == '3' ? ZlibCrc(data.data(), size) : expected)
                << name << " " << size;
        }
    }
}

TEST(CHashFunc, UnreadableOrEmptyFileGivesZero) {
    TempFile empty({});
    const auto missing = std::filesystem::temp_directory_path() / "hash_test_no_such_file";
    const auto directory = std::filesystem::temp_directory_path();
    for (const char* name : {"CRC32", "CRC00"}) {
        const auto hash = CreateHashFunc(name);
        for (const char* path : {empty.Path(), missing.c_str(), directory.c_str(),
                                 static_cast<const char*>(nullptr)}) {
            EXPECT_EQ(hash->HashFile(path), 0u) << name << " " << (path ? path : "<null>");
        }
    }
}

}  // namespace
