// zrfgrab grab (and the main job): connects a camera through the plug-in, streams, records and
// writes a picture of the last frame, as the application would.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/loader/plugin_loader.h"
#include "host/logging/logger.h"
#include "host/simulation/simulated_cameras.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/frame_picture.h"

namespace {

using namespace Vorn::Zephra::Net::Devices;
using Vorn::Zephra::Simulation::SimulatedCameraHandle;
using Vorn::Zephra::Simulation::SimulatedCameraOptions;
using Clock = std::chrono::steady_clock;

struct GrabOptions {
    std::string camera = "usb-ir";
    std::string replay;         // a recording to stream instead of a camera preset
    std::string identityFile;   // an identity document instead of a simulated camera
    std::string identifier;     // overrides the camera's
    std::string format = "IR";  // IR, YUY2 or JPEG_PLAIN
    long frames = 300;
    double seconds = 0;         // > 0: stream this long instead of a frame count
    int rateIndex = -1;
    int windowing = 0;
    std::string record;
    std::string png;
    std::string palette = "iron";
    int preRecord = 0;
    bool fast = false;
    bool quiet = false;
    bool json = false;
    std::uint32_t seed = 1;
    std::string plugin;
};

struct Summary {
    std::uint64_t delivered = 0;
    int lost = 0;
    std::uint64_t calibrating = 0;
    double fps = 0;
    std::string recording;
    std::uintmax_t recordingBytes = 0;
    std::string picture;
};

[[noreturn]] void Usage(const std::string& why) { throw System::ArgumentException(why); }

long ToLong(const std::string& text, const char* option) {
    try {
        std::size_t used = 0;
        long v = std::stol(text, &used);
        if (used == text.size()) return v;
    } catch (...) {
    }
    Usage(std::string(option) + " takes a whole number, not '" + text + "'");
}

GrabOptions Parse(int argc, char** argv) {
    GrabOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--camera") o.camera = value();
        else if (a == "--replay") o.replay = value();
        else if (a == "--identity") o.identityFile = value();
        else if (a == "--identifier") o.identifier = value();
        else if (a == "--format") o.format = value();
        else if (a == "--frames") o.frames = ToLong(value(), "--frames");
        else if (a == "--seconds") o.seconds = static_cast<double>(ToLong(value(), "--seconds"));
        else if (a == "--rate-index") o.rateIndex = static_cast<int>(ToLong(value(), "--rate-index"));
        else if (a == "--windowing") o.windowing = static_cast<int>(ToLong(value(), "--windowing"));
        else if (a == "--record") o.record = value();
        else if (a == "--png") o.png = value();
        else if (a == "--palette") o.palette = value();
        else if (a == "--pre-record") o.preRecord = static_cast<int>(ToLong(value(), "--pre-record"));
        else if (a == "--seed") o.seed = static_cast<std::uint32_t>(ToLong(value(), "--seed"));
        else if (a == "--plugin") o.plugin = value();
        else if (a == "--fast") o.fast = true;
        else if (a == "--quiet") o.quiet = true;
        else if (a == "--json") o.json = true;
        else Usage("unknown option '" + a + "'");
    }
    if (o.format != "IR" && o.format != "YUY2" && o.format != "JPEG_PLAIN")
        Usage("--format takes IR, YUY2 or JPEG_PLAIN");
    if (o.windowing != 0 && o.windowing != 2 && o.windowing != 4) Usage("--windowing takes 0, 2 or 4");
    if (o.frames <= 0 && o.seconds <= 0) Usage("--frames must be positive");
    if (!o.record.empty() && o.format != "IR") Usage("only the radiometric format (IR) is recorded");
    return o;
}

// The plug-in's own format entry for a format name.
std::string FormatEntry(const IDevicePlugin& plugin, const std::string& name) {
    for (const std::string& entry : plugin.Formats()) {
        const auto last = entry.rfind(';');
        if (last != std::string::npos && entry.substr(last + 1) == (name == "IR" ? "ZRF" : name))
            return entry;
    }
    throw System::ArgumentException("the plug-in offers no format " + name);
}

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

