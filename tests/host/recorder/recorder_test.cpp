// The recording file, read back whole, cut and damaged, and the recorder that writes it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

// Frames 1, 2, ... of the given sizes, at ticks 1001, 1002, ...
void WriteFrames(const std::string& path, std::initializer_list<std::uint32_t> sizes) {
    RecordingWriter writer(path, 1234, *sizes.begin());
    std::uint64_t n = 0;
    for (std::uint32_t size : sizes) {
        ++n;
        ASSERT_TRUE(writer.Append(n, 1000 + n, TestImage(size, n).data(), size));
    }
}

void Patch(const std::string& path, std::size_t at, std::string_view bytes) {
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(at)
        .write(bytes.data(), bytes.size());
}

constexpr std::size_t kHeader = sizeof(RecordingFileHeader), kRecord = sizeof(FrameRecordHeader);

TEST(RecordingFile, FramesOfAnySizeReadBackByteForByteWithNumbersAndTimes) {
    TempDir dir;
    WriteFrames(dir.File("old.zrec"), {9, 9, 9, 9});
    std::filesystem::copy_file(dir.File("old.zrec"), dir.File("r.zrec"));
    WriteFrames(dir.File("r.zrec"), {1000, 0, 1});  // over a longer recording
    RecordingReader::End ending;
    const auto frames = ReadAll(dir.File("r.zrec"), &ending);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
    for (std::uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tuple(frames[i].frameNumber, frames[i].ticks, frames[i].checksumOk),
                  std::tuple(i + 1, 1001 + static_cast<std::int64_t>(i), true));
        EXPECT_EQ(frames[i].image, TestImage(i == 0 ? 1000 : i == 1 ? 0 : 1, i + 1));
    }
    EXPECT_EQ(RecordingReader(dir.File("r.zrec")).Header().createdTicks, 1234);

    // A header larger than this version's: its extra bytes are skipped.
    std::ifstream in(dir.File("r.zrec"), std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    bytes.insert(kHeader, 8, '\x77');
    bytes[offsetof(RecordingFileHeader, headerSize)] = static_cast<char>(kHeader + 8);
    std::ofstream(dir.File("long.zrec"), std::ios::binary) << bytes;
    EXPECT_EQ(ReadAll(dir.File("long.zrec"), &ending).size(), 3u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
}

TEST(RecordingFile, AFileCutAtAnyByteGivesBackEveryCompleteFrame) {
    TempDir dir;
    const std::size_t size = 50, record = kRecord + size;
    WriteFrames(dir.File("full.zrec"), {size, size, size});
    const auto full = std::filesystem::file_size(dir.File("full.zrec"));
    for (std::uintmax_t cut = kHeader; cut <= full; ++cut) {
        std::filesystem::copy_file(dir.File("full.zrec"), dir.File("cut.zrec"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(dir.File("cut.zrec"), cut);
        RecordingReader::End ending;
        const auto frames = ReadAll(dir.File("cut.zrec"), &ending);
        ASSERT_EQ(frames.size(), (cut - kHeader) / record) << "cut at " << cut;
        for (const auto& f : frames) ASSERT_TRUE(f.checksumOk);
        EXPECT_EQ(ending, (cut - kHeader) % record == 0 ? RecordingReader::End::Clean
                                                        : RecordingReader::End::CutShort);
    }
}

TEST(RecordingFile, CorruptionIsReportedPerFrameOrEndsReading) {
    TempDir dir;
    const std::size_t record = kRecord + 64;
    WriteFrames(dir.File("r.zrec"), {64, 64, 64});
    Patch(dir.File("r.zrec"), kHeader + record + kRecord + 10, "\x5A");  // inside frame 2's image
    auto frames = ReadAll(dir.File("r.zrec"));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(std::tuple(frames[0].checksumOk, frames[1].checksumOk, frames[2].checksumOk),
              std::tuple(true, false, true));
    Patch(dir.File("r.zrec"), kHeader + 2 * record + 4, "\xFF\xFF\xFF\x7F");  // frame 3's length
    RecordingReader::End ending;
    EXPECT_EQ(ReadAll(dir.File("r.zrec"), &ending).size(), 2u);
    EXPECT_EQ(ending, RecordingReader::End::Damaged);
}

TEST(RecordingFile, ForeignFilesAndMissingFilesAreRefused) {
    TempDir dir;
    std::ofstream(dir.File("text.zrec")) << "not a recording at all, but long enough to read";
    std::ofstream(dir.File("empty.zrec"));
    WriteFrames(dir.File("v2.zrec"), {10});
    Patch(dir.File("v2.zrec"), offsetof(RecordingFileHeader, version), "\x02");
    for (const char* name : {"text.zrec", "empty.zrec", "v2.zrec"})
        EXPECT_THROW(RecordingReader(dir.File(name)), System::FormatException) << name;
    EXPECT_THAT([&] { RecordingReader{dir.File("v2.zrec")}; },
                ::testing::ThrowsMessage<System::FormatException>(
                    "'" + dir.File("v2.zrec") +
                    "' is a recording of version 2; only version 1 can be read"));
    EXPECT_THROW(RecordingReader(dir.File("missing.zrec")), System::IOException);
    EXPECT_THROW(RecordingReader(dir.Path()), System::IOException);
    // Only a regular file is replaced: not a device, nor what a link points at.
    std::ofstream(dir.File("target")) << "kept";
    std::filesystem::create_symlink(dir.File("target"), dir.File("link.zrec"));
    for (const std::string& path :
         {dir.File("no/such/dir/r.zrec"), std::string("/dev/null"), dir.File("link.zrec")})
        EXPECT_THROW(RecordingWriter(path, 0, 10), System::IOException) << path;
    EXPECT_EQ(std::filesystem::file_size(dir.File("target")), 4u);
}

constexpr std::size_t kSize = 256;

class ZRFRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPath(dir.File("rec.zrec"));
        recorder.SetImageSize(kSize);
        recorder.RecorderStatusChanged.Subscribe(
            [this](const void*, const RecorderStatusEventArgs& e) { states.push_back(e.State); });
    }
    void SetPath(const std::string& path) {
        RecorderXml settings;
        settings.SetPath(path);
        ASSERT_TRUE(recorder.Setup(settings.XMLData()));
    }
    // An image made from its time stamp, so that the recording shows which image went where.
    std::uint64_t Add(std::int64_t ticks) {
        return recorder.AddImage(TestImage(kSize, ticks), 0, ticks);
    }
    // Frame numbers of the last recording, each image checked against its time stamp.
    std::vector<std::uint64_t> Recorded() {
        RecordingReader reader(recorder.CurrentPath());
        std::vector<std::uint64_t> numbers;
        for (RecordedFrame f; reader.Next(f); numbers.push_back(f.frameNumber))
            EXPECT_TRUE(f.checksumOk && f.image == TestImage(kSize, f.ticks)) << f.frameNumber;
        return numbers;
    }

    TempDir dir;
    ZRFRecorder recorder;
    std::vector<RECORDING_STATE> states;
};

TEST_F(ZRFRecorderTest, CountsEveryImageAndRecordsOnlyBetweenStartAndStop) {
    recorder.SetFrameCounter(10);
    EXPECT_EQ(Add(100), 11u);
    const std::int64_t kUnixEpoch = 621355968000000000,
                       before = kUnixEpoch + std::time(nullptr) * 10'000'000;
    recorder.Start(0);
    const std::int64_t after = kUnixEpoch + (std::time(nullptr) + 1) * 10'000'000;
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(Add(200), 12u);
    EXPECT_EQ(Add(300), 13u);
    recorder.Stop(0);
    EXPECT_EQ(Add(400), 14u);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{12, 13}));
    const std::int64_t created = RecordingReader(recorder.CurrentPath()).Header().createdTicks;
    EXPECT_TRUE(created >= before && created <= after) << created;
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, PreRecordingRingIsWrittenFirstOldestImageFirst) {
    RecorderXml settings;
    settings.SetPath(dir.File("rec.zrec"));
    settings.SetMaxNumberOfFramesInPreRecording(3);
    recorder.Setup(settings.XMLData());
    recorder.SetIsPreRecordingEnabled(true);
    for (int i = 1; i <= 5; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 3u);
    settings.SetXMLData(recorder.Settings());
    EXPECT_TRUE(settings.IsPreRecordingEnabled());
    EXPECT_EQ(settings.ImageSize(), static_cast<int>(kSize));
    recorder.Start(0);
    Add(6);
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{3, 4, 5, 6}));
    EXPECT_EQ(recorder.PreRecordedImages(), 0u);
    recorder.SetSizeImageBufferPreRecording(2);
    for (int i = 7; i <= 9; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 2u);
}

