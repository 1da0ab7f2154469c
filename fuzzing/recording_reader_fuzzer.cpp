// Feeds arbitrary files to the recording reader and to zrfgrab's recording summary. The file
// is this target's scratch file. The reader must stop cleanly at whatever it meets: the frames it
// returns, the damaged stretches it passes over and the bytes after the last record tile the file
// from its first record to its end, in order.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzzing/fuzz_support.h"
#include "host/recorder/recording_file.h"
#include "tools/zrfgrab/commands.h"

namespace {

using namespace Vorn::Zephra::Net::Devices::Recorder;

const fuzz::ScratchFile& File() {
    static const fuzz::ScratchFile file("recording_reader_fuzzer.zrec");
    return file;
}

// The damaged stretches from the i-th on that start at end: end moves past them.
void PassStretches(const RecordingReader& reader, std::size_t& i, std::uint64_t& end) {
    const auto& ranges = reader.DamagedRanges();
    for (; i < ranges.size(); ++i) {
        if (ranges[i].offset != end || ranges[i].length == 0) __builtin_trap();
        end += ranges[i].length;
    }
}

void Read(std::size_t fileSize) {
    RecordingReader reader(File().path);
    RecordedFrame frame;
    std::uint64_t end = reader.FirstRecord();
    std::size_t stretches = 0;
    while (reader.Next(frame)) {
        PassStretches(reader, stretches, end);
        if (frame.fileOffset != end) __builtin_trap();
        end = frame.fileOffset + sizeof(FrameRecordHeader) + frame.image.size();
        if (end > fileSize) __builtin_trap();
    }
    PassStretches(reader, stretches, end);
    if (reader.Next(frame)) __builtin_trap();  // the end stays the end
    if (end + reader.TrailingBytes() != fileSize) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef ZRF_FUZZ_TARGET
    // The summary's lines would drown the fuzzer's own.
    static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
#endif
    File().Write(data, size);
    fuzz::Tolerate([&] { Read(size); });
    if (IsRecordingFile(File().path.c_str())) (void)RunRecordingInfo(File().path.c_str());
    return 0;
}
