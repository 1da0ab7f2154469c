// zrfgrab export's open formats in-process: what a recorded image is taken for, frame times at
// any value a file holds, split outputs' names, and failures that leave nothing behind. The
// files' contents are read back by other software in tests/cli/check_open_formats.py.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "imaging/visual_frame_header.h"
#include "tests/host/recorder/temp_dir.h"
#include "tools/picture/png_file.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/export_outputs.h"
#include "tools/zrfgrab/frame_time.h"
#ifdef ZRF_HAVE_TIFF
#include "tools/formats/tiff_writer.h"
#endif
#ifdef ZRF_HAVE_VIDEO
#include "tools/formats/video_writer.h"
#endif

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;
using Kind = zrfgrab::ExportPicture::Kind;

constexpr std::int64_t kUnixEpochTicks = 621355968000000000;

// The least of a ZRF image that holds counts: header, one index entry, geometry, pixels.
std::vector<std::uint8_t> ZrfImage(int width, int height, std::uint16_t first) {
    const std::size_t block = 32 + std::size_t(width) * height * 2;
    std::vector<std::uint8_t> image(96 + block, 0);
    std::memcpy(image.data(), "ZRF", 4);
    image[31] = 1;   // one entry
    image[65] = 1;   // a pixel block
    image[79] = 96;  // at 96
    for (int i = 0; i < 4; ++i) image[80 + i] = std::uint8_t(block >> (24 - 8 * i));
    std::memcpy(image.data() + 98, &width, 2);
    std::memcpy(image.data() + 100, &height, 2);
    for (int i = 0; i < width * height; ++i) {
        const std::uint16_t count = std::uint16_t(first + i);
        std::memcpy(image.data() + 128 + 2 * i, &count, 2);
    }
    return image;
}

std::vector<std::uint8_t> VisualImage(const char* fourCc, int width, int height,
                                      std::size_t pictureBytes) {
    VisualFrameHeader header{};
    std::memcpy(header.fourCc, fourCc, 4);
    header.width = width;
    header.height = height;
    header.stride = width * 2;
    std::vector<std::uint8_t> image(sizeof header + pictureBytes, 0x80);
    std::memcpy(image.data(), &header, sizeof header);
    return image;
}

TEST(ExportPicture, EveryLayoutIsCheckedAgainstTheImagesSize) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> image;
        Kind kind;
        int width, height;
    };
    auto cut = [](std::vector<std::uint8_t> v, std::size_t n) { return v.resize(v.size() - n), v; };
    auto shortBlock = [](std::vector<std::uint8_t> v) {
        return v[83] -= 2, v;
    };  // the index says less
    const std::vector<Row> rows = {
        {"counts", ZrfImage(4, 3, 7000), Kind::Counts, 4, 3},
        {"counts, a pixel short", cut(ZrfImage(4, 3, 7000), 2), Kind::Other, 0, 0},
        {"counts, the block a pixel short of its geometry", shortBlock(ZrfImage(4, 3, 7000)),
         Kind::Other, 0, 0},
        {"YUY2", VisualImage("YUY2", 4, 2, 16), Kind::Yuy2, 4, 2},
        {"YUY2, a byte short", VisualImage("YUY2", 4, 2, 15), Kind::Other, 0, 0},
        {"YUY2 of odd width", VisualImage("YUY2", 3, 2, 12), Kind::Other, 0, 0},
        {"I420 of odd sides: chroma rounded up", VisualImage("I420", 3, 3, 9 + 2 * 4), Kind::I420,
         3, 3},
        {"I420, a byte short", VisualImage("I420", 3, 3, 9 + 2 * 4 - 1), Kind::Other, 0, 0},
        {"negative width", VisualImage("I420", -4, 2, 64), Kind::Other, 0, 0},
        {"width past 16 bits", VisualImage("YUY2", 65536, 1, 0), Kind::Other, 0, 0},
        {"height so large the size wraps", VisualImage("YUY2", 65534, INT_MAX, 64), Kind::Other, 0,
         0},
        {"a JPEG frame", std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0}, Kind::Other, 0, 0},
        {"nothing", {}, Kind::Other, 0, 0},
    };
    for (const Row& row : rows) {
        const auto picture = zrfgrab::ReadExportPicture(row.image);
        EXPECT_EQ(std::tuple(picture.kind, picture.width, picture.height),
                  std::tuple(row.kind, row.width, row.height))
            << row.name;
        if (picture.kind == Kind::Counts) {
            EXPECT_EQ(picture.counts.size(), 12u);
            EXPECT_EQ(picture.counts.back(), 7011);
        }
    }
}

