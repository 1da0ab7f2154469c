// Every input that ever made the decode fuzzer fail, replayed through the same entry point.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> RegressionInputs() {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(ZRF_FUZZ_REGRESSIONS)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

class DecodeFuzzRegression : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(DecodeFuzzRegression, RunsClean) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, DecodeFuzzRegression, ::testing::ValuesIn(RegressionInputs()),
                         [](const auto& info) {
                             std::string name = info.param.stem().string();
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

}  // namespace
