#include "tools/zrfgrab/grab_options.h"

#include <filesystem>

#include "host/recorder/zrf_recorder.h"
#include "host/simulation/simulated_cameras.h"
#include "tools/picture/output_file.h"
#include "tools/picture/palette.h"
#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {
namespace {

void CheckOutput(const std::string& option, const std::string& path) {
    if (const std::string problem = Vorn::Picture::OutputPathProblem(path); !problem.empty())
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
    bool haveFrames = false, haveCamera = false;
    int sources = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        auto integer = [&](long long min, long long max) { return ParseInteger(value(), a, min, max); };
        if (a == "--camera" || a == "--replay" || a == "--identity") {
            (a == "--camera" ? o.camera : a == "--replay" ? o.replay : o.identityFile) = value();
            haveCamera = haveCamera || a == "--camera";
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
    if (haveCamera || (o.replay.empty() && o.identityFile.empty())) CheckCameraName(o.camera);
    const Vorn::Picture::Palette* palette = nullptr;
    if (auto found = Vorn::Picture::Palette::Find(o.palette, palette); !found)
        throw UsageError(found.Message());
    if (o.format == "JPEG_PLAIN" && !o.png.empty())
        o.png = std::filesystem::path(o.png).replace_extension(".jpg").string();
    return o;
}

void CheckGrabOutputs(const GrabOptions& o) {
    std::error_code ec;
    // A folder gets a new numbered recording in it.
    if (!o.record.empty() && !std::filesystem::is_directory(o.record, ec)) CheckOutput("--record", o.record);
    if (!o.png.empty()) CheckOutput("--png", o.png);
}

}  // namespace zrfgrab