TEST_F(ZRFRecorderTest, StartWithACountStopsByItselfAndPauseSkipsImages) {
    recorder.Start(3);
    Add(1);
    recorder.Pause(1);
    Add(2);  // paused: counted, not recorded
    recorder.Pause(0);
    for (int i = 3; i <= 5; ++i) Add(i);  // the recorder stops after the third image it wrote
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{1, 3, 4}));
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::PAUSED,
                                   RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_F(ZRFRecorderTest, ADirectoryPathGetsANewNumberedFileEachTime) {
    SetPath(dir.Path() + "/");
    for (const char* name : {"recording_0001.zrec", "recording_0002.zrec"}) {
        recorder.Start(0);
        recorder.Stop(0);
        EXPECT_EQ(recorder.CurrentPath(), dir.File(name));
    }
}

TEST_F(ZRFRecorderTest, ImagesThatDoNotFitTheirBufferAreNotRecordedAndDisposeEndsTheRecording) {
    recorder.Start(0);
    std::vector<std::uint8_t> larger(8, 0);
    const auto image = TestImage(kSize, 4);
    larger.insert(larger.end(), image.begin(), image.end());
    EXPECT_EQ(recorder.AddImage(std::span(image).first(kSize - 1), 0, 1), 1u);
    for (const auto& [offset, ticks] : {std::pair{9, 2}, {-1, 3}, {8, 4}})
        EXPECT_EQ(recorder.AddImage(larger, offset, ticks), static_cast<std::uint64_t>(ticks));
    // Dispose ends the recording and refuses new ones.
    recorder.Dispose();
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{4});
    EXPECT_THROW(recorder.Start(0), System::ObjectDisposedException);
}

}  // namespace
