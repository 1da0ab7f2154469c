#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/zrf_records.h"
#include "sim/samples/camera_samples.h"
#include "tools/zrfgrab/decode_command.h"
#include "tools/zrfgrab/info_command.h"

namespace {

namespace fs = std::filesystem;

class ZrfgrabCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zrfgrab_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        settings_.size = {32, 24};
        settings_.fieldCount = 2;
        settings_.seconds = 1'700'000'000;
        settings_.milliseconds = 100;
        picture_.resize(32 * 24);
        for (std::size_t i = 0; i < picture_.size(); ++i)
            picture_[i] = static_cast<std::uint16_t>(7000 + i);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::vector<std::uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    int Run(int (*command)(int, char**), std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        return command(static_cast<int>(argv.size()), argv.data());
    }

    fs::path dir_;
    Sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_;
};

TEST_F(ZrfgrabCommandsTest, DecodesAFieldReproduciblyWithCameraTime) {
    std::vector<std::uint8_t> sample;
    Sim::BuildUsbRawSample(picture_.data(), settings_, sample);
    const auto in = Write("sample.raw", sample);
    const auto out1 = (dir_ / "a.zrf").string(), out2 = (dir_ / "b.zrf").string();
    const std::vector<std::string> args = {
        "decode",   "--subtype", "F7M0",    "--source", "usb",    "--size", "32x24",
        "--fields", "2",         "--field", "1",        "--rate", "30",     "--camera-time"};
    auto withFiles = [&](const std::string& out) {
        auto a = args;
        a.push_back(in);
        a.push_back(out);
        return a;
    };
    ASSERT_EQ(Run(RunDecodeCommand, withFiles(out1)), 0);
    ASSERT_EQ(Run(RunDecodeCommand, withFiles(out2)), 0);
    const auto image = Read(out1);
    EXPECT_EQ(image, Read(out2));
    ASSERT_EQ(image.size(), 32u * 12 * 2 + 2588);
    EXPECT_EQ(Zrf::Load<std::uint16_t>(image.data() + 2588), picture_[32 * 12]);
    EXPECT_EQ(Zrf::Load<std::uint32_t>(image.data() + 128 + Zrf::Info::kMilliseconds), 116u);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(RunInfoCommand, {"info", out1}), 0);
    const std::string info = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(info.find("source \"UVC_KAVIR\""), std::string::npos) << info;
    EXPECT_NE(info.find("entry 1: type 1 (pixels), byte order 2, offset 2556, length 800"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("geometry: width 32, height 12, last row 11"), std::string::npos) << info;
    EXPECT_NE(info.find("2023-11-14 22:13:20.116 UTC"), std::string::npos) << info;
    EXPECT_NE(info.find("pixels: 384, min 7384, max 7767, mean 7575.50"), std::string::npos)
        << info;
}

TEST_F(ZrfgrabCommandsTest, RejectedSamplesNameTheResult) {
    std::vector<std::uint8_t> sample;
    settings_.statusFlags = 1;
    Sim::BuildIeee1394Sample(picture_.data(), settings_, sample);
    const auto in = Write("cal.raw", sample);
    const auto out = (dir_ / "cal.zrf").string();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run(RunDecodeCommand,
                  {"decode", "--subtype", "F7M2", "--source", "1394", "--size", "32x24", in, out}),
              1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "zrfgrab decode: the camera is calibrating\n");
    EXPECT_FALSE(fs::exists(out));

    const auto junk = Write("junk.raw", std::vector<std::uint8_t>(100, 7));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run(RunDecodeCommand,
                  {"decode", "--subtype", "MJLS", "--source", "usb", "--size", "32x24", junk, out}),
              1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "zrfgrab decode: bad frame\n");
}

TEST_F(ZrfgrabCommandsTest, BadArgumentsExitWithTwoAndOneLine) {
    const auto in = Write("s.raw", std::vector<std::uint8_t>(10));
    const std::vector<std::vector<std::string>> bad = {
        {"decode"},
        {"decode", "--subtype", "F7M", "--source", "usb", "--size", "4x4", in, "o"},
        {"decode", "--subtype", "F7M0", "--source", "firewire", "--size", "4x4", in, "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4by4", in, "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4", "--fields", "0", in,
         "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4", "--field", "1", in,
         "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4", "--rate", "fast", in,
         "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4", "--bogus", in, "o"},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4", in},
        {"decode", "--subtype", "F7M0", "--source", "usb", "--size", "4x4",
         (dir_ / "missing").string(), "o"},
        {"decode", "--subtype"},
    };
    for (const auto& args : bad) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Run(RunDecodeCommand, args), 2) << args.size();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(ZrfgrabCommandsTest, InfoRefusesWhatIsNotAnImageAndSurvivesBrokenIndexes) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run(RunInfoCommand, {"info", Write("x", std::vector<std::uint8_t>(10))}), 2);
    EXPECT_EQ(Run(RunInfoCommand, {"info"}), 2);
    ::testing::internal::GetCapturedStderr();

    std::vector<std::uint8_t> header(64 + 32, 0);
    std::memcpy(header.data(), "ZRF", 4);
    header[28 + 3] = 0xFF;   // 255 entries, one present
    header[64 + 1] = 1;      // a pixel entry
    header[64 + 12] = 0x7F;  // far beyond the file
    header[64 + 19] = 0x40;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Run(RunInfoCommand, {"info", Write("broken.zrf", header)}), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("(beyond the end)"), std::string::npos) << out;
    EXPECT_NE(out.find("entry 1: beyond the end of the file"), std::string::npos) << out;
}

}  // namespace
