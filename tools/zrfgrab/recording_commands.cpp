// Recordings on the command line: opening one named by the user, and what it holds (zrfgrab
// info: its frames, time stamps, gaps, ending and checksum verdicts).
#include <algorithm>
#include <cstdint>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
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
    std::uint64_t offset;
};

// Numbers and times read from a file are evidence, not truth: only frames whose checksums
// verify give them.
std::vector<SeenFrame> GoodFrames(const std::vector<SeenFrame>& seen) {
    std::vector<SeenFrame> good;
    std::copy_if(seen.begin(), seen.end(), std::back_inserter(good), [](const SeenFrame& s) { return s.good; });
    return good;
}

// Frames for which `out_of_order` holds against the one before: their count and the first's
// number.
template <typename Test>
std::pair<std::size_t, std::uint64_t> CountAgainstPrevious(const std::vector<SeenFrame>& good,
                                                            Test out_of_order) {
    std::size_t count = 0;
    std::uint64_t first = 0;
    for (std::size_t i = 1; i < good.size(); ++i) {
        if (!out_of_order(good[i - 1], good[i])) continue;
        if (count++ == 0) first = good[i].number;
    }
    return {count, first};
}

// Frame-number gaps as "a, b-c" (a number that repeats or goes back leaves none; nothing wraps
// at the largest number).
std::string Gaps(const std::vector<SeenFrame>& good) {
    std::string out;
    if (good.empty()) return "none";
    // Against the highest number so far: a number that went back and comes up again fills no gap
    // twice, and reports none that its frames were there for.
    std::uint64_t highest = good.front().number;
    for (std::size_t i = 1; i < good.size(); ++i) {
        const std::uint64_t now = good[i].number;
        if (now > highest && now - highest > 1) {
            const std::uint64_t a = highest + 1, b = now - 1;
            out += (out.empty() ? "" : ", ") + std::to_string(a) + (a == b ? "" : "-" + std::to_string(b));
        }
        highest = std::max(highest, now);
    }
    return out.empty() ? "none" : out;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The stretches the reader passed over, one line each.
void PrintDamage(const RecordingReader& reader) {
    if (reader.HeaderDamaged())
        std::printf("header       damaged (the records after it are read where their checksums verify)\n");
    const auto& ranges = reader.DamagedRanges();
    if (ranges.empty()) {
        if (reader.CandidatesPassedOver() > 0)
            std::printf("damaged      %s in the end not tried\n",
                        Plural(reader.CandidatesPassedOver(), "record marker", "record markers").c_str());
        return;
    }
    std::uint64_t lost = 0;
    for (const auto& r : ranges) lost += r.framesLost;
    std::printf("damaged      %s passed over, about %s lost in them\n",
                Plural(ranges.size(), "stretch", "stretches").c_str(),
                Plural(lost, "frame", "frames").c_str());
    for (const auto& r : ranges)
        std::printf("  at byte %" PRIu64 ", %s, about %s\n", r.offset,
                    Plural(r.length, "byte", "bytes").c_str(),
                    Plural(r.framesLost, "frame", "frames").c_str());
    if (reader.CandidatesPassedOver() > 0)
        std::printf("  %s in them not tried (too many at once, or claiming too long an image)\n",
                    Plural(reader.CandidatesPassedOver(), "record marker", "record markers").c_str());
}

}  // namespace

// A recording's header, or one damaged with whole records after it.
bool IsRecordingFile(const std::string& path) {
    char magic[sizeof Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic] = {};
    std::ifstream in(path, std::ios::binary);
    if (in.read(magic, sizeof magic) &&
        std::memcmp(magic, Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic, sizeof magic) == 0)
        return true;
    try {
        return RecordingReader(path).HeaderDamaged();
    } catch (const System::Exception&) {
        return false;
    }
}

RecordingReader OpenRecording(const std::string& path) {
    try {
        return RecordingReader(path);
    } catch (const System::Exception& e) {
        // A file that cannot be read as a recording is a bad argument, not a failure.
        throw zrfgrab::UsageError(e.Message());
    }
}

