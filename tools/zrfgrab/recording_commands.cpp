// Recordings on the command line: opening one named by the user, and what it holds (zrfgrab
// info: its frames, time stamps, gaps, ending and checksum verdicts).
#include <algorithm>
#include <cstdint>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/recorder/recording_file.h"
#include "host/recorder/recording_format.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/frame_time.h"
#include "tools/zrfgrab/recording_rate.h"
#include "tools/zrfgrab/zrf_image_view.h"

namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;

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

// Frames whose stamp is not later than the one before: their count and the first's number.
std::pair<std::size_t, std::uint64_t> StampsGoingBack(const std::vector<SeenFrame>& seen) {
    std::size_t count = 0;
    std::uint64_t first = 0;
    for (std::size_t i = 1; i < seen.size(); ++i) {
        if (seen[i].ticks > seen[i - 1].ticks) continue;
        if (count++ == 0) first = seen[i].number;
    }
    return {count, first};
}

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
    std::vector<std::optional<int>> zones;
    RecordedFrame frame;
    std::size_t smallest = SIZE_MAX, largest = 0;
    while (reader.Next(frame)) {
        seen.push_back({frame.frameNumber, frame.ticks, frame.checksumOk});
        zones.push_back(zrfgrab::ImageZoneMinutes(frame.image));
        smallest = std::min(smallest, frame.image.size());
        largest = std::max(largest, frame.image.size());
    }
    const auto [goingBack, firstBack] = StampsGoingBack(seen);
    const auto bad = static_cast<std::size_t>(
        std::count_if(seen.begin(), seen.end(), [](const SeenFrame& s) { return !s.good; }));
    std::printf("recording    %s\n", path.c_str());
    std::printf("frames       %zu (checksums: %zu good, %zu bad)\n", seen.size(), seen.size() - bad,
                bad);
    // Windowing or a reconnect changes the size within one recording.
    if (smallest < largest)
        std::printf("image size   %zu to %zu bytes (it changes)\n", smallest, largest);
    else
        std::printf("image size   %zu bytes\n", largest);
    if (!seen.empty()) {
        std::printf("times        %s\n", zrfgrab::TimesText(zones).c_str());
        std::printf("first frame  #%" PRIu64 "  %s\n", seen.front().number,
                    zrfgrab::FrameTimeText(seen.front().ticks).c_str());
        std::printf("last frame   #%" PRIu64 "  %s\n", seen.back().number,
                    zrfgrab::FrameTimeText(seen.back().ticks).c_str());
        std::vector<zrfgrab::StampedFrame> stamped;
        stamped.reserve(seen.size());
        for (const SeenFrame& s : seen) {
            if (s.good) stamped.push_back({s.number, s.ticks});  // a damaged frame's number and time are not
        }
        if (const auto rate = zrfgrab::CameraFrameRate(stamped))
            std::printf("frame rate   %.3f fps (camera frames over their time stamps)\n", *rate);
    }
    std::printf("lost frames  %s\n", Gaps(seen).c_str());
    if (goingBack > 0)
        std::printf("time order   %zu stamp%s not later than the one before, first at #%" PRIu64 "\n",
                    goingBack, goingBack == 1 ? "" : "s", firstBack);
    std::printf("ending       %s\n", EndingText(reader).c_str());
    for (const SeenFrame& s : seen)
        std::printf("  #%" PRIu64 "  %s  %s\n", s.number, zrfgrab::FrameTimeText(s.ticks).c_str(),
                    s.good ? "ok" : "checksum mismatch");
    // A bad checksum, a damaged or a cut-short ending: the recording is not whole. Stamps that
    // go back make it unusable for anything that plays it by its times.
    const bool clean = reader.Ending() == RecordingReader::End::Clean;
    if (bad == 0 && clean && goingBack == 0) return 0;
    std::string why = bad == 0   ? ""
                      : bad == 1 ? "1 frame fails its checksum"
                                 : std::to_string(bad) + " frames fail their checksums";
    if (!clean) why += (why.empty() ? "" : ", ") + EndingText(reader);
    if (bad > 0 || !clean)
        std::fprintf(stderr, "zrfgrab info: '%s' is not whole: %s\n", path.c_str(), why.c_str());
    if (goingBack > 0)
        std::fprintf(stderr, "zrfgrab info: '%s' has time stamps that go back (%zu, first at #%" PRIu64 ")\n",
                     path.c_str(), goingBack, firstBack);
    return 1;
}
