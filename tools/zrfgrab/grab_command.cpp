// zrfgrab grab, replay and the main job: connects each camera through the plug-in, streams,
// records and writes a picture of the last frame, as the application would.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/loader/plugin_loader.h"
#include "host/system/exceptions.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/framework_use.h"
#include "tools/zrfgrab/grab_options.h"
#include "tools/zrfgrab/grab_progress.h"
#include "tools/zrfgrab/grab_report.h"
#include "tools/zrfgrab/grab_session.h"
#include "tools/zrfgrab/stall_watch.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;
using zrfgrab::CameraRun;
using zrfgrab::CameraSummary;
using zrfgrab::GrabOptions;
using zrfgrab::GrabSession;
using zrfgrab::UsageError;
using Clock = std::chrono::steady_clock;

// The frames a recording holds, counted without reading their images, once one that plays is
// found: a recording without one is refused here, so the file is named once and the camera
// never starts. (The camera says which frames it passed over as it played.)
// Frames the recording holds, counted up to `enough`: a replay asking for fewer need not pass
// over a long recording's every frame before its first one plays.
std::uint64_t RecordedFrames(const std::string& path, std::uint64_t enough) {
    auto reader = OpenRecording(path);
    Recorder::RecordedFrame frame;
    std::uint64_t count = 0;
    bool playable = false;
    while (!playable && reader.Next(frame)) {
        ++count;
        playable = frame.checksumOk;
    }
    if (!playable) throw UsageError("'" + path + "' holds no complete frame to replay");
    while (count < enough && reader.Skip()) ++count;
    return count;
}

// The cameras of the grab: a preset named again is its next camera of that kind, with a device
// path and a seed of its own (the seed counts up from --seed along the command line).
std::vector<CameraRun> CameraRuns(const GrabOptions& o) {
    std::vector<CameraRun> runs;
    const std::size_t n = o.cameras.empty() ? 1 : o.cameras.size();
    for (std::size_t i = 0; i < n; ++i) {
        CameraRun run;
        run.camera = o.cameras.empty() ? std::string() : o.cameras[i];
        run.instance = zrfgrab::CameraInstance(o.cameras, i);
        run.label = run.camera.empty() ? "camera" : zrfgrab::CameraLabel(run.camera, run.instance);
        run.seed = o.seed + static_cast<std::uint32_t>(i);
        run.record = zrfgrab::PathForCamera(o.record, i, n);
        run.png = zrfgrab::PathForCamera(o.png, i, n);
        runs.push_back(std::move(run));
    }
    return runs;
}

struct Outcome {
    std::vector<CameraSummary> cameras;
    bool interrupted = false;
    std::vector<std::string> failures;  // of the grab as a whole
    // A camera that stopped delivering ended the run: which, and the words for it.
    std::size_t stalled = SIZE_MAX;
    std::string stall;
};

