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

std::string TestName(const fs::path& path) {
    std::string name = path.stem().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

void Replay(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << path;
}

class Regression : public ::testing::TestWithParam<fs::path> {};
TEST_P(Regression, RunsClean) {
    Replay(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Inputs, Regression, ::testing::ValuesIn(Inputs(ZRF_FUZZ_REGRESSIONS)),
                         [](const auto& info) { return TestName(info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Regression);

class Seed : public ::testing::TestWithParam<fs::path> {};
TEST_P(Seed, RunsClean) {
    Replay(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Corpus, Seed, ::testing::ValuesIn(Inputs(ZRF_FUZZ_CORPUS)),
                         [](const auto& info) { return TestName(info.param); });

// An empty corpus would leave the target untested by this program.
TEST(FuzzInputs, TheTargetHasSeeds) {
    EXPECT_FALSE(Inputs(ZRF_FUZZ_CORPUS).empty()) << ZRF_FUZZ_TARGET_NAME;
}

}  // namespace