namespace {

struct InfoCounts {
    std::size_t bad, good, goingBack;
    std::uint64_t firstBack;
    std::size_t numbersBack;
    std::uint64_t firstNumberBack;
};

// A bad checksum, damage passed over, a damaged header or ending, or no frame at all: the
// recording is not whole. Stamps or numbers that go back make it unusable for anything that
// plays it by its times or counts its frames.
int InfoVerdict(const std::string& path, const RecordingReader& reader, const InfoCounts& n) {
    std::vector<std::string> why;
    if (n.good == 0 && n.bad == 0) why.push_back("it holds no frame");
    if (reader.HeaderDamaged()) why.push_back("its header is damaged");
    if (n.bad > 0) why.push_back(n.bad == 1 ? "1 frame fails its checksum"
                                            : std::to_string(n.bad) + " frames fail their checksums");
    if (!reader.DamagedRanges().empty()) {
        std::uint64_t lost = 0;
        for (const auto& r : reader.DamagedRanges()) lost += r.framesLost;
        why.push_back(Plural(reader.DamagedRanges().size(), "damaged stretch", "damaged stretches") +
                      " passed over (about " + Plural(lost, "frame", "frames") + ")");
    }
    if (reader.Ending() != RecordingReader::End::Clean) why.push_back(EndingText(reader));
    std::string text;
    for (const auto& w : why) text += (text.empty() ? "" : ", ") + w;
    if (!text.empty()) std::fprintf(stderr, "zrfgrab info: '%s' is not whole: %s\n", path.c_str(), text.c_str());
    if (n.goingBack > 0)
        std::fprintf(stderr, "zrfgrab info: '%s' has time stamps that go back (%zu, first at #%" PRIu64 ")\n",
                     path.c_str(), n.goingBack, n.firstBack);
    if (n.numbersBack > 0)
        std::fprintf(stderr, "zrfgrab info: '%s' has frame numbers that repeat or go back (%zu, first at #%" PRIu64 ")\n",
                     path.c_str(), n.numbersBack, n.firstNumberBack);
    return text.empty() && n.goingBack == 0 && n.numbersBack == 0 ? 0 : 1;
}

}  // namespace

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
        seen.push_back({frame.frameNumber, frame.ticks, frame.checksumOk, frame.fileOffset});
        if (!frame.checksumOk) continue;  // its size may be what was damaged
        zones.push_back(zrfgrab::ImageZoneMinutes(frame.image));
        smallest = std::min(smallest, frame.image.size());
        largest = std::max(largest, frame.image.size());
    }
    if (smallest > largest) smallest = largest = 0;
    const std::vector<SeenFrame> good = GoodFrames(seen);
    const auto [goingBack, firstBack] = CountAgainstPrevious(
        good, [](const SeenFrame& a, const SeenFrame& b) { return b.ticks <= a.ticks; });
    const auto [numbersBack, firstNumberBack] = CountAgainstPrevious(
        good, [](const SeenFrame& a, const SeenFrame& b) { return b.number <= a.number; });
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
    if (!good.empty()) {
        std::printf("times        %s\n", zrfgrab::TimesText(zones).c_str());
        std::printf("first frame  #%" PRIu64 "  %s\n", good.front().number,
                    zrfgrab::FrameTimeText(good.front().ticks).c_str());
        std::printf("last frame   #%" PRIu64 "  %s\n", good.back().number,
                    zrfgrab::FrameTimeText(good.back().ticks).c_str());
        std::vector<zrfgrab::StampedFrame> stamped;
        stamped.reserve(good.size());
        for (const SeenFrame& s : good) stamped.push_back({s.number, s.ticks});
        // Numbers that jump further than any camera runs give no rate.
        if (const auto rate = zrfgrab::CameraFrameRate(stamped); rate && *rate <= zrfgrab::kFastestCameraFps)
            std::printf("frame rate   %.3f fps (camera frames over their time stamps)\n", *rate);
        else if (rate)
            std::printf("frame rate   unknown (the frame numbers jump too far for their times)\n");
    }
    std::printf("lost frames  %s\n", Gaps(good).c_str());
    if (numbersBack > 0)
        std::printf("frame order  %s not after the one before, first at #%" PRIu64 "\n",
                    Plural(numbersBack, "number", "numbers").c_str(), firstNumberBack);
    if (goingBack > 0)
        std::printf("time order   %zu stamp%s not later than the one before, first at #%" PRIu64 "\n",
                    goingBack, goingBack == 1 ? "" : "s", firstBack);
    PrintDamage(reader);
    std::printf("ending       %s\n", EndingText(reader).c_str());
    for (const SeenFrame& s : seen) {
        if (s.good)
            std::printf("  #%" PRIu64 "  %s  ok\n", s.number, zrfgrab::FrameTimeText(s.ticks).c_str());
        else  // its number and time are not to be trusted
            std::printf("  frame at byte %" PRIu64 "  checksum mismatch\n", s.offset);
    }
    return InfoVerdict(path, reader, {bad, good.size(), goingBack, firstBack, numbersBack, firstNumberBack});
}
