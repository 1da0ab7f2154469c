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

// The files of the folders, each folder's in order.
std::vector<fs::path> Inputs(std::initializer_list<const char*> folders) {
    std::vector<fs::path> all;
    for (const char* folder : folders) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        all.insert(all.end(), files.begin(), files.end());
    }
    return all;
}

class Input : public ::testing::TestWithParam<fs::path> {};

TEST_P(Input, RunsClean) {
    std::ifstream in(GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Kept, Input,
                         ::testing::ValuesIn(Inputs({ZRF_FUZZ_REGRESSIONS, ZRF_FUZZ_CORPUS})),
                         [](const auto& info) {
                             std::string name =
                                 info.param.parent_path().parent_path().filename().string() + "_" +
                                 info.param.stem().string();
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// No inputs would leave the target untested by this program.
TEST(FuzzInputs, TheTargetHasInputs) {
    EXPECT_FALSE(Inputs({ZRF_FUZZ_REGRESSIONS, ZRF_FUZZ_CORPUS}).empty()) << ZRF_FUZZ_TARGET_NAME;
}

}  // namespace
