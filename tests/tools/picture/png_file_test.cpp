#include "tools/picture/png_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Picture;

namespace {

RgbImage Noise(int width, int height, unsigned seed) {
    RgbImage picture(width, height);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < picture.SizeBytes(); ++i)
        picture.Data()[i] = static_cast<std::uint8_t>(random());
    return picture;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Same(const RgbImage& a, const RgbImage& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::equal(a.Data(), a.Data() + a.SizeBytes(), b.Data());
}

}  // namespace

TEST(PngFile, RoundTripsEveryPixelAndReadsGreyAsRgb) {
    TempDir dir;
    for (auto [width, height] : {std::pair{1, 1}, std::pair{37, 5}}) {
        const RgbImage picture = Noise(width, height, static_cast<unsigned>(width));
        const PictureStatus written = WritePng(dir.File("noise.png"), picture);
        ASSERT_TRUE(written) << written.Message();
        EXPECT_EQ(FileText(dir.File("noise.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
        RgbImage back;
        ASSERT_TRUE(ReadPng(dir.File("noise.png"), back));
        EXPECT_TRUE(Same(back, picture)) << width << "x" << height;
    }
    EXPECT_EQ(dir.Count(), 1u) << "no temporary file left";

    // Two 8-bit grey pixels, 0x10 and 0xF0.
    const unsigned char grey[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
        0x00, 0xD1, 0x49, 0x20, 0x56, 0x00, 0x00, 0x00, 0x0B, 0x49, 0x44, 0x41, 0x54, 0x78,
        0xDA, 0x63, 0x10, 0xF8, 0x00, 0x00, 0x01, 0x13, 0x01, 0x01, 0xE6, 0xFF, 0x11, 0x1B,
        0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    std::ofstream(dir.File("grey.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(grey), sizeof grey);
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("grey.png"), back));
    ASSERT_EQ(back.Width(), 2);
    EXPECT_EQ(back.At(0, 0), (Rgb{0x10, 0x10, 0x10}));
    EXPECT_EQ(back.At(1, 0), (Rgb{0xF0, 0xF0, 0xF0}));
}

TEST(PngFile, WritesPaddedRgbBuffersAndRefusesShortOnes) {
    TempDir dir;
    const RgbImage picture = Noise(5, 3, 9);
    const std::size_t stride = 5 * 3 + 4;
    std::vector<std::uint8_t> padded(stride * 3, 0xEE);
    for (int y = 0; y < 3; ++y)
        std::copy_n(picture.Row(y), picture.RowBytes(), padded.data() + y * stride);
    ASSERT_TRUE(WritePngRgb(dir.File("padded.png"), 5, 3, stride, padded));
    RgbImage back;
    ASSERT_TRUE(ReadPng(dir.File("padded.png"), back));
    EXPECT_TRUE(Same(back, picture));

    // The last row needs no padding after it; one byte less is too short.
    padded.resize(stride * 2 + 15);
    EXPECT_TRUE(WritePngRgb(dir.File("tight.png"), 5, 3, stride, padded));
    const std::vector<std::uint8_t> row(3 * RgbImage::kMaxSide, 7);
    EXPECT_TRUE(WritePngRgb(dir.File("wide.png"), RgbImage::kMaxSide, 1, row.size(), row));
    padded.pop_back();
    EXPECT_EQ(WritePngRgb(dir.File("short.png"), 5, 3, stride, padded).Message(),
              "cannot write '" + dir.File("short.png") + "': pixel buffer too small for 5x3");
    EXPECT_FALSE(WritePngRgb(dir.File("stride.png"), 5, 3, 14, padded));
    EXPECT_EQ(WritePngRgb(dir.File("empty.png"), 5, 0, stride, padded).Message(),
              "cannot write '" + dir.File("empty.png") + "': picture of 5x0 pixels");
    EXPECT_FALSE(WritePngRgb(dir.File("huge.png"), RgbImage::kMaxSide + 1, 1, row.size(), row));
    EXPECT_FALSE(WritePng(dir.File("empty.png"), RgbImage()));
    EXPECT_EQ(dir.Count(), 3u) << "only the pictures written";
}

TEST(PngFile, ReadingSomethingElseIsAnErrorAndLeavesNoHalfPicture) {
    TempDir dir;
    std::ofstream(dir.File("text.png")) << "not a picture at all";
    ASSERT_TRUE(WritePng(dir.File("whole.png"), Noise(64, 64, 5)));
    std::string half = FileText(dir.File("whole.png"));
    half.resize(half.size() / 2);
    std::ofstream(dir.File("half.png"), std::ios::binary) << half;
    for (const char* name : {"missing.png", "text.png", "half.png"}) {
        RgbImage picture;
        const PictureStatus status = ReadPng(dir.File(name), picture);
        EXPECT_EQ(status.Message().rfind("cannot read picture '" + dir.File(name) + "': ", 0), 0u)
            << status.Message();
        EXPECT_TRUE(picture.Empty()) << name;
    }
}
