#include "host/recorder/recording_file.h"

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "host/system/exceptions.h"
#include "recorder_test_support.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;

namespace {

std::vector<RecordedFrame> ReadAll(const std::string& path, RecordingReader::End* ending = nullptr) {
    RecordingReader reader(path);
    std::vector<RecordedFrame> frames;
    RecordedFrame f;
    while (reader.Next(f)) frames.push_back(f);
    if (ending) *ending = reader.Ending();
    return frames;
}

void WriteFrames(const std::string& path, int count, std::size_t size) {
    RecordingWriter writer(path, 1234, static_cast<std::uint32_t>(size));
    for (int i = 1; i <= count; ++i) {
        auto image = TestImage(size, i);
        ASSERT_TRUE(writer.Append(i, 1000 + i, image.data(), static_cast<std::uint32_t>(size)));
    }
}

TEST(RecordingFile, FramesReadBackByteForByteWithNumbersAndTimes) {
    TempDir dir;
    WriteFrames(dir.File("r.zrec"), 4, 1000);
    RecordingReader::End ending;
    auto frames = ReadAll(dir.File("r.zrec"), &ending);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i].frameNumber, i + 1u);
        EXPECT_EQ(frames[i].ticks, 1001 + i);
        EXPECT_TRUE(frames[i].checksumOk);
        EXPECT_EQ(frames[i].image, TestImage(1000, i + 1));
    }
    EXPECT_EQ(RecordingReader(dir.File("r.zrec")).Header().createdTicks, 1234);
}

TEST(RecordingFile, AFileCutAtAnyByteGivesBackEveryCompleteFrame) {
    TempDir dir;
    const std::size_t size = 50;
    WriteFrames(dir.File("full.zrec"), 3, size);
    const auto full = std::filesystem::file_size(dir.File("full.zrec"));
    const std::size_t record = sizeof(FrameRecordHeader) + size;
    for (std::uintmax_t cut = sizeof(RecordingFileHeader); cut <= full; ++cut) {
        std::filesystem::copy_file(dir.File("full.zrec"), dir.File("cut.zrec"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(dir.File("cut.zrec"), cut);
        RecordingReader::End ending;
        auto frames = ReadAll(dir.File("cut.zrec"), &ending);
        const std::size_t complete = (cut - sizeof(RecordingFileHeader)) / record;
        ASSERT_EQ(frames.size(), complete) << "cut at " << cut;
        for (const auto& f : frames) ASSERT_TRUE(f.checksumOk);
        const bool atBoundary = (cut - sizeof(RecordingFileHeader)) % record == 0;
        EXPECT_EQ(ending, atBoundary ? RecordingReader::End::Clean : RecordingReader::End::CutShort);
    }
}

TEST(RecordingFile, CorruptionIsReportedPerFrameOrEndsReading) {
    TempDir dir;
    const std::size_t size = 64;
    WriteFrames(dir.File("r.zrec"), 3, size);
    const std::size_t record = sizeof(FrameRecordHeader) + size;
    {
        std::fstream f(dir.File("r.zrec"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(sizeof(RecordingFileHeader) + record + sizeof(FrameRecordHeader) + 10);
        f.put('\x5A');  // inside frame 2's image
    }
    auto frames = ReadAll(dir.File("r.zrec"));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_FALSE(frames[1].checksumOk);
    EXPECT_TRUE(frames[2].checksumOk);
    {
        std::fstream f(dir.File("r.zrec"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(sizeof(RecordingFileHeader) + 2 * record + 4);  // frame 3's length field
        const char huge[4] = {'\xFF', '\xFF', '\xFF', '\x7F'};
        f.write(huge, 4);
    }
    RecordingReader::End ending;
    frames = ReadAll(dir.File("r.zrec"), &ending);
    EXPECT_EQ(frames.size(), 2u);
    EXPECT_EQ(ending, RecordingReader::End::Damaged);
}

TEST(RecordingFile, ForeignFilesAndMissingFilesAreRefused) {
    TempDir dir;
    std::ofstream(dir.File("text.zrec")) << "not a recording at all, but long enough to read";
    EXPECT_THROW(RecordingReader(dir.File("text.zrec")), System::FormatException);
    std::ofstream(dir.File("empty.zrec"));
    EXPECT_THROW(RecordingReader(dir.File("empty.zrec")), System::FormatException);
    EXPECT_THROW(RecordingReader(dir.File("missing.zrec")), System::IOException);
    EXPECT_THROW(RecordingReader(dir.Path().string()), System::IOException);
    WriteFrames(dir.File("v2.zrec"), 1, 10);
    {
        std::fstream f(dir.File("v2.zrec"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(offsetof(RecordingFileHeader, version));
        f.put('\x02');
    }
    try {
        RecordingReader reader(dir.File("v2.zrec"));
        ADD_FAILURE() << "a recording of an unknown version was read";
    } catch (const System::FormatException& e) {
        EXPECT_NE(e.Message().find("version 2"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(RecordingWriter(dir.File("no/such/dir/r.zrec"), 0, 10), System::IOException);
    // Only a regular file is replaced: not a device, nor what a link points at.
    EXPECT_THROW(RecordingWriter("/dev/null", 0, 10), System::IOException);
    std::ofstream(dir.File("target")) << "kept";
    std::filesystem::create_symlink(dir.File("target"), dir.File("link.zrec"));
    EXPECT_THROW(RecordingWriter(dir.File("link.zrec"), 0, 10), System::IOException);
    EXPECT_EQ(std::filesystem::file_size(dir.File("target")), 4u);
}

TEST(RecordingFile, AFullDiskLeavesTheFileReadableUpToTheLastCompleteFrame) {
    TempDir dir;
    const std::size_t size = 1000;
    const std::size_t record = sizeof(FrameRecordHeader) + size;
    // The file may not grow past two and a half frames: the third append fails part way.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = sizeof(RecordingFileHeader) + 2 * record + record / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    {
        RecordingWriter writer(dir.File("full.zrec"), 0, size);
        for (int i = 1; i <= 2; ++i) {
            auto image = TestImage(size, i);
            EXPECT_TRUE(writer.Append(i, i, image.data(), size));
        }
        auto image = TestImage(size, 3);
        EXPECT_FALSE(writer.Append(3, 3, image.data(), size));
        EXPECT_TRUE(writer.Failed());
        EXPECT_EQ(writer.Error(), std::strerror(EFBIG));
        EXPECT_FALSE(writer.Append(4, 4, image.data(), size));  // refused once failed
    }
    setrlimit(RLIMIT_FSIZE, &old);
    RecordingReader::End ending;
    auto frames = ReadAll(dir.File("full.zrec"), &ending);
    EXPECT_EQ(frames.size(), 2u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
}

}  // namespace
