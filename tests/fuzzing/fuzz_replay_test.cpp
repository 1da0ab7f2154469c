// Replays one fuzz target's kept inputs through its entry point: the regression inputs (each
// once crashed the target) and the seed corpus. Under the asan preset this repeats the
// fuzzer's own checks for every input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const char* folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> AllInputs() {
    std::vector<fs::path> files = Inputs(ZRF_FUZZ_REGRESSIONS);
    for (const fs::path& seed : Inputs(ZRF_FUZZ_CORPUS)) files.push_back(seed);
    return files;
}

class Input : public ::testing::TestWithParam<fs::path> {};

TEST_P(Input, RunsClean) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Kept, Input, ::testing::ValuesIn(AllInputs()), [](const auto& info) {
    std::string name = info.param.parent_path().parent_path().filename().string() + "_" +
                       info.param.stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

// An empty corpus would leave the target untested by this program.
TEST(FuzzInputs, TheTargetHasSeeds) {
    EXPECT_FALSE(Inputs(ZRF_FUZZ_CORPUS).empty()) << ZRF_FUZZ_TARGET_NAME;
}

}  // namespace