// What the Completed and Calibrating handlers see, shared with the waiting thread.
struct Stream {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t delivered = 0;
    std::uint64_t calibrating = 0;
    bool calibratingNow = false;
    std::vector<std::uint8_t> last;  // the last image, copied: the device reuses its buffer
};

Summary RunSession(const GrabOptions& o) {
    const std::string pluginPath = o.plugin.empty() ? PluginLoader::DefaultPluginPath() : o.plugin;
    LoadedPlugin loaded = PluginLoader::Load(pluginPath);

    SimulatedCameraOptions cameraOptions;
    cameraOptions.asFastAsPossible = o.fast;
    cameraOptions.seed = o.seed;
    std::unique_ptr<SimulatedCameraHandle> camera;
    Vorn::Zephra::Entities::XmlUtils::IdentityXml identity;
    const std::string formatEntry = FormatEntry(loaded.Plugin(), o.format);
    if (!o.identityFile.empty()) {
        std::ifstream file(o.identityFile);
        if (!file) throw System::IOException("cannot read identity '" + o.identityFile + "'");
        std::string text((std::istreambuf_iterator<char>(file)), {});
        identity = Vorn::Zephra::Entities::XmlUtils::IdentityXml(XElement::Parse(text));
    } else {
        camera = o.replay.empty() ? SimulatedCameraHandle::Start(o.camera, cameraOptions)
                                  : SimulatedCameraHandle::Replay(o.replay, cameraOptions);
        identity = camera->Identity(o.format == "IR" ? std::string() : formatEntry);
    }
    if (!o.identifier.empty()) identity.SetIdentifier(o.identifier);
    if (o.format != "IR") identity.SetSelectedFormatId(formatEntry);

    std::shared_ptr<IDevice> device = loaded.CreateDevice(identity.Identifier());
    if (!device)
        throw System::ArgumentException("the plug-in serves no identifier '" + identity.Identifier() + "'");
    auto& grab = dynamic_cast<IGrabContinous&>(*device);
    auto& control = dynamic_cast<ICameraControl&>(*device);
    auto& ir = dynamic_cast<IIRCameraControl&>(*device);
    auto& recorder = dynamic_cast<IRecorder&>(*device);

    Stream stream;
    // A frame count asks for exactly that many frames: later ones (the camera goes on until the
    // stop) are not taken.
    const std::uint64_t wanted = o.seconds > 0 ? UINT64_MAX : static_cast<std::uint64_t>(o.frames);
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
    try {
        if (o.windowing != 0 || o.rateIndex >= 0) {
            const int n = static_cast<int>(control.Control_GetFrameRates().Elements("Range").size());
            if (o.windowing != 0) control.Control_SetFrameRate(n - (o.windowing == 2 ? 2 : 1));
            else control.Control_SetFrameRate(o.rateIndex);
        }
        if (!o.record.empty()) {
            Vorn::Zephra::Entities::XmlUtils::RecorderXml settings;
            settings.SetPath(o.record);
            settings.SetIsPreRecordingEnabled(o.preRecord > 0);
            if (o.preRecord > 0) settings.SetMaxNumberOfFramesInPreRecording(o.preRecord);
            recorder.Recorder_Setup(settings.XMLData());
            // Started before the stream, so the recording holds the first frames, and as many
            // as were asked for.
            recorder.Recorder_Start(o.seconds > 0 ? 0 : wanted);
        }
        grab.GrabContinous_Start();

        const auto started = Clock::now();
        auto lastPrint = started;
        for (;;) {
            std::unique_lock lock(stream.mutex);
            stream.changed.wait_for(lock, std::chrono::milliseconds(100));
            const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
            const bool done = o.seconds > 0 ? elapsed >= o.seconds
                                            : stream.delivered >= static_cast<std::uint64_t>(o.frames);
            if (!o.quiet && (done || Clock::now() - lastPrint >= std::chrono::milliseconds(200))) {
                lastPrint = Clock::now();
                std::fprintf(stderr, "\rframes %llu%s  %.1f fps  lost %d  lap %d ms  calibrating %s   ",
                             static_cast<unsigned long long>(stream.delivered),
                             o.seconds > 0 ? "" : ("/" + std::to_string(o.frames)).c_str(),
                             elapsed > 0 ? stream.delivered / elapsed : 0.0, grab.GrabContinous_LostFrames(),
                             grab.GrabContinous_LapTime(), stream.calibratingNow ? "yes" : "no");
            }
            if (done) {
                summary.fps = elapsed > 0 ? stream.delivered / elapsed : 0;
                break;
            }
            if (elapsed > 5 + (o.seconds > 0 ? o.seconds : o.frames) * 2.0 && stream.delivered == 0)
                throw System::IOException("the camera delivers no images");
        }
        if (!o.quiet) std::fprintf(stderr, "\n");
        grab.GrabContinous_Stop();
        if (!o.record.empty()) recorder.Recorder_Stop(0);
    } catch (...) {
        // Whatever failed, the recording is closed and the camera let go.
        try {
            recorder.Recorder_Stop(0);
            device->Dispose();
        } catch (...) {
        }
        throw;
    }
    summary.lost = grab.GrabContinous_LostFrames();
    device->Device_Disconnect();
    device->Dispose();

    std::lock_guard lock(stream.mutex);
    summary.delivered = stream.delivered;
    summary.calibrating = stream.calibrating;
    if (!o.record.empty()) {
        summary.recording = o.record;
        std::error_code ec;
        summary.recordingBytes = std::filesystem::file_size(o.record, ec);
    }
    if (!o.png.empty()) {
        if (stream.last.empty()) throw System::IOException("no image arrived to make a picture of");
        std::string path = o.png;
        if (o.format == "JPEG_PLAIN") path = std::filesystem::path(path).replace_extension(".jpg").string();
        const std::string error = zrfgrab::WriteFramePicture(path, o.format, stream.last, o.palette);
        if (!error.empty()) throw System::IOException(error);
        summary.picture = path;
    }
    return summary;
}

