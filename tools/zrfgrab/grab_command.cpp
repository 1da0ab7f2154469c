// zrfgrab grab, replay and the main job: connects a camera through the plug-in, streams,
// records and writes a picture of the last frame, as the application would.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
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
#include "host/simulation/simulated_cameras.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "host/xml/xml_text.h"
#include "imaging/zrf_records.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/frame_picture.h"
#include "tools/zrfgrab/framework_use.h"
#include "tools/zrfgrab/grab_options.h"
#include "tools/zrfgrab/grab_progress.h"
#include "tools/zrfgrab/input_file.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;
using Vorn::Zephra::Entities::XmlUtils::IdentityXml;
using Vorn::Zephra::Simulation::SimulatedCameraHandle;
using zrfgrab::GrabOptions;
using zrfgrab::UsageError;
using Clock = std::chrono::steady_clock;

constexpr int kInterruptedStatus = 130;  // as a shell reports a program ended by Ctrl-C

// What the recorder says became of the recording.
struct RecordingReport {
    std::string file;
    std::uint64_t frames = 0;
    std::uintmax_t bytes = 0;
    std::string error;  // why it stopped early; empty when nothing stopped it
};

struct Summary {
    std::uint64_t delivered = 0;
    int lost = 0;
    std::uint64_t calibrating = 0;
    double fps = 0;
    std::optional<RecordingReport> recording;
    std::string picture;
    bool interrupted = false;
};

// What the Completed and Calibrating handlers see, shared with the waiting thread.
struct Stream {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t delivered = 0;
    std::uint64_t calibrating = 0;
    bool calibratingNow = false;
    std::vector<std::uint8_t> last;  // the last image, copied: the device reuses its buffer
};

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string SizeText(double bytes) {
    char text[32];
    if (bytes < 1e6) std::snprintf(text, sizeof text, "%.0f KB", bytes / 1e3);
    else if (bytes < 1e9) std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    else std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
    return text;
}

// The plug-in's own format entry for a format name.
std::string FormatEntry(const IDevicePlugin& plugin, const std::string& name) {
    for (const std::string& entry : plugin.Formats()) {
        const auto last = entry.rfind(';');
        if (last != std::string::npos && entry.substr(last + 1) == (name == "IR" ? "ZRF" : name))
            return entry;
    }
    throw UsageError("the plug-in offers no format " + name);
}

IdentityXml ReadIdentity(const std::string& path) {
    const std::vector<std::uint8_t> bytes = zrfgrab::ReadInputFile(path);
    try {
        return IdentityXml(XElement::Parse(std::string(bytes.begin(), bytes.end())));
    } catch (const System::Exception& e) {
        throw UsageError("'" + path + "' is not an identity document: " + e.Message());
    }
}

// Replay plays the frames whose checksums hold; a recording without one is refused here, so
// the file is named once and the camera never starts.
std::uint64_t PlayableFrames(const std::string& path) {
    auto reader = OpenRecording(path);
    Recorder::RecordedFrame frame;
    std::uint64_t playable = 0;
    while (reader.Next(frame)) playable += frame.checksumOk ? 1 : 0;
    if (playable == 0) throw UsageError("'" + path + "' holds no complete frame to replay");
    return playable;
}

// The device's rates in its own order: --rate-index counts in this list.
std::vector<double> FrameRates(ICameraControl& control) {
    std::vector<double> rates;
    for (const XElement& range : control.Control_GetFrameRates().Elements("Range")) {
        const auto value = range.Attribute("FramesPerSecond");
        const auto fps = value ? Vorn::Zephra::Entities::XmlUtils::ParseXmlDouble(*value) : std::nullopt;
        rates.push_back(fps.value_or(0));
    }
    return rates;
}

// An IEEE-1394 camera with windowing lists it as two more rates, 60 and 120, after its own.
bool OffersWindowing(const std::string& identifier, const std::vector<double>& rates) {
    const std::size_t n = rates.size();
    return identifier.find("ZRF_FW") != std::string::npos && n >= 3 && rates[n - 2] == 60 &&
           rates[n - 1] == 120;
}