TEST(FrameTime, MillisecondsRoundDownAndNothingOverflows) {
    struct Row {
        std::int64_t ticks;
        std::int64_t milliseconds;
        const char* text;
        const char* tiff;
    };
    const std::vector<Row> rows = {
        {kUnixEpochTicks, 0, "1970-01-01 00:00:00.000", "1970:01:01 00:00:00"},
        {kUnixEpochTicks + 9999, 0, "1970-01-01 00:00:00.000", "1970:01:01 00:00:00"},
        {kUnixEpochTicks - 1, -1, "1969-12-31 23:59:59.999", "1969:12:31 23:59:59"},
        {kUnixEpochTicks + 17'964'637'400'330'000, 1'796'463'740'033, "2026-12-05 09:42:20.033",
         "2026:12:05 09:42:20"},
        {0, -62'135'596'800'000, "0001-01-01 00:00:00.000", "0001:01:01 00:00:00"},
        {-1, -62'135'596'800'001, "0000-12-31 23:59:59.999", "0000:12:31 23:59:59"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zrfgrab::TicksToUnixMilliseconds(row.ticks), row.milliseconds) << row.ticks;
        EXPECT_EQ(zrfgrab::FrameTimeText(row.ticks), row.text) << row.ticks;
        EXPECT_EQ(zrfgrab::TiffDateTimeText(row.ticks), row.tiff) << row.ticks;
    }
    // The extremes a file may hold keep their order, and their difference fits.
    const std::int64_t lo = zrfgrab::TicksToUnixMilliseconds(INT64_MIN);
    const std::int64_t hi = zrfgrab::TicksToUnixMilliseconds(INT64_MAX);
    EXPECT_LT(lo, hi);
    EXPECT_GT(hi - lo, 0);
    EXPECT_FALSE(zrfgrab::FrameTimeText(INT64_MIN).empty());
}

TEST(NumberedRunPath, TheNumberGoesBeforeTheLastExtension) {
    for (const auto& [path, run, numbered] : std::vector<std::tuple<std::string, int, std::string>>{
             {"out.tif", 2, "out-2.tif"},
             {"a/b.c/x.y.mkv", 12, "a/b.c/x.y-12.mkv"},
             {"/tmp/S.TIFF", 1, "/tmp/S-1.TIFF"}})
        EXPECT_EQ(zrfgrab::NumberedRunPath(path, run), numbered);
}

class ExportCommandTest : public ::testing::Test {
  protected:
    // A recording of the images given, a frame each, numbered from 1 and 100 ms apart.
    std::string Record(const std::vector<std::vector<std::uint8_t>>& images) {
        const std::string path = dir_.File("r.zrec");
        Vorn::Zephra::Net::Devices::Recorder::RecordingWriter writer(path, 0, 0);
        std::uint64_t number = 0;
        for (const auto& image : images) {
            ++number;
            EXPECT_TRUE(writer.Append(number, kUnixEpochTicks + std::int64_t(number) * 1'000'000,
                                      image.data(), std::uint32_t(image.size())));
        }
        return path;
    }
    // Runs an export, its words split at spaces; stdout and stderr kept.
    int Export(const std::string& line) {
        std::vector<std::string> words;
        std::istringstream in("export " + line);
        for (std::string word; in >> word;) words.push_back(word);
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        CaptureStdout();
        CaptureStderr();
        const int status = RunExportCommand(int(argv.size()), argv.data());
        out_ = GetCapturedStdout();
        err_ = GetCapturedStderr();
        return status;
    }

    TempDir dir_;
    std::string out_, err_;
};

// Checked before any work: exit 2, one line, nothing made.
TEST_F(ExportCommandTest, BadArgumentsExitWithTwoBeforeAnyWork) {
    const std::string rec = Record({ZrfImage(4, 2, 1)}) + " ";
    std::ofstream(dir_.File("file")) << "x";
    const std::string d = dir_.Path() + "/";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {rec + "--tiff", "--tiff needs a value"},
        {rec + "--video " + d + "v.mp4", "--video writes Matroska: name the file FILE.mkv"},
        {rec + "--video " + d + "v.mkv --tiff " + d + "t.tif", "choose one of"},
        {rec + "--png16 " + d + "a --png16 " + d + "b", "choose one of"},
        {rec + "--tiff " + d + "t.tif --palette grey", "--palette goes with --png only"},
        {rec + "--csv " + d + "file", "is not a folder"},
        {rec + "--tiff " + d + "no/such/t.tif", "No such file or directory"},
        {rec + "--csv " + d + "c --frames 3-1", "selects no frames"},
        {d + "file --csv " + d + "c", "not a recording"},
    };
    for (const auto& [line, why] : rows) {
        EXPECT_EQ(Export(line), 2) << line;
        EXPECT_THAT(err_, HasSubstr(why)) << line;
        EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
    }
    EXPECT_EQ(dir_.Count(), 2u);  // the recording and the file, nothing else
}

