#include "tools/picture/png_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "print_picture.h"
#include "temp_dir.h"
#include "tools/picture/false_colour_renderer.h"

using namespace Vorn::Picture;

namespace {

RgbImage Noise(int width, int height, unsigned seed) {
    RgbImage picture(width, height);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < picture.SizeBytes(); ++i)
        picture.Data()[i] = static_cast<std::uint8_t>(random());
    return picture;
}

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ExpectSamePicture(const RgbImage& a, const RgbImage& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.At(x, y), b.At(x, y)) << x << "," << y;
}

// Exits 0 when writing a picture larger than the limit fails with a message naming the path.
[[noreturn]] void WriteWithFileSizeLimit(const std::string& path) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const PictureStatus status = WritePng(path, Noise(300, 300, 3));
    std::exit(!status && status.Message().find(path) != std::string::npos ? 0 : 1);
}

}  // namespace

TEST(PngFile, RoundTripsEveryPixel) {
    TempDir dir;
    for (auto [width, height] : {std::pair{1, 1}, std::pair{37, 5}, std::pair{256, 200}}) {
        const RgbImage picture = Noise(width, height, static_cast<unsigned>(width));
        const std::string path = dir.File("noise.png");
        const PictureStatus written = WritePng(path, picture);
        ASSERT_TRUE(written) << written.Message();
        const std::vector<char> bytes = FileBytes(path);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(std::string(bytes.data(), 8), "\x89PNG\r\n\x1a\n");
        RgbImage back;
        const PictureStatus read = ReadPng(path, back);
        ASSERT_TRUE(read) << read.Message();
        ExpectSamePicture(back, picture);
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"noise.png"}) << "no temporary file left";
}

TEST(PngFile, ARenderedFrameKeepsItsBarAndLabels) {
    TempDir dir;
    std::vector<std::uint16_t> pixels(120 * 90);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint16_t>(8000 + (i % 120) * 10 + (i / 120) * 3);
    FalseColourRenderer renderer;
    ASSERT_TRUE(renderer.Render(120, 90, pixels));
    ASSERT_TRUE(WritePng(dir.File("frame.png"), renderer.Picture()));
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("frame.png"), back));
    ExpectSamePicture(back, renderer.Picture());
    const ColourBarLayout& layout = renderer.Layout();
    EXPECT_EQ(back.At(layout.barX, layout.barTop), Palette::Iron()[255]);
    EXPECT_EQ(back.At(layout.barX, layout.barBottom), Palette::Iron()[0]);
}

TEST(PngFile, WritesPaddedRgbBuffers) {
    TempDir dir;
    const RgbImage picture = Noise(5, 3, 9);
    const std::size_t stride = 5 * 3 + 4;
    std::vector<std::uint8_t> padded(stride * 3, 0xEE);
    for (int y = 0; y < 3; ++y)
        std::copy_n(picture.Row(y), picture.RowBytes(), padded.data() + y * stride);
    ASSERT_TRUE(WritePngRgb(dir.File("padded.png"), 5, 3, stride, padded));
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("padded.png"), back));
    ExpectSamePicture(back, picture);

    // The last row needs no padding after it; one byte less is too short.
    padded.resize(stride * 2 + 15);
    EXPECT_TRUE(WritePngRgb(dir.File("tight.png"), 5, 3, stride, padded));
    padded.pop_back();
    EXPECT_FALSE(WritePngRgb(dir.File("short.png"), 5, 3, stride, padded));
    EXPECT_FALSE(WritePngRgb(dir.File("stride.png"), 5, 3, 14, padded));
    EXPECT_FALSE(WritePngRgb(dir.File("empty.png"), 0, 3, stride, padded));
    EXPECT_FALSE(WritePng(dir.File("empty.png"), RgbImage()));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"padded.png", "tight.png"}));
}

TEST(PngFile, AnUnwritablePathIsAClearErrorAndLeavesNothing) {
    TempDir dir;
    const RgbImage picture = Noise(8, 8, 1);

    const std::string missing = dir.File("no/such/folder/frame.png");
    const PictureStatus status = WritePng(missing, picture);
    ASSERT_FALSE(status);
    EXPECT_NE(status.Message().find(missing), std::string::npos) << status.Message();
    EXPECT_NE(status.Message().find("No such file or directory"), std::string::npos)
        << status.Message();

    // A folder in the way: the picture is written, but cannot take the folder's place.
    ASSERT_TRUE(std::filesystem::create_directory(dir.File("taken.png")));
    const PictureStatus blocked = WritePng(dir.File("taken.png"), picture);
    ASSERT_FALSE(blocked);
    EXPECT_NE(blocked.Message().find("taken.png"), std::string::npos) << blocked.Message();

    // Only a regular file is replaced: a link and a pipe stay, and so does what a link names.
    std::ofstream(dir.File("target")) << "kept";
    std::filesystem::create_symlink(dir.File("target"), dir.File("link.png"));
    ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0600), 0);
    EXPECT_FALSE(WritePng(dir.File("link.png"), picture));
    EXPECT_FALSE(WritePng(dir.File("pipe.png"), picture));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.png")));
    EXPECT_EQ(FileBytes(dir.File("target")).size(), 4u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"link.png", "pipe.png", "taken.png", "target"}));
}

TEST(PngFile, AFailedWriteKeepsTheOldPicture) {
    TempDir dir;
    const std::string path = dir.File("frame.png");
    const RgbImage old = Noise(4, 4, 2);
    ASSERT_TRUE(WritePng(path, old));
    const std::vector<char> oldBytes = FileBytes(path);

    // A file size limit stands in for a full disk; it only binds in the child process.
    EXPECT_EXIT(WriteWithFileSizeLimit(path), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(FileBytes(path), oldBytes);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"frame.png"});
}

TEST(PngFile, ReadingSomethingElseIsAnError) {
    TempDir dir;
    RgbImage picture = Noise(3, 3, 4);
    const PictureStatus missing = ReadPng(dir.File("missing.png"), picture);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.Message().find("missing.png"), std::string::npos);

    std::ofstream(dir.File("text.png")) << "not a picture at all";
    const PictureStatus text = ReadPng(dir.File("text.png"), picture);
    ASSERT_FALSE(text);
    EXPECT_NE(text.Message().find("text.png"), std::string::npos);
    EXPECT_TRUE(picture.Empty());

    // A valid picture cut short.
    ASSERT_TRUE(WritePng(dir.File("whole.png"), Noise(64, 64, 5)));
    std::vector<char> bytes = FileBytes(dir.File("whole.png"));
    bytes.resize(bytes.size() / 2);
    std::ofstream(dir.File("half.png"), std::ios::binary).write(bytes.data(), bytes.size());
    EXPECT_FALSE(ReadPng(dir.File("half.png"), picture));
}
