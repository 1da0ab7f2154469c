#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "sim/samples/camera_samples.h"
#include "tests/host/recorder/temp_dir.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/decode_command.h"
#include "tools/zrfgrab/frame_picture.h"
#include "tools/zrfgrab/grab_options.h"
#include "tools/zrfgrab/info_command.h"
#include "tools/zrfgrab/zrf_image_view.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

class ZrfgrabCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.size = {32, 24};
        settings_.fieldCount = 2;
        settings_.seconds = 1'700'000'000;
        settings_.milliseconds = 100;
        picture_.resize(32 * 24);
        std::iota(picture_.begin(), picture_.end(), std::uint16_t{7000});
    }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir_.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return dir_.File(name);
    }
    // Runs a command line, its words split at spaces, through a subcommand's entry point.
    template <class Command>
    static auto Run(Command command, const std::string& line) {
        std::vector<std::string> words;
        std::istringstream in(line);
        for (std::string word; in >> word;) words.push_back(word);
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        return command(static_cast<int>(argv.size()), argv.data());
    }

    TempDir dir_;
    zrf::sim::SampleSettings settings_;
    std::vector<std::uint16_t> picture_;
};

TEST_F(ZrfgrabCommandsTest, DecodesAFieldWithCameraTime) {
    std::vector<std::uint8_t> sample;
    zrf::sim::BuildUsbRawSample(picture_.data(), settings_, sample);
    const auto in = Write("sample.raw", sample);
    const auto out = dir_.File("a.zrf");
    ASSERT_EQ(Run(RunDecodeCommand,
                  "decode --subtype F7M0 --source usb --size 32x24 --fields 2 "
                  "--field 1 --rate 30 --camera-time " +
                      in + " " + out),
              0);
    EXPECT_EQ(std::filesystem::file_size(out), 32u * 12 * 2 + 2588);  // one field of 12 rows
    CaptureStdout();
    EXPECT_EQ(Run(RunInfoCommand, "info " + out), 0);
    const std::string info = GetCapturedStdout();
    for (const char* line :
         {"header: magic ZRF, source \"UVC_KAVIR\", index offset 64, entries 2, words 100 3",
          "entry 1: type 1 (pixels), byte order 2, offset 2556, length 800",
          "geometry: width 32, height 12, last row 11",
          "time: 2023-11-14 22:13:20.116 local, standard zone UTC+00:00 (1700000000 s, 116 ms), "
          "time zone 0 min",
          "frame rate: 60, status flags 0x0000, text \"Live\"",
          "pixels: 384, min 7384, max 7767, mean 7575.50"})
        EXPECT_THAT(info, HasSubstr(line));
    // The header's checksum word is its own: a patched one is shown as it stands.
    std::fstream(out, std::ios::binary | std::ios::in | std::ios::out)
        .seekp(60)
        .write("\x12\x34\x56\x78", 4);
    CaptureStdout();
    EXPECT_EQ(Run(RunInfoCommand, "info " + out), 0);
    EXPECT_THAT(GetCapturedStdout(), HasSubstr("checksum 0x12345678\n"));
}

// An IR image whose header names no pixel block that fits gets no picture.
TEST(FramePicture, ImagesWithoutAPixelBlockThatFitsAreRefused) {
    std::vector<std::uint8_t> image(64 + 32, 0);
    std::memcpy(image.data(), "ZRF", 4);
    for (std::uint8_t entries : {0, 2}) {  // none, or more than the image holds
        image[31] = entries;
        EXPECT_EQ(zrfgrab::WriteFramePicture("/nonexistent/x.png", "IR", image, "iron"),
                  "the image holds no pixel block");
    }
}

