// Recordings on the command line: opening one named by the user, and what it holds (zrfgrab
// info: its frames, time stamps, gaps, ending and checksum verdicts).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <fstream>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "host/recorder/recording_format.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"

namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;

constexpr std::int64_t kUnixEpochTicks = 621355968000000000;

std::string TimeText(std::int64_t ticks) {
    // Any 64-bit value may come from the file: divide before subtracting so nothing overflows.
    const std::int64_t ms = ticks / 10000 - kUnixEpochTicks / 10000;
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d UTC", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(((ms % 1000) + 1000) % 1000));
    return text;
}

std::string EndingText(const RecordingReader& reader) {
    switch (reader.Ending()) {
        case RecordingReader::End::Clean: return "clean";
        case RecordingReader::End::CutShort:
            return "cut short (" + std::to_string(reader.TrailingBytes()) +
                   " bytes after the last complete frame)";
        case RecordingReader::End::Damaged:
            return "damaged (" + std::to_string(reader.TrailingBytes()) + " unreadable bytes at the end)";
        default: return "unknown";
    }
}

// A few bytes a frame, read frame by frame: the images themselves are not kept.
struct SeenFrame {
    std::uint64_t number;
    std::int64_t ticks;
    bool good;
};

// Frame-number gaps as "a, b-c".
std::string Gaps(const std::vector<SeenFrame>& seen) {
    std::string out;
    for (std::size_t i = 1; i < seen.size(); ++i) {
        if (seen[i].number <= seen[i - 1].number + 1) continue;
        const std::uint64_t a = seen[i - 1].number + 1, b = seen[i].number - 1;
        out += (out.empty() ? "" : ", ") + std::to_string(a) + (a == b ? "" : "-" + std::to_string(b));
    }
    return out.empty() ? "none" : out;
}

}  // namespace

bool IsRecordingFile(const std::string& path) {
    char magic[sizeof Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(magic, sizeof magic) &&
           std::memcmp(magic, Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic, sizeof magic) == 0;
}

RecordingReader OpenRecording(const std::string& path) {
    try {
        return RecordingReader(path);
    } catch (const System::Exception& e) {
        // A file that cannot be read as a recording is a bad argument, not a failure.
        throw zrfgrab::UsageError(e.Message());
    }
}

int RunRecordingInfo(const std::string& path) {
    std::optional<RecordingReader> opened;
    try {
        opened.emplace(path);
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "zrfgrab info: %s\n", e.Message().c_str());
        return 2;
    }
    RecordingReader& reader = *opened;
    std::vector<SeenFrame> seen;
    RecordedFrame frame;
    std::size_t imageSize = 0;
    while (reader.Next(frame)) {
        seen.push_back({frame.frameNumber, frame.ticks, frame.checksumOk});
        imageSize = frame.image.size();
    }
    const auto bad = static_cast<std::size_t>(
        std::count_if(seen.begin(), seen.end(), [](const SeenFrame& s) { return !s.good; }));
    std::printf("recording    %s\n", path.c_str());
    std::printf("frames       %zu (checksums: %zu good, %zu bad)\n", seen.size(), seen.size() - bad,
                bad);
    std::printf("image size   %zu bytes\n", imageSize);
    if (!seen.empty()) {
        std::printf("first frame  #%" PRIu64 "  %s\n", seen.front().number,
                    TimeText(seen.front().ticks).c_str());
        std::printf("last frame   #%" PRIu64 "  %s\n", seen.back().number,
                    TimeText(seen.back().ticks).c_str());
        const double span =
            (static_cast<double>(seen.back().ticks) - static_cast<double>(seen.front().ticks)) / 1e7;
        if (seen.size() > 1 && span > 0)
            std::printf("frame rate   %.1f fps (from the time stamps)\n", (seen.size() - 1) / span);
    }
    std::printf("lost frames  %s\n", Gaps(seen).c_str());
    std::printf("ending       %s\n", EndingText(reader).c_str());
    for (const SeenFrame& s : seen)
        std::printf("  #%" PRIu64 "  %s  %s\n", s.number, TimeText(s.ticks).c_str(),
                    s.good ? "ok" : "checksum mismatch");
    // A bad checksum, a damaged or a cut-short ending: the recording is not whole.
    const bool clean = reader.Ending() == RecordingReader::End::Clean;
    if (bad == 0 && clean) return 0;
    std::string why = bad == 0   ? ""
                      : bad == 1 ? "1 frame fails its checksum"
                                 : std::to_string(bad) + " frames fail their checksums";
    if (!clean) why += (why.empty() ? "" : ", ") + EndingText(reader);
    std::fprintf(stderr, "zrfgrab info: '%s' is not whole: %s\n", path.c_str(), why.c_str());
    return 1;
}
