#include "tools/zrfgrab/grab_options.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "sim/handle/simulated_camera_handle.h"
#include "tools/picture/output_file.h"
#include "tools/picture/palette.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/distinct_paths.h"

namespace zrfgrab {
namespace {

void CheckOutput(const std::string& option, const std::string& path) {
    if (const std::string problem = Vorn::Picture::OutputProblemBeforeWork(path); !problem.empty())
        throw UsageError(option + " '" + path + "': " + problem);
}

}  // namespace

void CheckCameraName(const std::string& name) {
    std::string known;
    for (const auto& c : Vorn::Zephra::Simulation::ListSimulatedCameras()) {
        if (c.name == name) return;
        known += (known.empty() ? "" : ", ") + c.name;
    }
    throw UsageError("unknown camera '" + name + "' (" + known + ")");
}

GrabOptions ParseGrabOptions(int argc, char** argv) {
    GrabOptions o;
    bool haveFrames = false;
    int sources = 0;
    std::vector<std::string> cameras;
    std::set<std::string> given;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        // An option given twice is a mistake to point out, not a choice to guess.
        // (--camera names one camera more each time.)
        if (a.starts_with("--") && a != "--camera" && !given.insert(a).second)
            throw UsageError(a + " is given twice");
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        auto integer = [&](long long min, long long max) { return ParseInteger(value(), a, min, max); };
        if (a == "--camera") {
            cameras.push_back(value());
            sources += cameras.size() == 1 ? 1 : 0;
        } else if (a == "--replay" || a == "--identity") {
            (a == "--replay" ? o.replay : o.identityFile) = value();
            ++sources;
        }
        else if (a == "--identifier") o.identifier = value();
        else if (a == "--format") o.format = value();
        else if (a == "--frames") {
            o.frames = static_cast<std::uint64_t>(integer(1, 1'000'000'000));
            haveFrames = true;
        }
        else if (a == "--seconds") o.seconds = ParsePositive(value(), a, 1e6);
        else if (a == "--rate-index") o.rateIndex = static_cast<int>(integer(0, 999));
        else if (a == "--windowing") {
            const std::string v = value();
            if (v != "0" && v != "2" && v != "4") throw UsageError("--windowing takes 0, 2 or 4, not '" + v + "'");
            o.windowing = v[0] - '0';
        }
        else if (a == "--record") o.record = value();
        else if (a == "--png") o.png = value();
        else if (a == "--palette") o.palette = value();
        else if (a == "--pre-record")
            o.preRecord = static_cast<int>(integer(0, Vorn::Zephra::Net::Devices::Recorder::kMaxPreRecordingImages));
        else if (a == "--seed") o.seed = static_cast<std::uint32_t>(integer(0, UINT32_MAX));
        else if (a == "--plugin") o.plugin = value();
        else if (CameraImperfections::Takes(a)) o.imperfections.Read(a, value());
        else if (a == "--fast") o.fast = true;
        else if (a == "--quiet") o.quiet = true;
        else if (a == "--json") o.json = true;
        else throw UsageError("unknown option '" + a + "'");
    }
    if (sources > 1) throw UsageError("choose one of --camera, --replay and --identity");
    if (haveFrames && o.seconds > 0) throw UsageError("choose one of --frames and --seconds");
    if (o.format != "IR" && o.format != "YUY2" && o.format != "JPEG_PLAIN")
        throw UsageError("--format takes IR, YUY2 or JPEG_PLAIN, not '" + o.format + "'");
    if (o.windowing != 0 && o.rateIndex >= 0) throw UsageError("choose one of --windowing and --rate-index");
    if (o.windowing != 0 && o.format != "IR") throw UsageError("--windowing needs the radiometric format (IR)");
    if (!o.record.empty() && o.format != "IR") throw UsageError("only the radiometric format (IR) is recorded");
    if (o.preRecord > 0 && o.record.empty()) throw UsageError("--pre-record needs --record");
    if (o.imperfections.Any() && (sources > 0 && cameras.empty()))
        throw UsageError("--drift, --jitter, --stall and --glitch make the simulated camera presets imperfect, "
                         "not a --replay or an --identity");
    if (!cameras.empty()) o.cameras = cameras;
    if (!o.replay.empty() || !o.identityFile.empty()) o.cameras.clear();
    for (const std::string& camera : o.cameras) CheckCameraName(camera);
    const Vorn::Picture::Palette* palette = nullptr;
    if (auto found = Vorn::Picture::Palette::Find(o.palette, palette); !found)
        throw UsageError(found.Message());
    if (o.format == "JPEG_PLAIN" && !o.png.empty())
        o.png = std::filesystem::path(o.png).replace_extension(".jpg").string();
    return o;
}

int WindowingRateIndex(const std::string& identifier, const std::vector<double>& rates,
                       int windowing) {
    const std::size_t n = rates.size();
    if (identifier.find("ZRF_FW") == std::string::npos || n < 3 || rates[n - 2] != 60 ||
        rates[n - 1] != 120)
        return -1;
    return static_cast<int>(n) - (windowing == 2 ? 2 : 1);
}

std::string PathForCamera(const std::string& path, std::size_t index, std::size_t cameras) {
    std::error_code ec;
    if (path.empty() || cameras <= 1 || std::filesystem::is_directory(path, ec)) return path;
    const std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-" + std::to_string(index + 1) + p.extension().string()))
        .string();
}

int CameraInstance(const std::vector<std::string>& cameras, std::size_t index) {
    index = std::min(index, cameras.size());
    return static_cast<int>(std::count(cameras.begin(), cameras.begin() + static_cast<long>(index),
                                       index < cameras.size() ? cameras[index] : std::string()));
}

std::string CameraLabel(const std::string& camera, int instance) {
    return instance == 0 ? camera : camera + "#" + std::to_string(instance + 1);
}

void CheckGrabOutputs(const GrabOptions& o) {
    std::error_code ec;
    const std::size_t n = std::max<std::size_t>(o.cameras.size(), 1);
    // No output is the replayed recording, the identity document or another output (with
    // several cameras, another camera's).
    std::vector<RunPath> paths = {{"--replay", o.replay, false}, {"--identity", o.identityFile, false}};
    for (std::size_t i = 0; i < n; ++i) {
        const std::string camera = n > 1 ? " of camera " + std::to_string(i + 1) : "";
        const std::string record = PathForCamera(o.record, i, n);
        if (!record.empty() && !std::filesystem::is_directory(record, ec))
            paths.push_back({"--record" + camera, record});
        if (!o.png.empty()) paths.push_back({"--png" + camera, PathForCamera(o.png, i, n)});
    }
    RefuseSharedFiles(paths);
    // A folder's recordings take names as they start: a picture must not be one of them.
    for (std::size_t i = 0; i < n && !o.png.empty(); ++i) {
        const std::string record = PathForCamera(o.record, i, n);
        if (!record.empty() && std::filesystem::is_directory(record, ec) &&
            NamedInFolder(PathForCamera(o.png, i, n), record, "recording_[0-9]{4}\\.zrec"))
            throw UsageError("--png '" + PathForCamera(o.png, i, n) + "' is a name the recordings in '" + record +
                             "' may take; name another file");
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::string camera = n > 1 ? " of camera " + std::to_string(i + 1) : "";
        const std::string record = PathForCamera(o.record, i, n);
        if (!record.empty()) {
            // A folder gets a new numbered recording in it: it must take new files.
            const bool folder = std::filesystem::is_directory(record, ec);
            CheckOutput("--record" + camera, folder ? (std::filesystem::path(record) / "x").string() : record);
            if (!folder && Vorn::Zephra::Net::Devices::Recorder::RecordingWriter::InUse(record))
                throw UsageError("--record '" + record + "': another run is recording to it");
        }
        if (!o.png.empty()) CheckOutput("--png" + camera, PathForCamera(o.png, i, n));
    }
}

}  // namespace zrfgrab
