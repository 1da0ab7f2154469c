// zrfgrab export RECORDING [--frames A[-B]] (--png DIR | --zrf DIR | --sample DIR): frames of a
// recording as pictures, as single ZRF images, or as the raw samples a USB camera sends for
// them (for zrfgrab decode to turn back into images).
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "host/system/exceptions.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "tools/picture/output_file.h"
#include "tools/picture/palette.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/frame_picture.h"

namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;
using zrfgrab::UsageError;

struct ExportOptions {
    std::string recording;
    std::string kind;  // "png", "zrf" or "sample"
    std::string folder;
    std::string palette = "iron";
    std::uint64_t first = 1;
    std::uint64_t last = UINT64_MAX;
    std::string frames = "1-";
};

void ParseFrames(const std::string& range, ExportOptions& o) {
    const auto dash = range.find('-');
    const std::string a = range.substr(0, dash);
    const std::string b = dash == std::string::npos ? a : range.substr(dash + 1);
    o.first = static_cast<std::uint64_t>(zrfgrab::ParseInteger(a, "--frames", 1, INT64_MAX));
    o.last = b.empty() ? UINT64_MAX
                       : static_cast<std::uint64_t>(zrfgrab::ParseInteger(b, "--frames", 1, INT64_MAX));
    if (o.last < o.first) throw UsageError("--frames " + range + " selects no frames");
    o.frames = range;
}

ExportOptions Parse(int argc, char** argv) {
    ExportOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--png" || a == "--zrf" || a == "--sample") {
            if (!o.kind.empty()) throw UsageError("choose one of --png, --zrf and --sample");
            o.kind = a.substr(2);
            o.folder = value();
        } else if (a == "--palette") {
            o.palette = value();
        } else if (a == "--frames") {
            ParseFrames(value(), o);
        } else if (o.recording.empty() && !a.empty() && a[0] != '-') {
            o.recording = a;
        } else {
            throw UsageError("unknown argument '" + a + "'");
        }
    }
    if (o.recording.empty() || o.kind.empty())
        throw UsageError("expected RECORDING and one of --png DIR, --zrf DIR and --sample DIR");
    const Vorn::Picture::Palette* palette = nullptr;
    if (auto found = Vorn::Picture::Palette::Find(o.palette, palette); !found)
        throw UsageError(found.Message());
    std::error_code ec;
    if (std::filesystem::exists(o.folder, ec) && !std::filesystem::is_directory(o.folder, ec))
        throw UsageError("'" + o.folder + "' is not a folder");
    return o;
}

class Exporter {
  public:
    explicit Exporter(const ExportOptions& o) : o_(o) {}

    // Writes one frame; returns its file's path.
    std::string Write(const RecordedFrame& frame) {
        char name[64];
        std::snprintf(name, sizeof name, "frame_%06" PRIu64 ".%s", frame.frameNumber,
                      o_.kind == "sample" ? "raw" : o_.kind.c_str());
        const std::string path = (std::filesystem::path(o_.folder) / name).string();
        if (o_.kind == "png") {
            const std::string error = zrfgrab::WriteFramePicture(path, "IR", frame.image, o_.palette);
            if (!error.empty()) throw System::IOException(error);
            return path;
        }
        std::span<const std::uint8_t> bytes = frame.image;
        if (o_.kind == "sample") {
            std::string why;
            if (!zrf::sim::MeasureUsbSample(frame.image.data(), frame.image.size(), shape_, why))
                throw System::IOException("frame " + std::to_string(frame.frameNumber) + " is " + why);
            sample_.resize(shape_.sample_bytes);  // the same size each frame: no new memory
            zrf::sim::WriteUsbSample(frame.image.data(), shape_, sample_.data());
            bytes = sample_;
        }
        const auto written = Vorn::Picture::WriteWholeFile(path, bytes);
        if (!written) throw System::IOException(written.Message());
        return path;
    }

    // How to turn a written sample back into the image it came from.
    std::string DecodeHint(const std::string& sample) const {
        return "zrfgrab decode --subtype F7M0 --source usb --size " +
               std::to_string(shape_.picture.width) + "x" + std::to_string(shape_.picture.height) +
               " --camera-time " + sample + " image.zrf";
    }

  private:
    const ExportOptions& o_;
    zrf::sim::UsbSampleShape shape_;
    std::vector<std::uint8_t> sample_;
};

}  // namespace

int RunExportCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("export", [&] {
        const ExportOptions o = Parse(argc, argv);
        RecordingReader reader = OpenRecording(o.recording);
        std::error_code ec;
        std::filesystem::create_directories(o.folder, ec);
        if (ec) throw System::IOException("cannot create the folder '" + o.folder + "': " + ec.message());

        Exporter exporter(o);
        const bool terminal = ::isatty(STDERR_FILENO) == 1;
        RecordedFrame frame;
        std::uint64_t written = 0, seen = 0;
        std::string lastPath;
        while (reader.Next(frame)) {
            ++seen;
            if (frame.frameNumber < o.first || frame.frameNumber > o.last) continue;
            if (!frame.checksumOk)
                std::fprintf(stderr, "zrfgrab export: frame %" PRIu64 " fails its checksum; written anyway\n",
                             frame.frameNumber);
            lastPath = exporter.Write(frame);
            ++written;
            if (terminal) std::fprintf(stderr, "\rexported %s", zrfgrab::Counted(written, "frame").c_str());
        }
        if (terminal && written > 0) std::fprintf(stderr, "\n");
        if (written == 0)
            throw System::IOException(seen == 0 ? "'" + o.recording + "' holds no complete frame"
                                                : "'" + o.recording + "' holds no frame in " + o.frames);
        std::printf("%s written to %s\n", zrfgrab::Counted(written, o.kind == "png" ? "picture" : o.kind == "zrf" ? "image" : "sample").c_str(),
                    o.folder.c_str());
        if (o.kind == "sample") std::printf("decode one with: %s\n", exporter.DecodeHint(lastPath).c_str());
        return 0;
    });
}