#if defined(ZRF_HAVE_TIFF) && defined(ZRF_HAVE_VIDEO)
// A new file begins at every change of size, a return to an earlier size included; once there
// are two, every file is numbered and the summary names each.
TEST_F(ExportCommandTest, StacksAndVideosSplitAtEverySizeChange) {
    const std::string rec = Record({ZrfImage(4, 2, 1), ZrfImage(4, 2, 2), ZrfImage(2, 4, 3),
                                    ZrfImage(4, 2, 4), ZrfImage(4, 2, 5)});
    for (const std::string ext : {".tif", ".mkv"}) {
        const std::string out = dir_.File("s" + ext);
        ASSERT_EQ(Export(rec + (ext == ".tif" ? " --tiff " : " --video ") + out), 0) << err_;
        EXPECT_EQ(out_,
                  "5 frames written to 3 files, one per run of equal frame size (the size changes "
                  "within the "
                  "recording):\n  " +
                      dir_.File("s-1" + ext) + "  2 frames, #1 to #2, 4x2\n  " +
                      dir_.File("s-2" + ext) + "  1 frame, #3 to #3, 2x4\n  " +
                      dir_.File("s-3" + ext) + "  2 frames, #4 to #5, 4x2\n");
        EXPECT_THAT(
            err_,
            HasSubstr("the frame size changes at frame 3 (4x2 to 2x4): the output is split, " +
                      dir_.File("s-2" + ext) + " begins\n"));
        EXPECT_THAT(err_, HasSubstr("at frame 4 (2x4 to 4x2)"));
        EXPECT_FALSE(std::filesystem::exists(out));
        for (const char* run : {"s-1", "s-2", "s-3"})
            EXPECT_TRUE(std::filesystem::exists(dir_.File(run + ext)));
    }
}

// A frame a stack or video cannot take is left out and named, every other frame is written, and
// the export ends with the count (exit 1); no temporary is left.
TEST_F(ExportCommandTest, AFrameWithoutCountsIsLeftOutAndTheOthersWritten) {
    const std::string rec = Record({ZrfImage(4, 2, 1), {1, 2, 3}, ZrfImage(4, 2, 3)});
    for (const std::string name : {"kept.tif", "kept.mkv"}) {
        std::ofstream(dir_.File(name)) << "kept";
        EXPECT_EQ(Export(rec + (name == "kept.tif" ? " --tiff " : " --video ") + dir_.File(name)),
                  1);
        EXPECT_THAT(err_, HasSubstr("zrfgrab export: frame 2 "));
        EXPECT_THAT(err_, HasSubstr("; left out\n"));
        EXPECT_THAT(err_, HasSubstr("zrfgrab export: 1 frame left out; every other frame is exported\n"));
        EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 2) << err_;
        EXPECT_THAT(out_, HasSubstr("2 frames written to " + dir_.File(name)));
        std::ifstream in(dir_.File(name));
        EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}), "kept");
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".out-")) << entry.path();
}

// The writers refuse what they cannot write and leave nothing behind.
TEST(OpenFormatWriters, MisuseFailsAndLeavesNothing) {
    TempDir dir;
    const std::vector<std::uint16_t> counts(16, 7);
    const std::vector<std::uint8_t> bytes(32, 7);
    {
        Vorn::Picture::TiffWriter tiff(dir.File("empty.tif"), false);
        EXPECT_THAT(tiff.Commit().Message(), HasSubstr("no page to write"));
    }
    {
        Vorn::Picture::TiffWriter tiff(dir.File("short.tif"), false);
        EXPECT_FALSE(tiff.AddPage(4, 5, counts, {}, true));  // 16 counts for 20 pixels
        EXPECT_FALSE(tiff.Commit());
    }
    {
        Vorn::Picture::VideoWriter video(dir.File("v.mkv"));
        EXPECT_THAT(video.Add(bytes, 0, "").Message(), HasSubstr("not started"));
    }
    for (const auto& [layout, width, height] :
         std::vector<std::tuple<Vorn::Picture::VideoLayout, int, int>>{
             {Vorn::Picture::VideoLayout::Yuy2, 3, 2},
             {Vorn::Picture::VideoLayout::Grey16, 0, 4},
             {Vorn::Picture::VideoLayout::I420, 4, 0},
             {Vorn::Picture::VideoLayout::Grey16, 65536, 1}}) {
        Vorn::Picture::VideoWriter video(dir.File("size.mkv"));
        EXPECT_THAT(
            video.Start(layout, width, height, {}).Message(),
            HasSubstr("no picture of " + std::to_string(width) + "x" + std::to_string(height)));
    }
    {
        Vorn::Picture::VideoWriter video(dir.File("back.mkv"));
        ASSERT_TRUE(video.Start(Vorn::Picture::VideoLayout::Grey16, 4, 4, {}));
        EXPECT_TRUE(video.Add(bytes, 5, "a"));
        EXPECT_THAT(video.Add(bytes, 5, "b").Message(), HasSubstr("not later than the one before"));
        EXPECT_FALSE(video.Commit());
    }
    {
        Vorn::Picture::VideoWriter video(dir.File("none.mkv"));
        ASSERT_TRUE(video.Start(Vorn::Picture::VideoLayout::Grey16, 4, 4, {}));
        EXPECT_THAT(video.Commit().Message(), HasSubstr("no frame to write"));
    }
    const std::vector<Vorn::Picture::PngText> longKey = {{std::string(80, 'k'), "v"}};
    EXPECT_FALSE(Vorn::Picture::WritePngGrey16(dir.File("k.png"), 4, 4, counts, longKey));
    EXPECT_FALSE(Vorn::Picture::WritePngGrey16(dir.File("s.png"), 4, 5, counts, {}));
    EXPECT_EQ(dir.Count(), 0u);
}
#endif

}  // namespace