void ChooseRate(const GrabOptions& o, ICameraControl& control, const std::string& identifier,
                zrfgrab::GrabProgress& progress) {
    if (o.windowing == 0 && o.rateIndex < 0) return;
    const std::vector<double> rates = FrameRates(control);
    const int n = static_cast<int>(rates.size());
    if (o.windowing != 0) {
        if (!OffersWindowing(identifier, rates)) throw UsageError("this camera has no windowing");
        progress.Note("settling: switching windowing on takes about 7 s ...");
        control.Control_SetFrameRate(n - (o.windowing == 2 ? 2 : 1));
    } else {
        if (o.rateIndex >= n)
            throw UsageError("--rate-index takes 0 to " + std::to_string(n - 1) +
                             " for this camera, not " + std::to_string(o.rateIndex));
        control.Control_SetFrameRate(o.rateIndex);
    }
}

// A recording's cost, said before it starts. The image size is known exactly only once images
// arrive; the camera's format gives it within a few rows: 16-bit pixels of one field and the
// ZRF header and blocks.
void NoteRecordingCost(IGrab& grabber, ICameraControl& control, int fields,
                       zrfgrab::GrabProgress& progress, const std::string& path) {
    const XElement format = grabber.Grab_EnumImageFormats().Element("Format");
    const double width = format ? std::atof(format.Attribute("Width").value_or("0").c_str()) : 0;
    const double height = format ? std::atof(format.Attribute("Height").value_or("0").c_str()) : 0;
    if (width <= 0 || height <= 0) return;
    const double bytes = width * std::floor(height / fields) * 2 + Zrf::kTwoBlockOverhead;
    std::string cost = "about " + SizeText(bytes) + " a frame";
    try {
        const std::vector<double> rates = FrameRates(control);
        const int index = control.Control_GetFrameRate();
        if (index >= 0 && index < static_cast<int>(rates.size()) && rates[index] > 0)
            cost += ", " + SizeText(bytes * rates[index] * 60) + " a minute";
    } catch (const System::Exception&) {
        // A camera without a rate list still records; only the per-minute figure is missing.
    }
    progress.Note("recording to '" + path + "': " + cost);
}

RecordingReport ReadRecordingReport(IDevice& device, const std::string& requested) {
    RecordingReport report;
    const XElement settings = device.Device_XMLData().Element("Recorder");
    report.file = settings ? settings.Attribute("File").value_or("") : "";
    if (report.file.empty()) {
        // The device takes recorder settings without a word: a recording it never made is a
        // failure, not an empty success.
        report.file = requested;
        report.error = "the device made no recording";
        return report;
    }
    report.frames = std::strtoull(settings.Attribute("RecordedFrames").value_or("0").c_str(), nullptr, 10);
    report.error = settings.Attribute("Error").value_or("");
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(report.file, ec);
    report.bytes = ec ? 0 : bytes;
    return report;
}