// Waits until every camera delivered what was asked, the seconds passed, a signal came or
// output can no longer be written, showing where the streams are. Returns the measured rates.
std::vector<double> StreamFrames(const GrabOptions& o, std::vector<std::unique_ptr<GrabSession>>& sessions,
                                 zrfgrab::StreamWakeup& wakeup, std::uint64_t wanted,
                                 zrfgrab::GrabProgress& progress, Outcome& outcome) {
    const auto started = Clock::now();
    std::vector<double> rates(sessions.size(), 0.0);
    // A camera's rate is taken when it has delivered what was asked, not when the last one has.
    std::vector<bool> through(sessions.size(), false);
    zrfgrab::StallWatch stalls(sessions.size());
    for (std::size_t i = 0; i < sessions.size(); ++i) stalls.SetPeriod(i, sessions[i]->FramePeriod());
    std::size_t seen = 0;
    for (;;) {
        {
            // At most 100 ms, and no later than a timed run's end.
            auto until = Clock::now() + std::chrono::milliseconds(100);
            if (o.seconds > 0)
                until = std::min(until, started + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(o.seconds)));
            std::unique_lock lock(wakeup.mutex);
            wakeup.changed.wait_until(lock, until, [&] { return wakeup.through != seen; });
            seen = wakeup.through;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        std::uint64_t total = 0, slowest = UINT64_MAX;
        std::uint64_t lost = 0;
        int lap = 0;
        bool calibrating = false;
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            const GrabSession::State state = sessions[i]->Current();
            if (!state.recordingError.empty()) throw System::IOException(state.recordingError);
            total += state.delivered;
            slowest = std::min(slowest, state.delivered);
            calibrating = calibrating || state.calibratingNow;
            lost += sessions[i]->LostFrames();
            lap = std::max(lap, sessions[i]->LapTime());
            if (!through[i]) rates[i] = elapsed > 0 ? static_cast<double>(state.delivered) / elapsed : 0.0;
            through[i] = through[i] || (o.seconds == 0 && state.delivered >= wanted);
            std::string stalled = stalls.Check(i, state.delivered, state.calibratingNow, through[i], elapsed);
            if (!stalled.empty() && outcome.stall.empty()) {
                outcome.stall = std::move(stalled);
                outcome.stalled = i;
            }
        }
        outcome.interrupted = zrfgrab::InterruptRequest::Requested();
        const bool done = outcome.interrupted || (o.seconds > 0 ? elapsed >= o.seconds : slowest >= wanted);
        const double fps = elapsed > 0 ? static_cast<double>(total) / elapsed : 0.0;
        char text[200];
        const std::string of = o.seconds > 0 ? "" : "/" + std::to_string(wanted * sessions.size());
        const std::string cameras = sessions.size() > 1 ? std::to_string(sessions.size()) + " cameras  " : "";
        std::snprintf(text, sizeof text, "%sframes %llu%s  %.1f fps  lost %llu  lap %d ms  calibrating %s",
                      cameras.c_str(), static_cast<unsigned long long>(total), of.c_str(), fps,
                      static_cast<unsigned long long>(lost), lap,
                      calibrating ? "yes" : "no");
        progress.Show(text, done);
        if (done) return rates;
        // A camera that stopped ends the run: what was asked of it can no longer come, and
        // what the others recorded is kept.
        if (!outcome.stall.empty()) return rates;
    }
}

Outcome RunSession(const GrabOptions& o, zrfgrab::GrabProgress& progress) {
    // A frame count asks for exactly that many frames (after the pre-recorded ones): later ones
    // (the camera goes on until the stop) are not taken.
    const std::uint64_t wanted = o.seconds > 0 ? UINT64_MAX : o.frames + static_cast<std::uint64_t>(o.preRecord);
    // Only whether the recording holds what is asked for is said: with a time, nothing.
    const std::uint64_t recorded = o.replay.empty() ? 0 : RecordedFrames(o.replay, o.seconds > 0 ? 1 : wanted);
    const std::string pluginPath = o.plugin.empty() ? PluginLoader::DefaultPluginPath() : o.plugin;
    LoadedPlugin loaded = PluginLoader::Load(pluginPath);
    const std::string formatEntry = zrfgrab::FormatEntry(loaded.Plugin(), o.format);
    if (recorded > 0 && o.seconds == 0 && wanted > recorded)
        progress.Note("'" + o.replay + "' holds " + zrfgrab::Counted(recorded, "frame") +
                      "; replay plays them again from the start to make " + std::to_string(wanted));

    zrfgrab::StreamWakeup wakeup;  // outlives the sessions, whose handlers use it
    std::vector<std::unique_ptr<GrabSession>> sessions;
    std::vector<CameraRun> runs = CameraRuns(o);
    // With several cameras a refusal names its camera; every one is checked before any streams
    // or says it will record.
    const auto naming = [&](const CameraRun& run, const std::function<void()>& step) {
        try {
            step();
        } catch (const UsageError& e) {
            if (runs.size() < 2) throw;
            throw UsageError(run.label + ": " + e.what());
        }
    };
    for (CameraRun& run : runs)
        naming(run, [&] {
            sessions.push_back(std::make_unique<GrabSession>(o, run, loaded, formatEntry, wanted, wakeup, progress));
        });
    for (std::size_t i = 0; i < sessions.size(); ++i) naming(runs[i], [&] { sessions[i]->Connect(); });
    for (auto& session : sessions) session->NoteRecording();

    // From here on every failure is collected: the streams are stopped and the recordings
    // closed whatever happens, and the summary says what was kept.
    Outcome outcome;
    std::vector<double> rates(sessions.size(), 0.0);
    try {
        for (auto& session : sessions) session->Begin();
        rates = StreamFrames(o, sessions, wakeup, wanted, progress, outcome);
    } catch (const System::Exception& e) {
        outcome.failures.push_back(e.Message());
    } catch (const std::exception& e) {
        outcome.failures.push_back(e.what());
    }
    // A run ended early holds less than was asked of every camera: that is said once, by the
    // signal's or the stalled camera's own line.
    const bool cutShort =
        outcome.interrupted || zrfgrab::InterruptRequest::Requested() || !outcome.stall.empty();
    for (auto& session : sessions) session->StreamEnded();
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        outcome.cameras.push_back(sessions[i]->Finish(rates[i], cutShort));
        if (i == outcome.stalled) {
            auto& failures = outcome.cameras.back().failures;
            failures.insert(failures.begin(), outcome.stall);
        }
    }
    return outcome;
}