void Print(const Summary& s, bool json) {
    if (json) {
        std::printf("{\"delivered\": %llu, \"lost\": %d, \"calibrating\": %llu, \"fps\": %.2f, "
                    "\"recording\": %s, \"recording_bytes\": %llu, \"picture\": %s}\n",
                    static_cast<unsigned long long>(s.delivered), s.lost,
                    static_cast<unsigned long long>(s.calibrating), s.fps,
                    s.recording.empty() ? "null" : JsonText(s.recording).c_str(),
                    static_cast<unsigned long long>(s.recordingBytes),
                    s.picture.empty() ? "null" : JsonText(s.picture).c_str());
        return;
    }
    std::printf("frames delivered  %llu (%.1f fps)\n", static_cast<unsigned long long>(s.delivered), s.fps);
    std::printf("frames lost       %d\n", s.lost);
    std::printf("calibrations      %llu\n", static_cast<unsigned long long>(s.calibrating));
    if (!s.recording.empty())
        std::printf("recording         %s (%.1f MB)\n", s.recording.c_str(), s.recordingBytes / 1e6);
    if (!s.picture.empty()) std::printf("picture           %s\n", s.picture.c_str());
}

int Run(const GrabOptions& options) {
    // The framework's own traces would interleave with the progress line.
    Vorn::Zephra::Diagnostics::Log::LogCapture quiet;
    try {
        Print(RunSession(options), options.json);
        return 0;
    } catch (const System::Exception& e) {
        for (const auto& r : quiet.UserErrors())
            std::fprintf(stderr, "zrfgrab: %s: %s\n", r.key.c_str(), r.text.c_str());
        std::fprintf(stderr, "zrfgrab: %s\n", e.Message().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrfgrab: %s\n", e.what());
        return 1;
    }
}

}  // namespace

int RunGrabCommand(int argc, char** argv) {
    GrabOptions options;
    try {
        options = Parse(argc, argv);
    } catch (const System::Exception& e) {
        std::fprintf(stderr, "zrfgrab grab: %s\n", e.Message().c_str());
        return 2;
    }
    return Run(options);
}

int RunMainJob() {
    std::filesystem::create_directories("zrfgrab-out");
    GrabOptions options;
    options.record = "zrfgrab-out/recording.zrec";
    options.png = "zrfgrab-out/last-frame.png";
    std::printf("main job: 300 frames from the simulated camera usb-ir (radiometric), recorded\n");
    return Run(options);
}
