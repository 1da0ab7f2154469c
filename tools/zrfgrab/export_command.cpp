// zrfgrab export RECORDING [--frames A[-B]] OUTPUT: frames of a recording as pictures, ZRF images
// or the raw samples a USB camera sends for them (for zrfgrab decode to turn back into images),
// or their counts in formats other software opens: 16-bit TIFF and PNG, CSV, lossless video.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "host/system/exceptions.h"
#include "tools/picture/output_file.h"
#include "tools/picture/palette.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/distinct_paths.h"
#include "tools/zrfgrab/export_outputs.h"
#include "tools/zrfgrab/grab_progress.h"

namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;
using zrfgrab::ExportOptions;
using zrfgrab::UsageError;

// The output options; each takes a folder or a file.
const std::set<std::string> kOutputs = {"--png", "--zrf", "--sample", "--tiff", "--png16", "--csv", "--video"};

bool EndsWith(const std::string& name, const std::string& suffix) {
    if (name.size() < suffix.size()) return false;
    return std::equal(suffix.rbegin(), suffix.rend(), name.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

void ParseFrames(const std::string& range, ExportOptions& o) {
    if (range.empty() || range[0] == '-')
        throw UsageError("--frames takes N, A-B or A- (frames count from 1), not '" + range + "'");
    const auto dash = range.find('-');
    const std::string a = range.substr(0, dash);
    const std::string b = dash == std::string::npos ? a : range.substr(dash + 1);
    o.first = static_cast<std::uint64_t>(zrfgrab::ParseInteger(a, "--frames", 1, INT64_MAX));
    o.last = b.empty() ? UINT64_MAX
                       : static_cast<std::uint64_t>(zrfgrab::ParseInteger(b, "--frames", 1, INT64_MAX));
    if (o.last < o.first) throw UsageError("--frames " + range + " selects no frames");
    o.frames = range;
}

// The kind of output an option names, refused when this build lacks it.
std::string OutputKind(const std::string& option, const std::string& output) {
    if (option == "--tiff") {
#ifndef ZRF_HAVE_TIFF
        throw UsageError("--tiff is not in this build of zrfgrab (it is built without libtiff)");
#endif
        return EndsWith(output, ".tif") || EndsWith(output, ".tiff") ? "tiff-stack" : "tiff";
    }
    if (option == "--video") {
#ifndef ZRF_HAVE_VIDEO
        throw UsageError("--video is not in this build of zrfgrab (it is built without FFmpeg)");
#endif
        if (!EndsWith(output, ".mkv"))
            throw UsageError("--video writes Matroska: name the file FILE.mkv, not '" + output + "'");
        return "video";
    }
    return option.substr(2);
}

// The names an export picks as it writes (a frame's file, a split output's numbered run) must not
// be the recording's: refused before any work.
void RefuseNamesWrittenLater(const ExportOptions& o) {
    namespace fs = std::filesystem;
    const bool split = o.kind == "tiff-stack" || o.kind == "video";
    std::string folder = o.output, pattern;
    if (split) {
        const fs::path p(o.output);
        folder = p.parent_path().empty() ? "." : p.parent_path().string();
        pattern = std::regex_replace(p.stem().string(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                  "-[0-9]+" + std::regex_replace(p.extension().string(), std::regex(R"(\.)"), R"(\.)");
    } else {
        const std::string ext = o.kind == "sample" ? "raw" : o.kind == "png16" ? "png" : o.kind == "tiff" ? "tif" : o.kind;
        pattern = "frame_[0-9]{6,}(-[0-9]+)?\\." + ext + (o.kind == "csv" ? "|frames\\.csv" : "");
    }
    std::error_code ec;
    if (fs::is_directory(folder, ec) && zrfgrab::NamedInFolder(o.recording, folder, pattern))
        throw UsageError("'" + o.recording + "' is a name the export may write in '" + folder +
                         "'; export it elsewhere or rename it");
}

ExportOptions Parse(int argc, char** argv) {
    ExportOptions o;
    std::set<std::string> seen;
    bool palette = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        const bool output = kOutputs.count(a) > 0;
        if (a.starts_with("--") && !seen.insert(a).second && !output) throw UsageError(a + " is given twice");
        if (output) {
            if (!o.kind.empty())
                throw UsageError("choose one of --png, --zrf, --sample, --tiff, --png16, --csv and --video");
            o.output = value();
            o.kind = OutputKind(a, o.output);
        } else if (a == "--palette") {
            o.palette = value();
            palette = true;
        } else if (a == "--frames") {
            ParseFrames(value(), o);
        } else if (o.recording.empty() && !a.empty() && a[0] != '-') {
            o.recording = a;
        } else {
            throw UsageError("unknown argument '" + a + "'");
        }
    }
    if (o.recording.empty() || o.kind.empty())
        throw UsageError("expected RECORDING and one of --png DIR, --zrf DIR, --sample DIR, --tiff FILE.tif|DIR, "
                         "--png16 DIR, --csv DIR and --video FILE.mkv");
    if (palette && o.kind != "png") throw UsageError("--palette goes with --png only");
    const Vorn::Picture::Palette* found = nullptr;
    if (auto known = Vorn::Picture::Palette::Find(o.palette, found); !known)
        throw UsageError(known.Message());
    std::error_code ec;
    if (o.kind == "tiff-stack" || o.kind == "video")
        zrfgrab::RefuseSharedFiles({{"the recording", o.recording, false},
                                    {o.kind == "video" ? "--video" : "--tiff", o.output}});
    RefuseNamesWrittenLater(o);
    if (o.kind == "tiff-stack" || o.kind == "video") {
        // One file: it must be one that may be replaced, in a folder that takes new files.
        if (const std::string problem = Vorn::Picture::OutputProblemBeforeWork(o.output); !problem.empty())
            throw UsageError("--" + std::string(o.kind == "video" ? "video" : "tiff") + " '" + o.output + "': " + problem);
    } else if (std::filesystem::exists(o.output, ec) && !std::filesystem::is_directory(o.output, ec)) {
        throw UsageError("'" + o.output + "' is not a folder");
    } else if (std::filesystem::exists(o.output, ec)) {
        // A folder there must take new files now, before any work: for --csv its index too.
        const std::string probe = (std::filesystem::path(o.output) / (o.kind == "csv" ? "frames.csv" : "frame_000001.tmp")).string();
        if (const std::string problem = Vorn::Picture::OutputProblemBeforeWork(probe); !problem.empty())
            throw UsageError("--" + (o.kind == "tiff" ? std::string("tiff") : o.kind) + " '" +
                             (o.kind == "csv" ? probe : o.output) + "': " + problem);
    }
    return o;
}

// Frames an export leaves out: the first ones named as they are met, all counted.
struct LeftOut {
    static constexpr std::uint64_t kMostNamed = 20;
    std::uint64_t count = 0;
    std::uint64_t named = 0;

    void Note(zrfgrab::GrabProgress& progress, const std::string& why) {
        ++count;
        if (named < kMostNamed)
            progress.Note("zrfgrab export: " + why + "; left out");
        else if (named == kMostNamed)
            progress.Note("zrfgrab export: further frames left out are counted, not named");
        ++named;
    }
    // The damaged stretches the reader passed over within the selection, with the frames they
    // held, and the frames the damaged or cut end held.
    void Stretches(zrfgrab::GrabProgress& progress, const RecordingReader& reader, const ExportOptions& o) {
        for (const auto& r : reader.DamagedRanges()) {
            const std::uint64_t from = r.numberBefore ? *r.numberBefore : 0;
            if (r.numberAfter < o.first || (r.numberBefore && from >= o.last)) continue;
            count += r.framesLost;
            progress.Note("zrfgrab export: passed over " + std::to_string(r.length) +
                          " damaged bytes at byte " + std::to_string(r.offset) + " (about " +
                          zrfgrab::Counted(r.framesLost, "frame") + ")");
        }
        if (reader.CandidatesPassedOver() > 0)
            progress.Note("zrfgrab export: " + zrfgrab::Counted(reader.CandidatesPassedOver(), "record marker") +
                          " in damaged stretches not tried (too many at once, or claiming too long an image)");
    }
    // What the end held past the last whole frame: part of a frame at least.
    void Ending(const RecordingReader& reader, std::uint64_t lastSeen, const ExportOptions& o) {
        const bool early = reader.Ending() == RecordingReader::End::CutShort ||
                           reader.Ending() == RecordingReader::End::Damaged;
        if (early && o.last > lastSeen) ++count;
    }
};

std::string EndingText(const RecordingReader& reader) {
    if (reader.Ending() == RecordingReader::End::CutShort)
        return "it is cut short (" + std::to_string(reader.TrailingBytes()) + " bytes after its last complete frame)";
    return "it is damaged (" + std::to_string(reader.TrailingBytes()) + " unreadable bytes at its end)";
}

}  // namespace

int RunExportCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("export", [&] {
        ExportOptions o = Parse(argc, argv);
        RecordingReader reader = OpenRecording(o.recording);
        std::error_code ec;
        // A stack's pages hold less than the recording's frames: past 4 GiB of recording, a
        // classic TIFF might not hold them.
        o.bigTiff = std::filesystem::file_size(o.recording, ec) >= (std::uint64_t{1} << 32);
        const bool folder = o.kind != "tiff-stack" && o.kind != "video";
        if (folder) std::filesystem::create_directories(o.output, ec);
        if (ec) throw System::IOException("cannot create the folder '" + o.output + "': " + ec.message());
        // What a killed export left where this one writes.
        const std::filesystem::path parent = std::filesystem::path(o.output).parent_path();
        Vorn::Picture::RemoveAbandonedOutputs(folder ? o.output : parent.empty() ? "." : parent.string());

        zrfgrab::GrabProgress progress(false);
        const auto output = zrfgrab::MakeFrameOutput(o, [&](const std::string& line) { progress.Note(line); });
        // A signal ends the export between two frames: each file is whole or not there, and a
        // stack or video holds the frames before it.
        zrfgrab::InterruptRequest interrupt;
        RecordedFrame frame;
        LeftOut left;
        std::uint64_t written = 0, seen = 0, lastSeen = 0;
        while (!zrfgrab::InterruptRequest::Requested() && reader.Next(frame)) {
            // A frame failing its checksum has no number to trust: it is the one after the
            // last good frame, and in the selection when that one is.
            const std::uint64_t number =
                frame.checksumOk ? frame.frameNumber : lastSeen + (lastSeen < UINT64_MAX ? 1 : 0);
            if (frame.checksumOk) ++seen;
            const bool goodBefore = seen > (frame.checksumOk ? 1u : 0u);
            if (number < o.first || number > o.last) {
                if (frame.checksumOk) lastSeen = number;
                continue;
            }
            if (!frame.checksumOk) {
                left.Note(progress, (goodBefore ? "the frame after #" + std::to_string(lastSeen) : std::string("the first frame")) +
                                        " (at byte " + std::to_string(frame.fileOffset) + ") fails its checksum");
                continue;
            }
            lastSeen = number;
            try {
                output->Add(frame);
            } catch (const zrfgrab::FrameLeftOut& e) {
                left.Note(progress, e.what());
                continue;
            }
            ++written;
            progress.Show("exported " + zrfgrab::Counted(written, "frame"), false);
        }
        left.Stretches(progress, reader, o);
        left.Ending(reader, lastSeen, o);
        if (zrfgrab::InterruptRequest::Requested()) {
            zrfgrab::Say(stdout, output->Finish());
            zrfgrab::Say(stderr, "zrfgrab export: ended by " + zrfgrab::InterruptRequest::Reason() + "\n");
            return zrfgrab::InterruptRequest::ExitStatus();
        }
        if (written == 0 && left.count > 0)
            throw System::IOException("no frame of '" + o.recording + "' could be exported (" +
                                      zrfgrab::Counted(left.count, "frame") + " left out)");
        if (written == 0)
            throw System::IOException(seen == 0 ? "'" + o.recording + "' holds no complete frame"
                                                : "'" + o.recording + "' holds no frame in " + o.frames);
        progress.Show("exported " + zrfgrab::Counted(written, "frame"), true);
        const std::string summary = output->Finish();
        // What was asked for went on past the recording's end: it ended early.
        const bool early = reader.Ending() == RecordingReader::End::CutShort ||
                           reader.Ending() == RecordingReader::End::Damaged;
        if (early && o.last > lastSeen)
            progress.Note("zrfgrab export: '" + o.recording + "' ends early, after frame " + std::to_string(lastSeen) +
                          ": " + EndingText(reader) + "; the frames it holds are exported");
        zrfgrab::Say(stdout, summary);  // a summary that cannot be written fails the export
        if (left.count == 0) return 0;
        zrfgrab::Say(stderr, "zrfgrab export: " + zrfgrab::Counted(left.count, "frame") +
                                 " left out; every other frame is exported\n");
        return 1;
    });
}