Summary RunSession(const GrabOptions& o, zrfgrab::GrabProgress& progress) {
    const std::uint64_t playable = o.replay.empty() ? 0 : PlayableFrames(o.replay);
    const std::string pluginPath = o.plugin.empty() ? PluginLoader::DefaultPluginPath() : o.plugin;
    LoadedPlugin loaded = PluginLoader::Load(pluginPath);
    const std::string formatEntry = FormatEntry(loaded.Plugin(), o.format);

    Vorn::Zephra::Simulation::SimulatedCameraOptions cameraOptions;
    cameraOptions.asFastAsPossible = o.fast;
    cameraOptions.seed = o.seed;
    std::unique_ptr<SimulatedCameraHandle> camera;
    IdentityXml identity;
    if (!o.identityFile.empty()) {
        identity = ReadIdentity(o.identityFile);
    } else {
        camera = o.replay.empty() ? SimulatedCameraHandle::Start(o.camera, cameraOptions)
                                  : SimulatedCameraHandle::Replay(o.replay, cameraOptions);
        identity = camera->Identity(o.format == "IR" ? std::string() : formatEntry);
    }
    if (!o.identifier.empty()) identity.SetIdentifier(o.identifier);
    if (o.format != "IR") identity.SetSelectedFormatId(formatEntry);
    const std::vector<std::string>& served = loaded.Plugin().Identifiers();
    if (std::find(served.begin(), served.end(), identity.Identifier()) == served.end())
        throw UsageError("the plug-in serves no identifier '" + identity.Identifier() + "'");
    if (playable > 0 && o.seconds == 0 && o.frames > playable)
        progress.Note("'" + o.replay + "' holds " + zrfgrab::Counted(playable, "frame") +
                      "; replay plays them again from the start to make " + std::to_string(o.frames));

    Stream stream;  // outlives the device, whose handlers use it
    std::shared_ptr<IDevice> device = loaded.CreateDevice(identity.Identifier());
    if (!device) throw UsageError("the plug-in serves no identifier '" + identity.Identifier() + "'");
    zrfgrab::DisposeOnExit disposeOnExit{*device};
    auto& grab = dynamic_cast<IGrabContinous&>(*device);
    auto& control = dynamic_cast<ICameraControl&>(*device);
    auto& ir = dynamic_cast<IIRCameraControl&>(*device);
    auto& recorder = dynamic_cast<IRecorder&>(*device);

    // A frame count asks for exactly that many frames: later ones (the camera goes on until the
    // stop) are not taken.
    const std::uint64_t wanted = o.seconds > 0 ? UINT64_MAX : o.frames;
    grab.Completed().Subscribe([&](const void*, const GrabContinousCompletedEventArgs& e) {
        std::lock_guard lock(stream.mutex);
        if (stream.delivered >= wanted) return;
        stream.last.assign(e.Image.begin(), e.Image.end());
        ++stream.delivered;
        stream.changed.notify_all();
    });
    ir.Calibrating().Subscribe([&](const void*, const CalibratingEventArgs& e) {
        std::lock_guard lock(stream.mutex);
        stream.calibratingNow = e.IsCalibrating;
        if (e.IsCalibrating) ++stream.calibrating;
    });

    Summary summary;
    device->Device_Connect(identity.XMLData());
    ChooseRate(o, control, identity.Identifier(), progress);
    if (!o.record.empty()) {
        Vorn::Zephra::Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(o.record);
        settings.SetIsPreRecordingEnabled(o.preRecord > 0);
        if (o.preRecord > 0) settings.SetMaxNumberOfFramesInPreRecording(o.preRecord);
        recorder.Recorder_Setup(settings.XMLData());
        NoteRecordingCost(dynamic_cast<IGrab&>(*device), control, std::max(o.windowing, 1), progress, o.record);
        // Started before the stream, so the recording holds the first frames, and as many as
        // were asked for.
        recorder.Recorder_Start(o.seconds > 0 ? 0 : wanted);
    }
    grab.GrabContinous_Start();

    const auto started = Clock::now();
    for (;;) {
        std::unique_lock lock(stream.mutex);
        stream.changed.wait_for(lock, std::chrono::milliseconds(100));
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        summary.interrupted = zrfgrab::InterruptRequest::Requested();
        const bool done = summary.interrupted ||
                          (o.seconds > 0 ? elapsed >= o.seconds : stream.delivered >= o.frames);
        const double fps = elapsed > 0 ? static_cast<double>(stream.delivered) / elapsed : 0.0;
        char text[160];
        std::snprintf(text, sizeof text, "frames %llu%s  %.1f fps  lost %d  lap %d ms  calibrating %s",
                      static_cast<unsigned long long>(stream.delivered),
                      o.seconds > 0 ? "" : ("/" + std::to_string(o.frames)).c_str(), fps,
                      grab.GrabContinous_LostFrames(), grab.GrabContinous_LapTime(),
                      stream.calibratingNow ? "yes" : "no");
        progress.Show(text, done);
        if (done) {
            summary.fps = fps;
            break;
        }
        const double limit = 5 + (o.seconds > 0 ? o.seconds : static_cast<double>(o.frames)) * 2.0;
        if (elapsed > limit && stream.delivered == 0) throw System::IOException("the camera delivers no images");
    }
    grab.GrabContinous_Stop();
    if (!o.record.empty()) {
        recorder.Recorder_Stop(0);
        summary.recording = ReadRecordingReport(*device, o.record);
    }
    summary.lost = grab.GrabContinous_LostFrames();
    device->Device_Disconnect();

    std::lock_guard lock(stream.mutex);
    summary.delivered = stream.delivered;
    summary.calibrating = stream.calibrating;
    if (!o.png.empty()) {
        if (stream.last.empty()) throw System::IOException("no image arrived to make a picture of");
        const std::string error = zrfgrab::WriteFramePicture(o.png, o.format, stream.last, o.palette);
        if (!error.empty()) throw System::IOException(error);
        summary.picture = o.png;
    }
    return summary;
}

