#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "support/hash/create_hash_func.h"
#include "temp_file.h"

namespace {

using VORN::CHashFunc;
using VORN::CreateHashFunc;

std::string AlgorithmName(const CHashFunc& hash) {
    char* name = nullptr;
    hash.GetAlgorithmName(&name);
    std::unique_ptr<char[]> owned(name);
    return owned ? std::string(owned.get()) : std::string("<null>");
}

TEST(CreateHashFunc, BuildsEachKnownName) {
    struct Case {
        const char* name;
        bool keyed;
    };
    for (const Case& c :
         {Case{"CRC32", false}, Case{"CRC00", false}, Case{"CRC01", true}, Case{"CRC02", true}}) {
        const auto hash = CreateHashFunc(c.name);
        ASSERT_NE(hash, nullptr) << c.name;
        EXPECT_EQ(AlgorithmName(*hash), c.name);
        EXPECT_EQ(hash->IsKeyed(), c.keyed) << c.name;
    }
    EXPECT_EQ(CreateHashFunc("CRC32")->HashString("123456789"), 0xCBF43926u);
}

TEST(CreateHashFunc, ComparesOnlyTheFirstFiveCharacters) {
    const auto longer = CreateHashFunc("CRC01 with a suffix");
    ASSERT_NE(longer, nullptr);
    EXPECT_EQ(AlgorithmName(*longer), "CRC01");
    EXPECT_EQ(longer->HashString("x"), CreateHashFunc("CRC01")->HashString("x"));
    for (const char* name : {"CRC3", "", "crc32", "CRC03", "XCRC32"})
        EXPECT_EQ(CreateHashFunc(name), nullptr) << name;
    EXPECT_EQ(CreateHashFunc(nullptr), nullptr);
}

TEST(CHashFunc, HashStringContinuesAndHashFileStartsOver) {
    TempFile file({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    for (const char* name : {"CRC32", "CRC00", "CRC02"}) {
        const auto reference = CreateHashFunc(name);
        const std::uint32_t whole = reference->Update("123456789", 9);
        reference->Reset();
        reference->Update("1234", 4);
        const std::uint32_t continued = reference->Update("56789", 5);

        const auto hash = CreateHashFunc(name);
        hash->Update("1234", 4);
        EXPECT_EQ(hash->HashString("56789"), continued) << name;
        EXPECT_EQ(hash->HashFile(file.Path()), whole) << name;
    }
}

TEST(CHashFunc, UnreadableFileGivesZero) {
    const auto missing = std::filesystem::temp_directory_path() / "hash_test_no_such_file";
    const auto directory = std::filesystem::temp_directory_path();
    for (const char* name : {"CRC32", "CRC01"}) {
        const auto hash = CreateHashFunc(name);
        EXPECT_EQ(hash->HashFile(missing.c_str()), 0u) << name;
        EXPECT_EQ(hash->HashFile(directory.c_str()), 0u) << name;
        EXPECT_EQ(hash->HashFile(nullptr), 0u) << name;
    }
}

TEST(CHashFunc, NullNameOutPointerIsIgnored) {
    CreateHashFunc("CRC32")->GetAlgorithmName(nullptr);
    CreateHashFunc("CRC00")->GetAlgorithmName(nullptr);
}

}  // namespace