TEST_F(ZrfgrabCommandsTest, RejectedSamplesNameTheResult) {
    std::vector<std::uint8_t> sample;
    settings_.statusFlags = 1;
    zrf::sim::BuildIeee1394Sample(picture_.data(), settings_, sample);
    const auto out = dir_.File("cal.zrf");
    CaptureStderr();
    EXPECT_EQ(Run(RunDecodeCommand, "decode --subtype F7M2 --source 1394 --size 32x24 " +
                                        Write("cal.raw", sample) + " " + out),
              1);
    EXPECT_EQ(GetCapturedStderr(), "zrfgrab decode: the camera is calibrating\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    CaptureStderr();
    EXPECT_EQ(
        Run(RunDecodeCommand, "decode --subtype MJLS --source usb --size 32x24 " +
                                  Write("junk.raw", std::vector<std::uint8_t>(100, 7)) + " " + out),
        1);
    EXPECT_EQ(GetCapturedStderr(),
              "zrfgrab decode: bad frame: the sample does not hold a 32x24 frame of that subtype "
              "and source\n");
    // A raw sample too short for the size given: the sizes, and what --size means.
    CaptureStderr();
    EXPECT_EQ(Run(RunDecodeCommand, "decode --subtype F7M0 --source usb --size 32x26 " +
                                        Write("short.raw", std::vector<std::uint8_t>(1600, 7)) +
                                        " " + out),
              1);
    EXPECT_EQ(
        GetCapturedStderr(),
        "zrfgrab decode: bad frame: the sample holds 1600 bytes; a 32x26 frame needs at least 5504 "
        "(its pixels and the radiometric region; --size is the picture without the region's "
        "rows)\n");
}

TEST_F(ZrfgrabCommandsTest, BadArgumentsExitWithTwoAndOneLine) {
    const std::string in = " " + Write("s.raw", std::vector<std::uint8_t>(10)), files = in + " o";
    const std::string usb = "decode --subtype F7M0 --source usb --size ";
    // clang-format off
    const std::vector<std::string> lines = {
        "decode", "decode --subtype", "info", "info" + in,
        "decode --subtype F7M --source usb --size 4x4" + files,
        "decode --subtype F7M00 --source usb --size 4x4" + files,
        "decode --subtype F7M0 --source firewire --size 4x4" + files,
        usb + "4by4" + files, usb + "0x4" + files, usb + "4x0" + files,
        usb + "4x4 --fields 0" + files, usb + "4x4 --field 1" + files,
        usb + "4x4 --rate fast" + files, usb + "4x4 --bogus" + files, usb + "4x4" + in,
        usb + "4x4 " + dir_.File("missing") + " o",
        "command", "command x", "command 40 --camera", "command 40 --camera nosuch",
        "command 40 --bogus", "command 40 Index"};
    // clang-format on
    for (const std::string& line : lines) {
        CaptureStderr();
        EXPECT_EQ(Run(line.starts_with("info")      ? RunInfoCommand
                      : line.starts_with("command") ? RunCommandCommand
                                                    : RunDecodeCommand,
                      line),
                  2)
            << line;
        const std::string err = GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(ZrfgrabCommandsTest, InfoShowsTextAsPrintableAndSurvivesBrokenIndexes) {
    std::vector<std::uint8_t> header(64 + 32, 0);
    std::memcpy(header.data(), "ZRF", 4);
    std::memcpy(header.data() + 4, "A B\x7Fxxxxxxxxxxxx", 16);  // the whole source field
    header[20] = 'W';                                           // right after it
    header[28 + 3] = 0xFF;                                      // 255 entries, one present
    header[64 + 1] = 1;                                         // a pixel entry
    header[64 + 12] = 0x7F;                                     // far beyond the file
    header[64 + 19] = 0x40;
    CaptureStdout();
    EXPECT_EQ(Run(RunInfoCommand, "info " + Write("broken.zrf", header)), 0);
    const std::string out = GetCapturedStdout();
    for (const char* line : {"magic ZRF, source \"A B?xxxxxxxxxxxx\",", "(beyond the end)",
                             "entry 1: beyond the end of the file"})
        EXPECT_THAT(out, HasSubstr(line));
}

TEST_F(ZrfgrabCommandsTest, RecordingInfoNamesGapsAndTimeStampsAnywhereInTheRange) {
    constexpr std::int64_t kUnixEpoch = 621355968000000000;  // in ticks since 0001-01-01
    const std::string path = dir_.File("r.zrec"), empty = dir_.File("empty.zrec");
    {
        Vorn::Zephra::Net::Devices::Recorder::RecordingWriter writer(path, 0, 4);
        const std::uint8_t image[4] = {1, 2, 3, 4};
        for (auto [number, ticks] : {std::pair<std::uint64_t, std::int64_t>{1, kUnixEpoch - 10000},
                                     {2, kUnixEpoch},
                                     {4, INT64_MIN},
                                     {7, INT64_MAX}})
            ASSERT_TRUE(writer.Append(number, ticks, image, 4));
    }
    // A recording's header alone (a writer that never got a frame leaves no file at all).
    std::filesystem::copy_file(path, empty);
    std::filesystem::resize_file(empty, 32);
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(RunRecordingInfo(path), 1);  // #4's stamp goes back
    const std::string out = GetCapturedStdout();
    for (const char* line :
         {"frames       4 (checksums: 4 good, 0 bad)\nimage size   4 bytes\n",
          "times        local time of the capturing host (its zone is not recorded)\n",
          "#1  1969-12-31 23:59:59.999  ok\n", "#2  1970-01-01 00:00:00.000  ok\n",
          "lost frames  3, 5-6\ntime order   1 stamp not later than the one before, first at #4\n"
          "ending       clean\n"})
        EXPECT_THAT(out, HasSubstr(line));
    EXPECT_EQ(GetCapturedStderr(),
              "zrfgrab info: '" + path + "' has time stamps that go back (1, first at #4)\n");
    // A header and no frame: not a recording worth calling whole.
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(RunRecordingInfo(empty), 1);
    EXPECT_EQ(GetCapturedStdout(),
              "recording    " + empty +
                  "\nframes       0 (checksums: 0 good, 0 bad)\nimage size   0 bytes\n"
                  "lost frames  none\nending       clean\n");
    EXPECT_EQ(GetCapturedStderr(), "zrfgrab info: '" + empty + "' is not whole: it holds no frame\n");

    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(32 + 32 + 36 + 1)
        .put('\x5A');
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(RunRecordingInfo(path), 1);
    // Its number and time are not to be trusted: the frame is named by where it is.
    EXPECT_THAT(GetCapturedStdout(), HasSubstr("  frame at byte 68  checksum mismatch\n"));
    EXPECT_EQ(GetCapturedStderr(), "zrfgrab info: '" + path +
                                       "' is not whole: 1 frame fails its checksum\n"
                                       "zrfgrab info: '" +
                                       path + "' has time stamps that go back (1, first at #4)\n");
}

// Zones come from files: any 32-bit value prints.
TEST(ZoneText, EveryZoneAFileMayHoldPrints) {
    for (const auto& [west, text] :
         std::vector<std::pair<int, std::string>>{{-60, "UTC+01:00"},
                                                  {330, "UTC-05:30"},
                                                  {0, "UTC+00:00"},
                                                  {INT_MIN, "UTC+35791394:08"},
                                                  {INT_MAX, "UTC-35791394:07"}})
        EXPECT_EQ(zrfgrab::ZoneText(west), text);
}

TEST_F(ZrfgrabCommandsTest, GrabOptionsAreReadWithTheirLimitsAndCombinationsChecked) {
    const auto o = Run(zrfgrab::ParseGrabOptions,
                       "grab --fast --quiet --json --camera fw-ir --rate-index 999 --frames 1");
    EXPECT_TRUE(o.fast && o.quiet && o.json);
    EXPECT_EQ(std::tuple(o.cameras, o.rateIndex, o.frames),
              std::tuple(std::vector<std::string>{"fw-ir"}, 999, 1u));
    // Each --camera is one camera more; the same preset twice is two cameras.
    EXPECT_EQ(Run(zrfgrab::ParseGrabOptions, "grab --camera usb-ir --camera fw-ir --camera usb-ir")
                  .cameras,
              (std::vector<std::string>{"usb-ir", "fw-ir", "usb-ir"}));
    EXPECT_EQ(Run(zrfgrab::ParseGrabOptions, "grab --replay r.zrec").cameras,
              std::vector<std::string>{});
    for (const char* line : {"grab --rate-index 1000", "grab --frames 0", "grab --fast --frames",
                             "grab --camera usb-ir --replay r.zrec", "grab --frames 3 --seconds 5",
                             "grab --camera usb-ir --camera fw-ir --identity id.xml",
                             "grab --camera usb-ir --camera nosuch",
                             "grab --windowing 2 --rate-index 0", "grab --format YUY2 --record r"})
        EXPECT_THROW(Run(zrfgrab::ParseGrabOptions, line), zrfgrab::UsageError) << line;
}

TEST(WindowingRateIndex, OnlyAFirewireCameraListingSixtyAndOneTwentyLastHasIt) {
    const std::string fw = "KOVA,Line_K,ZRF_FW,1.0.0,RTREE,1.0.0";
    EXPECT_EQ(zrfgrab::WindowingRateIndex(fw, {7.5, 15, 30, 60, 120}, 2), 3);
    EXPECT_EQ(zrfgrab::WindowingRateIndex(fw, {30, 60, 120}, 4), 2);
    for (const std::vector<double>& rates :
         {std::vector<double>{60, 120}, {7.5, 15, 30}, {30, 120, 60}, {30, 60, 121}})
        EXPECT_EQ(zrfgrab::WindowingRateIndex(fw, rates, 2), -1) << rates.size();
    EXPECT_EQ(zrfgrab::WindowingRateIndex("KOVA,Line_K,ZRF_USB,1.0.0", {7.5, 15, 30, 60, 120}, 2),
              -1);
}

}  // namespace