int RunGrab(const std::string& command, const GrabOptions& o) {
    const std::string prefix = "zrfgrab" + (command.empty() ? "" : " " + command) + ": ";
    return zrfgrab::ReportingErrors(command, [&] {
        zrfgrab::CheckGrabOutputs(o);
        const zrfgrab::FrameworkRecords records;
        zrfgrab::GrabProgress progress(o.quiet);
        zrfgrab::InterruptRequest interrupt;
        Outcome outcome;
        try {
            outcome = RunSession(o, progress);
        } catch (const System::Exception& e) {
            throw std::runtime_error(records.Explain(e.Message()));
        }
        const std::string endedBy = outcome.interrupted ? zrfgrab::InterruptRequest::Reason() : "";
        // A grab's own failures (not of one camera) go with the first camera's, as one had them.
        outcome.cameras.front().failures.insert(outcome.cameras.front().failures.begin(),
                                               outcome.failures.begin(), outcome.failures.end());
        zrfgrab::Say(stdout, o.json ? zrfgrab::SummaryJson(outcome.cameras, endedBy)
                                    : zrfgrab::SummaryText(outcome.cameras));
        bool failed = false;
        const bool several = outcome.cameras.size() > 1;
        for (const CameraSummary& camera : outcome.cameras) {
            for (const std::string& failure : camera.failures) {
                zrfgrab::Say(stderr, prefix + (several ? camera.label + ": " : "") + failure + "\n");
                failed = true;
            }
        }
        if (outcome.interrupted) zrfgrab::Say(stderr, prefix + "ended by " + endedBy + "\n");
        if (failed) return 1;
        if (outcome.interrupted) return zrfgrab::InterruptRequest::ExitStatus();
        // Output that was lost is a failure even when everything else went well.
        return zrfgrab::OutputError() == 0 ? 0 : zrfgrab::InterruptRequest::ExitStatus();
    });
}

}  // namespace

int RunGrabCommand(int argc, char** argv) {
    GrabOptions options;
    if (const int status = zrfgrab::ReportingErrors("grab", [&] {
            options = zrfgrab::ParseGrabOptions(argc, argv);
            return 0;
        }))
        return status;
    return RunGrab("grab", options);
}

int RunReplayCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "zrfgrab replay: expected a RECORDING first (zrfgrab replay RECORDING [grab options])\n");
        return 2;
    }
    // replay REC ... is grab --replay REC ...
    std::vector<char*> args{argv[0]};
    char option[] = "--replay";
    args.push_back(option);
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    GrabOptions options;
    if (const int status = zrfgrab::ReportingErrors("replay", [&] {
            options = zrfgrab::ParseGrabOptions(static_cast<int>(args.size()) - 1, args.data());
            return 0;
        }))
        return status;
    return RunGrab("replay", options);
}

int RunMainJob() {
    GrabOptions options;
    options.record = "zrfgrab-out/recording.zrec";
    options.png = "zrfgrab-out/last-frame.png";
    if (const int status = zrfgrab::ReportingErrors("", [] {
            std::error_code ec;
            std::filesystem::create_directories("zrfgrab-out", ec);
            if (ec) throw System::IOException("cannot create the folder 'zrfgrab-out': " + ec.message());
            return 0;
        }))
        return status;
    zrfgrab::Say(stdout, "main job: " + std::to_string(options.frames) +
                             " frames from the simulated camera usb-ir (radiometric), recorded to " +
                             options.record + ", with a picture of the last frame in " + options.png + "\n");
    return RunGrab("", options);
}
