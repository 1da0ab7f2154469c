// zrfgrab serve: connects one device per camera through the plug-in, as the application
// would, and serves their live view until Ctrl-C, SIGTERM or SIGHUP; recordings started from
// the page end cleanly then, and when a camera disappears.
#include "tools/zrfgrab/serve/serve_command.h"

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/devices/framework_exceptions.h"
#include "host/system/exceptions.h"
#include "tools/picture/output_file.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/framework_use.h"
#include "tools/zrfgrab/grab_progress.h"
#include "tools/zrfgrab/serve/live_server.h"
#include "tools/zrfgrab/serve/serve_options.h"

namespace {

using namespace zrfgrab::serve;
using Vorn::Zephra::Net::Devices::LoadedPlugin;
using Vorn::Zephra::Net::Devices::PluginLoader;
using zrfgrab::UsageError;

// A folder of our own for snapshots on their way out, removed at the end.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zrfgrab-serve-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw System::IOException("cannot make a temporary folder for snapshots");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string RadiometricFormat(const LoadedPlugin& plugin) {
    for (const std::string& entry : plugin.Plugin().Formats())
        if (entry.ends_with(";ZRF")) return entry;
    throw UsageError("the plug-in offers no radiometric format");
}

// A recording to replay is read before any camera starts: one that cannot be played is a bad
// argument, as it is to grab.
void CheckReplay(const std::string& path) {
    auto reader = OpenRecording(path);
    Vorn::Zephra::Net::Devices::Recorder::RecordedFrame frame;
    while (reader.Next(frame))
        if (frame.checksumOk) return;
    throw UsageError("'" + path + "' holds no complete frame to replay");
}

void PrepareRecordDir(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw UsageError("--record-dir '" + dir + "': " + ec.message());
    if (!std::filesystem::is_directory(dir, ec)) throw UsageError("--record-dir '" + dir + "' is not a folder");
    if (const std::string problem = Vorn::Picture::OutputProblemBeforeWork((std::filesystem::path(dir) / "x").string());
        !problem.empty())
        throw UsageError("--record-dir '" + dir + "': " + problem);
}

std::string ProgressLine(const std::vector<std::unique_ptr<DeviceCamera>>& cameras, const LiveServer& server) {
    std::string line;
    char text[160];
    for (const auto& camera : cameras) {
        const CameraStatus s = camera->Status();
        std::snprintf(text, sizeof text, "%s %.1f fps lost %llu%s%s  ", s.name.c_str(), s.fps,
                      static_cast<unsigned long long>(s.lost + s.cameraDropped), s.recording ? " REC" : "",
                      s.state == "gone" ? " GONE" : "");
        line += text;
    }
    return line + "viewers " + std::to_string(server.Counters().viewers);
}

int Serve(const ServeOptions& o) {
    for (const CameraSource& source : o.cameras)
        if (!source.replay.empty()) CheckReplay(source.replay);
    const ScratchDir scratch;
    const zrfgrab::FrameworkRecords records;
    zrfgrab::GrabProgress progress(o.quiet);
    zrfgrab::InterruptRequest interrupt;

    ServerSettings settings;
    settings.address = o.address;
    settings.port = o.port;
    settings.token = o.token;

    std::vector<std::unique_ptr<DeviceCamera>> cameras;
    std::optional<LiveServer> server;
    std::vector<std::string> failures;
    try {
        const LoadedPlugin plugin = PluginLoader::Load(o.plugin.empty() ? PluginLoader::DefaultPluginPath() : o.plugin);
        const std::string format = RadiometricFormat(plugin);
        Vorn::Zephra::Simulation::SimulatedCameraOptions cameraOptions;
        cameraOptions.loop = true;  // a replay goes on from the start, as a live camera would
        cameraOptions.changes = o.imperfections.Changes();
        for (const CameraSource& source : o.cameras) {
            // The seed counts up along the command line, as in grab.
            cameraOptions.seed = o.seed + static_cast<std::uint32_t>(cameras.size());
            cameras.push_back(std::make_unique<DeviceCamera>(plugin, format, source, cameraOptions, o.recordDir,
                                                             scratch.Path(), PoolCapacityFor(settings.limits)));
        }
        std::vector<LiveCamera*> live;
        for (auto& c : cameras) live.push_back(c.get());
        server.emplace(settings, live);
        server->Start();  // a port in use is found before any camera starts
        PrepareRecordDir(o.recordDir);  // and before anything is made on disk
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            try {
                cameras[i]->Start();
            } catch (const Vorn::Zephra::Net::Devices::DeviceConnectionFailedException& e) {
                if (e.Message() == "SetMediaType failed")
                    throw UsageError("camera '" + cameras[i]->Name() + "' has no radiometric format: serve shows " +
                                     "radiometric cameras");
                throw;
            }
        }
    } catch (const System::Exception& e) {
        throw std::runtime_error(records.Explain(e.Message()));
    }

    std::string names;
    for (const auto& c : cameras) names += (names.empty() ? "" : ", ") + c->Name();
    zrfgrab::Say(stdout, "serving " + zrfgrab::Counted(cameras.size(), "camera") + " (" + names + ")\nopen " +
                             PageAddress(o.address, server->Port(), o.token) + "\n");
    if (!IsLoopbackAddress(o.address))
        zrfgrab::Say(stdout, std::string("from another machine, use this machine's address; every request needs the ") +
                                 (o.tokenGenerated ? "token made for this run" : "token given") +
                                 " (Authorization: Bearer TOKEN, or ?token=TOKEN)\n");
    zrfgrab::Say(stdout, "recordings go to " + o.recordDir + "/; Ctrl-C ends\n");

    std::vector<DisappearanceNotes> goneNotes(cameras.size());
    while (!zrfgrab::InterruptRequest::Requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            if (const auto note = goneNotes[i].Next(cameras[i]->Status())) progress.Note(*note);
        }
        progress.Show(ProgressLine(cameras, *server), false);
    }
    const std::string why = "zrfgrab serve was ended by " + zrfgrab::InterruptRequest::Reason();
    progress.Show(ProgressLine(cameras, *server), true);

    // Recordings first, so the viewers' last status says how they ended; then the viewers; then
    // the streams.
    for (auto& c : cameras) c->StopThread();
    for (auto& c : cameras) c->EndRecording(why);
    server->Stop(why);
    std::string summary;
    for (auto& c : cameras) {
        summary += c->Name() + ": " + c->Finish(why) + "\n";
        for (const std::string& r : c->Recordings()) summary += "  recording " + r + "\n";
    }
    server.reset();  // the viewers let go of the frames before the cameras go
    cameras.clear();
    zrfgrab::Say(stdout, summary);
    zrfgrab::Say(stderr, "zrfgrab serve: ended by " + zrfgrab::InterruptRequest::Reason() + "\n");
    return zrfgrab::InterruptRequest::ExitStatus();
}

}  // namespace

int RunServeCommand(int argc, char** argv) {
    ServeOptions options;
    if (const int status = zrfgrab::ReportingErrors("serve", [&] {
            options = ParseServeOptions(argc, argv);
            return 0;
        }))
        return status;
    return zrfgrab::ReportingErrors("serve", [&] { return Serve(options); });
}
