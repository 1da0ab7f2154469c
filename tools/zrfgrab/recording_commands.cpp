// Recordings from the command line: what a recording holds (zrfgrab info) and its frames as
// pictures or single images (zrfgrab export).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "host/recorder/recording_format.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/frame_picture.h"

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

// Frame-number gaps as "a, b-c".
std::string Gaps(const std::vector<std::uint64_t>& numbers) {
    std::string out;
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] <= numbers[i - 1] + 1) continue;
        const std::uint64_t a = numbers[i - 1] + 1, b = numbers[i] - 1;
        out += (out.empty() ? "" : ", ") + std::to_string(a) + (a == b ? "" : "-" + std::to_string(b));
    }
    return out.empty() ? "none" : out;
}

}  // namespace

bool IsRecordingFile(const char* path) {
    char magic[sizeof Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(magic, sizeof magic) &&
           std::memcmp(magic, Vorn::Zephra::Net::Devices::Recorder::kRecordingMagic, sizeof magic) == 0;
}

int RunRecordingInfo(const char* path) {
    try {
        RecordingReader reader(path);
        RecordedFrame frame;
        std::vector<std::uint64_t> numbers;
        std::vector<std::int64_t> ticks;
        std::vector<bool> good;
        std::size_t imageSize = 0;
        std::string verdicts;
        while (reader.Next(frame)) {
            numbers.push_back(frame.frameNumber);
            ticks.push_back(frame.ticks);
            good.push_back(frame.checksumOk);
            imageSize = frame.image.size();
            verdicts += "  #" + std::to_string(frame.frameNumber) + "  " + TimeText(frame.ticks) +
                        "  " + (frame.checksumOk ? "ok" : "CHECKSUM MISMATCH") + "\n";
        }
        const auto bad = static_cast<std::size_t>(std::count(good.begin(), good.end(), false));
        std::printf("recording    %s\n", path);
        std::printf("frames       %zu (checksums: %zu good, %zu bad)\n", numbers.size(),
                    numbers.size() - bad, bad);
        std::printf("image size   %zu bytes\n", imageSize);
        if (!numbers.empty()) {
            std::printf("first frame  #%" PRIu64 "  %s\n", numbers.front(), TimeText(ticks.front()).c_str());
            std::printf("last frame   #%" PRIu64 "  %s\n", numbers.back(), TimeText(ticks.back()).c_str());
            const double span =
                (static_cast<double>(ticks.back()) - static_cast<double>(ticks.front())) / 1e7;
            if (numbers.size() > 1 && span > 0)
                std::printf("frame rate   %.1f fps (from the time stamps)\n", (numbers.size() - 1) / span);
        }
        std::printf("lost frames  %s\n", Gaps(numbers).c_str());
        std::printf("ending       %s\n", EndingText(reader).c_str());
        std::printf("%s", verdicts.c_str());
        return bad == 0 ? 0 : 1;
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "zrfgrab info: %s\n", e.Message().c_str());
        return 2;
    }
}

// zrfgrab export RECORDING [--frames A[-B]] (--png DIR | --zrf DIR) [--palette NAME]
int RunExportCommand(int argc, char** argv) {
    std::string recording, pngDir, zrfDir, palette = "iron";
    std::uint64_t first = 0, last = UINT64_MAX;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--png") pngDir = value();
        else if (a == "--zrf") zrfDir = value();
        else if (a == "--palette") palette = value();
        else if (a == "--frames") {
            const std::string range = value();
            const auto dash = range.find('-');
            try {
                first = std::stoull(range.substr(0, dash));
                last = dash == std::string::npos ? first
                       : dash + 1 == range.size() ? UINT64_MAX
                                                  : std::stoull(range.substr(dash + 1));
            } catch (...) {
                std::fprintf(stderr, "zrfgrab export: --frames takes N, A-B or A-\n");
                return 2;
            }
        } else if (recording.empty() && a[0] != '-') recording = a;
        else {
            std::fprintf(stderr, "zrfgrab export: unknown argument '%s'\n", a.c_str());
            return 2;
        }
    }
    if (recording.empty() || (pngDir.empty() == zrfDir.empty())) {
        std::fprintf(stderr, "usage: zrfgrab export RECORDING [--frames A[-B]] (--png DIR | --zrf DIR)\n");
        return 2;
    }
    try {
        RecordingReader reader(recording);
        const std::string dir = pngDir.empty() ? zrfDir : pngDir;
        std::filesystem::create_directories(dir);
        RecordedFrame frame;
        std::size_t written = 0;
        while (reader.Next(frame)) {
            if (frame.frameNumber < first || frame.frameNumber > last) continue;
            if (!frame.checksumOk)
                std::fprintf(stderr, "zrfgrab export: frame %" PRIu64 " fails its checksum; written anyway\n",
                             frame.frameNumber);
            char name[64];
            std::snprintf(name, sizeof name, "frame_%06" PRIu64 ".%s", frame.frameNumber,
                          pngDir.empty() ? "zrf" : "png");
            const std::string path = (std::filesystem::path(dir) / name).string();
            if (pngDir.empty()) {
                std::ofstream out(path, std::ios::binary);
                out.write(reinterpret_cast<const char*>(frame.image.data()),
                          static_cast<std::streamsize>(frame.image.size()));
                if (!out) throw System::IOException("cannot write '" + path + "'");
            } else {
                const std::string error = zrfgrab::WriteFramePicture(path, "IR", frame.image, palette);
                if (!error.empty()) throw System::IOException(error);
            }
            ++written;
            std::fprintf(stderr, "\rexported %zu frames", written);
        }
        std::fprintf(stderr, "\n");
        std::printf("%zu frames written to %s\n", written, dir.c_str());
        return written > 0 ? 0 : 1;
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "\nzrfgrab export: %s\n", e.Message().c_str());
        return 1;
    }
}
