// A recording whose writer was killed: written around the page cache, it ends in a block padded
// with zeros, or is cut at a block's edge. Either way it reads back every whole frame before the
// end, and reads as cut short, not as damaged.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

constexpr std::size_t kHeader = sizeof(RecordingFileHeader), kRecord = sizeof(FrameRecordHeader);

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The file cut at `cut` and padded with zeros to the block after it, as a killed writer of
// `block`-byte blocks leaves it, reads back the frames that ended before the cut.
void ExpectCutAndPadded(const std::string& full, const TempDir& dir, std::size_t cut, std::size_t block,
                        const std::vector<std::size_t>& ends) {
    std::string bytes = full.substr(0, cut);
    bytes.resize((cut + block - 1) / block * block, '\0');
    Put(dir.File("cut.zrec"), bytes);
    RecordingReader::End ending;
    const auto frames = ReadAll(dir.File("cut.zrec"), &ending);
    auto whole = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
    // A record whose bytes after the cut were zeros anyway is whole again once padded.
    if (whole < ends.size() && ends[whole] <= bytes.size() &&
        full.find_first_not_of('\0', cut) >= ends[whole])
        ++whole;
    const std::size_t lastEnd = whole > 0 ? ends[whole - 1] : kHeader;
    const std::string what = "cut at " + std::to_string(cut) + ", block " + std::to_string(block);
    ASSERT_EQ(frames.size(), whole) << what;
    for (std::size_t i = 0; i < whole; ++i) {
        EXPECT_TRUE(frames[i].checksumOk) << what;
        EXPECT_EQ(frames[i].frameNumber, i + 1) << what;
    }
    const bool clean = bytes.size() == lastEnd;
    EXPECT_EQ(ending, clean ? RecordingReader::End::Clean : RecordingReader::End::CutShort) << what;
}

// A recording of `count` frames, the images `imageFor(n)` makes; where each record ends.
template <class ImageFor>
std::vector<std::size_t> WriteRecording(const std::string& path, std::uint64_t count, ImageFor imageFor) {
    std::vector<std::size_t> ends;
    RecordingWriter writer(path, 1, 0);
    std::size_t end = kHeader;
    for (std::uint64_t n = 1; n <= count; ++n) {
        const std::vector<std::uint8_t> image = imageFor(n);
        EXPECT_TRUE(writer.Append(n, static_cast<std::int64_t>(n), image.data(), static_cast<std::uint32_t>(image.size())));
        ends.push_back(end += kRecord + image.size());
    }
    return ends;
}

// Every byte a cut can fall on, every block edge among them, in records whose images end in
// zeros too (a zero tail of its own is no padding), in the smallest block and the usual one.
TEST(KilledRecording, ACutPaddedToItsBlockReadsAsCutShortWithEveryFrameBeforeIt) {
    TempDir dir;
    const std::vector<std::size_t> ends = WriteRecording(dir.File("full.zrec"), 6, [](std::uint64_t n) {
        std::vector<std::uint8_t> image = TestImage(40 + 90 * (n % 3), n);
        if (n % 2 == 0) std::fill(image.end() - 9, image.end(), 0);
        return image;
    });
    const std::string full = Bytes(dir.File("full.zrec"));
    for (const std::size_t block : {std::size_t{512}, std::size_t{4096}})
        for (std::size_t cut = kHeader; cut <= full.size(); ++cut)
            ExpectCutAndPadded(full, dir, cut, block, ends);
}

// A recording of many blocks, cut at every block edge and at random bytes, padded.
TEST(KilledRecording, ALongRecordingCutAtBlockEdgesAndRandomBytesKeepsEveryFrameBeforeTheCut) {
    TempDir dir;
    const std::vector<std::size_t> ends =
        WriteRecording(dir.File("full.zrec"), 40, [](std::uint64_t n) { return TestImage(1000 + n * 37, n); });
    const std::string full = Bytes(dir.File("full.zrec"));
    std::mt19937 random(39);
    for (const std::size_t block : {std::size_t{512}, std::size_t{4096}}) {
        for (std::size_t cut = block; cut <= full.size(); cut += block) ExpectCutAndPadded(full, dir, cut, block, ends);
        for (int i = 0; i < 200; ++i)
            ExpectCutAndPadded(full, dir, kHeader + random() % (full.size() - kHeader), block, ends);
    }
}

// The writer is killed while it records around the page cache: what it had flushed (said over a
// pipe) is in the file, whole and in order, and the file reads as cut short or clean.
TEST(KilledRecording, AWriterKilledWhileRecordingLeavesEveryFlushedFrame) {
    for (const std::size_t block : {std::size_t{0}, std::size_t{65536}}) {
        TempDir dir;
        const std::string path = dir.File("killed.zrec");
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipe[0]);
            constexpr std::size_t kSize = 30011;  // records straddle blocks
            ZRFRecorder recorder;
            recorder.SetWrites({true, block, false});
            recorder.SetImageSize(static_cast<std::int32_t>(kSize));
            RecorderXml settings;
            settings.SetPath(path);
            settings.SetWaitForDisk(true);
            recorder.Setup(settings.XMLData());
            recorder.Start(0);
            for (std::uint64_t n = 1;; ++n) {
                recorder.AddImage(TestImage(kSize, n), 0, static_cast<std::int64_t>(n));
                if (n % 5 == 0) {
                    recorder.Flush();  // frames 1..n are in the file now
                    if (::write(pipe[1], &n, sizeof n) != sizeof n) ::_exit(1);
                }
            }
        }
        ::close(pipe[1]);
        std::uint64_t flushed = 0, said = 0;
        while (flushed < 60 && ::read(pipe[0], &said, sizeof said) == sizeof said) flushed = said;
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipe[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "block " << block;
        ASSERT_GE(flushed, 60u) << "block " << block;
        RecordingReader::End ending;
        const auto frames = ReadAll(path, &ending);
        ASSERT_GE(frames.size(), flushed) << "block " << block;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(frames[i].checksumOk) << i;
            EXPECT_EQ(frames[i].frameNumber, i + 1);
            EXPECT_EQ(frames[i].image, TestImage(30011, i + 1)) << i;
        }
        EXPECT_NE(ending, RecordingReader::End::Damaged) << "block " << block;
    }
}

}  // namespace