void Print(const Summary& s, bool json) {
    const RecordingReport none;
    const RecordingReport& r = s.recording ? *s.recording : none;
    if (json) {
        std::printf("{\"delivered\": %llu, \"lost\": %d, \"calibrating\": %llu, \"fps\": %.2f, "
                    "\"recording\": %s, \"recording_bytes\": %llu, \"recording_frames\": %llu, "
                    "\"recording_complete\": %s, \"recording_error\": %s, \"picture\": %s}\n",
                    static_cast<unsigned long long>(s.delivered), s.lost,
                    static_cast<unsigned long long>(s.calibrating), s.fps,
                    s.recording ? JsonText(r.file).c_str() : "null",
                    static_cast<unsigned long long>(r.bytes), static_cast<unsigned long long>(r.frames),
                    !s.recording ? "null" : r.error.empty() ? "true" : "false",
                    r.error.empty() ? "null" : JsonText(r.error).c_str(),
                    s.picture.empty() ? "null" : JsonText(s.picture).c_str());
        return;
    }
    std::printf("frames delivered  %llu (%.1f fps)\n", static_cast<unsigned long long>(s.delivered), s.fps);
    std::printf("frames lost       %d\n", s.lost);
    std::printf("calibrations      %llu\n", static_cast<unsigned long long>(s.calibrating));
    if (s.recording)
        std::printf("recording         %s (%s, %s)\n", r.file.c_str(),
                    zrfgrab::Counted(r.frames, "frame").c_str(), SizeText(static_cast<double>(r.bytes)).c_str());
    if (!s.picture.empty()) std::printf("picture           %s\n", s.picture.c_str());
}

int RunGrab(const std::string& command, const GrabOptions& o) {
    return zrfgrab::ReportingErrors(command, [&] {
        zrfgrab::CheckGrabOutputs(o);
        const zrfgrab::FrameworkRecords records;
        zrfgrab::GrabProgress progress(o.quiet);
        zrfgrab::InterruptRequest interrupt;
        Summary summary;
        try {
            summary = RunSession(o, progress);
        } catch (const System::Exception& e) {
            throw std::runtime_error(records.Explain(e.Message()));
        }
        Print(summary, o.json);
        std::fflush(stdout);
        if (summary.recording && !summary.recording->error.empty()) {
            const RecordingReport& r = *summary.recording;
            const std::string count = o.seconds > 0 ? zrfgrab::Counted(r.frames, "frame")
                                                    : std::to_string(r.frames) + " of " +
                                                          zrfgrab::Counted(o.frames, "frame");
            std::fprintf(stderr, "zrfgrab%s%s: the recording '%s' stopped after %s: %s\n",
                         command.empty() ? "" : " ", command.c_str(), r.file.c_str(), count.c_str(),
                         r.error.c_str());
            return 1;
        }
        if (!summary.interrupted) return 0;
        std::fprintf(stderr, "zrfgrab%s%s: ended by Ctrl-C\n", command.empty() ? "" : " ", command.c_str());
        return kInterruptedStatus;
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
    std::printf("main job: %llu frames from the simulated camera usb-ir (radiometric), recorded\n",
                static_cast<unsigned long long>(options.frames));
    std::fflush(stdout);
    return RunGrab("", options);
}
