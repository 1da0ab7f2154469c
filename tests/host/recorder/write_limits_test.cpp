// Where written blocks and the padding they leave meet their limits: a file-size limit the
// records fit within, and finished files whose last bytes happen to be zeros.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>


#include "host/logging/logger.h"
#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/file_size_limit.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

constexpr std::size_t kHeader = sizeof(RecordingFileHeader), kRecord = sizeof(FrameRecordHeader);

// A limit the records reach exactly: a record-by-record writer fits them all, and so must
// blocks, however their padding runs past the limit (a flush after each image writes the padded
// block every time); one image more fails the recording with the reason and keeps every one
// that fit. A limit is not a file system refusing direct writes: nothing says so.
TEST(WriteLimits, RecordsThatFitALimitAreAllKeptWhateverTheWritePath) {
    constexpr std::size_t kSize = 256, kFit = 3;
    Vorn::Zephra::Diagnostics::Log::LogCapture capture;
    struct Case {
        std::uint64_t images;
        const char* error;
    };
    for (const RecordingWrites writes : {RecordingWrites{false, 0, false}, RecordingWrites{true, 0, false},
                                         RecordingWrites{true, 64 * 1024, false}}) {
        for (const Case c : {Case{kFit, ""}, Case{kFit + 1, "File too large"}}) {
            const std::string what = std::string(writes.direct ? "direct " : "buffered ") +
                                     std::to_string(writes.block) + ", " + std::to_string(c.images) + " images";
            TempDir dir;
            ZRFRecorder recorder;
            recorder.SetWrites(writes);
            recorder.SetImageSize(kSize);
            RecorderXml settings;
            settings.SetPath(dir.File("r.zrec"));
            recorder.Setup(settings.XMLData());
            {
                const FileSizeLimit limit(kHeader + kFit * (kRecord + kSize));
                recorder.Start(0);
                for (std::uint64_t n = 1; n <= c.images; ++n) {
                    recorder.AddImage(TestImage(kSize, n), 0, static_cast<std::int64_t>(n));
                    recorder.Flush();
                }
                recorder.Stop(0);
            }
            const auto after = recorder.Settings();
            EXPECT_EQ(after.Attribute("Error").value_or("?"), c.error) << what;
            EXPECT_EQ(after.Attribute("RecordedFrames").value_or("?"), std::to_string(kFit)) << what;
            RecordingReader::End ending;
            EXPECT_EQ(ReadAll(dir.File("r.zrec"), &ending).size(), kFit) << what;
            EXPECT_EQ(ending, RecordingReader::End::Clean) << what;
        }
    }
    for (const auto& record : capture.Records()) EXPECT_EQ(record.text.find("refuse"), std::string::npos) << record.text;
}

std::string Recording(int frames, std::size_t size, bool zeroTail) {
    RecordingFileHeader header{};
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof header;
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    for (int n = 1; n <= frames; ++n) {
        std::vector<std::uint8_t> image = TestImage(size, static_cast<std::uint64_t>(n));
        if (zeroTail) image.back() = 0;  // a dark last pixel
        FrameRecordHeader record = FrameRecordFor(static_cast<std::uint64_t>(n), n, static_cast<std::uint32_t>(size));
        record.crc = FrameRecordChecksum(record, image.data(), record.length);
        out.append(reinterpret_cast<const char*>(&record), sizeof record);
        out.append(image.begin(), image.end());
    }
    return out;
}

// A finished file (its size no block's multiple, so no killed writer's padding) damaged at its
// end: the damage is reported as damage, and Skip counts what Next returns.
TEST(WriteLimits, DamageAtTheEndOfAFinishedFileIsNotTakenForPadding) {
    constexpr std::size_t kSize = 64;
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t frames;        // Next returns
        int failing;               // of them failing their checksums
        RecordingReader::End ending;
    };
    std::string flipped = Recording(3, kSize, true);
    flipped[kHeader + 2 * (kRecord + kSize) + kRecord + 10] ^= 0x5A;  // inside frame 3's image
    std::string garbage = Recording(3, kSize, false);
    garbage.append(20, '\xEE');
    garbage.append(1000, '\0');
    const Case cases[] = {
        {"the last image, ending in a zero, damaged", flipped, 3, 1, RecordingReader::End::Clean},
        {"no record's bytes, then zeros", garbage, 3, 0, RecordingReader::End::Damaged},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::ofstream(dir.File("r.zrec"), std::ios::binary) << c.bytes;
        RecordingReader::End ending;
        const auto frames = ReadAll(dir.File("r.zrec"), &ending);
        EXPECT_EQ(frames.size(), c.frames) << c.name;
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const RecordedFrame& f) { return !f.checksumOk; }),
                  c.failing)
            << c.name;
        EXPECT_EQ(ending, c.ending) << c.name;
        RecordingReader reader(dir.File("r.zrec"));
        std::size_t skipped = 0;
        while (reader.Skip()) ++skipped;
        EXPECT_EQ(skipped, frames.size()) << c.name;
    }
}

}  // namespace
